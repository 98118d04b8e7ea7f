// SPDX-License-Identifier: Apache-2.0
// Gradient inputs: the value of each of the 36 inputs on one constructed spot, the fall-backs when
// a service, a spot function or the user's pick is missing, and the shared context's life cycle.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/host_globals.h"
#include "vparam/gradient_inputs.h"
#include "vparam/occlusion.h"

using namespace velmora;

namespace {

constexpr double kHalfPi = 1.5707963267948966;
const double kRootHalf = std::sqrt(0.5);

template <typename T = void>
T *id(uintptr_t n) {
    return reinterpret_cast<T *>(n);
}

LWItemID const kSpotObject = id(0x1001), kOtherObject = id(0x1002);
LWItemID const kObliqueLight = id(0x2001), kDistantLight = id(0x2002), kOverheadLight = id(0x2003),
               kExcludedLight = id(0x2004), kSideLight = id(0x2005), kShadowedLight = id(0x2006);
void *const kWeightMap = id(0x3001);
LWPntID const kPointA = id(0x4001), kPointB = id(0x4002);

// The spot: at P, normal +Y (given unnormalised), viewed straight down the normal.
const double P[3] = {1, 2, 3};

struct FakeLight {
    int type;
    unsigned int flags;
    double offset[3];  // world position relative to P, or the direction of travel of a distant light
    double intensity;  // grey colour that illuminate gives
    bool lit;
};

// A scene of two objects and six lights with hand-chosen geometry, behind the library services.
struct GradientScene {
    std::vector<LWItemID> objects = {kSpotObject, kOtherObject};
    std::vector<std::pair<LWItemID, FakeLight>> lights = {
        {kObliqueLight, {LWLIGHT_POINT, 0, {0, 3, 4}, 0.3, true}},
        {kDistantLight, {LWLIGHT_DISTANT, 0, {-1, 0, 0}, 0.4, true}},
        {kOverheadLight, {LWLIGHT_POINT, LWLFL_NO_DIFFUSE, {0, 5, 0}, 0.6, true}},
        {kExcludedLight, {LWLIGHT_POINT, 0, {0, 1, 0}, 5.0, true}},
        {kSideLight, {LWLIGHT_SPOT, LWLFL_NO_SPECULAR, {4, 3, 0}, 0.9, true}},
        {kShadowedLight, {LWLIGHT_POINT, 0, {0, 2, 0}, 7.0, false}},
    };
    std::map<std::pair<LWItemID, int>, std::vector<double>> params;
    double slopeX = 0;  // the other object moves along X by this much per second
    bool radiosityLit = true, radiosityExcluded = false;
    int weightMapDimension = 1;
    int meshDestroys = 0, rayCasts = 0;
    std::vector<LWItemID> illuminated;

