// SPDX-License-Identifier: Apache-2.0
// "LW Backdrop Info 2": the colour seen along a ray that hits nothing. Callable from any thread.
#pragma once

#include "host_types.h"

#define LWBACKDROPINFO_GLOBAL "LW Backdrop Info 2"

#define LWBACK_SOLID 0
#define LWBACK_GRADIENT 1
#define LWBACK_IMAGE 2  // a spherical image around the scene

struct LWBackdropInfo {
    void (*backdrop)(LWTime time, const double ray[3], LWDVector color);
    int type;
    void (*color)(LWTime time, LWDVector zenith, LWDVector sky, LWDVector ground, LWDVector nadir);
};

// The host's 32-bit x86 layout of these records, as the Windows target lays them out (the 32-bit
// Linux build matches it with -malign-double).
#if defined(__i386__) || defined(_M_IX86)
#include <cstddef>
static_assert(sizeof(LWBackdropInfo) == 12, "LWBackdropInfo is 12 bytes");
#endif
