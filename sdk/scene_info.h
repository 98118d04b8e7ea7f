// SPDX-License-Identifier: Apache-2.0
// "LW Scene Info 3": a read-only record of the scene's render settings, valid for the session.
#pragma once

#include "host_types.h"

#define LWSCENEINFO_GLOBAL "LW Scene Info 3"

// Bits of renderOpts.
#define LWROPT_SHADOWTRACE (1 << 0)
#define LWROPT_REFLECTTRACE (1 << 1)
#define LWROPT_REFRACTTRACE (1 << 2)

struct LWSceneInfo {
    const char *name;
    const char *filename;
    int numPoints;
    int numPolygons;
    int renderType;
    int renderOpts;  // LWROPT_* bits
    LWFrame frameStart;
    LWFrame frameEnd;
    LWFrame frameStep;
    double framesPerSecond;
    int frameWidth;
    int frameHeight;
    double pixelAspect;
    int minSamplesPerPixel;
    int maxSamplesPerPixel;
    int recursionDepth;
};

// The host's 32-bit x86 layout of these records, as the Windows target lays them out (the 32-bit
// Linux build matches it with -malign-double).
#if defined(__i386__) || defined(_M_IX86)
#include <cstddef>
static_assert(sizeof(LWSceneInfo) == 80, "LWSceneInfo is 80 bytes");
static_assert(offsetof(LWSceneInfo, name) == 0, "LWSceneInfo::name");
static_assert(offsetof(LWSceneInfo, filename) == 4, "LWSceneInfo::filename");
static_assert(offsetof(LWSceneInfo, numPoints) == 8, "LWSceneInfo::numPoints");
static_assert(offsetof(LWSceneInfo, numPolygons) == 12, "LWSceneInfo::numPolygons");
static_assert(offsetof(LWSceneInfo, renderType) == 16, "LWSceneInfo::renderType");
static_assert(offsetof(LWSceneInfo, renderOpts) == 20, "LWSceneInfo::renderOpts");
static_assert(offsetof(LWSceneInfo, frameStart) == 24, "LWSceneInfo::frameStart");
static_assert(offsetof(LWSceneInfo, frameEnd) == 28, "LWSceneInfo::frameEnd");
static_assert(offsetof(LWSceneInfo, frameStep) == 32, "LWSceneInfo::frameStep");
static_assert(offsetof(LWSceneInfo, framesPerSecond) == 40, "LWSceneInfo::framesPerSecond");
static_assert(offsetof(LWSceneInfo, frameWidth) == 48, "LWSceneInfo::frameWidth");
static_assert(offsetof(LWSceneInfo, frameHeight) == 52, "LWSceneInfo::frameHeight");
static_assert(offsetof(LWSceneInfo, pixelAspect) == 56, "LWSceneInfo::pixelAspect");
static_assert(offsetof(LWSceneInfo, minSamplesPerPixel) == 64, "LWSceneInfo::minSamplesPerPixel");
static_assert(offsetof(LWSceneInfo, maxSamplesPerPixel) == 68, "LWSceneInfo::maxSamplesPerPixel");
static_assert(offsetof(LWSceneInfo, recursionDepth) == 72, "LWSceneInfo::recursionDepth");
#endif
