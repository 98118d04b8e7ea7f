// SPDX-License-Identifier: Apache-2.0
// Reflection and refraction look-ups: the surface's options, the spherical image's mapping, and the
// silent fall-backs when a service is missing.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "base/host_globals.h"
#include "lights/environment.h"

using namespace velmora;

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kHalfPi = 1.5707963267948966;

LWImageID const kReflectionImage = reinterpret_cast<LWImageID>(static_cast<uintptr_t>(0x100));
LWImageID const kRefractionImage = reinterpret_cast<LWImageID>(static_cast<uintptr_t>(0x200));
LWSurfaceID const kSurface = reinterpret_cast<LWSurfaceID>(static_cast<uintptr_t>(0x300));

// Colours that tell the source of a look-up apart.
const double kBackdrop[3] = {0.1, 0.2, 0.3};
const double kTraced[3] = {0.4, 0.5, 0.6};
const double kMissed[3] = {0.05, 0.06, 0.07};  // what the fake trace leaves when it hits nothing
const double kBlack[3] = {0, 0, 0};

// One surface, a backdrop, the scene switches, a tracer and an image list whose spot sample
// answers (u, v, image tag): 0.25 for the reflection image, 0.75 for the refraction image.
struct FakeScene {
    std::map<std::string, int> ints;
    std::map<std::string, LWImageID> images;
    std::map<std::string, double> floats;
    bool traceHits = true;
    int traceCalls = 0, backdropCalls = 0;
    double backdropTime = -1;
    double backdropRay[3] = {};
    std::vector<LWImageID> prepared;
    double spotSize = 0;
    int blend = -1;
};

FakeScene *scene = nullptr;

int getInt(LWSurfaceID surf, const char *channel) {
    if (surf != kSurface) return -99;
    auto it = scene->ints.find(channel);
    return it == scene->ints.end() ? 0 : it->second;
}
double *getFlt(LWSurfaceID, const char *channel) {
    auto it = scene->floats.find(channel);
    return it == scene->floats.end() ? nullptr : &it->second;
}
LWImageID getImg(LWSurfaceID, const char *channel) {
    auto it = scene->images.find(channel);
    return it == scene->images.end() ? nullptr : it->second;
}
void backdrop(LWTime time, const double ray[3], LWDVector color) {
    ++scene->backdropCalls;
    scene->backdropTime = time;
    for (int i = 0; i < 3; ++i) scene->backdropRay[i] = ray[i], color[i] = kBackdrop[i];
}
double rayTrace(const LWDVector, const LWDVector, LWDVector color) {
    ++scene->traceCalls;
    for (int i = 0; i < 3; ++i) color[i] = scene->traceHits ? kTraced[i] : kMissed[i];
    return scene->traceHits ? 5.0 : -1.0;
}
void needAA(LWImageID image) { scene->prepared.push_back(image); }
void imageSize(LWImageID, int *w, int *h) { *w = 64, *h = 32; }
void rgbSpot(LWImageID image, double u, double v, double spotSize, int blend, LWDVector rgb) {
    scene->spotSize = spotSize;
    scene->blend = blend;
    rgb[0] = u;
    rgb[1] = v;
    rgb[2] = image == kReflectionImage ? 0.25 : image == kRefractionImage ? 0.75 : -1.0;
}

class Environment : public ::testing::Test {
protected:
    void SetUp() override {
        resetHostGlobals();
        scene = &fake;
        surfaces.getInt = getInt;
        surfaces.getFlt = getFlt;
        surfaces.getImg = getImg;
        backdropInfo.backdrop = backdrop;
        images.needAA = needAA;
        images.size = imageSize;
        images.RGBSpot = rgbSpot;
        shaderGlobals.surfaceFuncs = &surfaces;
        shaderGlobals.backdropInfo = &backdropInfo;
        shaderGlobals.sceneInfo = &sceneInfo;
        shaderGlobals.imageList = &images;
        libraryGlobals.imageList = &images;
        sceneInfo.renderOpts = LWROPT_REFLECTTRACE | LWROPT_REFRACTTRACE;
        access.rayTrace = rayTrace;
        renderTime = 2.5;
    }
    void TearDown() override {
        resetHostGlobals();
        scene = nullptr;
    }

