// SPDX-License-Identifier: Apache-2.0
// A 4096 x 4096 RGBA frame written as EXR (half and float) and loaded back (header check and
// decoding), through the same calls the renderer makes. The frame is a smooth gradient with a
// little noise, so it compresses about as a render does. Times are processor seconds.
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "host/image/image.h"

namespace {

constexpr int kSide = 4096;

struct Frame {
    std::vector<float> rgb, alpha;
    Frame() : rgb(static_cast<size_t>(kSide) * kSide * 3), alpha(static_cast<size_t>(kSide) * kSide) {
        std::mt19937 random(11);
        std::uniform_real_distribution<float> noise(-0.01f, 0.01f);
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x) {
                size_t i = static_cast<size_t>(y) * kSide + x;
                rgb[i * 3] = 2.0f * x / kSide + noise(random);
                rgb[i * 3 + 1] = 1.0f * y / kSide + noise(random);
                rgb[i * 3 + 2] = 0.5f + noise(random);
                alpha[i] =
                    (x - kSide / 2) * (x - kSide / 2) + (y - kSide / 2) * (y - kSide / 2) < kSide * kSide / 9;
            }
    }
};

const Frame &frame() {
    static const Frame f;
    return f;
}

std::string path(bool exrFloat) {
    return "/tmp/velmora_bench_" + std::to_string(::getpid()) + (exrFloat ? "_float" : "_half") + ".exr";
}

void BM_WriteExr(benchmark::State &state) {
    const bool exrFloat = state.range(0) != 0;
    const Frame &f = frame();
    host::image::OutputOptions options;
    options.exrFloat = exrFloat;
    options.attributes = {host::image::ImageAttribute::ofText("velmora:scene", "bench")};
    for (auto _ : state) {
        std::string why;
        if (!host::image::writeImage(path(exrFloat), kSide, kSide, f.rgb, f.alpha, options, why))
            state.SkipWithError(why.c_str());
    }
    std::FILE *file = std::fopen(path(exrFloat).c_str(), "rb");
    if (file) {
        std::fseek(file, 0, SEEK_END);
        state.counters["MB"] = static_cast<double>(std::ftell(file)) / (1 << 20);
        std::fclose(file);
    }
}
BENCHMARK(BM_WriteExr)->ArgName("float")->Arg(0)->Arg(1)->MeasureProcessCPUTime()->Unit(benchmark::kSecond);

void BM_LoadExr(benchmark::State &state) {
    const bool exrFloat = state.range(0) != 0;
    std::string why;
    if (!host::image::writeImage(path(exrFloat), kSide, kSide, frame().rgb, frame().alpha,
                                 host::image::OutputOptions{exrFloat, {}}, why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    for (auto _ : state) {
        host::image::Image img;
        if (!host::image::loadImage(path(exrFloat), img, why) || !img.decode(why))
            state.SkipWithError(why.c_str());
        benchmark::DoNotOptimize(img.rgb.data());
    }
    std::remove(path(exrFloat).c_str());
}
BENCHMARK(BM_LoadExr)->ArgName("float")->Arg(0)->Arg(1)->MeasureProcessCPUTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
