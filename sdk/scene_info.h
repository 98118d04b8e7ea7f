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