    // Looks up direction d with the access record (or none); the output starts as garbage.
    std::vector<double> lookUp(const double d[3], int mode, LWShaderAccess *sa) {
        const double p[3] = {1, 2, 3};
        double c[3] = {9, 9, 9};
        surfaceEnvironment(sa, kSurface, p, d, mode, c);
        return {c[0], c[1], c[2]};
    }
    std::vector<double> lookUp(const double d[3], int mode) { return lookUp(d, mode, &access); }

    FakeScene fake;
    LWSurfaceFuncs surfaces = {};
    LWBackdropInfo backdropInfo = {};
    LWSceneInfo sceneInfo = {};
    LWImageList images = {};
    LWShaderAccess access = {};
};

std::vector<double> rgb(const double c[3]) { return {c[0], c[1], c[2]}; }

}  // namespace

TEST(DirectionAngles, AxesAndTheAtan2Relation) {
    struct Case {
        double d[3], heading, pitch;
    };
    const Case cases[] = {
        {{0, 0, 1}, 0, 0},
        {{1, 0, 0}, -kHalfPi, 0},
        {{0, 0, -1}, kPi, 0},
        {{-1, 0, 0}, kHalfPi, 0},
        {{1, 1, 0}, -kHalfPi, kPi / 4},
        {{0, 1, 0}, 0, kHalfPi},
        {{0, -1, 0}, 0, -kHalfPi},
        {{0, 0, 0}, 0, 0},
        {{0, -2, 3}, 0, std::atan(-2.0 / 3.0)},
    };
    for (const Case &c : cases) {
        double h = 9, q = 9;
        directionAngles(c.d, &h, &q);
        EXPECT_NEAR(h, c.heading, 1e-15) << "(" << c.d[0] << ", " << c.d[1] << ", " << c.d[2] << ")";
        EXPECT_NEAR(q, c.pitch, 1e-15) << "(" << c.d[0] << ", " << c.d[1] << ", " << c.d[2] << ")";
    }

    // Every quadrant: the heading is -atan2(x, z) up to a whole turn, inside [-π/2, 3π/2).
    for (int k = 0; k < 24; ++k) {
        const double a = 0.1 + k * (2 * kPi / 24);
        const double d[3] = {std::sin(a), 0.3, std::cos(a)};
        double h, q;
        directionAngles(d, &h, &q);
        double turns = (h + std::atan2(d[0], d[2])) / (2 * kPi);
        EXPECT_NEAR(turns, std::round(turns), 1e-12) << "angle " << a << " heading " << h;
        EXPECT_GE(h, -kHalfPi);
        EXPECT_LT(h, 3 * kHalfPi);
        EXPECT_NEAR(q, std::atan(0.3), 1e-15);
    }
}

TEST(WrapUnit, WrapsIntoTheUnitInterval) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double t, want;
    } cases[] = {{-0.25, 0.75}, {2.5, 0.5},    {-1, 1},      {-3, 1},  {0, 0},    {3, 0},
                 {0.25, 0.25},  {-2.75, 0.25}, {1.75, 0.75}, {inf, 0}, {-inf, 0}, {std::nan(""), 0}};
    for (const auto &c : cases) EXPECT_EQ(wrapUnit(c.t), c.want) << "t = " << c.t;
}

TEST_F(Environment, SphericalImageMapsDirectionsToUV) {
    fake.ints["ReflectionOptions"] = kEnvImage;
    fake.images["ReflectionImage"] = kReflectionImage;
    const double r = std::sqrt(0.5);
    struct Case {
        double d[3], seam, u, v;
    };
    const Case cases[] = {
        {{0, 0, 1}, 0, 0, 0.5},
        {{1, 0, 0}, 0, 0.25, 0.5},
        {{0, 0, -1}, 0, 0.5, 0.5},
        {{-1, 0, 0}, 0, 0.75, 0.5},
        {{r, r, 0}, 0, 0.25, 0.25},
        // Straight down, v = 0.5 + 0.5 wraps to 0 like every whole number: the top row.
        {{0, -1, 0}, 0, 0, 0},
        {{0, -1, 1e-13}, 0, 0, 1},
        // A seam of π/2 moves every u by -0.25, wrapped.
        {{0, 0, 1}, kHalfPi, 0.75, 0.5},
        {{1, 0, 0}, kHalfPi, 0, 0.5},
        {{0, 0, -1}, kHalfPi, 0.25, 0.5},
        {{-1, 0, 0}, kHalfPi, 0.5, 0.5},
    };
    for (const Case &c : cases) {
        fake.floats["ReflectionSeamAngle"] = c.seam;
        const std::vector<double> got = lookUp(c.d, 0);
        const std::string where = "d (" + std::to_string(c.d[0]) + ", " + std::to_string(c.d[1]) + ", " +
                                  std::to_string(c.d[2]) + ") seam " + std::to_string(c.seam);
        // u = 0 and u = 1 are the same column of a spherical image.
        const double du = std::fabs(got[0] - c.u);
        EXPECT_TRUE(du < 1e-12 || std::fabs(du - 1) < 1e-12) << where << ": u " << got[0] << " want " << c.u;
        EXPECT_NEAR(got[1], c.v, 1e-12) << where;
        EXPECT_EQ(got[2], 0.25) << where;
    }
    // One pixel of the longer side, blended.
    EXPECT_EQ(fake.spotSize, 1.0 / 64);
    EXPECT_EQ(fake.blend, 1);
}

