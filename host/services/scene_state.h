// SPDX-License-Identifier: Apache-2.0
// The index the scene-backed services answer from: built once per registered scene on the main
// thread, then read from any thread. The parts that change while plug-ins run (images loaded
// through the image list, their spot filtering, per-frame object transforms, lazily read channels and
// channel groups) are published through atomics or guarded by their own locks, as noted.
// Private to host/services.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "host/image/spot_filter.h"
#include "host/scene/scene.h"
#include "sdk/host_types.h"
#include "sdk/item_info.h"
#include "sdk/mesh_info.h"

namespace host::services {

// An item and its successor among the items of the same kind (and, for bones, the same object).
struct ItemEntry {
    const scene::Item *item = nullptr;
    LWItemType type = LWI_NONE;
    LWItemID next = nullptr;
};

// A vertex map's name and type (a weight map, LWVMAP_WGHT, one value a point, or a UV map,
// LWVMAP_TXUV, two) and, per layer of the scene that has one, that layer's values and which points
// have them. The entry's address is the handle plug-ins select the map by.
struct WeightMapEntry {
    struct Values {
        const scene::MeshLayer *layer;
        const std::vector<float> *values;  // `dimension` a point
        const std::vector<uint8_t> *has;
    };
    std::string name;
    LWID type = LWVMAP_WGHT;
    int dimension = 1;
    std::vector<Values> layers;
    const Values *in(const scene::MeshLayer *layer) const {
        for (const Values &v : layers)
            if (v.layer == layer) return &v;
        return nullptr;
    }
};

// One entry of the image list. Slots never move or disappear while the services are registered.
struct ImageSlot {
    const image::Image *image = nullptr;
    std::unique_ptr<image::Image> owned;  // set for images the image list loaded itself
    size_t order = 0;                     // position in the image list
    // The image in SceneState::spotFilter, once a spot wider than a pixel or needAA asked for it;
    // set under SceneState::imageLock.
    std::atomic<const image::SpotFilter::Texture *> texture{nullptr};
    bool textureRefused = false;  // the filter refused the image; under SceneState::imageLock
};

// An immutable snapshot of the image list; a load publishes a new one.
struct ImageTable {
    std::vector<ImageSlot *> order;
    std::unordered_map<const void *, ImageSlot *> byID;
};

// A surface's channel values for the names known at registration, and its neighbours.
struct SurfaceEntry {
    const scene::Surface *surface = nullptr;
    LWSurfaceID next = nullptr;
    std::map<std::string, std::vector<double>, std::less<>> channels;
    LWImageID reflectionImage = nullptr, refractionImage = nullptr;
};

// An immutable open-addressing index from identifiers to entries, built once after the entries
// are in place: shaders ask for items and lights several times per light per shaded spot, and
// this finds one in a probe or two without the hashing and bucket walk of a node map.
class ItemIndex {
public:
    void build(const std::unordered_map<const void *, ItemEntry> &items);
    const ItemEntry *find(const void *id) const {
        if (slots_.empty()) return nullptr;
        for (size_t i = slotOf(id);; i = (i + 1) & mask_) {
            const Slot &s = slots_[i];
            if (s.id == id) return s.entry;
            if (!s.id) return nullptr;
        }
    }

private:
    struct Slot {
        const void *id = nullptr;
        const ItemEntry *entry = nullptr;
    };
    size_t slotOf(const void *id) const {
        return static_cast<size_t>((reinterpret_cast<uintptr_t>(id) >> 3) * 0x9E3779B97F4A7C15ull >> shift_);
    }
    std::vector<Slot> slots_;
    size_t mask_ = 0;
    unsigned shift_ = 63;
};

struct SceneState {
    const scene::Scene *scene = nullptr;

    // Items by identifier, and the first of each kind (objects, lights, cameras) and of each
    // object's bones.
    std::unordered_map<const void *, ItemEntry> items;
    ItemIndex itemIndex;  // over `items`, whose entries never move once indexed
    LWItemID firstOfKind[3] = {nullptr, nullptr, nullptr};
    std::unordered_map<const void *, LWItemID> firstBone;
    std::unordered_map<const void *, size_t> objectIndex;  // position in scene->objects

    // Surfaces by identifier; null-terminated lists by name, by object file and by both. Maps keyed
    // by text compare without building a string, so look-ups by a plug-in's text never allocate.
    std::unordered_map<const void *, SurfaceEntry> surfaces;
    std::map<std::string, std::vector<LWSurfaceID>, std::less<>> surfacesByName;
    std::map<std::string, std::vector<LWSurfaceID>, std::less<>> surfacesByFile;
    std::map<std::pair<std::string, std::string>, std::vector<LWSurfaceID>> surfacesByFileAndName;

    // Weight and UV maps by handle, and each kind by name.
    std::vector<std::unique_ptr<WeightMapEntry>> weightMaps;
    std::unordered_map<const void *, const WeightMapEntry *> weightMapByHandle;
    std::map<std::string, const WeightMapEntry *, std::less<>> weightMapByName;
    std::map<std::string, const WeightMapEntry *, std::less<>> uvMapByName;

    // The image list. imageLock guards slot creation, table publication and the spot filter.
    std::mutex imageLock;
    std::deque<ImageSlot> imageSlots;
    std::vector<std::unique_ptr<ImageTable>> imageTables;  // every version; the last is current
    std::atomic<const ImageTable *> images{nullptr};
    // Mip-mapped spot filtering of the list's images, made on first use. Declared after the slots,
    // so it goes before the images it holds.
    std::unique_ptr<image::SpotFilter> spotFilter;

    // World transforms of the objects at the services' time, by object index. Each time change
    // publishes a new array; old ones are kept until withdrawal, so readers never see one freed.
    std::mutex timeLock;
    std::vector<std::unique_ptr<std::vector<scene::Affine>>> transformVersions;
    std::atomic<const std::vector<scene::Affine> *> transforms{nullptr};
    std::atomic<double> time{0.0};

    // Channel values asked for by names unknown at registration, read once and kept (node-based,
    // so the values stay put), and each surface's channel group.
    std::mutex lazyLock;
    std::map<std::pair<const scene::Surface *, std::string>, std::vector<double>> lazyChannels;
    std::unordered_map<const void *, LWChanGroupID> channelGroups;
};

// The registered scene's state, or null when none is registered.
SceneState *current();

// Typed look-ups of identifiers; null when the identifier names nothing of that kind.
const ItemEntry *findItem(const SceneState &s, const void *id);
const scene::ObjectItem *findObject(const SceneState &s, const void *id);
const scene::LightItem *findLight(const SceneState &s, const void *id);
const SurfaceEntry *findSurface(const SceneState &s, const void *id);
ImageSlot *findImage(const SceneState &s, const void *id);

// The identifier of scene image `index` (-1 or out of range: null).
LWImageID sceneImageID(const SceneState &s, int index);

// A new mesh record over layers [first, last) of an object; `frozen` makes pntOtherPos give
// world positions at the services' time. Null when memory runs out.
LWMeshInfo *makeMeshRecord(const SceneState &s, const scene::ObjectItem &object, size_t first, size_t last,
                           bool frozen);

// Builds the image list's first table from the scene's images (registration only).
void initImages(SceneState &s);

// Publishes the object transforms for a time.
void publishTransforms(SceneState &s, double time);

// Sets LWBackdropInfo::type from the scene (registration only).
void setBackdropType(const scene::Scene &scene);

// Sends one line to the message sink.
void report(const std::string &line);

}  // namespace host::services
