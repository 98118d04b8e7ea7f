// SPDX-License-Identifier: Apache-2.0
// "LW Object Info 4": per-object render data. Callable from any thread.
#pragma once

#include "host_types.h"
#include "mesh_info.h"

#define LWOBJECTINFO_GLOBAL "LW Object Info 4"

struct LWObjectInfo {
    const char *(*filename)(LWItemID object);
    int (*numPoints)(LWItemID object);
    int (*numPolygons)(LWItemID object);
    // A mesh record of the object; frozen non-zero gives positions at the current time.
    // The caller releases it with its destroy. Null when the object has no mesh.
    LWMeshInfo *(*meshInfo)(LWItemID object, int frozen);
    // Non-zero when the object ignores the light (or LWITEM_RADIOSITY / LWITEM_CAUSTICS).
    int (*excluded)(LWItemID object, LWItemID light);
};

// The host's 32-bit x86 layout of these records, as the Windows target lays them out (the 32-bit
// Linux build matches it with -malign-double).
#if defined(__i386__) || defined(_M_IX86)
#include <cstddef>
static_assert(sizeof(LWObjectInfo) == 20, "LWObjectInfo is 20 bytes");
#endif