TEST_F(Environment, MissingSeamChannelCountsAsZero) {
    fake.ints["RefractionOptions"] = kEnvImage;
    fake.images["RefractionImage"] = kRefractionImage;
    const double d[3] = {1, 0, 0};
    EXPECT_EQ(lookUp(d, 1), (std::vector<double>{0.25, 0.5, 0.75}));
}

TEST_F(Environment, OptionsChooseTheSource) {
    const double kReflSample[3] = {0, 0.5, 0.25}, kRefrSample[3] = {0, 0.5, 0.75};
    struct Case {
        const char *what;
        int mode, option, renderOpts;
        bool hits, withImage;
        const double *want;
        int traceCalls;
    };
    const int both = LWROPT_REFLECTTRACE | LWROPT_REFRACTTRACE;
    const Case cases[] = {
        {"backdrop", 0, kEnvBackdrop, both, true, true, kBackdrop, 0},
        {"refraction backdrop", 1, kEnvBackdrop, both, true, true, kBackdrop, 0},
        {"traced reflection", 0, kEnvRayTrace, LWROPT_REFLECTTRACE, true, true, kTraced, 1},
        {"reflection tracing off", 0, kEnvRayTrace, LWROPT_REFRACTTRACE, true, true, kBlack, 0},
        {"traced refraction", 1, kEnvRayTrace, LWROPT_REFRACTTRACE, true, true, kTraced, 1},
        {"refraction tracing off", 1, kEnvRayTrace, LWROPT_REFLECTTRACE, true, true, kBlack, 0},
        {"traced miss keeps the tracer's colour", 0, kEnvRayTrace, both, false, true, kMissed, 1},
        {"reflection image", 0, kEnvImage, both, true, true, kReflSample, 0},
        {"refraction image", 1, kEnvImage, both, true, true, kRefrSample, 0},
        {"image option without image", 0, kEnvImage, both, true, false, kBlack, 0},
        {"trace hit wins over the image", 0, kEnvTraceThenImage, both, true, true, kTraced, 1},
        {"trace miss falls to the image", 0, kEnvTraceThenImage, both, false, true, kReflSample, 1},
        {"trace miss without image", 0, kEnvTraceThenImage, both, false, false, kMissed, 1},
        {"tracing off falls to the image", 1, kEnvTraceThenImage, LWROPT_REFLECTTRACE, true, true, kRefrSample, 0},
        {"tracing off without image", 1, kEnvTraceThenImage, 0, true, false, kBlack, 0},
        {"option 4", 0, 4, both, true, true, kBlack, 0},
        {"option -1", 1, -1, both, true, true, kBlack, 0},
        {"mode 2", 2, kEnvBackdrop, both, true, true, kBlack, 0},
        {"mode -1", -1, kEnvRayTrace, both, true, true, kBlack, 0},
    };
    const double d[3] = {0, 0, 1};
    for (const Case &c : cases) {
        fake = FakeScene();
        const char *prefix = c.mode == 1 ? "Refraction" : "Reflection";
        fake.ints[std::string(prefix) + "Options"] = c.option;
        if (c.withImage) {
            fake.images["ReflectionImage"] = kReflectionImage;
            fake.images["RefractionImage"] = kRefractionImage;
        }
        fake.traceHits = c.hits;
        sceneInfo.renderOpts = c.renderOpts;
        EXPECT_EQ(lookUp(d, c.mode), rgb(c.want)) << c.what;
        EXPECT_EQ(fake.traceCalls, c.traceCalls) << c.what;
    }
}

