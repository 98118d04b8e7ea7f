// SPDX-License-Identifier: Apache-2.0
// Look development's response on the default scene (20 changes) and on the showcase (bounced light
// from the irradiance cache, 4 changes): over changes of Ksub through the request handler, the
// wall time from the change's request to its first preview (1/4 resolution, one sample) and to
// the full-quality picture, as medians and worst cases, with the machine's load average and the
// process's processor seconds. Figures only: nothing is asserted.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "host/cli/default_scene.h"
#include "host/scene/loader.h"
#include "host/serve/lookdev.h"

namespace {

using Clock = std::chrono::steady_clock;

double processSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double loadAverage() {
    std::ifstream in("/proc/loadavg");
    double load = 0;
    in >> load;
    return load;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void BM_ChangeToPreviewAndFull(benchmark::State &state) {
    const bool showcase = state.range(0) == 1;
    const int changes = showcase ? 4 : 20;
    host::scene::LoadResult loaded =
        showcase ? host::scene::loadSceneFile(VELMORA_SOURCE_DIR "/examples/showcase.json")
                 : host::scene::loadSceneText(host::cli::kDefaultSceneJson, "default scene", ".");
    if (!loaded.scene) {
        state.SkipWithError(loaded.error.c_str());
        return;
    }
    host::serve::LookdevConfig config;
    config.pluginPath = VELMORA_PLUGIN;
    host::serve::Lookdev lookdev(*loaded.scene, config);
    std::string message;
    if (lookdev.start(message)) {
        state.SkipWithError(message.c_str());
        return;
    }
    std::vector<double> preview, full;
    double cpu = 0, load = 0;
    for (auto _ : state) {
        preview.clear();
        full.clear();
        double cpu0 = processSeconds();
        for (int k = 0; k < changes; ++k) {
            // Each change waits for the previous one's full picture, as a user who looks at it.
            while (lookdev.stageOf(lookdev.generation()) != "full")
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::string body = "{\"name\": \"Ksub\", \"value\": " + std::to_string(0.2 + 0.04 * k) + "}";
            Clock::time_point start = Clock::now();
            host::serve::Reply r = lookdev.handle("POST", "/api/set", {}, body);
            if (r.status != 200) {
                state.SkipWithError(r.body.c_str());
                return;
            }
            uint64_t g = lookdev.generation();
            bool seenPreview = false;
            for (;;) {
                std::string stage = lookdev.stageOf(g);
                double s = std::chrono::duration<double>(Clock::now() - start).count();
                if (!seenPreview && !stage.empty()) {
                    preview.push_back(s);
                    seenPreview = true;
                }
                if (stage == "full") {
                    full.push_back(s);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        }
        cpu = processSeconds() - cpu0;
        load = loadAverage();
    }
    state.counters["preview_median_s"] = median(preview);
    state.counters["preview_max_s"] = *std::max_element(preview.begin(), preview.end());
    state.counters["full_median_s"] = median(full);
    state.counters["full_max_s"] = *std::max_element(full.begin(), full.end());
    state.counters["cpu_s_per_change"] = cpu / changes;
    state.counters["load_avg_1min"] = load;
}
BENCHMARK(BM_ChangeToPreviewAndFull)
    ->ArgName("showcase")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
