// SPDX-License-Identifier: Apache-2.0
// The per-spot evaluation, checked against the skin model's terms in closed form on scenes built
// so that one layer at a time shows. Lights are distant unless said; the light model gives their
// colour unshadowed (no falloff), the host's illuminate the shadowed colour.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "base/host_globals.h"
#include "base/vector3d.h"
#include "instance/skin_instance.h"
#include "shading/evaluate.h"
#include "tests/support/fake_host.h"
#include "vparam/vparam.h"

using namespace velmora;
using testhost::FakeHost;
using testhost::FakeItem;

namespace {

struct V3 {
    double x, y, z;
};
V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V3 operator*(double s, V3 a) { return {s * a.x, s * a.y, s * a.z}; }
V3 operator*(V3 a, V3 b) { return {a.x * b.x, a.y * b.y, a.z * b.z}; }
const V3 kBlack = {0.0, 0.0, 0.0};
const V3 kWhite = {1.0, 1.0, 1.0};

const double kPi = 3.14159265358979323846;
const double r3 = std::sqrt(3.0) / 2.0;  // sin 60°
const double kRad = kPi / 180.0;

// Directions towards the viewer or the light, for a normal (0, 0, 1).
const V3 kViewOblique = {-r3, 0.0, 0.5};  // 60° from the normal, on -x
const V3 kViewNormal = {0.0, 0.0, 1.0};
const V3 kFront = {r3, 0.0, 0.5};                                      // 60°, on +x: rim 1/16 seen obliquely
const V3 kBackSide = {0.0, r3, -0.5};                                  // 120°, on +y
const V3 kGrazing = {1.0, 0.0, 0.0};                                   // in the tangent plane
const V3 kBehind = {std::sin(100 * kRad), 0.0, std::cos(100 * kRad)};  // 100°, on +x

// Rim term for kViewOblique: max0(R·V)·((1 − N·V)·max0(−V·L))².
const double kRimFront = 1.0 / 16.0;  // R·V = 1, −V·L = 0.5
const double kRimBehind = std::cos(40 * kRad) * std::pow(0.5 * std::cos(20 * kRad), 2.0);

#define EXPECT_COLOR_NEAR(got, want, tol)        \
    do {                                         \
        const V3 g_ = (got), w_ = (want);        \
        EXPECT_NEAR(g_.x, w_.x, tol) << "red";   \
        EXPECT_NEAR(g_.y, w_.y, tol) << "green"; \
        EXPECT_NEAR(g_.z, w_.z, tol) << "blue";  \
    } while (0)

class EvaluateTest : public ::testing::Test {
protected:
    void SetUp() override {
        host.activate();
        skin = static_cast<SkinInstance *>(skinCreate(nullptr, reinterpret_cast<LWSurfaceID>(0x50f), nullptr));
        ASSERT_NE(skin, nullptr);
        // A quiet skin: only the diffuse layer, Lambertian, all from the shadowed light.
        set(skin->skin_color, kWhite);
        set(skin->sheen_color, kWhite);
        set(skin->Ksub, 0.0);
        set(skin->Ksheen, 0.0);
        set(skin->diff_rough, 0.0);
        set(skin->shadow_amount, 1.0);
        set(skin->scatter_wrap, 0.5);
        set(skin->Ka, 0.0);

        std::memset(&sa, 0, sizeof sa);
        host.fillAccess(sa);
        sa.wNorm[2] = sa.gNorm[2] = 1.0;
        view(kViewOblique);
        sa.color[0] = sa.color[1] = sa.color[2] = 1.0;
        sa.diffuse = 1.0;
        sa.eta = 1.0;
        sa.roughness = 0.5;
    }
    void TearDown() override {
        skinDestroy(skin);
        resetHostGlobals();
    }

