// SPDX-License-Identifier: Apache-2.0
// Bounced light side by side in one run: the skin-shaded bunny (key and rim point lights with the
// shader's sampled area shadows, a grey floor, a dim world) with two bounces of radiosity, rendered
// without radiosity, with Monte Carlo gathering and with the irradiance cache, each in turn in
// every round so that all see the same machine load. For each: the median processor seconds and
// their ratios, the RMS error in 8-bit sRGB levels against a converged Monte Carlo picture, and
// the mean colour on the bunny; for the cache, its records and memory. Then adaptive sampling
// against fixed sample counts (both interpolated), by RMS and processor seconds. Figures only:
// nothing is asserted.
//
// Usage: velmora_radiosity_bench [--size WxH] [--samples N] [--reference-samples N] [--rounds N]
//                                [--threads N]
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/render/renderer.h"
#include "host/scene/loader.h"

namespace {

struct Options {
    int width = 160, height = 120, samples = 4, referenceSamples = 64, rounds = 3, threads = 0;
};

double processSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// The bench scene with a radiosity mode ("" for none); `mask` makes the bunny white and all else
// black, unlit, to find its pixels.
std::string sceneText(const std::string &mode, bool mask, const std::string &adaptive = "") {
    std::string radiosity =
        mode.empty() ? "" : R"(, "radiosity": {"mode": ")" + mode + R"(", "bounces": 2, "rays": 32})";
    std::string tags = R"("tags": ["QZ_lightParam: areashadow = 1", "QZ_lightParam: areashadow_size = 0.5",
                                   "QZ_lightParam: areashadow_sample = 6"])";
    std::string skin =
        mask ? R"({"name": "Skin", "color": [1, 1, 1], "luminosity": 1, "diffuse": 0, "specular": 0})"
             : R"({"name": "Skin", "color": [0.86, 0.63, 0.53], "specular": 0.25, "glossiness": 0.4,
                                  "translucency": 0.3, "shaders": [{"server": "QZ_velmora"}]})";
    std::string floor = mask ? R"({"name": "Floor", "color": [0, 0, 0], "diffuse": 0, "specular": 0})"
                             : R"({"name": "Floor", "color": [0.45, 0.43, 0.4]})";
    std::string world =
        mask ? R"("backdrop": {"type": "solid", "color": [0, 0, 0]})"
             : R"("backdrop": {"type": "gradient", "zenith": [0.04, 0.05, 0.08], "sky": [0.2, 0.22, 0.26],
                                   "ground": [0.1, 0.09, 0.08], "nadir": [0.04, 0.04, 0.04]})";
    std::string lights = mask ? ""
                              : R"(,
        {"type": "light", "name": "key", "light": "point", "color": [1.0, 0.95, 0.88], "intensity": 1.1,
         "position": [-1.6, 2.6, -1.8], )" +
                                    tags + R"(},
        {"type": "light", "name": "rim", "light": "point", "color": [0.85, 0.92, 1.0], "intensity": 1.2,
         "falloff": "inverse_square", "range": 1.4, "position": [0.9, 1.6, 1.3], )" +
                                    tags + "}";
    return R"({"render": {"recursion_limit": 4)" + radiosity + adaptive + R"(},
      "ambient": {"intensity": 0}, )" +
           world + R"(,
      "surfaces": [)" +
           skin + ", " + floor + R"(],
      "items": [
        {"type": "camera", "name": "Camera", "position": [0, 0.8, -3.0], "rotation": [0, 8, 0], "fov": 35},
        {"type": "object", "name": "Bunny", "rotation": [180, 0, 0],
         "mesh": {"file": ")" VELMORA_SOURCE_DIR R"(/examples/bunny.obj", "scale": 0.1, "surface": "Skin"}},
        {"type": "object", "name": "Floor", "mesh": {"primitive": "plane", "size": [60, 60], "surface": "Floor"}})" +
           lights + "]}";
}

struct Run {
    std::vector<float> rgb;
    double cpu = 0;
    host::render::RenderStats stats;
};

Run render(const std::string &text, const Options &o, int samples) {
    host::scene::LoadResult r = host::scene::loadSceneText(text, "radiosity bench", ".");
    if (!r.scene) {
        std::fprintf(stderr, "velmora_radiosity_bench: %s\n", r.error.c_str());
        std::exit(1);
    }
    host::render::RenderSettings s;
    s.width = o.width;
    s.height = o.height;
    s.samples = samples;
    s.threads = o.threads;
    s.pluginPath = VELMORA_PLUGIN;
    Run run;
    double start = processSeconds();
    host::render::RenderOutcome out = host::render::renderScene(*r.scene, s, [&](const host::render::Frame &f) {
        run.rgb = f.rgb;
        return std::string();
    });
    run.cpu = processSeconds() - start;
    run.stats = out.stats;
    if (out.status) {
        std::fprintf(stderr, "velmora_radiosity_bench: %s\n", out.message.c_str());
        std::exit(1);
    }
    return run;
}

double srgbLevel(double x) {
    x = std::min(1.0, std::max(0.0, x));
    return 255.0 * (x <= 0.0031308 ? 12.92 * x : 1.055 * std::pow(x, 1 / 2.4) - 0.055);
}

double rms(const std::vector<float> &a, const std::vector<float> &b) {
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        double d = srgbLevel(a[i]) - srgbLevel(b[i]);
        sum += d * d;
    }
    return std::sqrt(sum / static_cast<double>(a.size()));
}

