// SPDX-License-Identifier: Apache-2.0
// "Surface Functions 2": the scene's surfaces and their channels, read by channel name.
// Callable from any thread; a returned pointer lives until the surface is changed.
#pragma once

#include "host_types.h"

#define LWSURFACEFUNCS_GLOBAL "Surface Functions 2"

struct LWSurfaceFuncs {
    LWSurfaceID (*first)(void);
    LWSurfaceID (*next)(LWSurfaceID surf);
    LWSurfaceID *(*byName)(const char *name, const char *objName);  // null-terminated list
    LWSurfaceID *(*byObject)(const char *objName);  // surfaces of an object file; null-terminated list
    const char *(*name)(LWSurfaceID surf);
    int (*getInt)(LWSurfaceID surf, const char *channel);        // integer channel, 0 when absent
    double *(*getFlt)(LWSurfaceID surf, const char *channel);    // value(s) of a channel, or null
    LWImageID (*getImg)(LWSurfaceID surf, const char *channel);  // image of a channel, or null
    LWChanGroupID (*chanGrp)(LWSurfaceID surf);                  // the surface's channel group
};

// The host's 32-bit x86 layout of these records, as the Windows target lays them out (the 32-bit
// Linux build matches it with -malign-double).
#if defined(__i386__) || defined(_M_IX86)
#include <cstddef>
static_assert(sizeof(LWSurfaceFuncs) == 36, "LWSurfaceFuncs is 36 bytes");
#endif