    void set(Vparam *vp, V3 v) {
        double *value = host.parm(vp->parameter)->value;
        value[0] = v.x;
        value[1] = v.y;
        value[2] = v.z;
    }
    void set(Vparam *vp, double v) { set(vp, V3{v, v, v}); }
    // The viewer sits 4 units from the spot (the origin) along v.
    void view(V3 v) {
        sa.raySource[0] = 4 * v.x;
        sa.raySource[1] = 4 * v.y;
        sa.raySource[2] = 4 * v.z;
    }
    // A distant light shining towards -towards, with its unshadowed and shadowed colours.
    FakeItem &distant(const std::string &name, V3 towards, V3 unshadowed, V3 shadowed) {
        FakeItem &l = host.addLight(name);
        l.aim(-towards.x, -towards.y, -towards.z);
        l.color[0] = unshadowed.x, l.color[1] = unshadowed.y, l.color[2] = unshadowed.z;
        l.shadowed[0] = shadowed.x, l.shadowed[1] = shadowed.y, l.shadowed[2] = shadowed.z;
        return l;
    }
    // One frame of a render, then the spot; returns the replacement colour.
    V3 shade() {
        skinRenderInit(skin, LWINIT_RENDER);
        skinNewTime(skin, 3, 0.25);
        host.surfaceReads = 0;  // counts the evaluation's own surface reads
        sa.replacement_percentage = 0.25;
        evaluate(skin, &sa);
        skinRenderCleanup(skin);
        EXPECT_EQ(sa.replacement_percentage, 1.0);
        return {sa.replacement_color[0], sa.replacement_color[1], sa.replacement_color[2]};
    }

