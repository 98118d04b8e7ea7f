// SPDX-License-Identifier: Apache-2.0
// The fake host of the module's tests: plain records behind every service table the module looks
// up (items and lights, objects and their meshes, the scene, render memory, images, surfaces, the
// backdrop, variant parameters, envelopes and channels, textures, the panel) and the functions of a
// shading access record. A FakeHost becomes current when it is made, and the one made before it is
// current again when it goes; every table answers from the current one. Answers on the shading
// path are prepared in advance, so that benchmarks measure the module and not the fake; set the
// scene up before any worker thread starts and only read it afterwards (the memory pool and the
// records of calls are locked).
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "sdk/sdk.h"
#include "tests/support/fake_mesh.h"

namespace testhost {

inline LWItemID id(uintptr_t n) { return reinterpret_cast<LWItemID>(n); }
inline LWSurfaceID surfaceId(int i) { return reinterpret_cast<LWSurfaceID>(static_cast<uintptr_t>(i) + 1); }

// An item of the scene: a light, camera, object or bone.
struct FakeItem {
    LWItemID id = nullptr;
    LWItemType type = LWI_LIGHT;
    LWItemID parent = nullptr;  // the object of a bone
    std::string name;
    std::vector<std::string> tags;
    double param[12][3] = {};  // value at time 0, by LWItemParam - 1
    double slope[12][3] = {};  // added per second of time

    // Light settings.
    int lightType = LWLIGHT_POINT;
    double color[3] = {1, 1, 1};  // unshadowed colour (the light's colour, no falloff)
    unsigned int flags = 0;
    int shadowType = LWSHAD_RAYTRACE;
    double coneRadius = 0.5, coneEdge = 0.1;
    double range = 1.0;
    int falloff = LWLFALL_OFF;
    LWImageID projImage = nullptr;
    double shadowColor[3] = {0, 0, 0};
    bool excluded = false;  // from the shaded object
    // What the host's illuminate answers at the shaded spot (the shadowed colour) ...
    int lit = 1;
    double shadowed[3] = {1, 1, 1};
    // ... and at any other position (the exit point of a sheen trace).
    int exitLit = 1;
    double exitColor[3] = {0, 0, 0};

    void set(LWItemParam p, double x, double y, double z) {
        param[p - 1][0] = x;
        param[p - 1][1] = y;
        param[p - 1][2] = z;
    }
    // Position and forward axis, local and world alike.
    void place(double x, double y, double z) {
        set(LWIP_POSITION, x, y, z);
        set(LWIP_W_POSITION, x, y, z);
    }
    void aim(double x, double y, double z) {
        set(LWIP_FORWARD, x, y, z);
        set(LWIP_W_FORWARD, x, y, z);
    }
};

struct FakeEnvelope {
    float value = 0.f;  // saved and loaded as the envelope's data
};

struct FakeChannel {
    FakeEnvelope *envelope = nullptr;
};

struct FakeGroup {
    LWChanGroupID parent = nullptr;
    std::string name;
    std::vector<FakeChannel> channels;
};

struct FakeImage {
    std::string name;
    std::string file;  // saved and loaded as the image's own data
    int width = 4, height = 4;
    double rgb[3] = {1, 1, 1};  // the colour of every spot
};

struct FakeLayer {
    FakeGroup *group = nullptr;
    bool imageParam = true;  // whether tag 9 can be read
    FakeImage *image = nullptr;
};

struct FakeTexture {
    std::vector<FakeLayer> layers;
    int data = 0;  // saved and loaded as the texture's own data
    int newTimes = 0, cleanups = 0;
    LWChanGroupID envGroup = nullptr;
};

// A variant parameter: three components, set and read as they are.
struct FakeParam {
    int envType = 0, texType = 0;
    std::string channel, plugin;
    LWChanGroupID group = nullptr;
    LWTxtrContextID context = nullptr;
    LWVP_EventFunc *event = nullptr;
    void *userData = nullptr;
    double value[3] = {-1, -1, -1};
    int data = 0;  // saved and loaded as the parameter's own data (see FakeHost::parmSavesValues)
    FakeEnvelope *envs[3] = {nullptr, nullptr, nullptr};
    FakeTexture *texture = nullptr;
    bool destroyed = false;
};

struct FakeObject {
    const char *file;
    std::vector<LWSurfaceID> surfaces;  // ends with a null
    std::vector<FakeMesh *> layers;     // null where a layer does not exist
};

struct SetValCall {
    LWVParmID parm;
    double value[3];
};

struct PanelCall {
    std::string op;  // "create", "hint", "describe", "viewInst", "setData"
    LWXPanelID panel;
    unsigned int id;
    const void *arg;  // controls, hints, data descriptions or the instance
};

struct SpotCall {
    double u, v, size;
    int blend;
};

// The render memory pool: render threads create their blocks concurrently.
struct Pool {
    std::mutex mutex;
    std::map<std::string, std::vector<unsigned char>> chunks;
    std::vector<std::string> created, found;  // names asked for, in order
    bool failCreate = false;
};

class FakeHost {
public:
    FakeHost();
    ~FakeHost();
    FakeHost(const FakeHost &) = delete;
    FakeHost &operator=(const FakeHost &) = delete;

