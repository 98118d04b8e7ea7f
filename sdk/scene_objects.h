// SPDX-License-Identifier: Apache-2.0
// "Scene Objects 4": the objects of the scene by index, with their layers' meshes. Main thread only.
#pragma once

#include "host_types.h"
#include "mesh_info.h"

#define LWOBJECTFUNCS_GLOBAL "Scene Objects 4"

struct LWObjectFuncs {
    int (*numObjects)(void);
    const char *(*filename)(int obj);  // the object's file name, or null
    int (*maxLayers)(int obj);         // one more than the highest layer index
    int (*layerExists)(int obj, int lnum);
    LWMeshInfo *(*layerMesh)(int obj, int lnum);  // released with its destroy; null when none
};

// The host's 32-bit x86 layout of these records, as the Windows target lays them out (the 32-bit
// Linux build matches it with -malign-double).
#if defined(__i386__) || defined(_M_IX86)
#include <cstddef>
static_assert(sizeof(LWObjectFuncs) == 20, "LWObjectFuncs is 20 bytes");
#endif