    FakeHost host;
    SkinInstance *skin = nullptr;
    LWShaderAccess sa;
};

TEST_F(EvaluateTest, WithoutLightsOnlyAmbientCausticsAndLuminosityRemain) {
    const V3 Cs = {0.9, 0.5, 0.25}, ambient = {0.2, 0.3, 0.4}, radiosity = {0.5, 0.6, 0.7};
    const V3 caustics = {0.01, 0.02, 0.03};
    struct Case {
        const char *what;
        bool excludeRadiosity, radiosityLit, excludeCaustics;
        V3 light;  // what Ka·diffuse·Cs multiplies
        V3 added;  // caustics
    } cases[] = {
        {"ambient, caustics", false, false, false, ambient, caustics},
        {"radiosity replaces ambient", false, true, false, radiosity, caustics},
        {"radiosity excluded", true, true, false, ambient, caustics},
        {"caustics excluded", false, false, true, ambient, kBlack},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        set(skin->Ka, 0.8);
        sa.diffuse = 0.5;
        sa.color[0] = Cs.x, sa.color[1] = Cs.y, sa.color[2] = Cs.z;
        sa.luminous = 0.1;
        std::memcpy(host.ambient, &ambient, sizeof ambient);
        std::memcpy(host.radiosity, &radiosity, sizeof radiosity);
        std::memcpy(host.caustics, &caustics, sizeof caustics);
        host.excludeRadiosity = c.excludeRadiosity;
        host.radiosityLit = c.radiosityLit;
        host.excludeCaustics = c.excludeCaustics;
        host.causticsLit = 1;
        host.ambientTime = -1.0;
        const V3 want = (0.8 * 0.5) * (Cs * c.light) + c.added + 0.1 * Cs;
        EXPECT_COLOR_NEAR(shade(), want, 1e-15);
        if (!c.radiosityLit || c.excludeRadiosity) {
            EXPECT_EQ(host.ambientTime, 0.25);  // at renderTime
        }
    }
}

TEST_F(EvaluateTest, AnExcludedLightGivesNothingInAnyLayer) {
    set(skin->Ksub, 1.0);
    set(skin->Ksheen, 1.0);
    set(skin->Ka, 1.0);
    sa.specular = 1.0;
    sa.translucency = 0.5;
    host.ambient[1] = 0.3;
    const V3 alone = shade();

    FakeItem &l = distant("key", kFront, kWhite, kWhite);
    l.excluded = true;
    EXPECT_COLOR_NEAR(shade(), alone, 0.0);
    for (LWItemID id : host.flagsOf) EXPECT_NE(id, l.id);
    for (LWItemID id : host.illuminatedLights) EXPECT_NE(id, l.id);
}

// Bit 2 removes a light's diffuse and translucency, bit 4 its highlight; sub-surface and sheen
// stay. A front light and a light behind the surface, seen obliquely.
TEST_F(EvaluateTest, LightFlagBitsRemoveDiffuseOrHighlightOnly) {
    const V3 KF = {1.0, 0.5, 0.25}, LsF = {0.4, 0.4, 0.4};
    const V3 KB = {0.2, 0.4, 0.8}, LsB = {0.1, 0.1, 0.1};
    set(skin->Ksub, 1.0);
    set(skin->Ksheen, 1.0);
    set(skin->shadow_amount, 0.5);
    sa.specular = 1.0;
    sa.translucency = 0.3;
    FakeItem &front = distant("front", kFront, KF, LsF);
    FakeItem &back = distant("back", kBackSide, KB, LsB);

    // Front: ci = 1/2, N·H = 1; back: ci = 0, max0(−N·L) = 1/2, no highlight, no rim.
    const V3 diffuse = 0.25 * (LsF + KF) + (0.5 * 0.3 * 0.5) * (LsB + KB);
    const V3 highlight = LsF;
    const V3 subsurface = (1.0 / 6.0) * (KF + KB);  // wrap 1/2 at N·L = ±1/2
    const V3 sheen = (2.0 * kRimFront) * KF;        // enters the result twice
    for (unsigned int flags : {0u, 2u, 4u, 6u, 9u}) {
        SCOPED_TRACE(flags);
        front.flags = back.flags = flags;
        const V3 want = ((flags & 2) ? kBlack : diffuse) + ((flags & 4) ? kBlack : highlight) + subsurface + sheen;
        EXPECT_COLOR_NEAR(shade(), want, 1e-12);
    }
}

// shadow_amount mixes the diffuse between the shadowed and the unshadowed colour; translucency
// follows shadow_amount in both passes.
TEST_F(EvaluateTest, ShadowAmountMixesShadowedAndUnshadowedDiffuse) {
    const V3 KF = {1.0, 0.5, 0.25}, LsF = {0.4, 0.2, 0.0};
    const V3 KB = {0.2, 0.4, 0.8}, LsB = {0.1, 0.0, 0.3};
    sa.translucency = 0.3;
    distant("front", kFront, KF, LsF);
    distant("back", kBackSide, KB, LsB);
    for (double amount : {1.0, 0.0, 0.25}) {
        SCOPED_TRACE(amount);
        set(skin->shadow_amount, amount);
        const V3 want = (amount * 0.5) * LsF + ((1 - amount) * 0.5) * KF + (amount * 0.3 * 0.5) * (LsB + KB);
        EXPECT_COLOR_NEAR(shade(), want, 1e-12);
    }
}

// Oren–Nayar: ON = A + B·max0(cos Δφ)·sin α·tan β with A = 1 − s/2/(s + 0.33), B = 0.45 s/(s + 0.09),
// s = σ². The light is at 60° on +x; the viewer at 45° on +x (Δφ = 0) or on the normal (Vt = 0).
TEST_F(EvaluateTest, DiffuseRoughnessFollowsOrenNayar) {
    const V3 Ls = {0.8, 0.4, 0.2};
    distant("key", kFront, kWhite, Ls);
    const V3 view45 = {std::sin(45 * kRad), 0.0, std::cos(45 * kRad)};
    struct Case {
        const char *what;
        V3 view;
        double sigma;
        double cphi, alpha, beta;
    } cases[] = {
        {"rough 0 is Lambert", view45, 0.0, 1.0, 60 * kRad, 45 * kRad},
        {"rough 0.3", view45, 0.3, 1.0, 60 * kRad, 45 * kRad},
        {"rough 1", view45, 1.0, 1.0, 60 * kRad, 45 * kRad},
        {"view along the normal: ON = A", kViewNormal, 1.0, 0.0, 60 * kRad, 0.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        view(c.view);
        set(skin->diff_rough, c.sigma);
        const double s = c.sigma * c.sigma;
        const double A = 1 - 0.5 * s / (s + 0.33), B = 0.45 * s / (s + 0.09);
        const double on = A + B * c.cphi * std::sin(c.alpha) * std::tan(c.beta);
        EXPECT_COLOR_NEAR(shade(), (on * 0.5) * Ls, 1e-12);
    }
}

// A normal of (1, 1, 1) seen head-on and lit head-on: V·N and L·N come out just above 1, and the
// view and light angles must still be 0 (a diffuse of A·Ls, not NaN).
TEST_F(EvaluateTest, CosinesJustAboveOneFromRoundingGiveAngleZero) {
    Vector3d n;
    vecNormalized(n, Vector3d{1.0, 1.0, 1.0});
    ASSERT_GT(vecDot(n, n), 1.0) << "the rounding this test is about";
    sa.wNorm[0] = sa.wNorm[1] = sa.wNorm[2] = 1.0;
    sa.raySource[0] = sa.raySource[1] = sa.raySource[2] = 1.0;
    const V3 Ls = {0.8, 0.4, 0.2};
    distant("key", {1.0, 1.0, 1.0}, kWhite, Ls);
    set(skin->diff_rough, 1.0);
    const double A = 1 - 0.5 / 1.33;
    const V3 got = shade();
    EXPECT_TRUE(std::isfinite(got.x) && std::isfinite(got.y) && std::isfinite(got.z));
    EXPECT_COLOR_NEAR(got, A * Ls, 1e-12);
}

// The wrap term (|N·L| + w)/(w + 1) − |N·L|: zero for w = 0, largest (w/(w + 1)) in the tangent
// plane, the same from the front and from behind, and zero for w = −1 instead of a division by 0.
TEST_F(EvaluateTest, ScatterWrapLightsTheTerminatorBand) {
    const V3 K = {0.5, 1.0, 2.0};
    set(skin->Ksub, 1.0);
    sa.diffuse = 0.0;
    view(kViewNormal);
    FakeItem &l = distant("key", kFront, K, kWhite);
    struct Case {
        double wrap;
        V3 towards;
        double scatter;
    } cases[] = {
        {0.0, kFront, 0.0},       {0.0, kGrazing, 0.0},        {0.5, kGrazing, 1.0 / 3.0},
        {0.5, kFront, 1.0 / 6.0}, {0.5, kBackSide, 1.0 / 6.0}, {0.5, kViewNormal, 0.0},
        {3.0, kGrazing, 0.75},    {-1.0, kGrazing, 0.0},       {-1.0, kFront, 0.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "wrap " << c.wrap << " light (" << c.towards.x << ", " << c.towards.y
                                        << ", " << c.towards.z << ")");
        set(skin->scatter_wrap, c.wrap);
        l.aim(-c.towards.x, -c.towards.y, -c.towards.z);
        const V3 got = shade();
        EXPECT_TRUE(std::isfinite(got.x));
        EXPECT_COLOR_NEAR(got, c.scatter * K, 1e-12);
    }
}

// Prefixes choose by light name which lights feed the sub-surface and the sheen layers.
TEST_F(EvaluateTest, PrefixesChooseTheLightsOfTheSkinAndSheenLayers) {
    const V3 K = {0.5, 1.0, 2.0};
    set(skin->Ksub, 1.0);
    set(skin->Ksheen, 1.0);
    sa.diffuse = 0.0;
    FakeItem &l = distant("", kFront, K, kWhite);
    struct Case {
        const char *skinPrefix, *sheenPrefix, *light;
        bool sub, sheen;
    } cases[] = {
        {"key", "", "key", true, true},        {"key", "", "keylight", true, true},
        {"key", "", "Key", false, true},       {"key", "", "ke", false, true},
        {"  key", "", "keylight", true, true}, {"   ", "", "key", false, true},
        {"", "", "Key", true, true},           {"", "rim", "rimlight", true, true},
        {"", "rim", "fill", true, false},      {"key", "rim", "rim", false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "'" << c.skinPrefix << "' '" << c.sheenPrefix << "' " << c.light);
        std::strcpy(skin->skin_prefix, c.skinPrefix);
        std::strcpy(skin->sheen_prefix, c.sheenPrefix);
        l.name = c.light;
        const V3 want = (c.sub ? 1.0 / 6.0 : 0.0) * K + (c.sheen ? 2 * kRimFront : 0.0) * K;
        EXPECT_COLOR_NEAR(shade(), want, 1e-12);
    }
}

// The sheen light: unshadowed; with sheen tracing and a shadowing light, the gateway's colour,
// or, for a light behind the geometric surface, the light at the trace's exit decayed by
// exp(−h/decay).
TEST_F(EvaluateTest, SheenTraceUsesShadowedAndTracedLight) {
    const V3 Lu = {1.0, 0.5, 0.25}, Ls = {0.2, 0.3, 0.4}, exitColor = {0.6, 0.6, 0.9};
    set(skin->Ksheen, 1.0);
    sa.diffuse = 0.0;
    skin->trace_eps = 0.01;
    const double h = 0.2;
    struct Case {
        const char *what;
        int trace, shadows, type;
        V3 towards;
        double hit, decay;
        int exitLit;
        V3 sheen;  // the sheen light S
        bool casts;
    } cases[] = {
        {"trace off", 0, 1, LWLIGHT_DISTANT, kFront, h, 0.5, 1, Lu, false},
        {"no shadows, front", 1, 0, LWLIGHT_DISTANT, kFront, h, 0.5, 1, Lu, false},
        {"no shadows, behind", 1, 0, LWLIGHT_DISTANT, kBehind, h, 0.5, 1, Lu, false},
        {"front: the gateway's colour", 1, 1, LWLIGHT_DISTANT, kFront, h, 0.5, 1, Ls, false},
        {"behind, hit", 1, 1, LWLIGHT_DISTANT, kBehind, h, 0.5, 1, std::exp(-h / 0.5) * exitColor, true},
        {"behind, exit unlit", 1, 1, LWLIGHT_DISTANT, kBehind, h, 0.5, 0, kBlack, true},
        {"behind, decay 0", 1, 1, LWLIGHT_DISTANT, kBehind, h, 0.0, 1, exitColor, true},
        {"behind, decay below 0", 1, 1, LWLIGHT_DISTANT, kBehind, h, -1.0, 1, exitColor, true},
        {"behind, no hit", 1, 1, LWLIGHT_DISTANT, kBehind, -1.0, 0.5, 1, Ls, true},
        {"point behind, hit nearer than the light", 1, 1, LWLIGHT_POINT, kBehind, h, 0.5, 1,
         std::exp(-h / 0.5) * exitColor, true},
        {"point behind, hit beyond the light", 1, 1, LWLIGHT_POINT, kBehind, 5.0, 0.5, 1, Ls, true},
        {"point behind, no hit", 1, 1, LWLIGHT_POINT, kBehind, -1.0, 0.5, 1, Ls, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        host.items.clear();
        FakeItem &l = distant("key", c.towards, Lu, Ls);
        l.lightType = c.type;
        l.place(3 * c.towards.x, 3 * c.towards.y, 3 * c.towards.z);
        l.shadowType = c.shadows;
        l.exitLit = c.exitLit;
        std::memcpy(l.exitColor, &exitColor, sizeof exitColor);
        skin->sheen_trace = c.trace;
        skin->sheen_decay = c.decay;
        host.rayCastDistance = c.hit;
        host.rayCastStarts.clear();
        host.rayCastDirections.clear();
        host.illuminatePositions.clear();
        host.illuminatedLights.clear();

        const double rim = c.towards.z > 0 ? kRimFront : kRimBehind;
        EXPECT_COLOR_NEAR(shade(), (2 * rim) * c.sheen, 1e-12);
        ASSERT_EQ(host.rayCastStarts.size(), c.casts ? 1u : 0u);
        if (!c.casts) continue;
        // From just below the surface, towards the light.
        EXPECT_NEAR(host.rayCastStarts[0][2], -0.01, 1e-15);
        EXPECT_NEAR(host.rayCastDirections[0][0], c.towards.x, 1e-12);
        EXPECT_NEAR(host.rayCastDirections[0][2], c.towards.z, 1e-12);
        // The exit point is measured from the spot.
        if (c.sheen.x != Ls.x) {
            const std::vector<double> *exitPos = nullptr;
            for (size_t i = 0; i < host.illuminatePositions.size(); ++i)
                if (host.illuminatedLights[i] == l.id && host.illuminatePositions[i][0] != 0.0)
                    exitPos = &host.illuminatePositions[i];
            ASSERT_NE(exitPos, nullptr);
            EXPECT_NEAR((*exitPos)[0], h * c.towards.x, 1e-12);
            EXPECT_NEAR((*exitPos)[2], h * c.towards.z, 1e-12);
        }
    }
}

// The body colour fades with the clamped transparency, the refracted colour comes in with the
// unclamped one, filtered by the surface colour as much as colorFL says; reflection adds
// mirror·Rf tinted by the highlight colour.
TEST_F(EvaluateTest, TransparencyAndMirrorMixTheEnvironment) {
    const V3 Cs = {0.5, 0.25, 1.0}, ambient = {0.2, 0.4, 0.6}, backdrop = {0.1, 0.2, 0.3};
    set(skin->Ka, 1.0);
    std::memcpy(host.ambient, &ambient, sizeof ambient);
    std::memcpy(host.backdrop, &backdrop, sizeof backdrop);
    sa.color[0] = Cs.x, sa.color[1] = Cs.y, sa.color[2] = Cs.z;
    const V3 body = Cs * ambient;
    struct Case {
        double transparency, filter, mirror, highlightTint;
        V3 want;
        size_t lookups;
    } cases[] = {
        {0.0, 0.0, 0.0, 0.0, body, 0},
        {1.5, 0.0, 0.0, 0.0, 1.5 * backdrop, 1},
        {0.5, 0.0, 0.0, 0.0, 0.5 * body + 0.5 * backdrop, 1},
        {1.0, 1.0, 0.0, 0.0, Cs * backdrop, 1},
        {0.0, 0.0, 0.5, 0.0, body + 0.5 * backdrop, 1},
        {0.0, 0.0, 0.5, 1.0, body + 0.5 * (backdrop * Cs), 1},
        {0.5, 0.0, 0.5, 0.0, 0.5 * body + 0.5 * backdrop + 0.5 * backdrop, 2},
        {-0.5, 1.0, -0.5, 1.0, body, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "transparency " << c.transparency << " mirror " << c.mirror);
        sa.transparency = c.transparency;
        sa.colorFL = c.filter;
        sa.mirror = c.mirror;
        sa.colorHL = c.highlightTint;
        host.backdropRays.clear();
        host.surfaceReads = 0;
        EXPECT_COLOR_NEAR(shade(), c.want, 1e-12);
        EXPECT_EQ(host.backdropRays.size(), c.lookups);
        if (c.lookups == 0) {
            EXPECT_EQ(host.surfaceReads, 0) << "no environment look-up at all";
        }
    }

    // With eta 1 the refracted ray goes on along the view ray; the reflected one mirrors it.
    sa.transparency = 0.5;
    sa.mirror = 0.5;
    host.backdropRays.clear();
    shade();
    ASSERT_EQ(host.backdropRays.size(), 2u);
    EXPECT_NEAR(host.backdropRays[0][0], r3, 1e-12);  // refraction first
    EXPECT_NEAR(host.backdropRays[0][2], -0.5, 1e-12);
    EXPECT_NEAR(host.backdropRays[1][0], r3, 1e-12);
    EXPECT_NEAR(host.backdropRays[1][2], 0.5, 1e-12);
}

TEST_F(EvaluateTest, ParametersAreReadOncePerSpotInTheHostsOrder) {
    distant("a", kFront, kWhite, kWhite);
    distant("b", kBackSide, kWhite, kWhite);
    host.getValOrder.clear();
    shade();
    const std::vector<LWVParmID> want = {skin->skin_color->parameter,   skin->Ksub->parameter,
                                         skin->sheen_color->parameter,  skin->Ksheen->parameter,
                                         skin->diff_rough->parameter,   skin->shadow_amount->parameter,
                                         skin->scatter_wrap->parameter, skin->Ka->parameter};
    EXPECT_EQ(host.getValOrder, want);
}

TEST_F(EvaluateTest, TheThreadsRayStateBlocksAreMadeAndTheShadowFlagEndsClear) {
    distant("key", kFront, kWhite, kWhite).shadowType = LWSHAD_RAYTRACE;
    shade();
    const std::vector<std::string> &made = host.pool.created;
    ASSERT_EQ(made.size(), 2u);
    EXPECT_EQ(made[0].rfind("QZ's Lumakit:IsRayShade ", 0), 0u) << made[0];
    EXPECT_EQ(made[1].rfind("QZ's Lumakit:IsShadowRay ", 0), 0u) << made[1];
    int flag;
    std::memcpy(&flag, host.pool.chunks.at(made[1]).data(), sizeof flag);
    EXPECT_EQ(flag, 0);
}

TEST_F(EvaluateTest, ReplacementPercentageIsExactlyOne) {
    for (double ambient : {0.0, 0.5, 1e300}) {
        set(skin->Ka, 1.0);
        host.ambient[0] = ambient;
        shade();  // checks the percentage
    }
}

// Without any one of the required host services, or without the variant-parameter service, the
// spot is left exactly as the host shaded it and nothing is asked of the host.
TEST_F(EvaluateTest, MissingServicesLeaveTheSpotAsTheHostShadedIt) {
    distant("key", kFront, kWhite, kWhite);
    skinNewTime(skin, 1, 0.5);
    const std::map<std::string, void *> all = host.tables;
    for (const char *service : {LWITEMINFO_GLOBAL, LWLIGHTINFO_GLOBAL, LWOBJECTINFO_GLOBAL, LWSCENEINFO_GLOBAL,
                                LWGLOBALPOOL_RENDER_GLOBAL, LWVPARMFUNCS_GLOBAL}) {
        SCOPED_TRACE(service);
        host.tables = all;
        host.remove(service);
        host.activate();
        acquireVparamGlobals();
        host.firstCalls = 0;
        host.pool.created.clear();
        host.pool.chunks.clear();
        host.getValOrder.clear();
        sa.replacement_percentage = 0.25;
        sa.replacement_color[0] = 7.0;
        unsigned char before[sizeof sa];
        std::memcpy(before, &sa, sizeof sa);
        evaluate(skin, &sa);
        EXPECT_EQ(std::memcmp(before, &sa, sizeof sa), 0);
        EXPECT_EQ(host.firstCalls, 0);
        EXPECT_TRUE(host.pool.created.empty());
        EXPECT_TRUE(host.getValOrder.empty());
    }
}

}  // namespace
