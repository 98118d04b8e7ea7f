// A small fake scene behind the host's item, light, scene, image and render-memory services, for
// the light tests. The tables are plain functions reading one global Scene; set it up before any
// worker thread starts and only read it afterwards (the memory pool alone is locked).
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sdk/sdk.h"

namespace fakehost {

inline LWItemID id(uintptr_t n) { return reinterpret_cast<LWItemID>(n); }

struct Item {
    LWItemType type = LWI_LIGHT;
    LWItemID parent = nullptr;  // the object of a bone
    std::string name;
    std::vector<std::string> tags;
    double param[12][3] = {};  // value at time 0, by LWItemParam - 1
    double slope[12][3] = {};  // added per second of time
    // Light settings.
    int lightType = LWLIGHT_POINT;
    double color[3] = {1, 1, 1};
    int shadowType = LWSHAD_RAYTRACE;
    double coneRadius = 0.5, coneEdge = 0.1;
    double range = 1.0;
    int falloff = LWLFALL_OFF;
    LWImageID projImage = nullptr;
    double shadowColor[3] = {0, 0, 0};

    void set(LWItemParam p, double x, double y, double z) {
        param[p - 1][0] = x;
        param[p - 1][1] = y;
        param[p - 1][2] = z;
    }
};

struct Image {
    int width = 4, height = 4;
    double rgb[3] = {1, 1, 1};
};

struct SpotCall {
    double u, v, size;
    int blend;
};

struct Scene {
    std::deque<std::pair<LWItemID, Item>> items;  // in the host's order; references stay valid
    std::map<uintptr_t, Image> images;
    LWSceneInfo sceneInfo = {};

    // Recorded calls.
    std::atomic<int> paramCalls{0}, needAACalls{0}, coloredSpots{0};
    std::vector<LWImageID> needAA;
    SpotCall lastSpot = {};

    Item &add(uintptr_t n, LWItemType type, LWItemID parent = nullptr);
    Item *find(LWItemID item);
};

extern Scene *scene;

// Render memory pool, locked: render threads create their blocks concurrently.
struct Pool {
    std::mutex mutex;
    std::map<std::string, std::vector<unsigned char>> chunks;
    std::vector<std::string> created, found;  // names asked for, in order
    bool failCreate = false;
};
extern Pool pool;

// Builds a fresh scene and points the shader service set at the fake tables (all eight are
// filled only where a fake exists; the rest stay null).
void install();
// Forgets the scene and every host service.
void uninstall();

LWItemInfo *itemInfo();
LWLightInfo *lightInfo();
LWGlobalPool *globalPool();
LWImageList *imageList();

}  // namespace fakehost
