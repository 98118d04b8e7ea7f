#include "host/services/render_services.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/services/global_lookup.h"

namespace host {

namespace {

const Scene *gActiveScene = nullptr;

struct SceneInfoState {
    std::string name, filename;
    LWSceneInfo info{};
};

SceneInfoState &sceneState() {
    static SceneInfoState s;
    return s;
}

// The render memory pool: chunks in creation order, found by name or by their memory.
struct Chunk {
    std::string name;
    int size = 0;
    std::unique_ptr<char[]> data;
};

struct Pool {
    std::mutex lock;
    std::vector<std::unique_ptr<Chunk>> chunks;
    std::map<std::string, Chunk *> byName;
    std::map<const void *, size_t> byData;  // memory -> index in chunks
};

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
    Pool &p = pool();
    std::lock_guard<std::mutex> hold(p.lock);
    auto it = p.byName.find(name);
    return it == p.byName.end() ? nullptr : it->second->data.get();
}

LWMemChunk poolCreate(const char *name, int size) {
    if (!name || size <= 0) return nullptr;
    try {
        Pool &p = pool();
        std::lock_guard<std::mutex> hold(p.lock);
        if (p.byName.count(name)) return nullptr;  // names are unique in the pool
        auto c = std::make_unique<Chunk>();
        c->name = name;
        c->size = size;
        c->data.reset(new char[static_cast<size_t>(size)]());
        Chunk *raw = c.get();
        p.chunks.push_back(std::move(c));
        p.byName[raw->name] = raw;
        p.byData[raw->data.get()] = p.chunks.size() - 1;
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

void setActiveScene(const Scene *scene) { gActiveScene = scene; }
const Scene *activeScene() { return gActiveScene; }

void publishSceneInfo(const Scene &scene, int width, int height, int samples) {
    SceneInfoState &s = sceneState();
    s.name = scene.name;
    s.filename = scene.filename;
    LWSceneInfo &i = s.info;
    i.name = s.name.c_str();
    i.filename = s.filename.c_str();
    i.numPoints = 0;
    i.numPolygons = 0;
    for (const ObjectItem *o : scene.objects) {
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
    p.byName.clear();
    p.byData.clear();
    p.chunks.clear();
}

}  // namespace host
