// SPDX-License-Identifier: Apache-2.0
// Item and light information: lists, hierarchy, parameters at a time, tags, light values, and
// the answers for identifiers that name nothing.
#include <gtest/gtest.h>

#include "host/services/global_lookup.h"
#include "host/services/scene_services.h"
#include "tests/host/services/test_scene.h"

namespace {

using namespace scenesvc_test;

class ItemsLights : public ::testing::Test {
protected:
    void SetUp() override {
        t = makeScene();
        host::services::registerSceneServices(t->scene);
        ii = static_cast<const LWItemInfo *>(host::services::globalLookup(LWITEMINFO_GLOBAL, 0));
        li = static_cast<const LWLightInfo *>(host::services::globalLookup(LWLIGHTINFO_GLOBAL, 0));
        ASSERT_NE(ii, nullptr);
        ASSERT_NE(li, nullptr);
    }
    void TearDown() override { host::services::withdrawSceneServices(); }

    std::vector<LWItemID> walk(LWItemType type, LWItemID parent) {
        std::vector<LWItemID> out;
        for (LWItemID id = ii->first(type, parent); id && out.size() < 100; id = ii->next(id)) out.push_back(id);
        return out;
    }

    std::unique_ptr<TestScene> t;
    const LWItemInfo *ii = nullptr;
    const LWLightInfo *li = nullptr;
};

// Identifiers that must read as "no item": null, the pseudo-lights, a pointer into the middle of
// an item, and an object's layer record.
std::vector<LWItemID> strangers(TestScene &t) {
    return {nullptr, LWITEM_RADIOSITY, LWITEM_CAUSTICS, reinterpret_cast<char *>(t.key) + 8, &t.body->layers[0]};
}

TEST_F(ItemsLights, ListsEachKindAndEachObjectsBones) {
    using V = std::vector<LWItemID>;
    EXPECT_EQ(walk(LWI_OBJECT, nullptr), (V{t->body, t->floor}));
    EXPECT_EQ(walk(LWI_LIGHT, nullptr), (V{t->key, t->spot, t->sun}));
    EXPECT_EQ(walk(LWI_CAMERA, nullptr), (V{t->camera}));
    EXPECT_EQ(walk(LWI_BONE, t->body), (V{t->bone1, t->bone2})) << "bones of Body, in file order";
    EXPECT_EQ(walk(LWI_BONE, t->floor), (V{t->bone3}));
    EXPECT_TRUE(walk(LWI_BONE, nullptr).empty()) << "bones need their object";
    EXPECT_TRUE(walk(LWI_BONE, t->key).empty()) << "a light has no bones";
    EXPECT_TRUE(walk(LWI_NONE, nullptr).empty());
    EXPECT_TRUE(walk(7, nullptr).empty());
}

TEST_F(ItemsLights, HierarchyTypesAndNames) {
    struct Case {
        LWItemID id;
        LWItemType type;
        const char *name;
        LWItemID parent;
    } cases[] = {
        {t->body, LWI_OBJECT, "Body", nullptr}, {t->key, LWI_LIGHT, "Key", nullptr},
        {t->sun, LWI_LIGHT, "Sun", t->body},    {t->camera, LWI_CAMERA, "Camera", nullptr},
        {t->bone2, LWI_BONE, "B2", t->bone1},   {t->bone3, LWI_BONE, "B3", t->floor},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ii->type(c.id), c.type) << c.name;
        ASSERT_NE(ii->name(c.id), nullptr) << c.name;
        EXPECT_STREQ(ii->name(c.id), c.name);
        EXPECT_EQ(ii->parent(c.id), c.parent) << c.name;
    }
    for (LWItemID id : strangers(*t)) {
        EXPECT_EQ(ii->type(id), LWI_NONE) << id;
        EXPECT_EQ(ii->name(id), nullptr) << id;
        EXPECT_EQ(ii->parent(id), nullptr) << id;
        EXPECT_EQ(ii->next(id), nullptr) << id;
        EXPECT_EQ(ii->getTag(id, 1), nullptr) << id;
    }
}

