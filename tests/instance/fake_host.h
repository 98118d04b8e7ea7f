// A fake host for the shader instance and its evaluation: the services the module looks up, a
// scene of lights with prepared answers, a shading access record, and a panel service. Every
// table answers from the FakeHost installed last. Answers on the shading path are prepared in
// advance, so that benchmarks measure the module and not the fake.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sdk/sdk.h"

namespace skintest {

struct FakeLight {
    std::string name;
    int type = LWLIGHT_DISTANT;
    double color[3] = {1.0, 1.0, 1.0};     // unshadowed colour (the light's colour, no falloff)
    double position[3] = {0.0, 0.0, 0.0};  // world position
    double forward[3] = {0.0, 0.0, -1.0};  // forward axis: the direction its light travels
    unsigned int flags = 0;
    int shadowType = LWSHAD_OFF;
    double shadowColor[3] = {0.0, 0.0, 0.0};
    bool excluded = false;
    // What the host's illuminate answers at the shaded spot (the shadowed colour) ...
    int lit = 1;
    double shadowed[3] = {1.0, 1.0, 1.0};
    // ... and at any other position (the exit point of a sheen trace).
    int exitLit = 1;
    double exitColor[3] = {0.0, 0.0, 0.0};
};

// A variant parameter of the fake host: three components, set and read as they are.
struct FakeParm {
    int envType = 0, texType = 0;
    double value[3] = {0.0, 0.0, 0.0};
    std::string channel;
    LWChanGroupID group = nullptr;
    bool destroyed = false;
};

// A channel group made by the fake envelope service.
struct FakeGroup {
    LWChanGroupID parent;
    std::string name;
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

class FakeHost {
public:
    FakeHost();
    ~FakeHost();
    FakeHost(const FakeHost &) = delete;
    FakeHost &operator=(const FakeHost &) = delete;

    // Makes this host the answer of every fake table and activates the shader server with it,
    // which acquires the shader services and the look-up for the later sets.
    void install();
    static void *lookup(const char *name, int useMode);

    FakeLight &addLight(const std::string &name);
    // A named parameter of the fake host, to put behind a Vparam; owned by the host.
    LWVParmID makeParm(int envType, double a, double b, double c);
    FakeParm *parm(LWVParmID id) { return static_cast<FakeParm *>(id); }
    // The access record's own functions: illuminate, rayTrace, rayCast and rayShade of this host.
    void fillAccess(LWShaderAccess &sa) const;

    // Services the module may ask for; a name in `missing` answers null.
    std::vector<std::string> missing;

    // Scene.
    std::vector<std::unique_ptr<FakeLight>> lights;
    LWItemID object = reinterpret_cast<LWItemID>(0x0b1ec7);
    double ambient[3] = {0.0, 0.0, 0.0};
    bool excludeRadiosity = false, excludeCaustics = false;
    int radiosityLit = 0;
    double radiosity[3] = {0.0, 0.0, 0.0};
    int causticsLit = 0;
    double caustics[3] = {0.0, 0.0, 0.0};
    double rayCastDistance = -1.0;  // answer of every rayCast
    double backdrop[3] = {0.0, 0.0, 0.0};
    int renderOpts = 0;

    // Records of what the module asked.
    int firstCalls = 0, flagsCalls = 0, ambientCalls = 0, backdropCalls = 0, surfaceReads = 0;
    double ambientTime = -1.0;
    std::vector<LWItemID> flagsOf, illuminatedLights;
    std::vector<std::vector<double>> illuminatePositions, rayCastStarts, rayCastDirections, backdropRays;
    std::vector<LWVParmID> getValOrder;
    std::vector<SetValCall> setValCalls;
    std::vector<std::pair<LWVParmID, LWVParmID>> copyCalls;  // (to, from)
    std::vector<FakeGroup *> groupsMade;
    std::vector<PanelCall> panelCalls;
    LWXPanelID panelAnswer = reinterpret_cast<LWXPanelID>(0x9a9e1);
    bool keepRecords = true;  // off in benchmarks

    // Parameters and groups the module created, owned here.
    std::vector<std::unique_ptr<FakeParm>> parms;
    std::vector<std::unique_ptr<FakeGroup>> groups;
    LWChanGroupID surfaceGroup = reinterpret_cast<LWChanGroupID>(0x5ec7);

    // The render memory pool: a few named 16-byte chunks.
    struct Chunk {
        char name[64];
        alignas(8) unsigned char bytes[16];
    };
    Chunk chunks[16] = {};
    int chunkCount = 0;

    // Shading: the spot and its light directions.
    double spot[3] = {0.0, 0.0, 0.0};
};

FakeHost *current();

}  // namespace skintest
