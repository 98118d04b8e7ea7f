// SPDX-License-Identifier: Apache-2.0
// Object information, light exclusion, mesh records (scans, polygons, tags, positions, weight
// maps) and the scene objects by index.
#include <gtest/gtest.h>

#include "host/services/global_lookup.h"
#include "host/services/scene_services.h"
#include "tests/host/services/test_scene.h"

namespace {

using namespace scenesvc_test;

class ObjectsMeshes : public ::testing::Test {
protected:
    void SetUp() override {
        t = makeScene();
        host::services::registerSceneServices(t->scene);
        oi = static_cast<const LWObjectInfo *>(host::services::globalLookup(LWOBJECTINFO_GLOBAL, 0));
        of = static_cast<const LWObjectFuncs *>(host::services::globalLookup(LWOBJECTFUNCS_GLOBAL, 0));
        ASSERT_NE(oi, nullptr);
        ASSERT_NE(of, nullptr);
    }
    void TearDown() override { host::services::withdrawSceneServices(); }

    LWPntID point(host::scene::ObjectItem *o, int layer, int index) { return &o->layers[layer].points[index]; }
    LWPolID poly(host::scene::ObjectItem *o, int layer, int index) { return &o->layers[layer].polygons[index]; }

    std::unique_ptr<TestScene> t;
    const LWObjectInfo *oi = nullptr;
    const LWObjectFuncs *of = nullptr;
};

struct MeshGuard {
    LWMeshInfo *m;
    ~MeshGuard() {
        if (m) m->destroy(m);
    }
};

std::vector<LWPolID> scanAll(LWMeshInfo *m) {
    std::vector<LWPolID> out;
    m->scanPolys(
        m,
        [](void *d, LWPolID p) {
            static_cast<std::vector<LWPolID> *>(d)->push_back(p);
            return 0;
        },
        &out);
    return out;
}

TEST_F(ObjectsMeshes, FileNamesCountsAndExclusion) {
    EXPECT_STREQ(oi->filename(t->body), "/models/body.obj");
    EXPECT_EQ(oi->numPoints(t->body), 12);
    EXPECT_EQ(oi->numPolygons(t->body), 4);
    EXPECT_EQ(oi->numPolygons(t->floor), 2);
    EXPECT_EQ(oi->filename(t->key), nullptr) << "a light is no object";
    EXPECT_EQ(oi->numPoints(LWITEM_RADIOSITY), 0);
    EXPECT_EQ(oi->meshInfo(t->key, 1), nullptr);

    struct Case {
        LWItemID object, light;
        int want;
    } cases[] = {
        {t->body, t->spot, 1},
        {t->body, t->key, 0},
        {t->floor, t->spot, 0},
        {t->body, LWITEM_RADIOSITY, 1},
        {t->floor, LWITEM_RADIOSITY, 0},
        {t->body, LWITEM_CAUSTICS, 0},
        {t->key, t->spot, 0},
        {LWITEM_RADIOSITY, t->spot, 0},
        {t->body, nullptr, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(oi->excluded(c.object, c.light), c.want) << "object " << c.object << " light " << c.light;
}

TEST_F(ObjectsMeshes, MeshRecordCoversEveryLayer) {
    MeshGuard g{oi->meshInfo(t->body, 0)};
    LWMeshInfo *m = g.m;
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->numPoints(m), 12);
    EXPECT_EQ(m->numPolygons(m), 4);
    std::vector<LWPolID> want = {poly(t->body, 0, 0), poly(t->body, 0, 1), poly(t->body, 1, 0),
                                 poly(t->body, 1, 1)};
    EXPECT_EQ(scanAll(m), want);

    struct Case {
        LWPolID pol;
        int size;
        const char *surface;
    } cases[] = {{want[0], 4, "Skin"},
                 {want[1], 3, "Ground"},
                 {want[2], 4, "Skin"},
                 {want[3], 3, "Skin"},
                 {poly(t->floor, 0, 0), 0, nullptr},
                 {nullptr, 0, nullptr}};
    for (const Case &c : cases) {
        EXPECT_EQ(m->polSize(m, c.pol), c.size) << c.pol;
        const char *tag = m->polTag(m, c.pol, LWPTAG_SURF);
        if (c.surface)
            EXPECT_STREQ(tag, c.surface);
        else
            EXPECT_EQ(tag, nullptr) << "a polygon of another object";
    }
    EXPECT_EQ(m->polTag(m, want[0], LWID_('P', 'A', 'R', 'T')), nullptr);
    EXPECT_EQ(m->polVertex(m, want[1], 1), point(t->body, 0, 4)) << "triangle corner 1 is point 4";
    EXPECT_EQ(m->polVertex(m, want[2], 0), point(t->body, 1, 0));
    EXPECT_EQ(m->polVertex(m, want[0], 4), nullptr);
    EXPECT_EQ(m->polVertex(m, want[0], -1), nullptr);

    // The scan stops at the first non-zero answer and returns it.
    int calls = 0;
    EXPECT_EQ(m->scanPolys(
                  m,
                  [](void *d, LWPolID) {
                      int &n = *static_cast<int *>(d);
                      return ++n == 2 ? 7 : 0;
                  },
                  &calls),
              7);
    EXPECT_EQ(calls, 2);
    int points = 0;
    m->scanPoints(
        m,
        [](void *d, LWPntID) {
            ++*static_cast<int *>(d);
            return 0;
        },
        &points);
    EXPECT_EQ(points, 12);
}

TEST_F(ObjectsMeshes, BaseAndFrozenPositions) {
    host::services::setSceneServicesTime(1.0);
    MeshGuard frozen{oi->meshInfo(t->body, 1)};
    MeshGuard loose{oi->meshInfo(t->body, 0)};
    host::services::setSceneServicesTime(0.0);  // a record keeps the time it was made at
    ASSERT_NE(frozen.m, nullptr);
    host::scene::Affine world = host::scene::worldTransform(*t->body, 1.0);
    for (int layer = 0; layer < 2; ++layer)
        for (int i = 0; i < 6; ++i) {
            LWPntID p = point(t->body, layer, i);
            const float *pos = t->body->layers[layer].points[i].pos;
            host::scene::Vec3 w = host::scene::Vec3(pos[0], pos[1], pos[2]) * world;
            float base[3], other[3], unfrozen[3];
            frozen.m->pntBasePos(frozen.m, p, base);
            frozen.m->pntOtherPos(frozen.m, p, other);
            loose.m->pntOtherPos(loose.m, p, unfrozen);
            for (int c = 0; c < 3; ++c) {
                EXPECT_EQ(base[c], pos[c]) << "layer " << layer << " point " << i;
                EXPECT_FLOAT_EQ(other[c], static_cast<float>(w[c])) << "layer " << layer << " point " << i;
                EXPECT_EQ(unfrozen[c], pos[c]) << "unfrozen other position is the base one";
            }
        }
    float v[3] = {7, 7, 7};
    frozen.m->pntBasePos(frozen.m, point(t->floor, 0, 1), v);
    EXPECT_EQ(v[0], 0.0f) << "a point of another object reads as the origin";
    frozen.m->pntOtherPos(frozen.m, reinterpret_cast<char *>(point(t->body, 0, 1)) + 4, v);
    EXPECT_EQ(v[0], 0.0f) << "a pointer into a point record is no point";
}

TEST_F(ObjectsMeshes, WeightMapsByHandle) {
    MeshGuard body{oi->meshInfo(t->body, 1)};
    MeshGuard floor{oi->meshInfo(t->floor, 1)};
    void *handle = host::services::weightMapHandle("wm");
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(body.m->pntVLookup(body.m, LWVMAP_WGHT, "wm"), handle);
    EXPECT_EQ(body.m->pntVLookup(body.m, LWID_('T', 'X', 'U', 'V'), "wm"), nullptr);
    EXPECT_EQ(body.m->pntVLookup(body.m, LWVMAP_WGHT, "other"), nullptr);
    EXPECT_EQ(body.m->pntVLookup(body.m, LWVMAP_WGHT, nullptr), nullptr);
    EXPECT_EQ(floor.m->pntVLookup(floor.m, LWVMAP_WGHT, "wm"), nullptr) << "Floor has no such map";
    EXPECT_EQ(host::services::weightMapHandle("other"), nullptr);

    EXPECT_EQ(body.m->pntVGet(body.m, point(t->body, 0, 0), nullptr), 0) << "nothing selected yet";
    EXPECT_EQ(body.m->pntVSelect(body.m, handle), 1);
    struct Case {
        int layer, index, has;
        float value;
    } cases[] = {{0, 0, 1, 0.1f}, {0, 3, 1, 0.4f}, {0, 4, 0, 0}, {0, 5, 1, 0.6f}, {1, 0, 0, 0}};
    for (const Case &c : cases) {
        float v = -1;
        EXPECT_EQ(body.m->pntVGet(body.m, point(t->body, c.layer, c.index), &v), c.has)
            << "layer " << c.layer << " point " << c.index;
        if (c.has) {
            EXPECT_EQ(v, c.value) << "layer " << c.layer << " point " << c.index;
        }
    }
    EXPECT_EQ(floor.m->pntVSelect(floor.m, handle), 0);
    float v = -1;
    EXPECT_EQ(floor.m->pntVGet(floor.m, point(t->floor, 0, 0), &v), 0);
    int bogus = 0;
    EXPECT_EQ(body.m->pntVSelect(body.m, &bogus), 0) << "an unknown handle selects nothing";
    EXPECT_EQ(body.m->pntVGet(body.m, point(t->body, 0, 0), &v), 0);
}

TEST_F(ObjectsMeshes, UVMapsByType) {
    MeshGuard body{of->layerMesh(0, 2)};  // Body's second layer (number 2 from 0) has the UV map
    MeshGuard first{of->layerMesh(0, 0)};
    void *uv = body.m->pntVLookup(body.m, LWVMAP_TXUV, "uv");
    ASSERT_NE(uv, nullptr);
    EXPECT_EQ(body.m->pntVLookup(body.m, LWVMAP_WGHT, "uv"), nullptr) << "a UV map is no weight map";
    EXPECT_EQ(first.m->pntVLookup(first.m, LWVMAP_TXUV, "uv"), nullptr) << "layer 1 has no such map";
    EXPECT_EQ(body.m->pntVSelect(body.m, uv), 2) << "two values a point";
    float v[2] = {-1, -1};
    EXPECT_EQ(body.m->pntVGet(body.m, point(t->body, 1, 4), v), 1);
    EXPECT_EQ(v[0], 0.5f);
    EXPECT_EQ(v[1], 0.25f);
    EXPECT_EQ(body.m->pntVGet(body.m, point(t->body, 1, 5), v), 0) << "a point without a value";
    EXPECT_EQ(first.m->pntVSelect(first.m, uv), 0);
}

TEST_F(ObjectsMeshes, SceneObjectsByIndexAndLayerNumber) {
    EXPECT_EQ(of->numObjects(), 2);
    EXPECT_STREQ(of->filename(1), "/models/floor.obj");
    EXPECT_EQ(of->filename(2), nullptr);
    EXPECT_EQ(of->filename(-1), nullptr);
    EXPECT_EQ(of->maxLayers(0), 3) << "Body's layers are numbers 0 and 2";
    EXPECT_EQ(of->maxLayers(1), 1);
    EXPECT_EQ(of->maxLayers(9), 0);
    const int exists[] = {1, 0, 1, 0};
    for (int l = 0; l < 4; ++l) EXPECT_EQ(of->layerExists(0, l), exists[l]) << "layer " << l;
    EXPECT_EQ(of->layerExists(0, -1), 0);
    EXPECT_EQ(of->layerMesh(0, 1), nullptr);
    EXPECT_EQ(of->layerMesh(3, 0), nullptr);

    MeshGuard g{of->layerMesh(0, 2)};
    ASSERT_NE(g.m, nullptr);
    EXPECT_EQ(g.m->numPolygons(g.m), 2);
    EXPECT_EQ(scanAll(g.m), (std::vector<LWPolID>{poly(t->body, 1, 0), poly(t->body, 1, 1)}));
    EXPECT_EQ(g.m->polSize(g.m, poly(t->body, 0, 0)), 0) << "layer 0's polygon is not in layer 2's record";
    float pos[3];
    g.m->pntOtherPos(g.m, point(t->body, 1, 2), pos);
    EXPECT_EQ(pos[0], 11.0f);
    EXPECT_EQ(pos[1], 1.0f);
}

}  // namespace