    GradientScene() {
        params[{kSpotObject, LWIP_W_POSITION}] = {P[0] + 1, P[1] + 2, P[2] + 2};  // 3 away
        params[{kSpotObject, LWIP_UP}] = {0, 1, 1};
        params[{kSpotObject, LWIP_RIGHT}] = {0, 0, -1};
        params[{kSpotObject, LWIP_FORWARD}] = {0, 3, 0};
        params[{kOtherObject, LWIP_W_POSITION}] = {P[0] + 3, P[1] + 4, P[2] + 12};
        params[{kOtherObject, LWIP_RIGHT}] = {0, -2, 0};
        params[{kOtherObject, LWIP_UP}] = {3, 0, 4};
        params[{kOtherObject, LWIP_FORWARD}] = {0, 1, 1};
        for (const auto &l : lights) {
            const double *o = l.second.offset;
            params[{l.first, LWIP_W_POSITION}] = {P[0] + o[0], P[1] + o[1], P[2] + o[2]};
            params[{l.first, LWIP_FORWARD}] = {o[0], o[1], o[2]};
        }
    }
    const FakeLight *light(LWItemID item) const {
        for (const auto &l : lights)
            if (l.first == item) return &l.second;
        return nullptr;
    }
};

GradientScene *scene = nullptr;

LWItemID firstItem(LWItemType type, LWItemID) {
    if (type == LWI_OBJECT) return scene->objects.empty() ? nullptr : scene->objects.front();
    if (type == LWI_LIGHT) return scene->lights.empty() ? nullptr : scene->lights.front().first;
    return nullptr;
}
LWItemID nextItem(LWItemID item) {
    for (size_t i = 0; i + 1 < scene->objects.size(); ++i)
        if (scene->objects[i] == item) return scene->objects[i + 1];
    for (size_t i = 0; i + 1 < scene->lights.size(); ++i)
        if (scene->lights[i].first == item) return scene->lights[i + 1].first;
    return nullptr;
}
void itemParam(LWItemID item, LWItemParam param, LWTime time, LWDVector vec) {
    auto it = scene->params.find({item, param});
    for (int i = 0; i < 3; ++i) vec[i] = it == scene->params.end() ? 0.0 : it->second[i];
    if (item == kOtherObject && param == LWIP_W_POSITION) vec[0] += scene->slopeX * time;
}

void ambient(LWTime, LWDVector color) { color[0] = 0.1, color[1] = 0.2, color[2] = 0.6; }  // average 0.3
int lightType(LWItemID light) { return scene->light(light) ? scene->light(light)->type : LWLIGHT_POINT; }
unsigned int lightFlags(LWItemID light) { return scene->light(light) ? scene->light(light)->flags : 0; }

// Weight-map values: 1 at point A, 0.5 at point B.
void destroyMesh(LWMeshInfo *) { ++scene->meshDestroys; }
int selectMap(LWMeshInfo *, void *vmap) { return vmap == kWeightMap ? scene->weightMapDimension : 0; }
int mapValue(LWMeshInfo *, LWPntID pnt, float *value) {
    if (pnt == kPointA) return value[0] = 1.0f, 1;
    if (pnt == kPointB) return value[0] = 0.5f, 1;
    return 0;
}
LWMeshInfo fakeMesh = [] {
    LWMeshInfo m = {};
    m.destroy = destroyMesh;
    m.pntVSelect = selectMap;
    m.pntVGet = mapValue;
    return m;
}();
LWMeshInfo *meshInfo(LWItemID object, int frozen) { return object == kSpotObject && frozen ? &fakeMesh : nullptr; }
int excluded(LWItemID, LWItemID light) {
    return light == kExcludedLight || (light == LWITEM_RADIOSITY && scene->radiosityExcluded);
}

int illuminate(LWItemID light, const LWDVector position, LWDVector dir, LWDVector color) {
    scene->illuminated.push_back(light);
    if (light == LWITEM_RADIOSITY) {
        if (!scene->radiosityLit) return 0;
        color[0] = 0.2, color[1] = 0.4, color[2] = 0.6;
        return 1;
    }
    const FakeLight *l = scene->light(light);
    if (!l || !l->lit) return 0;
    for (int i = 0; i < 3; ++i) {
        // From the light to the position; scaled, since only its direction counts.
        dir[i] = l->type == LWLIGHT_DISTANT ? l->offset[i] : 2.0 * (position[i] - (P[i] + l->offset[i]));
        color[i] = l->intensity;
    }
    return 1;
}

// A wall on the +X side and a floor below: rays going +X or down hit.
double rayCast(const LWDVector, const LWDVector d) {
    ++scene->rayCasts;
    return d[0] > 0 || d[1] < 0 ? 0.4 : -1.0;
}

class GradientInputs : public ::testing::Test {
public:  // the fall-back cases change the fixture from outside
    void SetUp() override {
        resetHostGlobals();
        scene = &fake;
        items.first = firstItem;
        items.next = nextItem;
        items.param = itemParam;
        lightInfo.ambient = ambient;
        lightInfo.type = lightType;
        lightInfo.flags = lightFlags;
        objectInfo.meshInfo = meshInfo;
        objectInfo.excluded = excluded;
        // The snapshot is built with the shader set, the values use the library set.
        shaderGlobals.itemInfo = &items;
        libraryGlobals.itemInfo = &items;
        libraryGlobals.lightInfo = &lightInfo;
        libraryGlobals.objectInfo = &objectInfo;

        const double spot[][3] = {{0, 2, 0}, {0, -3, 0}};
        for (int i = 0; i < 3; ++i) mp.wPos[i] = P[i], mp.wNorm[i] = spot[0][i], mp.ray[i] = spot[1][i];
        mp.bumpHeight = 0.125;
        mp.cosine = 0.8;
        mp.rayLength = 7.5;
        mp.objID = kSpotObject;
        mp.verts[0] = kPointA;
        mp.verts[1] = kPointB;
        mp.weights[0] = 0.25f;
        mp.weights[1] = 0.75f;
        mp.weights[2] = 0.5f;  // with no point: ignored
        mp.illuminate = illuminate;
        mp.rayCast = rayCast;
        desc.name = "test";
        data = gradientTime(nullptr, &desc, 1, 0.0, 0);
    }
    void TearDown() override {
        gradientCleanup(&desc, 1, data);
        resetHostGlobals();
        scene = nullptr;
    }

