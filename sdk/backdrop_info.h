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
