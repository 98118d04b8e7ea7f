// SPDX-License-Identifier: Apache-2.0
// Mesh records (LWMeshInfo) over one object's layers: points and polygons are the scene's own
// MeshPoint and MeshPolygon records, checked against the record's layers before they are read.
// A frozen record gives, as the other position, the point's world position at the services' time
// when the record was made; an unfrozen one gives the base position for both.
#include <cstdint>
#include <new>

#include "host/services/scene_state.h"

namespace host::services {

namespace {

// The record filled in makeMeshRecord: priv and thirteen functions.
static_assert(sizeof(LWMeshInfo) == 14 * sizeof(void *), "LWMeshInfo has priv and 13 slots");

struct MeshRecord {
    LWMeshInfo info;  // handed out; info.priv points back here
    const scene::Scene *scene = nullptr;
    const scene::ObjectItem *object = nullptr;
    size_t first = 0, last = 0;  // layers [first, last) of the object
    bool frozen = false;
    scene::Affine world;
    const WeightMapEntry *selected = nullptr;
};

MeshRecord *record(LWMeshInfo *mesh) { return mesh ? static_cast<MeshRecord *>(mesh->priv) : nullptr; }

// Index of `element` in `list` when it points exactly at one of its entries, else -1.
template <typename T>
long indexIn(const std::vector<T> &list, const void *element) {
    if (list.empty() || !element) return -1;
    uintptr_t a = reinterpret_cast<uintptr_t>(element), b = reinterpret_cast<uintptr_t>(list.data());
    if (a < b || a >= b + list.size() * sizeof(T) || (a - b) % sizeof(T) != 0) return -1;
    return static_cast<long>((a - b) / sizeof(T));
}

const scene::MeshLayer *layerOfPoint(const MeshRecord &r, const void *pnt, long &index) {
    for (size_t l = r.first; l < r.last; ++l) {
        const scene::MeshLayer &layer = r.object->layers[l];
        index = indexIn(layer.points, pnt);
        if (index >= 0) return &layer;
    }
    return nullptr;
}

const scene::MeshPolygon *polygon(const MeshRecord &r, const void *pol,
                                  const scene::MeshLayer **layerOut = nullptr) {
    for (size_t l = r.first; l < r.last; ++l) {
        const scene::MeshLayer &layer = r.object->layers[l];
        long i = indexIn(layer.polygons, pol);
        if (i >= 0) {
            if (layerOut) *layerOut = &layer;
            return &layer.polygons[static_cast<size_t>(i)];
        }
    }
    return nullptr;
}

// Shaders ask for a record per shaded spot and destroy it at once, so destroyed records wait on a
// short per-thread list for the next request instead of going back to the heap.
class RecordCache {
public:
    ~RecordCache() {
        for (int i = 0; i < count_; ++i) delete kept_[i];
    }
    MeshRecord *take() { return count_ > 0 ? kept_[--count_] : nullptr; }
    bool keep(MeshRecord *r) {
        if (count_ == kKept) return false;
        kept_[count_++] = r;
        return true;
    }

private:
    static constexpr int kKept = 8;
    MeshRecord *kept_[kKept] = {};
    int count_ = 0;
};

thread_local RecordCache tRecords;

void meshDestroy(LWMeshInfo *mesh) {
    MeshRecord *r = record(mesh);
    if (r && !tRecords.keep(r)) delete r;
}

int meshNumPoints(LWMeshInfo *mesh) {
    const MeshRecord *r = record(mesh);
    if (!r) return 0;
    size_t n = 0;
    for (size_t l = r->first; l < r->last; ++l) n += r->object->layers[l].points.size();
    return static_cast<int>(n);
}

int meshNumPolygons(LWMeshInfo *mesh) {
    const MeshRecord *r = record(mesh);
    if (!r) return 0;
    size_t n = 0;
    for (size_t l = r->first; l < r->last; ++l) n += r->object->layers[l].polygons.size();
    return static_cast<int>(n);
}

int meshScanPoints(LWMeshInfo *mesh, LWPntScanFunc *func, void *data) {
    const MeshRecord *r = record(mesh);
    if (!r || !func) return 0;
    for (size_t l = r->first; l < r->last; ++l)
        for (const scene::MeshPoint &p : r->object->layers[l].points)
            if (int stop = func(data, const_cast<scene::MeshPoint *>(&p))) return stop;
    return 0;
}

int meshScanPolys(LWMeshInfo *mesh, LWPolScanFunc *func, void *data) {
    const MeshRecord *r = record(mesh);
    if (!r || !func) return 0;
    for (size_t l = r->first; l < r->last; ++l)
        for (const scene::MeshPolygon &p : r->object->layers[l].polygons)
            if (int stop = func(data, const_cast<scene::MeshPolygon *>(&p))) return stop;
    return 0;
}

void putZero(LWFVector pos) {
    if (pos) pos[0] = pos[1] = pos[2] = 0.0f;
}

void meshBasePos(LWMeshInfo *mesh, LWPntID pnt, LWFVector pos) {
    const MeshRecord *r = record(mesh);
    long i = -1;
    const scene::MeshLayer *layer = r ? layerOfPoint(*r, pnt, i) : nullptr;
    if (!layer) return putZero(pos);
    if (!pos) return;
    const float *p = layer->points[static_cast<size_t>(i)].pos;
    pos[0] = p[0];
    pos[1] = p[1];
    pos[2] = p[2];
}

void meshOtherPos(LWMeshInfo *mesh, LWPntID pnt, LWFVector pos) {
    const MeshRecord *r = record(mesh);
    long i = -1;
    const scene::MeshLayer *layer = r ? layerOfPoint(*r, pnt, i) : nullptr;
    if (!layer) return putZero(pos);
    if (!pos) return;
    const float *p = layer->points[static_cast<size_t>(i)].pos;
    if (!r->frozen) {
        pos[0] = p[0];
        pos[1] = p[1];
        pos[2] = p[2];
        return;
    }
    scene::Vec3 w = scene::Vec3(p[0], p[1], p[2]) * r->world;
    pos[0] = static_cast<float>(w[0]);
    pos[1] = static_cast<float>(w[1]);
    pos[2] = static_cast<float>(w[2]);
}

// The handle of a weight map (LWVMAP_WGHT) or UV map (LWVMAP_TXUV) that one of the record's
// layers has; null otherwise.
void *meshVLookup(LWMeshInfo *mesh, LWID type, const char *name) {
    const MeshRecord *r = record(mesh);
    const SceneState *s = current();
    if (!r || !s || !name || (type != LWVMAP_WGHT && type != LWVMAP_TXUV)) return nullptr;
    const auto &byName = type == LWVMAP_WGHT ? s->weightMapByName : s->uvMapByName;
    auto it = byName.find(name);
    if (it == byName.end()) return nullptr;
    for (size_t l = r->first; l < r->last; ++l)
        if (it->second->in(&r->object->layers[l])) return const_cast<WeightMapEntry *>(it->second);
    return nullptr;
}

// Selects a map by handle; its dimension (1 or 2) when a layer of the record has it, else 0.
int meshVSelect(LWMeshInfo *mesh, void *vmap) {
    MeshRecord *r = record(mesh);
    const SceneState *s = current();
    if (!r) return 0;
    r->selected = nullptr;
    if (!s || !vmap) return 0;
    auto it = s->weightMapByHandle.find(vmap);
    if (it == s->weightMapByHandle.end()) return 0;
    r->selected = it->second;
    for (size_t l = r->first; l < r->last; ++l)
        if (r->selected->in(&r->object->layers[l])) return r->selected->dimension;
    return 0;
}

int meshVGet(LWMeshInfo *mesh, LWPntID pnt, float *vector) {
    const MeshRecord *r = record(mesh);
    if (!r || !r->selected) return 0;
    long i = -1;
    const scene::MeshLayer *layer = layerOfPoint(*r, pnt, i);
    const WeightMapEntry::Values *m = layer ? r->selected->in(layer) : nullptr;
    size_t k = static_cast<size_t>(i), dim = static_cast<size_t>(r->selected->dimension);
    if (!m || k >= m->has->size() || (k + 1) * dim > m->values->size() || !(*m->has)[k]) return 0;
    if (vector)
        for (size_t c = 0; c < dim; ++c) vector[c] = (*m->values)[k * dim + c];
    return 1;
}

int meshPolSize(LWMeshInfo *mesh, LWPolID pol) {
    const MeshRecord *r = record(mesh);
    const scene::MeshPolygon *p = r ? polygon(*r, pol) : nullptr;
    return p ? static_cast<int>(p->points.size()) : 0;
}

LWPntID meshPolVertex(LWMeshInfo *mesh, LWPolID pol, int vertex) {
    const MeshRecord *r = record(mesh);
    const scene::MeshLayer *layer = nullptr;
    const scene::MeshPolygon *p = r ? polygon(*r, pol, &layer) : nullptr;
    if (!p || vertex < 0 || static_cast<size_t>(vertex) >= p->points.size()) return nullptr;
    int idx = p->points[static_cast<size_t>(vertex)];
    if (idx < 0 || static_cast<size_t>(idx) >= layer->points.size()) return nullptr;
    return const_cast<scene::MeshPoint *>(&layer->points[static_cast<size_t>(idx)]);
}

const char *meshPolTag(LWMeshInfo *mesh, LWPolID pol, LWID tagType) {
    const MeshRecord *r = record(mesh);
    const scene::MeshPolygon *p = r ? polygon(*r, pol) : nullptr;
    if (!p || tagType != LWPTAG_SURF || p->surface < 0 ||
        static_cast<size_t>(p->surface) >= r->scene->surfaces.size())
        return nullptr;
    return r->scene->surfaces[static_cast<size_t>(p->surface)]->name.c_str();
}

}  // namespace

LWMeshInfo *makeMeshRecord(const SceneState &s, const scene::ObjectItem &object, size_t first, size_t last,
                           bool frozen) {
    MeshRecord *r = tRecords.take();
    if (r)
        *r = MeshRecord{};
    else
        r = new (std::nothrow) MeshRecord;
    if (!r) return nullptr;
    r->info = LWMeshInfo{
        r,                // priv
        meshDestroy,      // destroy
        meshNumPoints,    // numPoints
        meshNumPolygons,  // numPolygons
        meshScanPoints,   // scanPoints
        meshScanPolys,    // scanPolys
        meshBasePos,      // pntBasePos
        meshOtherPos,     // pntOtherPos
        meshVLookup,      // pntVLookup
        meshVSelect,      // pntVSelect
        meshVGet,         // pntVGet
        meshPolSize,      // polSize
        meshPolVertex,    // polVertex
        meshPolTag,       // polTag
    };
    r->scene = s.scene;
    r->object = &object;
    r->first = first;
    r->last = last < object.layers.size() ? last : object.layers.size();
    r->frozen = frozen;
    if (frozen) {
        const std::vector<scene::Affine> *xf = s.transforms.load(std::memory_order_acquire);
        auto it = s.objectIndex.find(&object);
        if (xf && it != s.objectIndex.end() && it->second < xf->size()) r->world = (*xf)[it->second];
    }
    return &r->info;
}

}  // namespace host::services
