// SPDX-License-Identifier: Apache-2.0
// Surface functions (lists, channels by name, channel groups) and the backdrop.
#include <cmath>

#include <gtest/gtest.h>

#include "host/services/global_lookup.h"
#include "host/services/scene_services.h"
#include "sdk/envelope_funcs.h"
#include "tests/host/services/test_scene.h"

namespace {

using namespace scenesvc_test;

class Surfaces : public ::testing::Test {
protected:
    void SetUp() override {
        t = makeScene();
        host::services::registerSceneServices(t->scene);
        sf = static_cast<const LWSurfaceFuncs *>(host::services::globalLookup(LWSURFACEFUNCS_GLOBAL, 0));
        bi = static_cast<const LWBackdropInfo *>(host::services::globalLookup(LWBACKDROPINFO_GLOBAL, 0));
        ASSERT_NE(sf, nullptr);
        ASSERT_NE(bi, nullptr);
        skin = t->scene.surfaces[0].get();
        ground = t->scene.surfaces[1].get();
    }
    void TearDown() override { host::services::withdrawSceneServices(); }

    std::vector<LWSurfaceID> list(LWSurfaceID *l) {
        std::vector<LWSurfaceID> out;
        for (; l && *l && out.size() < 10; ++l) out.push_back(*l);
        return out;
    }

