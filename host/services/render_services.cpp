// SPDX-License-Identifier: Apache-2.0
#include "host/services/render_services.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "host/services/global_lookup.h"

namespace host::services {

namespace {

const scene::Scene *gActiveScene = nullptr;

struct SceneInfoState {
    std::string name, filename;
    LWSceneInfo info{};
};

SceneInfoState &sceneState() {
    static SceneInfoState s;
    return s;
}

// The render memory pool: chunks in creation order, found by name or by their memory. Shaders
// look their per-thread blocks up by name on every spot, so find takes no lock: names go through
// an open-addressing index of atomic chunk pointers that only create writes (under the lock). A
// full index is copied into one twice its size and published; replaced indexes stay alive until
// the pool is reset, so a reader never sees one freed.
struct Chunk {
    std::string name;
    size_t hash = 0;
    int size = 0;
    std::unique_ptr<char[]> data;
};

struct NameIndex {
    explicit NameIndex(size_t capacity) : mask(capacity - 1), slots(new std::atomic<Chunk *>[capacity]) {
        for (size_t i = 0; i < capacity; ++i) slots[i].store(nullptr, std::memory_order_relaxed);
    }
    size_t mask;  // capacity - 1, capacity a power of two
    std::unique_ptr<std::atomic<Chunk *>[]> slots;
    size_t used = 0;

    // Under the pool's lock; the caller keeps the index at most half full.
    void insert(Chunk *c) {
        size_t i = c->hash & mask;
        while (slots[i].load(std::memory_order_relaxed)) i = (i + 1) & mask;
        slots[i].store(c, std::memory_order_release);
        ++used;
    }
    // From any thread.
    Chunk *find(const char *name, size_t hash) const {
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            Chunk *c = slots[i].load(std::memory_order_acquire);
            if (!c) return nullptr;
            if (c->hash == hash && std::strcmp(c->name.c_str(), name) == 0) return c;
        }
    }
};

struct Pool {
    std::mutex lock;  // guards creation, the lists below and reset
    std::vector<std::unique_ptr<Chunk>> chunks;
    std::map<const void *, size_t> byData;            // memory -> index in chunks
    std::vector<std::unique_ptr<NameIndex>> indexes;  // every index made; the last is current
    std::atomic<const NameIndex *> byName{nullptr};
};

size_t nameHash(const char *name) { return std::hash<std::string_view>{}(std::string_view(name)); }

Pool &pool() {
    static Pool p;
    return p;
}

LWMemChunk poolFirst() {
    Pool &p = pool();
    std::lock_guard<std::mutex> hold(p.lock);
    return p.chunks.empty() ? nullptr : p.chunks.front()->data.get();
}

LWMemChunk poolNext(LWMemChunk chunk) {
    Pool &p = pool();
    std::lock_guard<std::mutex> hold(p.lock);
    auto it = p.byData.find(chunk);
    if (it == p.byData.end() || it->second + 1 >= p.chunks.size()) return nullptr;
    return p.chunks[it->second + 1]->data.get();
}

const char *poolID(LWMemChunk chunk) {
    Pool &p = pool();
    std::lock_guard<std::mutex> hold(p.lock);
    auto it = p.byData.find(chunk);
    return it == p.byData.end() ? nullptr : p.chunks[it->second]->name.c_str();
}

int poolSize(LWMemChunk chunk) {
    Pool &p = pool();
    std::lock_guard<std::mutex> hold(p.lock);
    auto it = p.byData.find(chunk);
    return it == p.byData.end() ? 0 : p.chunks[it->second]->size;
}

LWMemChunk poolFind(const char *name) {
    if (!name) return nullptr;
    const NameIndex *index = pool().byName.load(std::memory_order_acquire);
    Chunk *c = index ? index->find(name, nameHash(name)) : nullptr;
    return c ? c->data.get() : nullptr;
}

LWMemChunk poolCreate(const char *name, int size) {
    if (!name || size <= 0) return nullptr;
    try {
        Pool &p = pool();
        const size_t hash = nameHash(name);
        std::lock_guard<std::mutex> hold(p.lock);
        const NameIndex *current = p.byName.load(std::memory_order_relaxed);
        if (current && current->find(name, hash)) return nullptr;  // names are unique in the pool
        auto c = std::make_unique<Chunk>();
        c->name = name;
        c->hash = hash;
        c->size = size;
        c->data.reset(new char[static_cast<size_t>(size)]());
        NameIndex *index = p.indexes.empty() ? nullptr : p.indexes.back().get();
        if (!index || (index->used + 1) * 2 > index->mask + 1) {
            auto grown = std::make_unique<NameIndex>(index ? (index->mask + 1) * 2 : 64);
            for (const auto &old : p.chunks) grown->insert(old.get());
            p.indexes.push_back(std::move(grown));
            index = p.indexes.back().get();
        }
        p.chunks.reserve(p.chunks.size() + 1);
        Chunk *raw = c.get();
        p.byData[raw->data.get()] = p.chunks.size();
        p.chunks.push_back(std::move(c));
        index->insert(raw);
        p.byName.store(index, std::memory_order_release);
        return raw->data.get();
    } catch (...) {
        return nullptr;
    }
}

const LWGlobalPool kRenderMemory = {
    poolFirst,   // first
    poolNext,    // next
    poolID,      // ID
    poolSize,    // size
    poolFind,    // find
    poolCreate,  // create
};

}  // namespace

void setActiveScene(const scene::Scene *scene) { gActiveScene = scene; }
const scene::Scene *activeScene() { return gActiveScene; }

void publishSceneInfo(const scene::Scene &scene, int width, int height, int samples) {
    SceneInfoState &s = sceneState();
    s.name = scene.name;
    s.filename = scene.filename;
    LWSceneInfo &i = s.info;
    i.name = s.name.c_str();
    i.filename = s.filename.c_str();
    i.numPoints = 0;
    i.numPolygons = 0;
    for (const scene::ObjectItem *o : scene.objects) {
        i.numPoints += o->numPoints();
        i.numPolygons += o->numPolygons();
    }
    i.renderType = 2;  // ray-traced
    i.renderOpts = scene.render.renderOptsBits();
    i.frameStart = scene.render.frameStart;
    i.frameEnd = scene.render.frameEnd;
    i.frameStep = scene.render.frameStep;
    i.framesPerSecond = scene.render.fps;
    i.frameWidth = width;
    i.frameHeight = height;
    i.pixelAspect = scene.render.pixelAspect;
    i.minSamplesPerPixel = samples;
    i.maxSamplesPerPixel = samples;
    i.recursionDepth = scene.render.recursionLimit;
    registerService(LWSCENEINFO_GLOBAL, &i);
}

const LWSceneInfo *sceneInfo() { return &sceneState().info; }

void publishRenderMemory() {
    registerService(LWGLOBALPOOL_RENDER_GLOBAL, const_cast<LWGlobalPool *>(&kRenderMemory));
}

const LWGlobalPool *renderMemory() { return &kRenderMemory; }

void resetRenderMemory() {
    Pool &p = pool();
    std::lock_guard<std::mutex> hold(p.lock);
    p.byName.store(nullptr, std::memory_order_release);
    p.indexes.clear();
    p.byData.clear();
    p.chunks.clear();
}

}  // namespace host::services