    void dropSnapshot() {
        gradientCleanup(&desc, 1, data);
        data = nullptr;
    }
    // Moves the first light and takes a new snapshot.
    void moveObliqueLight(double x, double y, double z) {
        const double o[3] = {x, y, z};
        for (int i = 0; i < 3; ++i) fake.lights[0].second.offset[i] = o[i];
        fake.params[{kObliqueLight, LWIP_W_POSITION}] = {P[0] + x, P[1] + y, P[2] + z};
        dropSnapshot();
        data = gradientTime(nullptr, &desc, 1, 0.0, 0);
    }

    double value(int input, LWItemID picked = nullptr) {
        desc.itemID = picked;
        fake.rayCasts = 0;
        return gradientEvaluate(&desc, input, &mp, data);
    }

    GradientScene fake;
    LWItemInfo items = {};
    LWLightInfo lightInfo = {};
    LWObjectInfo objectInfo = {};
    LWMicropol mp = {};
    LWTxtrParamDesc desc = {};
    gParamData data = nullptr;
};

}  // namespace

TEST_F(GradientInputs, EveryInputOnTheConstructedSpot) {
    const double h = kHalfPi;
    struct Case {
        int input;
        LWItemID picked;
        double want, tolerance;
        int rayCasts;
    };
    const Case cases[] = {
        {1, nullptr, 0.125, 0, 0},
        {2, nullptr, 1 - kRootHalf, 1e-15, 0},  // the object's up axis leans 45° off the normal
        {3, nullptr, 0.8 * h, 1e-15, 0},
        {4, kObliqueLight, 0.6 * h, 1e-15, 0},
        {4, kDistantLight, 0, 0, 0},  // travelling along -X: grazing
        {5, kOtherObject, 7.5, 0, 0},
        {6, kOtherObject, 13, 1e-13, 0},
        {7, kOtherObject, 3, 1e-13, 0},
        {8, kOtherObject, 4, 1e-13, 0},
        {9, kOtherObject, 12, 1e-13, 0},
        {10, kWeightMap, 0.25 * 1 + 0.75 * 0.5, 1e-7, 0},
        {11, nullptr, 0.4, 0, 1},
        {12, kOtherObject, h, 1e-15, 0},               // right axis -Y
        {13, kOtherObject, 0, 1e-15, 0},               // up axis in the tangent plane
        {14, kOtherObject, -kRootHalf * h, 1e-15, 0},  // forward axis 45° up
        {15, nullptr, 0, 0, 0},
        {16, nullptr, -h, 0, 0},
        {17, nullptr, 0, 0, 0},
        {18, kOtherObject, 5, 1e-13, 0},
        {19, kOtherObject, std::sqrt(160.0), 1e-13, 0},
        {20, kOtherObject, std::sqrt(153.0), 1e-13, 0},
        {21, kObliqueLight, 0.64, 1e-14, 0},  // half vector (0, 2, 1)/√5
        {22, kObliqueLight, 0.6, 1e-15, 0},   // mirror direction is the normal
        {23, nullptr, 0.4, 1e-15, 0},         // the host's radiosity
        // Diffuse: oblique 0.6·0.3 + side 0.6·0.9; the distant light grazes, the overhead light
        // has no diffuse, one light is excluded and one is in shadow.
        {24, nullptr, 0.18 + 0.54, 1e-14, 0},
        // Specular: oblique 0.64·0.3 + distant (√½)⁴·0.4 + overhead 1·0.6; the side light has none.
        {25, nullptr, 0.192 + 0.1 + 0.6, 1e-14, 0},
        // Phong: oblique 0.6·0.3 + overhead 1·0.6.
        {26, nullptr, 0.18 + 0.6, 1e-14, 0},
        // Occlusion: the wall covers half the sky; an odd sector count leaves one sector straddling.
        {27, nullptr, 0.5, 1.5 / 27 + 1e-12, 27},
        {28, nullptr, 0.5, 1e-12, 108},
        {29, nullptr, 0.5, 1e-12, 192},
        {30, nullptr, 0.5, 1e-12, 300},
        {31, nullptr, 0.5, 1e-12, 432},
        {32, nullptr, 0.5, 1.5 / 27 + 1e-12, 27},
        {33, nullptr, 0.5, 1e-12, 108},
        {34, nullptr, 0.5, 1e-12, 192},
        {35, nullptr, 0.5, 1e-12, 300},
        {36, nullptr, 0.5, 1e-12, 432},
        {0, nullptr, 1, 0, 0},
        {37, nullptr, 1, 0, 0},
        {-1, nullptr, 1, 0, 0},
    };
    for (const Case &c : cases) {
        const double got = value(c.input, c.picked);
        EXPECT_NEAR(got, c.want, c.tolerance) << "input " << c.input;
        EXPECT_EQ(fake.rayCasts, c.rayCasts) << "input " << c.input;
    }
    EXPECT_EQ(fake.meshDestroys, 1);
}

