// SPDX-License-Identifier: Apache-2.0
// "LW Light Info 3": the settings of the scene's lights. Callable from any thread.
#pragma once

#include "host_types.h"

#define LWLIGHTINFO_GLOBAL "LW Light Info 3"

#define LWLIGHT_DISTANT 0
#define LWLIGHT_POINT 1
#define LWLIGHT_SPOT 2
#define LWLIGHT_LINEAR 3
#define LWLIGHT_AREA 4

#define LWSHAD_OFF 0
#define LWSHAD_RAYTRACE 1
#define LWSHAD_MAP 2

#define LWLFALL_OFF 0
#define LWLFALL_LINEAR 1
#define LWLFALL_INV_DIST 2
#define LWLFALL_INV_DIST_2 3

// Bits of the flags word.
#define LWLFL_LIMITED_RANGE (1u << 0)
#define LWLFL_NO_DIFFUSE (1u << 1)
#define LWLFL_NO_SPECULAR (1u << 2)
#define LWLFL_NO_CAUSTICS (1u << 3)

struct LWLightInfo {
    void (*ambient)(LWTime time, LWDVector color);  // the scene's ambient colour, intensity applied
    int (*type)(LWItemID light);                    // LWLIGHT_*
    // Colour with intensity applied.
    void (*color)(LWItemID light, LWTime time, LWDVector color);
    int (*shadowType)(LWItemID light);                                              // LWSHAD_*
    void (*coneAngles)(LWItemID light, LWTime time, double *radius, double *edge);  // radians
    unsigned int (*flags)(LWItemID light);                                          // LWLFL_* bits
    double (*range)(LWItemID light, LWTime time);                                   // falloff distance
    int (*falloff)(LWItemID light);                                                 // LWLFALL_*
    LWImageID (*projImage)(LWItemID light);                                         // spot projection, or null
    void (*shadowColor)(LWItemID light, LWTime time, LWDVector color);
};

// The host's 32-bit x86 layout of these records, as the Windows target lays them out (the 32-bit
// Linux build matches it with -malign-double).
#if defined(__i386__) || defined(_M_IX86)
#include <cstddef>
static_assert(sizeof(LWLightInfo) == 40, "LWLightInfo is 40 bytes");
#endif
