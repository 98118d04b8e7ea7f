// SPDX-License-Identifier: Apache-2.0
// What the host's lighting costs, side by side in one run: the default scene as it is, with Monte
// Carlo radiosity over one and two bounces, with its key light an area light of 16 and 64 samples,
// and with rays leaving smooth spots from the flat facets. Every variant is rendered inside each
// iteration, one after the other, so that all see the same machine load; the summary gives the
// medians of the processor seconds and their ratio to the scene as it is. Then the terminator of a
// 24-segment ball against a 384-segment one (how far it wanders, in pixels) with rays leaving the
// smooth surface and the flat facets. Figures only: nothing is asserted.
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include "host/cli/default_scene.h"
#include "host/render/renderer.h"
#include "host/scene/loader.h"

namespace {

constexpr int kWidth = 320, kHeight = 240, kSamples = 1;

double processSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

std::unique_ptr<host::scene::Scene> loadText(const std::string &text) {
    host::scene::LoadResult r = host::scene::loadSceneText(text, "lighting bench", ".");
    if (!r.scene) std::fprintf(stderr, "%s\n", r.error.c_str());
    return std::move(r.scene);
}

// The default scene with one change.
std::unique_ptr<host::scene::Scene> defaultWith(const std::function<void(nlohmann::json &)> &edit) {
    nlohmann::json j = nlohmann::json::parse(host::cli::kDefaultSceneJson);
    edit(j);
    return loadText(j.dump());
}

void radiosity(nlohmann::json &j, int bounces) {
    j["render"]["radiosity"] = {{"mode", "monte_carlo"}, {"rays", 16}, {"bounces", bounces}};
}

void areaKey(nlohmann::json &j, int samples) {
    for (nlohmann::json &item : j["items"])
        if (item["name"] == "key") {
            item["light"] = "area";
            item.erase("cone_angle");
            item.erase("cone_edge");
            item["size"] = {1.0, 1.0};
            item["samples"] = samples;
        }
}

struct Variant {
    Variant(const char *n, std::unique_ptr<host::scene::Scene> s, bool smooth = true)
        : name(n), scene(std::move(s)), smoothOrigins(smooth) {}
    const char *name;
    std::unique_ptr<host::scene::Scene> scene;
    bool smoothOrigins;
    std::vector<double> cpu, wall;
    double rays = 0;
};

std::vector<Variant> &variants() {
    static std::vector<Variant> v = [] {
        std::vector<Variant> out;
        out.emplace_back("default scene", defaultWith([](nlohmann::json &) {}));
        out.emplace_back("radiosity, 1 bounce", defaultWith([](nlohmann::json &j) { radiosity(j, 1); }));
        out.emplace_back("radiosity, 2 bounces", defaultWith([](nlohmann::json &j) { radiosity(j, 2); }));
        out.emplace_back("area key, 16 samples", defaultWith([](nlohmann::json &j) { areaKey(j, 16); }));
        out.emplace_back("area key, 64 samples", defaultWith([](nlohmann::json &j) { areaKey(j, 64); }));
        out.emplace_back("rays from the facets", defaultWith([](nlohmann::json &) {}), false);
        return out;
    }();
    return v;
}

bool renderOnce(Variant &v, int threads) {
    host::render::RenderSettings s;
    s.width = kWidth;
    s.height = kHeight;
    s.samples = kSamples;
    s.threads = threads;
    s.smoothOrigins = v.smoothOrigins;
    s.pluginPath = VELMORA_PLUGIN;
    const double cpu0 = processSeconds();
    host::render::RenderOutcome out =
        host::render::renderScene(*v.scene, s, [](const host::render::Frame &) { return std::string(); });
    if (out.status != 0) return false;
    v.cpu.push_back(processSeconds() - cpu0);
    v.wall.push_back(out.stats.seconds);
    v.rays = static_cast<double>(out.stats.rays);
    return true;
}

void BM_LightingSideBySide(benchmark::State &state) {
    const int threads = static_cast<int>(state.range(0));
    for (Variant &v : variants())
        if (!v.scene) {
            state.SkipWithError("a scene did not load");
            return;
        }
    for (auto _ : state) {
        double all = 0;
        for (Variant &v : variants()) {
            if (!renderOnce(v, threads)) {
                state.SkipWithError("render failed");
                return;
            }
            all += v.wall.back();
        }
        state.SetIterationTime(all);
    }
    state.counters["threads"] = threads;
}
BENCHMARK(BM_LightingSideBySide)
    ->ArgName("threads")
    ->Arg(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n == 0 ? 0.0 : (n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]));
}

