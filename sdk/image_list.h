// SPDX-License-Identifier: Apache-2.0
// "LW Image List 3": the scene's images. Sampling calls are made from render threads; needAA is
// called at render initialisation, before an image is spot-sampled.
#pragma once

#include "host_types.h"
#include "io_state.h"

#define LWIMAGELIST_GLOBAL "LW Image List 3"

struct LWImageList {
    LWImageID (*first)(void);
    LWImageID (*next)(LWImageID img);
    LWImageID (*load)(const char *filename);
    const char *(*name)(LWImageID img);  // the image's name, or null
    const char *(*filename)(LWImageID img, LWFrame frame);
    int (*isColor)(LWImageID img);
    void (*needAA)(LWImageID img);  // readies filtered (spot) sampling for this render
    void (*size)(LWImageID img, int *w, int *h);
    double (*luma)(LWImageID img, int x, int y);
    void (*RGB)(LWImageID img, int x, int y, LWDVector rgb);
    // Filtered colour at (u, v) in [0, 1], averaged over a spot of the given size (in units of the
    // image); blend non-zero blends neighbouring pixels.
    void (*RGBSpot)(LWImageID img, double u, double v, double spotSize, int blend, LWDVector rgb);
    LWImageID (*sceneLoad)(const LWLoadState *load);            // recreates an image from saved data
    void (*sceneSave)(const LWSaveState *save, LWImageID img);  // writes an image's own data
};

// The host's 32-bit x86 layout of these records, as the Windows target lays them out (the 32-bit
// Linux build matches it with -malign-double).
#if defined(__i386__) || defined(_M_IX86)
#include <cstddef>
static_assert(sizeof(LWImageList) == 52, "LWImageList is 52 bytes");
#endif