TEST_F(GradientInputs, ViewAlongTheNormalWithALightInFrontAndBehind) {
    moveObliqueLight(0, 6, 0);
    const struct {
        int input;
        double front, behind;
    } cases[] = {{4, kHalfPi, 0}, {21, 1, 0}, {22, 1, 0}};
    for (const auto &c : cases) EXPECT_NEAR(value(c.input, kObliqueLight), c.front, 1e-15) << "input " << c.input;

    moveObliqueLight(0, -6, 0);
    for (const auto &c : cases) EXPECT_EQ(value(c.input, kObliqueLight), c.behind) << "input " << c.input;
}

TEST_F(GradientInputs, MissingServicesAndPicksFallBack) {
    const double h = kHalfPi;
    struct Case {
        const char *what;
        void (*change)(GradientInputs &t);
        int input;
        LWItemID picked;
        double want;
    };
    const Case cases[] = {
        {"no item info: slope against the world's up", [](GradientInputs &) { libraryGlobals.itemInfo = nullptr; },
         2, nullptr, 0},
        {"no item info", [](GradientInputs &) { libraryGlobals.itemInfo = nullptr; }, 4, kObliqueLight, 0},
        {"no item info", [](GradientInputs &) { libraryGlobals.itemInfo = nullptr; }, 6, kOtherObject, 0},
        {"no item info", [](GradientInputs &) { libraryGlobals.itemInfo = nullptr; }, 13, kOtherObject, 0},
        {"no item info", [](GradientInputs &) { libraryGlobals.itemInfo = nullptr; }, 19, kOtherObject, 0},
        {"no item info", [](GradientInputs &) { libraryGlobals.itemInfo = nullptr; }, 23, nullptr, 0},
        {"no item info", [](GradientInputs &) { libraryGlobals.itemInfo = nullptr; }, 24, nullptr, 0},
        {"no item info", [](GradientInputs &) { libraryGlobals.itemInfo = nullptr; }, 29, nullptr, 0},
        {"no item info keeps spot inputs", [](GradientInputs &) { libraryGlobals.itemInfo = nullptr; }, 16,
         nullptr, -h},
        {"no light info", [](GradientInputs &) { libraryGlobals.lightInfo = nullptr; }, 4, kObliqueLight, 0},
        {"no light info", [](GradientInputs &) { libraryGlobals.lightInfo = nullptr; }, 21, kObliqueLight, 0},
        {"no light info", [](GradientInputs &) { libraryGlobals.lightInfo = nullptr; }, 22, kObliqueLight, 0},
        {"no light info", [](GradientInputs &) { libraryGlobals.lightInfo = nullptr; }, 23, nullptr, 0},
        {"no light info", [](GradientInputs &) { libraryGlobals.lightInfo = nullptr; }, 25, nullptr, 0},
        {"no object info", [](GradientInputs &) { libraryGlobals.objectInfo = nullptr; }, 10, kWeightMap, 0},
        {"no object info: ambient instead of radiosity",
         [](GradientInputs &) { libraryGlobals.objectInfo = nullptr; }, 23, nullptr, 0.3},
        {"no object info: the excluded light counts",
         [](GradientInputs &) { libraryGlobals.objectInfo = nullptr; }, 24, nullptr, 0.72 + 5.0},
        {"no illuminate: ambient", [](GradientInputs &t) { t.mp.illuminate = nullptr; }, 23, nullptr, 0.3},
        {"no illuminate", [](GradientInputs &t) { t.mp.illuminate = nullptr; }, 26, nullptr, 0},
        {"radiosity excluded", [](GradientInputs &) { scene->radiosityExcluded = true; }, 23, nullptr, 0.3},
        {"radiosity unlit", [](GradientInputs &) { scene->radiosityLit = false; }, 23, nullptr, 0.3},
        {"no rayCast", [](GradientInputs &t) { t.mp.rayCast = nullptr; }, 11, nullptr, 0},
        {"no rayCast", [](GradientInputs &t) { t.mp.rayCast = nullptr; }, 30, nullptr, 0},
        {"ray leaves the object", [](GradientInputs &t) { t.mp.ray[1] = 3; }, 11, nullptr, 0},
        {"no light picked", [](GradientInputs &) {}, 4, nullptr, 0},
        {"no light picked", [](GradientInputs &) {}, 21, nullptr, 0},
        {"no light picked", [](GradientInputs &) {}, 22, nullptr, 0},
        {"no weight map picked", [](GradientInputs &) {}, 10, nullptr, 0},
        {"weight map too wide to read", [](GradientInputs &) { scene->weightMapDimension = 100; }, 10, kWeightMap,
         0},
        {"no object picked: the spot's own object", [](GradientInputs &) {}, 6, nullptr, 3},
        {"no object picked: the spot's own object", [](GradientInputs &) {}, 9, nullptr, 2},
        {"no object picked: the spot's own right axis", [](GradientInputs &) {}, 12, nullptr, 0},
        {"no object picked: the spot's own forward axis", [](GradientInputs &) {}, 14, nullptr, -h},
        {"a light picked as object sits at the origin", [](GradientInputs &) {}, 6, kObliqueLight,
         std::sqrt(14.0)},
        {"a light picked as object sits at the origin", [](GradientInputs &) {}, 20, kObliqueLight,
         std::sqrt(10.0)},
        {"a light picked as object has the world axes", [](GradientInputs &) {}, 12, kObliqueLight, 0},
        {"a light picked as object has the world axes", [](GradientInputs &) {}, 13, kObliqueLight, -h},
        {"spot object not in the scene", [](GradientInputs &t) { t.mp.objID = id(0x9999); }, 23, nullptr, 0},
        {"spot object not in the scene", [](GradientInputs &t) { t.mp.objID = id(0x9999); }, 27, nullptr, 0},
        {"spot object not in the scene: world up", [](GradientInputs &t) { t.mp.objID = id(0x9999); }, 2, nullptr,
         0},
        {"no snapshot: zero axes", [](GradientInputs &t) { t.dropSnapshot(); }, 2, nullptr, 1},
        {"no snapshot: the object at the origin", [](GradientInputs &t) { t.dropSnapshot(); }, 6, kOtherObject,
         std::sqrt(14.0)},
    };
    for (const Case &c : cases) {
        // A fresh scene, snapshot and spot for every case.
        TearDown();
        SetUp();
        c.change(*this);
        const double got = value(c.input, c.picked);
        EXPECT_NEAR(got, c.want, 1e-13) << c.what << ", input " << c.input;
    }
}