// The terminator: a ball lit from the side and behind, as in the host's render tests.
std::unique_ptr<host::scene::Scene> ballScene(int segments, bool skin) {
    std::string surface = skin ? R"({"name": "S", "color": [0.8, 0.55, 0.45], "shaders": [{"server": "QZ_velmora",
                                     "settings": {"Ksub": 0, "Ksheen": 0, "Ka": 0}}]})"
                               : R"({"name": "S", "color": [0.8, 0.8, 0.8], "translucency": 0.3})";
    std::string tags =
        skin ? R"(, "tags": ["QZ_lightParam: areashadow=1 areashadow_size=0.05 areashadow_sample=2"])" : "";
    return loadText(R"({"render": {"width": 160, "height": 160}, "ambient": {"intensity": 0}, "surfaces": [)" +
                    surface + R"(], "items": [{"type": "camera", "name": "cam", "position": [0, 0, -4], "fov": 36},
      {"type": "object", "name": "ball", "mesh": {"primitive": "sphere", "segments": )" +
                    std::to_string(segments) + R"(, "rings": )" + std::to_string(segments / 2) +
                    R"(, "surface": "S"}},
      {"type": "light", "name": "key", "position": [6, 3, 3])" +
                    tags + "}]}");
}

host::render::Frame renderBall(const host::scene::Scene &scene, bool skin, bool smooth) {
    host::render::RenderSettings s;
    s.hostShading = !skin;
    s.pluginPath = VELMORA_PLUGIN;
    s.smoothOrigins = smooth;
    host::render::Frame frame;
    host::render::renderScene(scene, s, [&](const host::render::Frame &f) {
        frame = f;
        return std::string();
    });
    return frame;
}

// Per row of the middle band, where the luminance first reaches `level` from the left.
std::vector<double> terminator(const host::render::Frame &f, double level) {
    std::vector<double> at;
    for (int y = f.height / 6; y < f.height * 5 / 6; ++y) {
        double prev = 0, x = std::nan("");
        for (int i = 0; i < f.width; ++i) {
            const float *p = &f.rgb[(static_cast<size_t>(y) * f.width + i) * 3];
            double l = 0.2126 * p[0] + 0.7152 * p[1] + 0.0722 * p[2];
            if (i > 0 && prev < level && l >= level) {
                x = i - 1 + (level - prev) / (l - prev);
                break;
            }
            prev = l;
        }
        at.push_back(x);
    }
    return at;
}

// The spread of the rows' position differences about their mean, in pixels.
double spread(const std::vector<double> &a, const std::vector<double> &b) {
    std::vector<double> d;
    for (size_t i = 0; i < a.size(); ++i)
        if (!std::isnan(a[i]) && !std::isnan(b[i])) d.push_back(a[i] - b[i]);
    double mean = 0, var = 0;
    for (double v : d) mean += v / d.size();
    for (double v : d) var += (v - mean) * (v - mean) / d.size();
    return std::sqrt(var);
}

void printSummary() {
    const std::vector<Variant> &v = variants();
    if (v.empty() || v[0].cpu.empty()) return;
    std::printf(
        "\nthe default scene, %dx%d, %d sample, 2 threads, skin shader: medians of %zu side-by-side runs\n",
        kWidth, kHeight, kSamples, v[0].cpu.size());
    std::printf("%-24s %10s %10s %10s %12s\n", "variant", "cpu s", "wall s", "cpu ratio", "Mrays");
    for (const Variant &x : v) {
        std::vector<double> ratio;
        for (size_t i = 0; i < x.cpu.size() && i < v[0].cpu.size(); ++i) ratio.push_back(x.cpu[i] / v[0].cpu[i]);
        std::printf("%-24s %10.3f %10.3f %10.2f %12.2f\n", x.name, median(x.cpu), median(x.wall), median(ratio),
                    x.rays * 1e-6);
    }
    std::printf("\nterminator of a 24-segment ball against a 384-segment one, 160x160 (pixels it wanders)\n");
    std::printf("%-14s %16s %16s\n", "shading", "smooth surface", "flat facets");
    for (bool skin : {false, true}) {
        auto fine = ballScene(384, skin), coarse = ballScene(24, skin);
        if (!fine || !coarse) return;
        std::vector<double> reference = terminator(renderBall(*fine, skin, true), 0.02);
        double smooth = spread(terminator(renderBall(*coarse, skin, true), 0.02), reference);
        double flat = spread(terminator(renderBall(*coarse, skin, false), 0.02), reference);
        std::printf("%-14s %16.2f %16.2f\n", skin ? "skin shader" : "host shading", smooth, flat);
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
