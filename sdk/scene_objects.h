// "Scene Objects 4": the objects of the scene by index, with their layers' meshes. Main thread only.
#pragma once

#include "host_types.h"
#include "mesh_info.h"

#define LWOBJECTFUNCS_GLOBAL "Scene Objects 4"

struct LWObjectFuncs {
    int (*numObjects)(void);
    const char *(*filename)(int obj);           // the object's file name, or null
    int (*maxLayers)(int obj);                  // one more than the highest layer index
    int (*layerExists)(int obj, int lnum);
    LWMeshInfo *(*layerMesh)(int obj, int lnum);  // released with its destroy; null when none
};