TEST_F(ItemsLights, AllTwelveParametersFollowTheSceneModelInTime) {
    const double times[] = {0.0, 0.25, 1.0, 3.0};
    for (LWItemID id :
         {static_cast<LWItemID>(t->body), static_cast<LWItemID>(t->sun), static_cast<LWItemID>(t->bone2)}) {
        const host::scene::Item &item = *static_cast<const host::scene::Item *>(id);
        for (double time : times)
            for (int p = LWIP_POSITION; p <= LWIP_PIVOT_ROT; ++p) {
                double got[3] = {7, 7, 7};
                ii->param(id, p, time, got);
                host::scene::Vec3 want = host::scene::itemParam(item, p, time);
                for (int c = 0; c < 3; ++c)
                    EXPECT_EQ(got[c], want[c]) << item.name << " param " << p << " t=" << time << " c" << c;
            }
    }
    // Body's x is keyed from 1 at 0 s to 11 at 1 s; Sun rides on Body.
    double pos[3];
    ii->param(t->body, LWIP_POSITION, 0.5, pos);
    EXPECT_DOUBLE_EQ(pos[0], 6.0);
    ii->param(t->sun, LWIP_W_POSITION, 0.5, pos);
    EXPECT_DOUBLE_EQ(pos[0], 6.0) << "a child at its parent's origin shares its world position";

    for (LWItemID id : strangers(*t)) {
        double v[3] = {7, 7, 7};
        ii->param(id, LWIP_W_POSITION, 0, v);
        EXPECT_EQ(v[0], 0.0);
        EXPECT_EQ(v[2], 0.0);
    }
    double v[3] = {7, 7, 7};
    ii->param(t->body, 13, 0, v);
    EXPECT_EQ(v[1], 0.0) << "an unknown parameter reads as zero";
    ii->param(t->body, LWIP_POSITION, 0, nullptr);  // no output: nothing written, no crash
}

TEST_F(ItemsLights, TagLinesNumberFromOne) {
    struct Case {
        int n;
        const char *want;
    } cases[] = {
        {0, nullptr}, {-1, nullptr}, {1, "QZ_lightParam: areashadow = 1"}, {2, "second line"}, {3, nullptr}};
    for (const Case &c : cases) {
        const char *got = ii->getTag(t->key, c.n);
        if (!c.want)
            EXPECT_EQ(got, nullptr) << "line " << c.n;
        else
            EXPECT_STREQ(got, c.want) << "line " << c.n;
    }
    EXPECT_EQ(ii->getTag(t->spot, 1), nullptr) << "a light without tags";
    EXPECT_EQ(ii->getTag(t->key, 1), ii->getTag(t->key, 1)) << "the text stays put between calls";
}

TEST_F(ItemsLights, LightValuesPerLight) {
    struct Case {
        LWItemID id;
        int type, shadow, falloff;
        unsigned flags;
        double range;
        LWImageID proj;
    } cases[] = {
        {t->key, LWLIGHT_POINT, LWSHAD_RAYTRACE, LWLFALL_INV_DIST_2, 0u, 3.0, nullptr},
        {t->spot, LWLIGHT_SPOT, LWSHAD_MAP, LWLFALL_LINEAR, LWLFL_NO_DIFFUSE | LWLFL_LIMITED_RANGE, 1.0,
         t->scene.images[0].get()},
        {t->sun, LWLIGHT_DISTANT, LWSHAD_OFF, LWLFALL_OFF, LWLFL_NO_SPECULAR | LWLFL_NO_CAUSTICS, 1.0, nullptr},
        {LWITEM_RADIOSITY, -1, LWSHAD_OFF, LWLFALL_OFF, 0u, 0.0, nullptr},
        {t->body, -1, LWSHAD_OFF, LWLFALL_OFF, 0u, 0.0, nullptr},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(li->type(c.id), c.type) << c.id;
        EXPECT_EQ(li->shadowType(c.id), c.shadow) << c.id;
        EXPECT_EQ(li->falloff(c.id), c.falloff) << c.id;
        EXPECT_EQ(li->flags(c.id), c.flags) << c.id;
        EXPECT_EQ(li->range(c.id, 0), c.range) << c.id;
        EXPECT_EQ(li->projImage(c.id), c.proj) << c.id;
    }
    // Key's intensity runs from 1 at 0 s to 3 at 2 s; colour (1, 0.5, 0.25).
    double col[3];
    li->color(t->key, 1.0, col);
    EXPECT_DOUBLE_EQ(col[0], 2.0);
    EXPECT_DOUBLE_EQ(col[1], 1.0);
    EXPECT_DOUBLE_EQ(col[2], 0.5);
    li->color(LWITEM_CAUSTICS, 1.0, col);
    EXPECT_EQ(col[0] + col[1] + col[2], 0.0);

    double r = -1, e = -1;
    li->coneAngles(t->spot, 0, &r, &e);
    EXPECT_DOUBLE_EQ(r, 0.4);
    EXPECT_DOUBLE_EQ(e, 0.1);
    li->coneAngles(t->spot, 0, nullptr, nullptr);

    li->shadowColor(t->spot, 0, col);
    EXPECT_DOUBLE_EQ(col[2], 0.3);
    li->ambient(0, col);  // colour (1, 0.5, 0.5) at intensity 0.2
    EXPECT_DOUBLE_EQ(col[0], 0.2);
    EXPECT_DOUBLE_EQ(col[1], 0.1);
}

TEST_F(ItemsLights, WithdrawnServicesKnowNothing) {
    host::services::withdrawSceneServices();
    EXPECT_EQ(host::services::globalLookup(LWITEMINFO_GLOBAL, 0), nullptr);
    EXPECT_EQ(ii->first(LWI_OBJECT, nullptr), nullptr);
    EXPECT_EQ(ii->name(t->body), nullptr);
    EXPECT_EQ(li->type(t->key), -1);
}

}  // namespace
