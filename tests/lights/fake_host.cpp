#include "fake_host.h"

#include "base/host_globals.h"

namespace fakehost {

Scene *scene = nullptr;
Pool pool;

Item &Scene::add(uintptr_t n, LWItemType type, LWItemID parent) {
    items.emplace_back(id(n), Item());
    Item &item = items.back().second;
    item.type = type;
    item.parent = parent;
    return item;
}

Item *Scene::find(LWItemID item) {
    for (auto &entry : items)
        if (entry.first == item) return &entry.second;
    return nullptr;
}

namespace {

// --- LWItemInfo ---------------------------------------------------------------------------------
LWItemID first(LWItemType type, LWItemID parent) {
    for (auto &entry : scene->items)
        if (entry.second.type == type && entry.second.parent == parent) return entry.first;
    return nullptr;
}

LWItemID next(LWItemID item) {
    auto &items = scene->items;
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].first != item) continue;
        for (size_t k = i + 1; k < items.size(); ++k)
            if (items[k].second.type == items[i].second.type && items[k].second.parent == items[i].second.parent)
                return items[k].first;
        return nullptr;
    }
    return nullptr;
}

LWItemID parentOf(LWItemID item) {
    Item *it = scene->find(item);
    return it ? it->parent : nullptr;
}

LWItemType typeOf(LWItemID item) {
    Item *it = scene->find(item);
    return it ? it->type : LWI_NONE;
}

const char *nameOf(LWItemID item) {
    Item *it = scene->find(item);
    return it ? it->name.c_str() : nullptr;
}

void param(LWItemID item, LWItemParam p, LWTime time, LWDVector vec) {
    ++scene->paramCalls;
    Item *it = scene->find(item);
    if (!it || p < 1 || p > 12) return;
    for (int c = 0; c < 3; ++c) vec[c] = it->param[p - 1][c] + time * it->slope[p - 1][c];
}

const char *getTag(LWItemID item, int n) {
    Item *it = scene->find(item);
    if (!it || n < 1 || n > static_cast<int>(it->tags.size())) return nullptr;
    return it->tags[n - 1].c_str();
}

LWItemInfo itemTable = {first, next, parentOf, typeOf, nameOf, param, getTag};

// --- LWLightInfo --------------------------------------------------------------------------------
void ambient(LWTime, LWDVector c) { c[0] = c[1] = c[2] = 0.0; }
int lightType(LWItemID l) {
    Item *it = scene->find(l);
    return it ? it->lightType : LWLIGHT_POINT;
}
void lightColor(LWItemID l, LWTime, LWDVector c) {
    Item *it = scene->find(l);
    for (int k = 0; k < 3; ++k) c[k] = it ? it->color[k] : 0.0;
}
int shadowType(LWItemID l) {
    Item *it = scene->find(l);
    return it ? it->shadowType : LWSHAD_OFF;
}
void coneAngles(LWItemID l, LWTime, double *r, double *e) {
    Item *it = scene->find(l);
    *r = it ? it->coneRadius : 0.0;
    *e = it ? it->coneEdge : 0.0;
}
unsigned int lightFlags(LWItemID) { return 0; }
double range(LWItemID l, LWTime) {
    Item *it = scene->find(l);
    return it ? it->range : 0.0;
}
int falloff(LWItemID l) {
    Item *it = scene->find(l);
    return it ? it->falloff : LWLFALL_OFF;
}
LWImageID projImage(LWItemID l) {
    Item *it = scene->find(l);
    return it ? it->projImage : nullptr;
}
void shadowColor(LWItemID l, LWTime, LWDVector c) {
    Item *it = scene->find(l);
    for (int k = 0; k < 3; ++k) c[k] = it ? it->shadowColor[k] : 0.0;
}

LWLightInfo lightTable = {ambient,    lightType, lightColor, shadowType, coneAngles,
                          lightFlags, range,     falloff,    projImage,  shadowColor};

// --- LWImageList ----------------------------------------------------------------------------------
void needAA(LWImageID img) {
    ++scene->needAACalls;
    scene->needAA.push_back(img);
}
void imageSize(LWImageID img, int *w, int *h) {
    auto found = scene->images.find(reinterpret_cast<uintptr_t>(img));
    *w = found == scene->images.end() ? 0 : found->second.width;
    *h = found == scene->images.end() ? 0 : found->second.height;
}
void rgbSpot(LWImageID img, double u, double v, double size, int blend, LWDVector rgb) {
    auto found = scene->images.find(reinterpret_cast<uintptr_t>(img));
    ++scene->coloredSpots;
    scene->lastSpot = {u, v, size, blend};
    for (int k = 0; k < 3; ++k) rgb[k] = found == scene->images.end() ? 0.0 : found->second.rgb[k];
}

LWImageList imageTable = {nullptr,   nullptr, nullptr, nullptr, nullptr, nullptr, needAA,
                          imageSize, nullptr, nullptr, rgbSpot, nullptr, nullptr};

// --- LWGlobalPool ---------------------------------------------------------------------------------
LWMemChunk poolFind(const char *name) {
    std::lock_guard<std::mutex> hold(pool.mutex);
    pool.found.push_back(name);
    auto found = pool.chunks.find(name);
    return found == pool.chunks.end() ? nullptr : found->second.data();
}
LWMemChunk poolCreate(const char *name, int size) {
    std::lock_guard<std::mutex> hold(pool.mutex);
    pool.created.push_back(name);
    if (pool.failCreate) return nullptr;
    auto &chunk = pool.chunks[name];
    chunk.assign(static_cast<size_t>(size), 0xAB);  // not zero: the module must clear it
    return chunk.data();
}

LWGlobalPool poolTable = {nullptr, nullptr, nullptr, nullptr, poolFind, poolCreate};

}  // namespace

LWItemInfo *itemInfo() { return &itemTable; }
LWLightInfo *lightInfo() { return &lightTable; }
LWGlobalPool *globalPool() { return &poolTable; }
LWImageList *imageList() { return &imageTable; }

void install() {
    uninstall();
    scene = new Scene;
    scene->sceneInfo.renderOpts = LWROPT_SHADOWTRACE;
    velmora::shaderGlobals.itemInfo = &itemTable;
    velmora::shaderGlobals.lightInfo = &lightTable;
    velmora::shaderGlobals.sceneInfo = &scene->sceneInfo;
    velmora::shaderGlobals.globalPool = &poolTable;
    velmora::shaderGlobals.imageList = &imageTable;
}

void uninstall() {
    velmora::resetHostGlobals();
    delete scene;
    scene = nullptr;
    std::lock_guard<std::mutex> hold(pool.mutex);
    pool.chunks.clear();
    pool.created.clear();
    pool.found.clear();
    pool.failCreate = false;
}

}  // namespace fakehost
