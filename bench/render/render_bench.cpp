// SPDX-License-Identifier: Apache-2.0
// The default scene at 640x480 with 4 samples, rendered with the skin shader and with the host's
// own shading one after the other inside each iteration, so that both see the same machine load.
// Each benchmark reports the tile-loop seconds of both, their rays per second and the ratio; a
// summary per thread count follows the benchmark table. Figures only: nothing is asserted.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "host/cli/default_scene.h"
#include "host/render/renderer.h"
#include "host/scene/loader.h"

namespace {

constexpr int kWidth = 640, kHeight = 480, kSamples = 4;

const host::scene::Scene &defaultScene() {
    static std::unique_ptr<host::scene::Scene> scene =
        host::scene::loadSceneText(host::cli::kDefaultSceneJson, "default scene", ".").scene;
    return *scene;
}

// One render's tile-loop seconds, the process's processor seconds over the whole render and
// its rays; seconds is negative when the render failed. On a shared machine the processor time
// shows the cost when wall time mostly shows the load.
struct Figures {
    double seconds = -1;
    double cpu = 0;
    double rays = 0;
};

double processSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

Figures render(int threads, bool hostShading) {
    host::render::RenderSettings s;
    s.width = kWidth;
    s.height = kHeight;
    s.samples = kSamples;
    s.threads = threads;
    s.hostShading = hostShading;
    s.pluginPath = VELMORA_PLUGIN;
    const double cpu0 = processSeconds();
    host::render::RenderOutcome out =
        host::render::renderScene(defaultScene(), s, [](const host::render::Frame &) { return std::string(); });
    if (out.status != 0) return {};
    return {out.stats.seconds, processSeconds() - cpu0, static_cast<double>(out.stats.rays)};
}

// Every side-by-side pair, by thread count, for the summary.
struct Pair {
    Figures skin, host;
};
std::map<int, std::vector<Pair>> &pairs() {
    static std::map<int, std::vector<Pair>> p;
    return p;
}

int allCores() { return static_cast<int>(std::max(1u, std::thread::hardware_concurrency())); }

void BM_SkinAgainstHostShading(benchmark::State &state) {
    const int threads = state.range(0) > 0 ? static_cast<int>(state.range(0)) : allCores();
    double skinSeconds = 0, hostSeconds = 0, skinCpu = 0, hostCpu = 0, skinRays = 0, hostRays = 0;
    for (auto _ : state) {
        Pair p{render(threads, false), render(threads, true)};
        if (p.skin.seconds <= 0 || p.host.seconds <= 0) {
            state.SkipWithError("render failed");
            return;
        }
        state.SetIterationTime(p.skin.seconds);
        skinSeconds += p.skin.seconds;
        hostSeconds += p.host.seconds;
        skinCpu += p.skin.cpu;
        hostCpu += p.host.cpu;
        skinRays += p.skin.rays;
        hostRays += p.host.rays;
        pairs()[threads].push_back(p);
    }
    state.counters["threads"] = threads;
    state.counters["skin_s"] = benchmark::Counter(skinSeconds, benchmark::Counter::kAvgIterations);
    state.counters["host_s"] = benchmark::Counter(hostSeconds, benchmark::Counter::kAvgIterations);
    state.counters["skin_rays/s"] = skinRays / skinSeconds;
    state.counters["host_rays/s"] = hostRays / hostSeconds;
    state.counters["ratio"] = skinSeconds / hostSeconds;
    state.counters["cpu_ratio"] = skinCpu / hostCpu;
}
BENCHMARK(BM_SkinAgainstHostShading)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(0)  // every core
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n == 0 ? 0.0 : (n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]));
}

void printSummary() {
    std::printf("\n%dx%d, %d samples: medians over the side-by-side renders\n", kWidth, kHeight, kSamples);
    std::printf("%8s %10s %10s %14s %14s %7s %11s %11s %9s\n", "threads", "skin s", "host s", "skin Mrays/s",
                "host Mrays/s", "ratio", "skin cpu s", "host cpu s", "cpu ratio");
    for (const auto &entry : pairs()) {
        std::vector<double> skin, host, skinRate, hostRate, ratio, skinCpu, hostCpu, cpuRatio;
        for (const Pair &p : entry.second) {
            skin.push_back(p.skin.seconds);
            host.push_back(p.host.seconds);
            skinRate.push_back(p.skin.rays / p.skin.seconds * 1e-6);
            hostRate.push_back(p.host.rays / p.host.seconds * 1e-6);
            ratio.push_back(p.skin.seconds / p.host.seconds);
            skinCpu.push_back(p.skin.cpu);
            hostCpu.push_back(p.host.cpu);
            cpuRatio.push_back(p.skin.cpu / p.host.cpu);
        }
        std::printf("%8d %10.3f %10.3f %14.2f %14.2f %7.2f %11.3f %11.3f %9.2f\n", entry.first, median(skin),
                    median(host), median(skinRate), median(hostRate), median(ratio), median(skinCpu),
                    median(hostCpu), median(cpuRatio));
    }
    auto one = pairs().find(1), all = pairs().find(allCores());
    if (one != pairs().end() && all != pairs().end() && all->first != 1) {
        std::vector<double> s1, sN, h1, hN;
        for (const Pair &p : one->second) s1.push_back(p.skin.seconds), h1.push_back(p.host.seconds);
        for (const Pair &p : all->second) sN.push_back(p.skin.seconds), hN.push_back(p.host.seconds);
        std::printf("speed-up on %d threads: skin %.2fx, host %.2fx\n", all->first, median(s1) / median(sN),
                    median(h1) / median(hN));
    }
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printSummary();
    return 0;
}
