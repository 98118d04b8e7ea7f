// SPDX-License-Identifier: Apache-2.0
// Occlusion sampling against the bare host ray cast it calls, and the cost of one gradient-input
// value for the inputs that cast no rays.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "base/host_globals.h"
#include "vparam/gradient_inputs.h"
#include "vparam/occlusion.h"

using namespace velmora;

namespace {

// A wall on the +X side: about half of an upward hemisphere hits it.
double wallRayCast(const LWDVector, const LWDVector d) { return d[0] > 0.0 ? 1.0 : -1.0; }

LWRayCastFunc *volatile rayCastSlot = wallRayCast;  // keeps the bare loop from being folded

const int kLevels[2][2] = {{3, 9}, {12, 36}};  // Preview, Very High

void BM_OcclusionFraction(benchmark::State &state) {
    const int *level = kLevels[state.range(0)];
    LWMicropol mp = {};
    mp.rayCast = wallRayCast;
    const double p[3] = {0, 0, 0}, n[3] = {0, 1, 0};
    for (auto _ : state) benchmark::DoNotOptimize(occlusionFraction(&mp, p, n, level[0], level[1], 0));
    state.counters["rays/s"] =
        benchmark::Counter(double(state.iterations()) * level[0] * level[1], benchmark::Counter::kIsRate);
    state.SetLabel(state.range(0) ? "Very High" : "Preview");
}
BENCHMARK(BM_OcclusionFraction)->Arg(0)->Arg(1);

// The same number of rays per iteration through the bare fake, with fixed directions.
void BM_BareRayCast(benchmark::State &state) {
    const int *level = kLevels[state.range(0)];
    const int rays = level[0] * level[1];
    std::vector<double> dirs(3 * rays);
    for (int k = 0; k < rays; ++k) {
        const double a = 6.283185307179586 * k / rays;
        dirs[3 * k] = std::cos(a), dirs[3 * k + 1] = 0.5, dirs[3 * k + 2] = std::sin(a);
    }
    const double p[3] = {0, 0, 0};
    for (auto _ : state) {
        int hits = 0;
        for (int k = 0; k < rays; ++k) hits += rayCastSlot(p, &dirs[3 * k]) > 0.0;
        benchmark::DoNotOptimize(hits);
    }
    state.counters["rays/s"] = benchmark::Counter(double(state.iterations()) * rays, benchmark::Counter::kIsRate);
    state.SetLabel(state.range(0) ? "Very High" : "Preview");
}
BENCHMARK(BM_BareRayCast)->Arg(0)->Arg(1);

// A small scene: the spot's object, a picked object and four lights.
LWItemID const kObjects[2] = {reinterpret_cast<LWItemID>(uintptr_t(0x11)),
                              reinterpret_cast<LWItemID>(uintptr_t(0x12))};
LWItemID const kLights[4] = {
    reinterpret_cast<LWItemID>(uintptr_t(0x21)), reinterpret_cast<LWItemID>(uintptr_t(0x22)),
    reinterpret_cast<LWItemID>(uintptr_t(0x23)), reinterpret_cast<LWItemID>(uintptr_t(0x24))};

LWItemID firstItem(LWItemType type, LWItemID) {
    return type == LWI_OBJECT ? kObjects[0] : type == LWI_LIGHT ? kLights[0] : nullptr;
}
LWItemID nextItem(LWItemID item) {
    for (int i = 0; i < 1; ++i)
        if (item == kObjects[i]) return kObjects[i + 1];
    for (int i = 0; i < 3; ++i)
        if (item == kLights[i]) return kLights[i + 1];
    return nullptr;
}
void itemParam(LWItemID item, LWItemParam param, LWTime, LWDVector vec) {
    const double k = double(reinterpret_cast<uintptr_t>(item) & 0xff);
    vec[0] = k + param, vec[1] = 2.0 * k - param, vec[2] = 0.5 * param;
}
void ambient(LWTime, LWDVector c) { c[0] = c[1] = c[2] = 0.2; }
int lightType(LWItemID light) { return light == kLights[0] ? LWLIGHT_DISTANT : LWLIGHT_POINT; }
unsigned int lightFlags(LWItemID) { return 0; }
int excluded(LWItemID, LWItemID) { return 0; }
int illuminate(LWItemID, const LWDVector position, LWDVector dir, LWDVector color) {
    for (int i = 0; i < 3; ++i) dir[i] = position[i] - 1.0 - i, color[i] = 0.5;
    return 1;
}

struct Scene {
    LWItemInfo items = {};
    LWLightInfo lights = {};
    LWObjectInfo objects = {};
    Scene() {
        items.first = firstItem;
        items.next = nextItem;
        items.param = itemParam;
        lights.ambient = ambient;
        lights.type = lightType;
        lights.flags = lightFlags;
        objects.excluded = excluded;
        shaderGlobals.itemInfo = libraryGlobals.itemInfo = &items;
        libraryGlobals.lightInfo = &lights;
        libraryGlobals.objectInfo = &objects;
    }
};

void BM_GradientEvaluate(benchmark::State &state) {
    static Scene scene;
    const int input = int(state.range(0));
    LWTxtrParamDesc desc = gradientInputs[input - 1];
    desc.itemID = desc.itemType == 1 ? kLights[1] : desc.itemType == 0 ? kObjects[1] : nullptr;
    gParamData data = gradientTime(nullptr, &desc, input, 0.0, 0);
    LWMicropol mp = {};
    const double pos[3] = {0.5, 1.0, -2.0}, norm[3] = {0.2, 1.0, 0.1}, ray[3] = {0.1, -2.0, 0.3};
    for (int i = 0; i < 3; ++i) mp.wPos[i] = pos[i], mp.wNorm[i] = norm[i], mp.ray[i] = ray[i];
    mp.cosine = 0.7;
    mp.objID = kObjects[0];
    mp.illuminate = illuminate;
    for (auto _ : state) benchmark::DoNotOptimize(gradientEvaluate(&desc, input, &mp, data));
    gradientCleanup(&desc, input, data);
    state.SetLabel(gradientInputs[input - 1].name);
}
BENCHMARK(BM_GradientEvaluate)->DenseRange(1, 9)->DenseRange(12, 26);

}  // namespace

BENCHMARK_MAIN();
