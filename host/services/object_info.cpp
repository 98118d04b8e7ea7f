// SPDX-License-Identifier: Apache-2.0
// "LW Object Info 4" over the scene's objects: file name, counts, mesh records and per-object
// light exclusion (also of the pseudo-lights LWITEM_RADIOSITY and LWITEM_CAUSTICS).
#include "host/services/scene_services.h"
#include "host/services/scene_state.h"

namespace host::services {

namespace {

const scene::ObjectItem *object(LWItemID id) {
    const SceneState *s = current();
    return s ? findObject(*s, id) : nullptr;
}

const char *objectFilename(LWItemID id) {
    const scene::ObjectItem *o = object(id);
    return o ? o->filename.c_str() : nullptr;
}

int objectNumPoints(LWItemID id) {
    const scene::ObjectItem *o = object(id);
    return o ? o->numPoints() : 0;
}

int objectNumPolygons(LWItemID id) {
    const scene::ObjectItem *o = object(id);
    return o ? o->numPolygons() : 0;
}

// All layers of the object in one record.
LWMeshInfo *objectMeshInfo(LWItemID id, int frozen) {
    const SceneState *s = current();
    const scene::ObjectItem *o = s ? findObject(*s, id) : nullptr;
    if (!o || o->layers.empty()) return nullptr;
    return makeMeshRecord(*s, *o, 0, o->layers.size(), frozen != 0);
}

// The scene model has no caustics exclusion: every object takes caustics.
int objectExcluded(LWItemID id, LWItemID light) {
    const scene::ObjectItem *o = object(id);
    if (!o || !light) return 0;
    if (light == LWITEM_RADIOSITY) return o->excludeRadiosity ? 1 : 0;
    if (light == LWITEM_CAUSTICS) return 0;
    for (const scene::Item *e : o->excludedLights)
        if (e == light) return 1;
    return 0;
}

// Every slot of the record is filled below; a slot added to the record must be added here too.
static_assert(sizeof(LWObjectInfo) == 5 * sizeof(void (*)()), "LWObjectInfo has 5 slots");

const LWObjectInfo kObjectInfo = {
    objectFilename,     // filename
    objectNumPoints,    // numPoints
    objectNumPolygons,  // numPolygons
    objectMeshInfo,     // meshInfo
    objectExcluded,     // excluded
};

}  // namespace

const LWObjectInfo *objectInfoTable() { return &kObjectInfo; }

}  // namespace host::services
