// SPDX-License-Identifier: Apache-2.0
// Costs of the scene-service calls plug-ins make per shaded spot.
#include <benchmark/benchmark.h>

#include "host/services/global_lookup.h"
#include "host/services/scene_services.h"
#include "tests/host/services/test_scene.h"

namespace {

using namespace scenesvc_test;

// A registered test scene with a 1024 x 1024 image (index 2) for the sampling benchmarks.
struct Fixture {
    std::unique_ptr<TestScene> t = makeScene();
    Fixture() {
        auto img = std::make_unique<host::image::Image>();
        img->name = "big";
        img->width = img->height = 1024;
        img->rgb.resize(1024 * 1024 * 3);
        for (size_t i = 0; i < img->rgb.size(); ++i)
            img->rgb[i] = static_cast<float>((i * 2654435761u) % 1000) / 1000;
        t->scene.images.push_back(std::move(img));
        host::services::registerSceneServices(t->scene);
    }
    ~Fixture() { host::services::withdrawSceneServices(); }
    template <typename T>
    const T *table(const char *name) {
        return static_cast<const T *>(host::services::globalLookup(name, 0));
    }
};

void BM_ItemParam(benchmark::State &state) {
    Fixture f;
    auto ii = f.table<LWItemInfo>(LWITEMINFO_GLOBAL);
    double v[3];
    for (auto _ : state) {
        ii->param(f.t->sun, LWIP_W_POSITION, 0.5, v);
        benchmark::DoNotOptimize(v[0]);
    }
}
BENCHMARK(BM_ItemParam);

void BM_Excluded(benchmark::State &state) {
    Fixture f;
    auto oi = f.table<LWObjectInfo>(LWOBJECTINFO_GLOBAL);
    for (auto _ : state) benchmark::DoNotOptimize(oi->excluded(f.t->body, f.t->key));
}
BENCHMARK(BM_Excluded);

// One frozen mesh record made, one weight read from it, and released: per-spot in gradient inputs.
void BM_MeshInfoWeight(benchmark::State &state) {
    Fixture f;
    auto oi = f.table<LWObjectInfo>(LWOBJECTINFO_GLOBAL);
    void *wm = host::services::weightMapHandle("wm");
    LWPntID p = &f.t->body->layers[0].points[2];
    float w = 0;
    for (auto _ : state) {
        LWMeshInfo *m = oi->meshInfo(f.t->body, 1);
        m->pntVSelect(m, wm);
        m->pntVGet(m, p, &w);
        m->destroy(m);
        benchmark::DoNotOptimize(w);
    }
}
BENCHMARK(BM_MeshInfoWeight);

void BM_SurfaceGetFlt(benchmark::State &state) {
    Fixture f;
    auto sf = f.table<LWSurfaceFuncs>(LWSURFACEFUNCS_GLOBAL);
    LWSurfaceID s = f.t->scene.surfaces[0].get();
    for (auto _ : state) benchmark::DoNotOptimize(sf->getFlt(s, "ReflectionSeamAngle"));
}
BENCHMARK(BM_SurfaceGetFlt);

// RGBSpot on the 1024 x 1024 image; argument: footprint in pixels; second: needAA called.
void BM_RGBSpot(benchmark::State &state) {
    Fixture f;
    auto il = f.table<LWImageList>(LWIMAGELIST_GLOBAL);
    LWImageID img = f.t->scene.images[2].get();
    if (state.range(1)) il->needAA(img);
    double spot = state.range(0) / 1024.0, rgb[3], u = 0.1;
    for (auto _ : state) {
        il->RGBSpot(img, u, 0.37, spot, 1, rgb);
        u += 0.0007;
        benchmark::DoNotOptimize(rgb[0]);
    }
}
BENCHMARK(BM_RGBSpot)->Args({1, 0})->Args({16, 0})->Args({16, 1})->Args({300, 1});

// Building the mip chain of the 1024 x 1024 image (registration is left out of the timing).
void BM_NeedAA(benchmark::State &state) {
    for (auto _ : state) {
        state.PauseTiming();
        {
            Fixture f;
            LWImageID img = f.t->scene.images[2].get();
            const LWImageList *il = f.table<LWImageList>(LWIMAGELIST_GLOBAL);
            state.ResumeTiming();
            il->needAA(img);
            state.PauseTiming();
        }
        state.ResumeTiming();
    }
}
BENCHMARK(BM_NeedAA)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