    // The global look-up: records every name asked for and answers from `tables`.
    static void *lookup(const char *name, int useMode);
    void makeCurrent();
    // Makes this host current, forgets what the module held and activates the shader server with
    // it, which acquires the shader services and the look-up for the later sets.
    void activate();
    // Makes this host current, turns ray-traced shadows on for the render and points the module's
    // shader service set straight at its tables, without an activation.
    void setShaderGlobals();
    // The access record's own functions: illuminate, rayTrace, rayCast and rayShade of this host.
    void fillAccess(LWShaderAccess &sa) const;

    // Scene.
    FakeItem &add(uintptr_t n, LWItemType type, LWItemID parent = nullptr);
    // A distant light without shadows, pointing down -z, under a fresh ID.
    FakeItem &addLight(const std::string &name);
    FakeItem *find(LWItemID item);
    FakeImage *image(const char *name, const char *file);  // adds it to the scene's image list
    FakeGroup *group(const char *name, std::vector<FakeEnvelope *> envelopes = {});
    FakeTexture *texture(std::vector<FakeLayer> layers);
    FakeEnvelope *envelope(float value);
    // A parameter of the host, to put behind a Vparam; owned by the host.
    LWVParmID makeParm(int envType, double a, double b, double c);
    FakeParam *parm(LWVParmID id) { return static_cast<FakeParam *>(id); }

    // The look-up's answers (a missing name answers null) and the calls it had, in order.
    std::map<std::string, void *> tables;
    std::vector<std::pair<std::string, int>> calls;  // (name, use mode)
    void remove(const std::string &name) { tables.erase(name); }
    std::vector<std::string> names() const;

    std::deque<FakeItem> items;                              // in the host's order; references stay valid
    LWItemID object = reinterpret_cast<LWItemID>(0x0b1ec7);  // the shaded object
    double ambient[3] = {0.0, 0.0, 0.0};
    bool excludeRadiosity = false, excludeCaustics = false;
    int radiosityLit = 0;
    double radiosity[3] = {0.0, 0.0, 0.0};
    int causticsLit = 0;
    double caustics[3] = {0.0, 0.0, 0.0};
    double rayCastDistance = -1.0;  // answer of every rayCast
    double backdrop[3] = {0.0, 0.0, 0.0};
    double spot[3] = {0.0, 0.0, 0.0};  // the shaded spot: illuminate answers `shadowed` there
    LWSceneInfo sceneInfo = {};
    Pool pool;

    std::vector<std::unique_ptr<FakeImage>> images;  // the scene's image list, in order
    int imagesLoaded = 0;                            // sceneLoad calls
    std::vector<FakeObject> objects;
    std::vector<std::pair<LWItemID, FakeMesh *>> objectMeshes;  // for LWObjectInfo::meshInfo
    std::vector<std::string> surfaceNames;                      // surface i + 1 is named surfaceNames[i]
    LWChanGroupID surfaceGroup = reinterpret_cast<LWChanGroupID>(0x5ec7);
    LWXPanelID panelAnswer = reinterpret_cast<LWXPanelID>(0x9a9e1);
    // A parameter's own save writes its data word; with this set, its three components instead
    // (24 bytes), so that a saved and loaded instance keeps its values.
    bool parmSavesValues = false;

    // Everything the module created, owned here.
    std::vector<std::unique_ptr<FakeParam>> params;  // destroyed or not
    std::vector<FakeParam *> destroyedParams;
    std::vector<std::unique_ptr<FakeGroup>> groups;
    std::vector<std::unique_ptr<FakeTexture>> textures;
    std::vector<std::unique_ptr<FakeEnvelope>> envelopes;

    // Records of what the module asked; off in benchmarks.
    bool keepRecords = true;
    std::atomic<int> firstCalls{0}, flagsCalls{0}, ambientCalls{0}, backdropCalls{0}, surfaceReads{0},
        paramCalls{0}, needAACalls{0}, coloredSpots{0};
    double ambientTime = -1.0;
    std::vector<LWItemID> flagsOf, illuminatedLights;
    std::vector<std::vector<double>> illuminatePositions, rayCastStarts, rayCastDirections, backdropRays;
    std::vector<LWVParmID> getValOrder;
    std::vector<SetValCall> setValCalls;
    std::vector<std::pair<LWVParmID, LWVParmID>> copyCalls;  // (to, from)
    std::vector<FakeGroup *> groupsMade;
    std::vector<PanelCall> panelCalls;
    std::vector<LWImageID> needAA;
    SpotCall lastSpot = {};
    std::mutex recordLock;  // guards the records above that shading threads append to

    LWItemInfo itemInfo;
    LWLightInfo lightInfo;
    LWObjectInfo objectInfo;
    LWGlobalPool globalPool;
    LWImageList imageList;
    LWSurfaceFuncs surfaceFuncs;
    LWBackdropInfo backdropInfo;
    LWVParmFuncs vparmFuncs;
    LWEnvelopeFuncs envelopeFuncs;
    LWTextureFuncs textureFuncs;
    LWChannelInfo channelInfo;
    LWObjectFuncs objectFuncs;
    LWXPanelFuncs panelFuncs;

private:
    FakeHost *previous_ = nullptr;
    uintptr_t nextLight_ = 0x11000;
};

FakeHost *current();

}  // namespace testhost
