// SPDX-License-Identifier: Apache-2.0
// Several threads call every service at once and must get the answers one thread gets alone.
// Run under the linux-tsan preset to check the locking as well.
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "host/image/image.h"
#include "host/services/global_lookup.h"
#include "host/services/scene_services.h"
#include "tests/host/services/test_scene.h"

namespace {

using namespace scenesvc_test;

// What one pass over the services gives: a handful of numbers and identifiers. The loaded image
// is compared between threads of one registration only.
struct Pass {
    double itemX = 0, lightR = 0, spot[3] = {0, 0, 0}, flt = 0, backdrop = 0;
    const char *tag = nullptr, *name = nullptr;
    int polygons = 0, exclusion = 0;
    float weight = 0;
    LWImageID loaded = nullptr;
    bool sameAs(const Pass &o) const {
        return itemX == o.itemX && lightR == o.lightR && spot[0] == o.spot[0] && spot[1] == o.spot[1] &&
               spot[2] == o.spot[2] && flt == o.flt && backdrop == o.backdrop && tag == o.tag && name == o.name &&
               polygons == o.polygons && exclusion == o.exclusion && weight == o.weight;
    }
};

Pass onePass(TestScene &t, const std::string &file, double spotSize) {
    auto ii = static_cast<const LWItemInfo *>(host::services::globalLookup(LWITEMINFO_GLOBAL, 0));
    auto li = static_cast<const LWLightInfo *>(host::services::globalLookup(LWLIGHTINFO_GLOBAL, 0));
    auto oi = static_cast<const LWObjectInfo *>(host::services::globalLookup(LWOBJECTINFO_GLOBAL, 0));
    auto il = static_cast<const LWImageList *>(host::services::globalLookup(LWIMAGELIST_GLOBAL, 0));
    auto sf = static_cast<const LWSurfaceFuncs *>(host::services::globalLookup(LWSURFACEFUNCS_GLOBAL, 0));
    auto bi = static_cast<const LWBackdropInfo *>(host::services::globalLookup(LWBACKDROPINFO_GLOBAL, 0));
    Pass p;
    double v[3];
    ii->param(t.sun, LWIP_W_POSITION, 0.5, v);
    p.itemX = v[0];
    p.tag = ii->getTag(t.key, 2);
    p.name = ii->name(t.bone2);
    li->color(t.key, 1.0, v);
    p.lightR = v[0];
    p.exclusion = oi->excluded(t.body, t.spot) + 2 * oi->excluded(t.body, LWITEM_RADIOSITY);
    if (LWMeshInfo *m = oi->meshInfo(t.body, 1)) {
        p.polygons = m->scanPolys(
            m, [](void *, LWPolID) { return 0; }, nullptr);
        p.polygons = m->numPolygons(m);
        m->pntVSelect(m, m->pntVLookup(m, LWVMAP_WGHT, "wm"));
        m->pntVGet(m, &t.body->layers[0].points[2], &p.weight);
        m->destroy(m);
    }
    il->RGBSpot(t.scene.images[0].get(), 0.375, 0.25, spotSize, 1, p.spot);
    const double *f = sf->getFlt(t.scene.surfaces[0].get(), "Bump");  // the locked path
    p.flt = f ? f[0] : -1;
    f = sf->getFlt(t.scene.surfaces[0].get(), "Specularity");
    p.flt += f ? f[0] : 0;
    double up[3] = {0.3, 1, 0.2}, col[3];
    bi->backdrop(0, up, col);
    p.backdrop = col[1];
    p.loaded = il->load(file.c_str());
    return p;
}

TEST(SceneServicesConcurrency, ThreadsSeeWhatOneThreadSees) {
    auto t = makeScene();
    TempDir dir;
    std::string why, file = dir.path("shared.png");
    ASSERT_TRUE(host::image::writePng(file, 2, 2, {1, 1, 1, 0, 0, 0, 0, 0, 0, 1, 1, 1}, why)) << why;

    // The reference: with a mip chain, so that every thread samples the same filter.
    host::services::registerSceneServices(t->scene);
    auto il = static_cast<const LWImageList *>(host::services::globalLookup(LWIMAGELIST_GLOBAL, 0));
    il->needAA(t->scene.images[0].get());
    Pass want = onePass(*t, file, 0.35);
    host::services::withdrawSceneServices();

    // Now from scratch: the image file, the lazily read channel and the mip chain are all first
    // met by racing threads.
    host::services::registerSceneServices(t->scene);
    const int kThreads = 4, kRounds = 300;
    std::atomic<int> mismatches{0}, ready{0};
    std::vector<std::thread> threads;
    for (int k = 0; k < kThreads; ++k)
        threads.emplace_back([&, k] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) std::this_thread::yield();
            for (int r = 0; r < kRounds; ++r) {
                if (r == k) il->needAA(t->scene.images[0].get());
                Pass got = onePass(*t, file, r > kThreads ? 0.35 : 0.01);
                if (r > kThreads && !got.sameAs(want)) mismatches.fetch_add(1);
                if (got.loaded != onePass(*t, file, 0.01).loaded) mismatches.fetch_add(1);
            }
        });
    for (std::thread &th : threads) th.join();
    EXPECT_EQ(mismatches.load(), 0);

    // One load of the shared file, whichever thread came first.
    int count = 0;
    for (LWImageID id = il->first(); id; id = il->next(id)) ++count;
    EXPECT_EQ(count, 3);
    host::services::withdrawSceneServices();
}

}  // namespace