TEST_F(GradientInputs, SnapshotIsTakenAtTheTimeGiven) {
    fake.slopeX = 1.0;  // the other object moves 1 along X per second
    desc.itemID = kOtherObject;
    const struct {
        double time;
        double want;
    } cases[] = {{0.0, 3}, {2.0, 5}, {-4.0, 1}};
    for (const auto &c : cases) {
        gParamData at = gradientTime(nullptr, &desc, 7, c.time, 1);
        ASSERT_NE(at, nullptr);
        EXPECT_EQ(static_cast<GradientTimeData *>(at)->time, c.time);
        EXPECT_EQ(gradientEvaluate(&desc, 7, &mp, at), c.want) << "time " << c.time;
        gradientCleanup(&desc, 7, at);
    }
    EXPECT_EQ(gradientTime(nullptr, nullptr, 7, 1.0, 1), nullptr);
    gradientCleanup(&desc, 7, nullptr);
}

namespace {

struct FakeTextures {
    int creates = 0;
    std::vector<LWTxtrContextID> destroyed;
    LWTxtrParamFuncs funcs = {};
    std::vector<std::pair<LWTxtrContextID, LWTxtrParamDesc>> added;
    LWTxtrContextID answer = id(0x5001);
};
FakeTextures *textures = nullptr;
LWTextureFuncs textureTable = [] {
    LWTextureFuncs t = {};
    t.contextCreate = [](LWTxtrParamFuncs f) {
        ++textures->creates;
        textures->funcs = f;
        return textures->answer;
    };
    t.contextDestroy = [](LWTxtrContextID c) { textures->destroyed.push_back(c); };
    t.contextAddParam = [](LWTxtrContextID c, LWTxtrParamDesc d) {
        textures->added.emplace_back(c, d);
        return static_cast<int>(textures->added.size());
    };
    return t;
}();
void *textureLookup(const char *name, int) {
    return std::string(name) == LWTEXTUREFUNCS_GLOBAL ? &textureTable : nullptr;
}

class GradientContext : public ::testing::Test {
protected:
    void SetUp() override {
        resetHostGlobals();
        gradientContext = nullptr;
        textures = &fake;
    }
    void TearDown() override {
        gradientContext = nullptr;
        resetHostGlobals();
        textures = nullptr;
    }
    FakeTextures fake;
};

}  // namespace

