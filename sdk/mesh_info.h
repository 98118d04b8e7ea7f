// SPDX-License-Identifier: Apache-2.0
// Mesh records: read access to one object layer's points and polygons. A record returned by a
// look-up (LWObjectInfo::meshInfo, LWObjectFuncs::layerMesh) is released with its destroy, when
// the record offers one. A record may be read from one thread at a time.
#pragma once

#include "host_types.h"

#define LWPTAG_SURF LWID_('S', 'U', 'R', 'F')
#define LWVMAP_WGHT LWID_('W', 'G', 'H', 'T')
#define LWVMAP_TXUV LWID_('T', 'X', 'U', 'V')

struct LWMeshInfo;

// Called once per polygon by scanPolys; a non-zero result stops the scan and is returned.
typedef int LWPolScanFunc(void *data, LWPolID pol);
typedef int LWPntScanFunc(void *data, LWPntID pnt);

struct LWMeshInfo {
    void *priv;
    void (*destroy)(LWMeshInfo *mesh);
    int (*numPoints)(LWMeshInfo *mesh);
    int (*numPolygons)(LWMeshInfo *mesh);
    int (*scanPoints)(LWMeshInfo *mesh, LWPntScanFunc *func, void *data);
    int (*scanPolys)(LWMeshInfo *mesh, LWPolScanFunc *func, void *data);
    void (*pntBasePos)(LWMeshInfo *mesh, LWPntID pnt, LWFVector pos);    // undeformed position
    void (*pntOtherPos)(LWMeshInfo *mesh, LWPntID pnt, LWFVector pos);   // position at the current time
    void *(*pntVLookup)(LWMeshInfo *mesh, LWID type, const char *name);  // vertex map handle, or null
    int (*pntVSelect)(LWMeshInfo *mesh, void *vmap);                     // selects a map; returns its dimension
    int (*pntVGet)(LWMeshInfo *mesh, LWPntID pnt, float *vector);        // non-zero when the point has a value
    int (*polSize)(LWMeshInfo *mesh, LWPolID pol);
    LWPntID (*polVertex)(LWMeshInfo *mesh, LWPolID pol, int vertex);
    const char *(*polTag)(LWMeshInfo *mesh, LWPolID pol, LWID tagType);  // LWPTAG_SURF gives the surface name
};

// The host's 32-bit x86 layout of these records, as the Windows target lays them out (the 32-bit
// Linux build matches it with -malign-double).
#if defined(__i386__) || defined(_M_IX86)
#include <cstddef>
static_assert(sizeof(LWMeshInfo) == 56, "LWMeshInfo is 56 bytes");
#endif