TEST_F(Environment, BackdropIsAskedAtTheRenderTimeAlongTheDirection) {
    fake.ints["ReflectionOptions"] = kEnvBackdrop;
    const double d[3] = {0.6, 0, 0.8};
    lookUp(d, 0);
    EXPECT_EQ(fake.backdropCalls, 1);
    EXPECT_EQ(fake.backdropTime, 2.5);
    EXPECT_EQ(rgb(fake.backdropRay), rgb(d));
}

TEST_F(Environment, WithoutATracerTheTraceCountsAsOff) {
    fake.ints["ReflectionOptions"] = kEnvTraceThenImage;
    fake.images["ReflectionImage"] = kReflectionImage;
    const double d[3] = {0, 0, 1};
    EXPECT_EQ(lookUp(d, 0, nullptr), (std::vector<double>{0, 0.5, 0.25}));
    access.rayTrace = nullptr;
    EXPECT_EQ(lookUp(d, 0), (std::vector<double>{0, 0.5, 0.25}));
    fake.ints["ReflectionOptions"] = kEnvRayTrace;
    EXPECT_EQ(lookUp(d, 0), rgb(kBlack));
    EXPECT_EQ(fake.traceCalls, 0);
}

TEST_F(Environment, AnyMissingServiceGivesBlackAndPreparesNothing) {
    fake.ints["ReflectionOptions"] = kEnvBackdrop;
    fake.ints["RefractionOptions"] = kEnvImage;
    fake.images["RefractionImage"] = kRefractionImage;
    const double d[3] = {0, 0, 1};
    ASSERT_EQ(lookUp(d, 0), rgb(kBackdrop));
    ASSERT_EQ(lookUp(d, 1), (std::vector<double>{0, 0.5, 0.75}));

    struct Case {
        const char *what;
        void **slot;
    };
    const Case cases[] = {
        {"surface functions", reinterpret_cast<void **>(&shaderGlobals.surfaceFuncs)},
        {"backdrop", reinterpret_cast<void **>(&shaderGlobals.backdropInfo)},
        {"scene information", reinterpret_cast<void **>(&shaderGlobals.sceneInfo)},
        {"image list", reinterpret_cast<void **>(&shaderGlobals.imageList)},
    };
    for (const Case &c : cases) {
        void *kept = *c.slot;
        *c.slot = nullptr;
        fake.prepared.clear();
        EXPECT_EQ(lookUp(d, 0), rgb(kBlack)) << c.what;
        EXPECT_EQ(lookUp(d, 1), rgb(kBlack)) << c.what;
        prepareSurfaceEnvImages(kSurface);
        EXPECT_TRUE(fake.prepared.empty()) << c.what;
        *c.slot = kept;
    }
}

TEST_F(Environment, PreparesOnlyTheImagesAnOptionUses) {
    fake.images["ReflectionImage"] = kReflectionImage;
    fake.images["RefractionImage"] = kRefractionImage;
    const struct {
        int reflection, refraction;
        std::vector<LWImageID> want;
    } cases[] = {
        {kEnvBackdrop, kEnvRayTrace, {}},
        {kEnvImage, kEnvBackdrop, {kReflectionImage}},
        {kEnvRayTrace, kEnvTraceThenImage, {kRefractionImage}},
        {kEnvTraceThenImage, kEnvImage, {kReflectionImage, kRefractionImage}},
        {4, -1, {}},
    };
    for (const auto &c : cases) {
        fake.prepared.clear();
        fake.ints["ReflectionOptions"] = c.reflection;
        fake.ints["RefractionOptions"] = c.refraction;
        prepareSurfaceEnvImages(kSurface);
        EXPECT_EQ(fake.prepared, c.want) << "options " << c.reflection << ", " << c.refraction;
    }
    // An option that uses an image, on a surface without one, asks for nothing.
    fake.images.clear();
    fake.prepared.clear();
    prepareSurfaceEnvImages(kSurface);
    EXPECT_TRUE(fake.prepared.empty());
}
