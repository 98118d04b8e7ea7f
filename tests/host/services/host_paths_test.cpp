// SPDX-License-Identifier: Apache-2.0
// The host's per-spot service paths that renders lean on: render memory found by name without a
// lock while chunks are created, mesh records handed out again after destruction, items found
// through the flat index, and variant-parameter reads alongside writes.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "host/scene/loader.h"
#include "host/services/render_services.h"
#include "host/services/scene_services.h"
#include "host/vparm/vparm_service.h"

namespace {

TEST(RenderMemory, NamesStayFoundAsTheIndexGrowsAndAreGoneAfterReset) {
    const LWGlobalPool &pool = *host::services::renderMemory();
    host::services::resetRenderMemory();
    // 300 names pass several doublings of the name index.
    std::vector<LWMemChunk> made;
    for (int i = 0; i < 300; ++i) {
        std::string name = "QZ's Lumakit:IsShadowRay " + std::to_string(i);
        made.push_back(pool.create(name.c_str(), 4 + i % 5));
        ASSERT_NE(made.back(), nullptr) << name;
    }
    int lost = 0;
    for (int i = 0; i < 300; ++i) {
        std::string name = "QZ's Lumakit:IsShadowRay " + std::to_string(i);
        if (pool.find(name.c_str()) != made[i] || pool.size(made[i]) != 4 + i % 5 || name != pool.ID(made[i]))
            ++lost;
        EXPECT_EQ(pool.create(name.c_str(), 4), nullptr) << "a second chunk named " << name;
    }
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(pool.find("QZ's Lumakit:IsShadowRay 300"), nullptr);
    int walked = 0;
    for (LWMemChunk c = pool.first(); c; c = pool.next(c)) EXPECT_EQ(c, made[walked++]);
    EXPECT_EQ(walked, 300);

    host::services::resetRenderMemory();
    EXPECT_EQ(pool.find("QZ's Lumakit:IsShadowRay 0"), nullptr);
    EXPECT_EQ(pool.first(), nullptr);
    EXPECT_NE(pool.create("QZ's Lumakit:IsShadowRay 0", 4), nullptr);
    host::services::resetRenderMemory();
}

TEST(RenderMemory, ThreadsFindTheirOwnChunksWhileOthersCreate) {
    const LWGlobalPool &pool = *host::services::renderMemory();
    host::services::resetRenderMemory();
    std::atomic<int> missing{0};
    auto work = [&](int thread) {
        for (int i = 0; i < 500; ++i) {
            std::string name = "block " + std::to_string(thread) + " " + std::to_string(i);
            LWMemChunk c = pool.create(name.c_str(), 4);
            if (!c || pool.find(name.c_str()) != c) ++missing;
        }
    };
    std::thread a(work, 0), b(work, 1);
    a.join();
    b.join();
    EXPECT_EQ(missing.load(), 0);
    for (int t = 0; t < 2; ++t)
        for (int i = 0; i < 500; ++i) {
            std::string name = "block " + std::to_string(t) + " " + std::to_string(i);
            EXPECT_NE(pool.find(name.c_str()), nullptr) << name;
        }
    host::services::resetRenderMemory();
}

const char *const kMeshScene = R"({
  "items": [
    {"type": "object", "name": "Grid", "position": [0, 2, 0],
     "mesh": {"primitive": "grid", "size": [2, 2], "divisions": 2,
              "weight_maps": [{"name": "ramp", "axis": "x", "from": -1, "to": 1}]}},
    {"type": "light", "name": "Lamp"},
    {"type": "camera", "name": "Camera"}
  ]
})";

struct Registered {
    std::unique_ptr<host::scene::Scene> scene;
    std::string error;
    explicit Registered(const std::string &json) {
        host::scene::LoadResult loaded = host::scene::loadSceneText(json, "test", ".");
        scene = std::move(loaded.scene);
        error = loaded.error;
        if (scene) host::services::registerSceneServices(*scene);
    }
    ~Registered() {
        if (scene) host::services::withdrawSceneServices();
    }
};

