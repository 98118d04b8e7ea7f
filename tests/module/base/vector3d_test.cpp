// SPDX-License-Identifier: Apache-2.0
// Vector math, the light-name prefix test and the shading services check.
#include <gtest/gtest.h>

#include <cmath>

#include "base/host_globals.h"
#include "base/shading_helpers.h"
#include "base/vector3d.h"

using namespace velmora;

namespace {

void expectNear(const Vector3d &got, const Vector3d &want, double tol = 1e-15) {
    EXPECT_NEAR(got.x, want.x, tol);
    EXPECT_NEAR(got.y, want.y, tol);
    EXPECT_NEAR(got.z, want.z, tol);
}

}  // namespace

TEST(Vector3d, NormalisationOfZeroAndOfAKnownLength) {
    Vector3d v = {0, 0, 0}, out = {9, 9, 9};
    vecNormalized(out, v);
    expectNear(out, {0, 0, 0}, 0);

    Vector3d w = {0, 3, 4};
    EXPECT_EQ(vecLength(w), 5.0);
    vecNormalize(w, out);
    EXPECT_EQ(w.y, 0.6);  // divided, not multiplied by a reciprocal: exact here
    EXPECT_EQ(w.z, 0.8);
    EXPECT_EQ(out.y, 0.6);

    Vector3d z = {0, 0, 0};
    vecNormalize(z, out);
    expectNear(z, {0, 0, 0}, 0);
    EXPECT_FALSE(std::isnan(out.x));
}

TEST(Vector3d, DotAndLengthSumInTheStatedOrder) {
    // (a.z·b.z + a.y·b.y) + a.x·b.x: the order decides the rounding of cancelling terms.
    // x first would give (-1e16 + 1e16) + 1 = 1; z first gives (1 + 1e16) - 1e16 = 0.
    const Vector3d a = {-1e16, 1e16, 1.0}, b = {1, 1, 1};
    EXPECT_EQ(vecDot(a, b), 0.0);
    const Vector3d c = {1e-200, 3, 4};
    EXPECT_EQ(vecLength(c), 5.0);
}

TEST(Vector3d, ValueOperations) {
    Vector3d v, out;
    vecSet(v, 1, 2, 3);
    vecAddTo(v, {1, 1, 1});
    expectNear(v, {2, 3, 4});
    vecAdd(out, v, {1, 0, -1});
    expectNear(out, {3, 3, 3});
    vecScale(out, v, 0.5);
    expectNear(out, {1, 1.5, 2});
    vecMul(out, v, {2, 0, -1});
    expectNear(out, {4, 0, -4});
    Vector3d copy;
    vecCopyTo(v, copy);
    expectNear(copy, v);
    vecCross(out, {1, 0, 0}, {0, 1, 0});
    expectNear(out, {0, 0, 1});
    Vector3d a = {0, 1, 0};
    vecCross(a, a, {0, 0, 1});  // output aliases an input
    expectNear(a, {1, 0, 0});
}

TEST(Vector3d, ReflectNormalisesBothInputs) {
    Vector3d out;
    vecReflect(out, {1, -1, 0}, {0, 5, 0});
    expectNear(out, {std::sqrt(0.5), std::sqrt(0.5), 0});
}

TEST(Vector3d, Refraction) {
    Vector3d out;
    // eta 1 passes the normalised direction straight through.
    vecRefract(out, {3, -4, 0}, {0, 1, 0}, 1.0);
    expectNear(out, {0.6, -0.8, 0});

    // A grazing ray leaving a denser medium is totally reflected.
    vecRefract(out, {1, -0.01, 0}, {0, 1, 0}, 1.5);
    expectNear(out, {0, 0, 0}, 0);

    // Snell's law: sin t = eta sin i.
    const double i = 0.5;
    vecRefract(out, {std::sin(i), -std::cos(i), 0}, {0, 1, 0}, 1 / 1.33);
    EXPECT_NEAR(out.x, std::sin(i) / 1.33, 1e-12);
    EXPECT_NEAR(vecLength(out), 1.0, 1e-12);
    EXPECT_LT(out.y, 0);
}

TEST(PrefixMatch, Table) {
    struct Case {
        const char *prefix, *name;
        int want;
    } cases[] = {
        {"  ab", "abc", 2}, {"ab", "a", 0},    {"Ab", "abc", 0},  {"   ", "abc", 0},
        {"   ", "", 0},     {"", "abc", 0},    {"key", "key", 3}, {"key", "keylight", 3},
        {"key", "Key", 0},  {"a b", "a b", 3}, {"a b", "ab", 0},  {"k", "", 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(prefixMatch(c.prefix, c.name), c.want) << "prefix '" << c.prefix << "' name '" << c.name << "'";
}

TEST(HostGlobalsReady, NeedsAllFiveShadingServices) {
    static char table[8];
    resetHostGlobals();
    EXPECT_FALSE(hostGlobalsReady());
    for (int missing = 0; missing < 5; ++missing) {
        ShaderGlobals &g = shaderGlobals;
        void *t = table;
        g.itemInfo = static_cast<LWItemInfo *>(missing == 0 ? nullptr : t);
        g.lightInfo = static_cast<LWLightInfo *>(missing == 1 ? nullptr : t);
        g.objectInfo = static_cast<LWObjectInfo *>(missing == 2 ? nullptr : t);
        g.sceneInfo = static_cast<LWSceneInfo *>(missing == 3 ? nullptr : t);
        g.globalPool = static_cast<LWGlobalPool *>(missing == 4 ? nullptr : t);
        EXPECT_FALSE(hostGlobalsReady()) << "service " << missing << " missing";
    }
    shaderGlobals.globalPool = reinterpret_cast<LWGlobalPool *>(table);
    EXPECT_TRUE(hostGlobalsReady()) << "image list, surfaces and backdrop are not required";
    resetHostGlobals();
}