    std::unique_ptr<TestScene> t;
    const LWSurfaceFuncs *sf = nullptr;
    const LWBackdropInfo *bi = nullptr;
    LWSurfaceID skin = nullptr, ground = nullptr;
};

TEST_F(Surfaces, ListsByNameAndObjectFile) {
    using V = std::vector<LWSurfaceID>;
    EXPECT_EQ(sf->first(), skin);
    EXPECT_EQ(sf->next(skin), ground);
    EXPECT_EQ(sf->next(ground), nullptr);
    EXPECT_STREQ(sf->name(ground), "Ground");
    EXPECT_EQ(sf->name(t->body), nullptr) << "an object is no surface";

    EXPECT_EQ(list(sf->byName("Skin", nullptr)), (V{skin}));
    EXPECT_EQ(list(sf->byName("Skin", "/models/body.obj")), (V{skin}));
    EXPECT_EQ(sf->byName("Skin", "/models/floor.obj"), nullptr) << "Floor's polygons are all Ground";
    EXPECT_EQ(sf->byName("Nope", nullptr), nullptr);
    EXPECT_EQ(sf->byName(nullptr, nullptr), nullptr);
    EXPECT_EQ(list(sf->byObject("/models/body.obj")), (V{skin, ground}));
    EXPECT_EQ(list(sf->byObject("/models/floor.obj")), (V{ground}));
    EXPECT_EQ(sf->byObject("/models/none.obj"), nullptr);
    EXPECT_EQ(sf->byObject(nullptr), nullptr);
    LWSurfaceID *l = sf->byObject("/models/floor.obj");
    EXPECT_EQ(l[1], nullptr) << "lists end with null";
}

TEST_F(Surfaces, ChannelsByName) {
    struct IntCase {
        LWSurfaceID s;
        const char *channel;
        int want;
    } ints[] = {{skin, "ReflectionOptions", 3},
                {skin, "RefractionOptions", 2},
                {ground, "ReflectionOptions", 0},
                {ground, "RefractionOptions", 1},
                {skin, "Nope", 0},
                {t->key, "ReflectionOptions", 0},
                {skin, nullptr, 0}};
    for (const IntCase &c : ints)
        EXPECT_EQ(sf->getInt(c.s, c.channel), c.want) << (c.channel ? c.channel : "(null)");

    struct FltCase {
        const char *channel;
        std::vector<double> want;
    } flts[] = {{"ReflectionSeamAngle", {0.5}},
                {"RefractionSeamAngle", {0.0}},
                {"Color", {0.9, 0.6, 0.5}},
                {"Specularity", {0.25}},
                {"Diffuse", {1.0}},
                {"RefractionIndex", {1.0}}};
    for (const FltCase &c : flts) {
        const double *v = sf->getFlt(skin, c.channel);
        ASSERT_NE(v, nullptr) << c.channel;
        for (size_t i = 0; i < c.want.size(); ++i)
            EXPECT_DOUBLE_EQ(v[i], c.want[i]) << c.channel << "[" << i << "]";
    }
    for (int round = 0; round < 2; ++round) EXPECT_EQ(sf->getFlt(skin, "Bump"), nullptr) << "round " << round;
    EXPECT_EQ(sf->getFlt(LWITEM_RADIOSITY, "Color"), nullptr);
    EXPECT_EQ(sf->getFlt(skin, nullptr), nullptr);

    EXPECT_EQ(sf->getImg(skin, "ReflectionImage"), t->scene.images[0].get());
    EXPECT_EQ(sf->getImg(skin, "RefractionImage"), nullptr);
    EXPECT_EQ(sf->getImg(ground, "ReflectionImage"), t->scene.images[1].get());
    EXPECT_EQ(sf->getImg(ground, "Color"), nullptr);
}

// A stand-in "Animation Envelopes" that records the groups it is asked for.
struct GroupRecorder {
    static std::vector<std::pair<LWChanGroupID, std::string>> calls;
    static int groups[4];
    static LWChanGroupID createGroup(LWChanGroupID parent, const char *name) {
        calls.push_back({parent, name ? name : ""});
        return calls.size() <= 4 ? &groups[calls.size() - 1] : nullptr;
    }
};
std::vector<std::pair<LWChanGroupID, std::string>> GroupRecorder::calls;
int GroupRecorder::groups[4];

TEST_F(Surfaces, ChannelGroupsComeFromTheEnvelopeService) {
    EXPECT_EQ(sf->chanGrp(skin), nullptr) << "no envelope service";
    LWEnvelopeFuncs env{};
    env.createGroup = GroupRecorder::createGroup;
    GroupRecorder::calls.clear();
    host::services::registerService(LWENVELOPEFUNCS_GLOBAL, &env);
    LWChanGroupID a = sf->chanGrp(skin), b = sf->chanGrp(skin), c = sf->chanGrp(ground);
    host::services::registerService(LWENVELOPEFUNCS_GLOBAL, nullptr);
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(a, b) << "one group per surface";
    EXPECT_NE(a, c);
    ASSERT_EQ(GroupRecorder::calls.size(), 2u);
    EXPECT_EQ(GroupRecorder::calls[0].first, nullptr);
    EXPECT_EQ(GroupRecorder::calls[0].second, "Skin");
    EXPECT_EQ(GroupRecorder::calls[1].second, "Ground");
    EXPECT_EQ(sf->chanGrp(t->body), nullptr);
}

void expectColor(const double got[3], const host::scene::Vec3 &want, const std::string &what) {
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(got[c], want[c], 1e-12)
            << what << " channel " << c << ": got " << got[c] << " want " << want[c];
}

TEST_F(Surfaces, GradientBackdropByElevation) {
    const host::scene::Backdrop &b = t->scene.backdrop;
    EXPECT_EQ(bi->type, LWBACK_GRADIENT);
    host::scene::Vec3 halfUp;  // elevation 45 degrees: a = 0.5, t = 1 - 0.5^2
    for (int c = 0; c < 3; ++c) halfUp[c] = b.sky[c] + (b.zenith[c] - b.sky[c]) * 0.75;
    struct Case {
        double d[3];
        host::scene::Vec3 want;
        const char *what;
    } cases[] = {
        {{0, 1, 0}, b.zenith, "straight up"}, {{0, 7, 0}, b.zenith, "an unnormalised ray"},
        {{1, 0, 0}, b.sky, "the horizon"},    {{0, -1, 0}, b.nadir, "straight down"},
        {{0, 0, 0}, b.sky, "a zero ray"},     {{1, 1, 0}, halfUp, "45 degrees up"},
    };
    for (const Case &c : cases) {
        double col[3];
        bi->backdrop(0, c.d, col);
        expectColor(col, c.want, c.what);
    }
    double z[3], s[3], g[3], n[3];
    bi->color(0, z, s, g, n);
    expectColor(z, b.zenith, "zenith");
    expectColor(n, b.nadir, "nadir");
    bi->color(0, nullptr, nullptr, nullptr, nullptr);
}

TEST_F(Surfaces, SolidAndImageBackdrops) {
    host::services::withdrawSceneServices();
    t->scene.backdrop.kind = host::scene::BackdropKind::Solid;
    t->scene.backdrop.color = {0.3, 0.2, 0.1};
    host::services::registerSceneServices(t->scene);
    EXPECT_EQ(bi->type, LWBACK_SOLID);
    double col[3], up[3] = {0, 1, 0}, down[3] = {0, -1, 0};
    bi->backdrop(0, down, col);
    expectColor(col, {0.3, 0.2, 0.1}, "solid");
    double z[3], s[3], g[3], n[3];
    bi->color(0, z, s, g, n);
    expectColor(g, {0.3, 0.2, 0.1}, "a solid backdrop's ground colour");

    // The checker around the scene: its top row (black and white) overhead, red underfoot.
    host::services::withdrawSceneServices();
    t->scene.backdrop.kind = host::scene::BackdropKind::Image;
    t->scene.backdrop.image = 0;
    host::services::registerSceneServices(t->scene);
    EXPECT_EQ(bi->type, LWBACK_IMAGE);
    bi->backdrop(0, up, col);
    expectColor(col, {0.5, 0.5, 0.5}, "image overhead");
    bi->backdrop(0, down, col);
    expectColor(col, {1, 0, 0}, "image underfoot");
}

}  // namespace