TEST(MeshRecords, ARecordHandedOutAgainStartsAfresh) {
    Registered r(kMeshScene);
    ASSERT_TRUE(r.scene) << r.error;
    const LWObjectInfo &objects = *host::services::objectInfoTable();
    LWItemID grid = host::services::itemInfoTable()->first(LWI_OBJECT, nullptr);
    void *ramp = host::services::weightMapHandle("ramp");
    ASSERT_TRUE(grid && ramp);

    LWMeshInfo *frozen = objects.meshInfo(grid, 1);
    ASSERT_NE(frozen, nullptr);
    LWPntID pnt = nullptr;
    frozen->scanPoints(
        frozen, [](void *data, LWPntID p) { return *static_cast<LWPntID *>(data) = p, 1; }, &pnt);
    ASSERT_NE(pnt, nullptr);
    float w = -1, pos[3];
    EXPECT_EQ(frozen->pntVSelect(frozen, ramp), 1);
    EXPECT_EQ(frozen->pntVGet(frozen, pnt, &w), 1);
    frozen->pntOtherPos(frozen, pnt, pos);
    EXPECT_FLOAT_EQ(pos[1], 2.0f) << "frozen: world position";
    frozen->destroy(frozen);

    // Many records made and destroyed in turn: each one answers as a new record would.
    for (int round = 0; round < 20; ++round) {
        LWMeshInfo *m = objects.meshInfo(grid, 0);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->pntVGet(m, pnt, &w), 0) << "round " << round << ": no map selected yet";
        m->pntOtherPos(m, pnt, pos);
        EXPECT_FLOAT_EQ(pos[1], 0.0f) << "round " << round << ": not frozen, base position";
        EXPECT_EQ(m->numPoints(m), 9);
        m->pntVSelect(m, ramp);
        m->destroy(m);
    }
}

TEST(ItemIndex, EveryItemIsFoundAndNothingElse) {
    std::string json = R"({"items": [)";
    for (int i = 0; i < 70; ++i)
        json += std::string(i ? ", " : "") + R"({"type": "light", "name": "L)" + std::to_string(i) + R"("})";
    json += R"(, {"type": "object", "name": "Ball", "mesh": {"primitive": "sphere"}},
                 {"type": "camera", "name": "Camera"}]})";
    Registered r(json);
    ASSERT_TRUE(r.scene) << r.error;
    const LWItemInfo &items = *host::services::itemInfoTable();
    int n = 0;
    for (LWItemID l = items.first(LWI_LIGHT, nullptr); l; l = items.next(l), ++n) {
        ASSERT_STREQ(items.name(l), ("L" + std::to_string(n)).c_str());
        EXPECT_EQ(items.type(l), LWI_LIGHT);
        EXPECT_EQ(host::services::lightInfoTable()->type(l), LWLIGHT_POINT);
    }
    EXPECT_EQ(n, 70);
    LWItemID ball = items.first(LWI_OBJECT, nullptr);
    EXPECT_STREQ(items.name(ball), "Ball");
    EXPECT_EQ(host::services::lightInfoTable()->type(ball), -1) << "an object is no light";
    int local = 0;
    for (LWItemID stranger : {static_cast<LWItemID>(&local), LWITEM_RADIOSITY, LWITEM_CAUSTICS})
        EXPECT_EQ(items.name(stranger), nullptr);
}

TEST(VariantParameters, ReadersSeeWholeValuesWhileTheMainThreadWrites) {
    const LWVParmFuncs &vp = *host::vparm::vparmFuncs();
    LWVParmID p = vp.create(LWVP_COLOR, LWVPDT_NOTXTR);
    ASSERT_NE(p, nullptr);
    double start[3] = {0, 0, 0};
    vp.setVal(p, start);
    std::atomic<bool> stop{false};
    std::atomic<long> torn{0}, reads{0};
    auto reader = [&] {
        while (!stop.load()) {
            double v[3] = {-1, -1, -1};
            vp.getVal(p, 0.0, nullptr, v);
            if (v[0] != v[1] || v[1] != v[2]) ++torn;
            ++reads;
        }
    };
    std::thread a(reader), b(reader);
    for (int k = 1; k <= 2000; ++k) {
        double v[3] = {double(k), double(k), double(k)};
        vp.setVal(p, v);
    }
    while (reads.load() < 1000) std::this_thread::yield();
    stop = true;
    a.join();
    b.join();
    EXPECT_EQ(torn.load(), 0) << "of " << reads.load() << " reads";
    double v[3];
    vp.getVal(p, 0.0, nullptr, v);
    EXPECT_EQ(v[2], 2000.0);
    vp.destroy(p);
}

}  // namespace