TEST_F(GradientContext, CreatedOnceWithTheCallbacksAndEveryRow) {
    hostGlobal = textureLookup;
    const LWTxtrContextID ctx = gradientContextGet();
    EXPECT_EQ(ctx, fake.answer);
    EXPECT_EQ(libraryGlobals.textureFuncs, &textureTable);
    EXPECT_EQ(fake.funcs.paramEvaluate, gradientEvaluate);
    EXPECT_EQ(fake.funcs.paramTime, gradientTime);
    EXPECT_EQ(fake.funcs.paramCleanup, gradientCleanup);
    // Every row up to the ending one, in order, each name once.
    ASSERT_EQ(fake.added.size(), size_t(kGradientInputCount));
    std::set<std::string> names;
    for (int i = 0; i < kGradientInputCount; ++i) {
        EXPECT_EQ(fake.added[i].first, ctx);
        EXPECT_STREQ(fake.added[i].second.name, gradientInputs[i].name);
        names.insert(gradientInputs[i].name);
    }
    EXPECT_EQ(names.size(), size_t(kGradientInputCount));
    EXPECT_STREQ(fake.added.front().second.name, "Bump");
    EXPECT_STREQ(fake.added.back().second.name, "Half Occlusion (Very High)");
    EXPECT_EQ(gradientContextGet(), ctx);
    EXPECT_EQ(fake.creates, 1);

    gradientContextDestroy();
    EXPECT_EQ(fake.destroyed, std::vector<LWTxtrContextID>{ctx});
    EXPECT_EQ(gradientContext, nullptr);
    gradientContextDestroy();  // nothing left to destroy
    EXPECT_EQ(fake.destroyed.size(), 1u);
}

TEST_F(GradientContext, WithoutTheTextureServiceNoneUntilItAppears) {
    hostGlobal = [](const char *, int) -> void * { return nullptr; };
    EXPECT_EQ(gradientContextGet(), nullptr);
    EXPECT_EQ(gradientContextGet(), nullptr);
    EXPECT_EQ(fake.creates, 0);

    libraryGlobals.textureFuncs = &textureTable;
    EXPECT_EQ(gradientContextGet(), fake.answer);
    EXPECT_EQ(fake.creates, 1);

    // Unload with a host that no longer offers the service: nothing to call, the context is gone.
    gradientContextDestroy();
    EXPECT_TRUE(fake.destroyed.empty());
    EXPECT_EQ(gradientContext, nullptr);
}

TEST_F(GradientContext, HostThatCreatesNoContextGetsNoRows) {
    hostGlobal = textureLookup;
    fake.answer = nullptr;
    EXPECT_EQ(gradientContextGet(), nullptr);
    EXPECT_TRUE(fake.added.empty());
    fake.answer = id(0x5002);
    EXPECT_EQ(gradientContextGet(), id(0x5002));
    EXPECT_EQ(fake.added.size(), size_t(kGradientInputCount));
}
