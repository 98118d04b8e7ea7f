// SPDX-License-Identifier: Apache-2.0
// "Scene Objects 4": the scene's objects by index (file order) and their layers. Layer numbers
// here count from 0: layer number n is the MeshLayer whose index is n + 1. Layer meshes are
// unfrozen records (both positions are the base positions).
#include "host/services/scene_services.h"
#include "host/services/scene_state.h"

namespace host::services {

namespace {

const scene::ObjectItem *objectAt(int obj) {
    const SceneState *s = current();
    if (!s || obj < 0 || static_cast<size_t>(obj) >= s->scene->objects.size()) return nullptr;
    return s->scene->objects[static_cast<size_t>(obj)];
}

// Position in the object's layer list of layer number lnum, or -1.
long layerSlot(const scene::ObjectItem &o, int lnum) {
    if (lnum < 0) return -1;
    for (size_t i = 0; i < o.layers.size(); ++i)
        if (o.layers[i].index == lnum + 1) return static_cast<long>(i);
    return -1;
}

int objNumObjects() {
    const SceneState *s = current();
    return s ? static_cast<int>(s->scene->objects.size()) : 0;
}

const char *objFilename(int obj) {
    const scene::ObjectItem *o = objectAt(obj);
    return o ? o->filename.c_str() : nullptr;
}

int objMaxLayers(int obj) {
    const scene::ObjectItem *o = objectAt(obj);
    int most = 0;
    if (o)
        for (const scene::MeshLayer &l : o->layers)
            if (l.index > most) most = l.index;
    return most;
}

int objLayerExists(int obj, int lnum) {
    const scene::ObjectItem *o = objectAt(obj);
    return o && layerSlot(*o, lnum) >= 0 ? 1 : 0;
}

LWMeshInfo *objLayerMesh(int obj, int lnum) {
    const SceneState *s = current();
    const scene::ObjectItem *o = objectAt(obj);
    long slot = o ? layerSlot(*o, lnum) : -1;
    if (slot < 0) return nullptr;
    return makeMeshRecord(*s, *o, static_cast<size_t>(slot), static_cast<size_t>(slot) + 1, false);
}

// Every slot of the record is filled below; a slot added to the record must be added here too.
static_assert(sizeof(LWObjectFuncs) == 5 * sizeof(void (*)()), "LWObjectFuncs has 5 slots");

const LWObjectFuncs kObjectFuncs = {
    objNumObjects,   // numObjects
    objFilename,     // filename
    objMaxLayers,    // maxLayers
    objLayerExists,  // layerExists
    objLayerMesh,    // layerMesh
};

}  // namespace

const LWObjectFuncs *objectFuncsTable() { return &kObjectFuncs; }

}  // namespace host::services
