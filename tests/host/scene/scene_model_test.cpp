// SPDX-License-Identifier: Apache-2.0
#include <cmath>

#include <gtest/gtest.h>

#include "host/animation/envelopes.h"
#include "host/scene/scene.h"
#include "sdk/item_info.h"

namespace {

using host::scene::Vec3;

void expectNear(const Vec3 &got, const Vec3 &want, const char *what) {
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(got[i], want[i], 1e-9)
            << what << " component " << i << ": got " << got[i] << " want " << want[i];
}

TEST(Channel, InterpolatesAndHoldsEnds) {
    host::scene::Channel c;
    c.keys = {{0.0, 0.0}, {1.0, 10.0}, {3.0, 30.0}};
    struct Case {
        double t, want;
    } cases[] = {{-1, 0}, {0, 0}, {0.5, 5}, {2, 20}, {3, 30}, {9, 30}};
    for (const Case &k : cases) EXPECT_NEAR(c.at(k.t), k.want, 1e-12) << "t=" << k.t;
    c.spline = true;
    c.keys = {{0.0, 0.0}, {1.0, 10.0}, {2.0, 20.0}, {3.0, 30.0}};
    EXPECT_NEAR(c.at(1.0), 10.0, 1e-12) << "spline passes through its keys";
    EXPECT_NEAR(c.at(1.5), 15.0, 1e-9) << "inner segment of evenly rising keys stays on the line";
}

// A shaped channel read from a scene file and an envelope of the envelope service with the same
// TCB keys are one curve: they give the same value, bit for bit, at every time between the keys.
TEST(Channel, ShapedKeysMatchTheEnvelopeService) {
    host::scene::Channel c;
    c.shaped = true;
    std::vector<host::animation::Key> keys;
    struct K {
        double time, value, tension, continuity, bias;
    } ks[] = {
        {0, 0, 0, 0, 0}, {0.5, 4, 0.5, -0.3, 0.2}, {2, -1, -0.4, 0.6, -0.7}, {2.25, 3, 0, 0, 1}, {4, 2, 1, 0, 0}};
    for (const K &k : ks) {
        host::scene::Key sk;
        sk.time = k.time;
        sk.value = k.value;
        sk.tension = k.tension;
        sk.continuity = k.continuity;
        sk.bias = k.bias;
        c.keys.push_back(sk);
        host::animation::Key ek;
        ek.time = k.time;
        ek.value = k.value;
        ek.tension = k.tension;
        ek.continuity = k.continuity;
        ek.bias = k.bias;
        keys.push_back(ek);
    }
    const LWEnvelopeFuncs *env = host::animation::envelopeFuncs();
    LWEnvelopeID e = env->create(nullptr, "curve", 0);
    ASSERT_NE(e, nullptr);
    ASSERT_TRUE(host::animation::setKeys(e, keys));
    for (double t = 0; t <= 4; t += 1.0 / 64) {
        double want = 0;
        ASSERT_TRUE(host::animation::valueAt(e, t, want));
        EXPECT_EQ(c.at(t), want) << "t=" << t;
    }
    env->destroy(e);
}

TEST(ItemParams, HeadingPitchBankAxes) {
    host::scene::Item item;
    const double h = M_PI / 2;
    item.motion.rotation = host::scene::Channel3::fixed(h, 0, 0);
    // Heading turns +Z towards +X.
    expectNear(host::scene::itemParam(item, LWIP_FORWARD, 0), {1, 0, 0}, "forward after heading 90");
    expectNear(host::scene::itemParam(item, LWIP_RIGHT, 0), {0, 0, -1}, "right after heading 90");
    item.motion.rotation = host::scene::Channel3::fixed(0, M_PI / 2, 0);
    // Positive pitch points the forward axis down.
    expectNear(host::scene::itemParam(item, LWIP_FORWARD, 0), {0, -1, 0}, "forward after pitch 90");
    expectNear(host::scene::itemParam(item, LWIP_UP, 0), {0, 0, 1}, "up after pitch 90");
}

TEST(ItemParams, HierarchyPivotsAndKeys) {
    host::scene::Item parent, child;
    child.parent = &parent;
    parent.motion.position = host::scene::Channel3::fixed(10, 0, 0);
    parent.motion.rotation = host::scene::Channel3::fixed(M_PI / 2, 0, 0);
    parent.motion.scale = host::scene::Channel3::fixed(2, 2, 2);
    child.motion.position.c[2].keys = {{0.0, 0.0}, {1.0, 4.0}};
    child.motion.pivot = {1, 2, 3};
    child.motion.pivotRotation = {0.25, 0, 0};

    expectNear(host::scene::itemParam(child, LWIP_POSITION, 0.5), {0, 0, 2}, "local position at 0.5 s");
    // Parent: scale 2 then heading 90 moves local +Z 2 to +X 4, then by 10.
    expectNear(host::scene::itemParam(child, LWIP_W_POSITION, 0.5), {14, 0, 0}, "world position at 0.5 s");
    expectNear(host::scene::itemParam(child, LWIP_W_FORWARD, 0.5), {1, 0, 0}, "world forward");
    expectNear(host::scene::itemParam(child, LWIP_PIVOT, 0), {1, 2, 3}, "pivot");
    expectNear(host::scene::itemParam(child, LWIP_PIVOT_ROT, 0), {0.25, 0, 0}, "pivot rotation");
    expectNear(host::scene::itemParam(child, LWIP_SCALING, 0), {1, 1, 1}, "scale");
    // The pivot point is where the item's position puts it.
    Vec3 p = Vec3(1, 2, 3) * host::scene::worldTransform(child, 1.0);
    expectNear(p, host::scene::itemParam(child, LWIP_W_POSITION, 1.0), "pivot lands on the world position");
    expectNear(host::scene::itemParam(child, 99, 0), {0, 0, 0}, "unknown parameter");
}

TEST(MeshLayer, NormalsAndTriangles) {
    host::scene::MeshLayer layer;
    float quad[4][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    for (auto &q : quad) {
        host::scene::MeshPoint p;
        for (int c = 0; c < 3; ++c) p.pos[c] = q[c];
        layer.points.push_back(p);
    }
    host::scene::MeshPolygon poly;
    poly.points = {0, 1, 2, 3};
    layer.polygons.push_back(poly);
    host::scene::finishLayer(layer);
    EXPECT_EQ(layer.triangles.size(), 6u);
    EXPECT_NEAR(layer.polygons[0].normal[2], 1.0, 1e-6);
    EXPECT_NEAR(layer.points[2].normal[2], 1.0, 1e-6);
}

}  // namespace
