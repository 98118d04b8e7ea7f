// Host benchmarks on the built-in default scene:
//  - rayCast through the access record's function against rtcIntersect1 on the same rays;
//  - a whole frame (host shading) on 1 thread and on every core;
//  - the default scene at 640x480 with 4 samples, reporting rays per second.
#include <embree3/rtcore.h>

#include <cmath>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "host/cli/default_scene.h"
#include "host/render/renderer.h"
#include "host/render/shading.h"
#include "host/scene/loader.h"

namespace {

struct World {
    std::unique_ptr<host::Scene> scene;
    host::Tracer tracer;
    host::RenderContext rc;
    std::vector<double> rays;  // origin and unit direction, six doubles a ray

    World() {
        scene = host::loadSceneText(host::kDefaultSceneJson, "default", ".").scene;
        std::string why;
        tracer.build(*scene, 0.0, why);
        host::prepareContext(rc, *scene, tracer, 0.0, 640, 480);
        // Rays from points around the head towards random points near it: most hit something.
        std::mt19937 gen(7);
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        for (int i = 0; i < 4096; ++i) {
            double o[3] = {u(gen) * 4, 1 + u(gen) * 2 + 1.5, u(gen) * 4};
            double t[3] = {u(gen) * 0.8, 1 + u(gen) * 0.8, u(gen) * 0.8};
            double d[3] = {t[0] - o[0], t[1] - o[1], t[2] - o[2]};
            double l = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
            rays.insert(rays.end(), {o[0], o[1], o[2], d[0] / l, d[1] / l, d[2] / l});
        }
    }
};

World &world() {
    static World w;
    return w;
}

void BM_RayCastThroughAccess(benchmark::State &state) {
    World &w = world();
    host::ThreadState ts;
    ts.rc = &w.rc;
    host::bindThread(&ts);
    LWShaderAccess sa{};
    sa.rayCast = &host::hostRayCast;
    size_t n = w.rays.size() / 6, i = 0;
    double sum = 0;
    for (auto _ : state) {
        const double *r = &w.rays[(i++ % n) * 6];
        sum += sa.rayCast(r, r + 3);
    }
    benchmark::DoNotOptimize(sum);
    host::bindThread(nullptr);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RayCastThroughAccess);

void BM_RayCastRawEmbree(benchmark::State &state) {
    World &w = world();
    RTCScene scene = static_cast<RTCScene>(w.tracer.rawScene());
    size_t n = w.rays.size() / 6, i = 0;
    double sum = 0;
    for (auto _ : state) {
        const double *r = &w.rays[(i++ % n) * 6];
        RTCIntersectContext context;
        rtcInitIntersectContext(&context);
        RTCRayHit rh;
        rh.ray.org_x = static_cast<float>(r[0]);
        rh.ray.org_y = static_cast<float>(r[1]);
        rh.ray.org_z = static_cast<float>(r[2]);
        rh.ray.dir_x = static_cast<float>(r[3]);
        rh.ray.dir_y = static_cast<float>(r[4]);
        rh.ray.dir_z = static_cast<float>(r[5]);
        rh.ray.tnear = static_cast<float>(w.rc.eps);
        rh.ray.tfar = INFINITY;
        rh.ray.mask = 0xFFFFFFFFu;
        rh.ray.flags = 0;
        rh.ray.time = 0;
        rh.hit.geomID = RTC_INVALID_GEOMETRY_ID;
        rtcIntersect1(scene, &context, &rh);
        sum += rh.hit.geomID == RTC_INVALID_GEOMETRY_ID ? -1.0 : rh.ray.tfar;
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RayCastRawEmbree);

// One frame of the default scene under host shading; args: width, height, samples, threads.
void BM_RenderDefaultScene(benchmark::State &state) {
    World &w = world();
    host::RenderSettings s;
    s.width = static_cast<int>(state.range(0));
    s.height = static_cast<int>(state.range(1));
    s.samples = static_cast<int>(state.range(2));
    s.threads = static_cast<int>(state.range(3));
    s.hostShading = true;
    uint64_t rays = 0;
    double seconds = 0;
    for (auto _ : state) {
        host::RenderOutcome out =
            host::renderScene(*w.scene, s, [](const host::Frame &) { return std::string(); });
        rays += out.stats.rays;
        seconds += out.stats.seconds;
    }
    state.counters["rays_per_s"] = benchmark::Counter(static_cast<double>(rays) / seconds);
    state.counters["s_per_frame"] = benchmark::Counter(seconds / state.iterations());
}
const int kCores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
BENCHMARK(BM_RenderDefaultScene)
    ->Args({320, 240, 1, 1})
    ->Args({320, 240, 1, kCores})
    ->Args({640, 480, 4, kCores})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
