// Micropolygon: the spot record with which variant parameters and textures are evaluated.
#pragma once

#include "host_types.h"
#include "ray_funcs.h"

struct LWMicropol {
    double oPos[3], wPos[3];
    double oScl[3];             // object scale
    double gNorm[3], wNorm[3];
    double ray[3];              // from the ray's source to the spot, not normalised
    double bumpHeight;
    double txVal;               // texture value, set by the host's initialisation
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
    int oAxis, wAxis;           // dominant axis (0 x, 1 y, 2 z) in object and world space
    int context;
    LWIlluminateFunc *illuminate;
    LWRayTraceFunc *rayTrace;
    LWRayCastFunc *rayCast;
    LWRayShadeFunc *rayShade;
    void *userData;
    LWPolID polygon;
};