std::string meanOn(const std::vector<float> &rgb, const std::vector<bool> &mask) {
    double sum[3] = {0, 0, 0};
    size_t n = 0;
    for (size_t i = 0; i < mask.size(); ++i)
        if (mask[i]) {
            for (int c = 0; c < 3; ++c) sum[c] += rgb[i * 3 + c];
            ++n;
        }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3f/%.3f/%.3f", sum[0] / n, sum[1] / n, sum[2] / n);
    return buf;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

bool parse(int argc, char **argv, Options &o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const char *v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!v) return false;
        if (a == "--size" && std::sscanf(v, "%dx%d", &o.width, &o.height) == 2) {
        } else if (a == "--samples") {
            o.samples = std::atoi(v);
        } else if (a == "--reference-samples") {
            o.referenceSamples = std::atoi(v);
        } else if (a == "--rounds") {
            o.rounds = std::atoi(v);
        } else if (a == "--threads") {
            o.threads = std::atoi(v);
        } else {
            return false;
        }
        ++i;
    }
    return o.width > 0 && o.height > 0 && o.samples > 0 && o.referenceSamples > 0 && o.rounds > 0 &&
           o.threads >= 0;
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: velmora_radiosity_bench [--size WxH] [--samples N] [--reference-samples N] "
                     "[--rounds N] [--threads N]\n");
        return 2;
    }
    std::printf("bunny, two bounces, %dx%d, %d samples; reference: Monte Carlo at %d samples\n", o.width, o.height,
                o.samples, o.referenceSamples);
    Run reference = render(sceneText("monte_carlo", false), o, o.referenceSamples);
    Run maskRun = render(sceneText("", true), o, 1);
    std::vector<bool> mask(maskRun.rgb.size() / 3);
    for (size_t i = 0; i < mask.size(); ++i) mask[i] = maskRun.rgb[i * 3] > 0.5f;
    std::printf("reference: %.1f CPU s, mean on the bunny %s\n\n", reference.cpu,
                meanOn(reference.rgb, mask).c_str());

    const char *modes[] = {"", "monte_carlo", "interpolated"};
    const char *names[] = {"no radiosity", "Monte Carlo", "interpolated"};
    std::vector<double> cpu[3];
    Run last[3];
    for (int round = 0; round < o.rounds; ++round)
        for (int m = 0; m < 3; ++m) {
            last[m] = render(sceneText(modes[m], false), o, o.samples);
            cpu[m].push_back(last[m].cpu);
        }
    double off = median(cpu[0]), mc = median(cpu[1]);
    std::printf("%-14s %9s %8s %10s %8s %20s\n", "mode", "CPU s", "vs MC", "vs none", "RMS", "mean on the bunny");
    for (int m = 0; m < 3; ++m) {
        double c = median(cpu[m]);
        std::printf("%-14s %9.2f %7.2fx %9.2fx %8.2f %20s\n", names[m], c, mc / c, c / off,
                    rms(last[m].rgb, reference.rgb), meanOn(last[m].rgb, mask).c_str());
    }
    const host::render::RenderStats &st = last[2].stats;
    std::printf(
        "cache: %llu records, %.2f MB, filled in %.2f s of %.2f s; %llu spots outside it gathered afresh\n\n",
        static_cast<unsigned long long>(st.cacheRecords), st.cacheBytes / 1048576.0, st.cacheSeconds, st.seconds,
        static_cast<unsigned long long>(st.cacheMisses));

    // Adaptive sampling against fixed counts, interpolated radiosity in both.
    std::printf("%-34s %9s %8s %14s\n", "camera samples (interpolated)", "CPU s", "RMS", "samples/pixel");
    struct Point {
        double cpu, rms;
    };
    std::vector<Point> fixed;
    for (int n : {1, 2, 4, 8, 16}) {
        Run r = render(sceneText("interpolated", false), o, n);
        fixed.push_back({r.cpu, rms(r.rgb, reference.rgb)});
        std::printf("%-34s %9.2f %8.2f %14d\n", ("fixed " + std::to_string(n)).c_str(), r.cpu, fixed.back().rms,
                    n);
    }
    for (double threshold : {0.004, 0.002, 0.001}) {
        char adaptive[128];
        std::snprintf(adaptive, sizeof adaptive,
                      R"(, "adaptive": {"threshold": %g, "min_samples": 4, "max_samples": 16})", threshold);
        Run r = render(sceneText("interpolated", false, adaptive), o, 16);
        double e = rms(r.rgb, reference.rgb);
        // The fixed count's processor time at the same RMS, interpolated between the counts around it.
        double same = 0;
        for (size_t i = 0; i + 1 < fixed.size(); ++i)
            if (fixed[i].rms >= e && e >= fixed[i + 1].rms) {
                double t = (fixed[i].rms - e) / std::max(1e-9, fixed[i].rms - fixed[i + 1].rms);
                same = fixed[i].cpu + t * (fixed[i + 1].cpu - fixed[i].cpu);
            }
        char label[64], line[64] = "";
        std::snprintf(label, sizeof label, "adaptive %g (4..16)", threshold);
        if (same > 0) std::snprintf(line, sizeof line, "   fixed at equal RMS: %.2fx its CPU", same / r.cpu);
        std::printf("%-34s %9.2f %8.2f %14.2f%s\n", label, r.cpu, e,
                    static_cast<double>(r.stats.samples) / (o.width * o.height), line);
    }
    return 0;
}
