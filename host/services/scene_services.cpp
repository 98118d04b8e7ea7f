// SPDX-License-Identifier: Apache-2.0
#include "host/services/scene_services.h"

#include <iostream>
#include <set>

#include "host/services/global_lookup.h"
#include "host/services/scene_state.h"

namespace host::services {

namespace {

std::atomic<SceneState *> gState{nullptr};

std::mutex &sinkLock() {
    static std::mutex m;
    return m;
}

std::function<void(const std::string &)> &sink() {
    static std::function<void(const std::string &)> f;
    return f;
}

void indexItems(SceneState &s) {
    const scene::Scene &scene = *s.scene;
    auto chain = [&](const auto &list, LWItemType type) {
        for (size_t i = 0; i < list.size(); ++i) {
            ItemEntry e;
            e.item = list[i];
            e.type = type;
            e.next = i + 1 < list.size() ? static_cast<LWItemID>(const_cast<scene::Item *>(
                                               static_cast<const scene::Item *>(list[i + 1])))
                                         : nullptr;
            s.items[list[i]] = e;
        }
        return list.empty()
                   ? nullptr
                   : static_cast<LWItemID>(const_cast<scene::Item *>(static_cast<const scene::Item *>(list[0])));
    };
    s.firstOfKind[LWI_OBJECT] = chain(scene.objects, LWI_OBJECT);
    s.firstOfKind[LWI_LIGHT] = chain(scene.lights, LWI_LIGHT);
    s.firstOfKind[LWI_CAMERA] = chain(scene.cameras, LWI_CAMERA);
    for (size_t i = 0; i < scene.objects.size(); ++i) s.objectIndex[scene.objects[i]] = i;

    // Bones chain per object, in file order.
    std::map<const void *, const scene::BoneItem *> last;
    for (const scene::BoneItem *b : scene.bones) {
        ItemEntry e;
        e.item = b;
        e.type = LWI_BONE;
        s.items[b] = e;
        auto it = last.find(b->object);
        if (it == last.end())
            s.firstBone[b->object] = const_cast<scene::BoneItem *>(b);
        else
            s.items[it->second].next = const_cast<scene::BoneItem *>(b);
        last[b->object] = b;
    }
}

// The channel names a surface answers getFlt for without a lock.
const char *const kFloatChannels[] = {
    "BaseColor",           "Color",
    "Luminosity",          "Diffuse",
    "Specularity",         "Glossiness",
    "Reflectivity",        "Transparency",
    "RefractionIndex",     "Translucency",
    "ColorHighlights",     "ColorFilter",
    "ReflectionSeamAngle", "RefractionSeamAngle",
};

void indexSurfaces(SceneState &s) {
    const scene::Scene &scene = *s.scene;
    for (size_t i = 0; i < scene.surfaces.size(); ++i) {
        const scene::Surface *surf = scene.surfaces[i].get();
        SurfaceEntry e;
        e.surface = surf;
        e.next =
            i + 1 < scene.surfaces.size() ? const_cast<scene::Surface *>(scene.surfaces[i + 1].get()) : nullptr;
        for (const char *name : kFloatChannels) {
            std::vector<double> v = surf->channel(name);
            if (!v.empty()) e.channels[name] = std::move(v);
        }
        e.reflectionImage = sceneImageID(s, surf->reflection.image);
        e.refractionImage = sceneImageID(s, surf->refraction.image);
        s.surfaces[surf] = std::move(e);
        s.surfacesByName[surf->name].push_back(const_cast<scene::Surface *>(surf));
    }
    // The surfaces an object file's polygons use, in surface order.
    std::map<std::string, std::set<int>> used;
    for (const scene::ObjectItem *o : scene.objects) {
        std::set<int> &u = used[o->filename];
        for (const scene::MeshLayer &l : o->layers)
            for (const scene::MeshPolygon &p : l.polygons)
                if (p.surface >= 0 && static_cast<size_t>(p.surface) < scene.surfaces.size()) u.insert(p.surface);
    }
    for (const auto &f : used) {
        std::vector<LWSurfaceID> &list = s.surfacesByFile[f.first];
        for (int i : f.second) {
            scene::Surface *surf = scene.surfaces[i].get();
            list.push_back(surf);
            s.surfacesByFileAndName[{f.first, surf->name}].push_back(surf);
        }
    }
    for (auto &l : s.surfacesByName) l.second.push_back(nullptr);
    for (auto &l : s.surfacesByFile) l.second.push_back(nullptr);
    for (auto &l : s.surfacesByFileAndName) l.second.push_back(nullptr);
}

void indexWeightMaps(SceneState &s) {
    auto add = [&](std::map<std::string, const WeightMapEntry *, std::less<>> &byName, LWID type, int dimension,
                   const scene::MeshLayer &l, const std::string &name, const std::vector<float> &values,
                   const std::vector<uint8_t> &has) {
        auto it = byName.find(name);
        WeightMapEntry *e;
        if (it == byName.end()) {
            s.weightMaps.push_back(std::make_unique<WeightMapEntry>());
            e = s.weightMaps.back().get();
            e->name = name;
            e->type = type;
            e->dimension = dimension;
            byName[name] = e;
            s.weightMapByHandle[e] = e;
        } else {
            e = const_cast<WeightMapEntry *>(it->second);
        }
        if (!e->in(&l)) e->layers.push_back({&l, &values, &has});
    };
    for (const scene::ObjectItem *o : s.scene->objects)
        for (const scene::MeshLayer &l : o->layers) {
            for (const scene::WeightMap &m : l.weightMaps)
                add(s.weightMapByName, LWVMAP_WGHT, 1, l, m.name, m.values, m.has);
            for (const scene::UVMap &m : l.uvMaps) add(s.uvMapByName, LWVMAP_TXUV, 2, l, m.name, m.values, m.has);
        }
}

}  // namespace

SceneState *current() { return gState.load(std::memory_order_acquire); }

void ItemIndex::build(const std::unordered_map<const void *, ItemEntry> &items) {
    size_t capacity = 8;
    unsigned bits = 3;
    while (capacity < items.size() * 2) capacity *= 2, ++bits;
    slots_.assign(capacity, Slot{});
    mask_ = capacity - 1;
    shift_ = 64 - bits;
    for (const auto &entry : items) {
        size_t i = slotOf(entry.first);
        while (slots_[i].id) i = (i + 1) & mask_;
        slots_[i] = {entry.first, &entry.second};
    }
}

const ItemEntry *findItem(const SceneState &s, const void *id) { return id ? s.itemIndex.find(id) : nullptr; }

const scene::ObjectItem *findObject(const SceneState &s, const void *id) {
    const ItemEntry *e = findItem(s, id);
    return e && e->type == LWI_OBJECT ? static_cast<const scene::ObjectItem *>(e->item) : nullptr;
}

const scene::LightItem *findLight(const SceneState &s, const void *id) {
    const ItemEntry *e = findItem(s, id);
    return e && e->type == LWI_LIGHT ? static_cast<const scene::LightItem *>(e->item) : nullptr;
}

const SurfaceEntry *findSurface(const SceneState &s, const void *id) {
    if (!id) return nullptr;
    auto it = s.surfaces.find(id);
    return it == s.surfaces.end() ? nullptr : &it->second;
}

ImageSlot *findImage(const SceneState &s, const void *id) {
    if (!id) return nullptr;
    const ImageTable *t = s.images.load(std::memory_order_acquire);
    if (!t) return nullptr;
    auto it = t->byID.find(id);
    return it == t->byID.end() ? nullptr : it->second;
}

LWImageID sceneImageID(const SceneState &s, int index) {
    if (index < 0 || static_cast<size_t>(index) >= s.scene->images.size()) return nullptr;
    return const_cast<image::Image *>(s.scene->images[index].get());
}

void publishTransforms(SceneState &s, double time) {
    auto xf = std::make_unique<std::vector<scene::Affine>>();
    xf->reserve(s.scene->objects.size());
    for (const scene::ObjectItem *o : s.scene->objects) xf->push_back(scene::worldTransform(*o, time));
    std::lock_guard<std::mutex> hold(s.timeLock);
    s.transforms.store(xf.get(), std::memory_order_release);
    s.transformVersions.push_back(std::move(xf));
    s.time.store(time, std::memory_order_release);
}

void report(const std::string &line) {
    std::lock_guard<std::mutex> hold(sinkLock());
    if (sink())
        sink()(line);
    else
        std::cerr << line << "\n";
}

void registerSceneServices(const scene::Scene &scene) {
    auto s = std::make_unique<SceneState>();
    s->scene = &scene;
    indexItems(*s);
    s->itemIndex.build(s->items);
    initImages(*s);
    indexSurfaces(*s);
    indexWeightMaps(*s);
    publishTransforms(*s, 0.0);
    setBackdropType(scene);
    delete gState.exchange(s.release(), std::memory_order_acq_rel);

    registerService(LWITEMINFO_GLOBAL, const_cast<LWItemInfo *>(itemInfoTable()));
    registerService(LWLIGHTINFO_GLOBAL, const_cast<LWLightInfo *>(lightInfoTable()));
    registerService(LWOBJECTINFO_GLOBAL, const_cast<LWObjectInfo *>(objectInfoTable()));
    registerService(LWOBJECTFUNCS_GLOBAL, const_cast<LWObjectFuncs *>(objectFuncsTable()));
    registerService(LWIMAGELIST_GLOBAL, const_cast<LWImageList *>(imageListTable()));
    registerService(LWSURFACEFUNCS_GLOBAL, const_cast<LWSurfaceFuncs *>(surfaceFuncsTable()));
    registerService(LWBACKDROPINFO_GLOBAL, const_cast<LWBackdropInfo *>(backdropInfoTable()));
}

void setSceneServicesTime(double time) {
    if (SceneState *s = current()) publishTransforms(*s, time);
}

void withdrawSceneServices() {
    for (const char *name : {LWITEMINFO_GLOBAL, LWLIGHTINFO_GLOBAL, LWOBJECTINFO_GLOBAL, LWOBJECTFUNCS_GLOBAL,
                             LWIMAGELIST_GLOBAL, LWSURFACEFUNCS_GLOBAL, LWBACKDROPINFO_GLOBAL})
        registerService(name, nullptr);
    delete gState.exchange(nullptr, std::memory_order_acq_rel);
}

void setSceneServicesMessageSink(std::function<void(const std::string &)> f) {
    std::lock_guard<std::mutex> hold(sinkLock());
    sink() = std::move(f);
}

const image::Image *imageFromID(LWImageID id) {
    const SceneState *s = current();
    const ImageSlot *slot = s ? findImage(*s, id) : nullptr;
    return slot ? slot->image : nullptr;
}

void *weightMapHandle(const std::string &name) {
    const SceneState *s = current();
    if (!s) return nullptr;
    auto it = s->weightMapByName.find(name);
    return it == s->weightMapByName.end() ? nullptr : const_cast<WeightMapEntry *>(it->second);
}

}  // namespace host::services
