// SPDX-License-Identifier: Apache-2.0
// Micropolygon: the spot record with which variant parameters and textures are evaluated.
#pragma once

#include "host_types.h"
#include "ray_funcs.h"

struct LWMicropol {
    double oPos[3], wPos[3];
    double oScl[3];  // object scale
    double gNorm[3], wNorm[3];
    double ray[3];  // from the ray's source to the spot, not normalised
    double bumpHeight;
    double txVal;  // texture value, set by the host's initialisation
    double spotSize;
    double raySource[3];
    double rayLength;
    double cosine;
    double oXfrm[9], wXfrm[9];
    LWItemID objID;
    LWSurfaceID srfID;
    LWPntID verts[4];
    float weights[4];
    float vertsWPos[4][3];
    int polNum;
    int oAxis, wAxis;  // dominant axis (0 x, 1 y, 2 z) in object and world space
    int context;
    LWIlluminateFunc *illuminate;
    LWRayTraceFunc *rayTrace;
    LWRayCastFunc *rayCast;
    LWRayShadeFunc *rayShade;
    void *userData;
    LWPolID polygon;
};

// The host's 32-bit x86 layout of these records, as the Windows target lays them out (the 32-bit
// Linux build matches it with -malign-double).
#if defined(__i386__) || defined(_M_IX86)
#include <cstddef>
static_assert(sizeof(LWMicropol) == 480, "LWMicropol is 480 bytes");
static_assert(offsetof(LWMicropol, oPos) == 0, "LWMicropol::oPos");
static_assert(offsetof(LWMicropol, wPos) == 24, "LWMicropol::wPos");
static_assert(offsetof(LWMicropol, oScl) == 48, "LWMicropol::oScl");
static_assert(offsetof(LWMicropol, gNorm) == 72, "LWMicropol::gNorm");
static_assert(offsetof(LWMicropol, wNorm) == 96, "LWMicropol::wNorm");
static_assert(offsetof(LWMicropol, ray) == 120, "LWMicropol::ray");
static_assert(offsetof(LWMicropol, bumpHeight) == 144, "LWMicropol::bumpHeight");
static_assert(offsetof(LWMicropol, txVal) == 152, "LWMicropol::txVal");
static_assert(offsetof(LWMicropol, spotSize) == 160, "LWMicropol::spotSize");
static_assert(offsetof(LWMicropol, raySource) == 168, "LWMicropol::raySource");
static_assert(offsetof(LWMicropol, rayLength) == 192, "LWMicropol::rayLength");
static_assert(offsetof(LWMicropol, cosine) == 200, "LWMicropol::cosine");
static_assert(offsetof(LWMicropol, oXfrm) == 208, "LWMicropol::oXfrm");
static_assert(offsetof(LWMicropol, wXfrm) == 280, "LWMicropol::wXfrm");
static_assert(offsetof(LWMicropol, objID) == 352, "LWMicropol::objID");
static_assert(offsetof(LWMicropol, srfID) == 356, "LWMicropol::srfID");
static_assert(offsetof(LWMicropol, verts) == 360, "LWMicropol::verts");
static_assert(offsetof(LWMicropol, weights) == 376, "LWMicropol::weights");
static_assert(offsetof(LWMicropol, vertsWPos) == 392, "LWMicropol::vertsWPos");
static_assert(offsetof(LWMicropol, polNum) == 440, "LWMicropol::polNum");
static_assert(offsetof(LWMicropol, oAxis) == 444, "LWMicropol::oAxis");
static_assert(offsetof(LWMicropol, wAxis) == 448, "LWMicropol::wAxis");
static_assert(offsetof(LWMicropol, context) == 452, "LWMicropol::context");
static_assert(offsetof(LWMicropol, illuminate) == 456, "LWMicropol::illuminate");
static_assert(offsetof(LWMicropol, rayTrace) == 460, "LWMicropol::rayTrace");
static_assert(offsetof(LWMicropol, rayCast) == 464, "LWMicropol::rayCast");
static_assert(offsetof(LWMicropol, rayShade) == 468, "LWMicropol::rayShade");
static_assert(offsetof(LWMicropol, userData) == 472, "LWMicropol::userData");
static_assert(offsetof(LWMicropol, polygon) == 476, "LWMicropol::polygon");
#endif
