// SPDX-License-Identifier: Apache-2.0
// Per-call cost of the module's light model and of the per-light illumination entry, on the
// light tests' fake scene (host calls are trivial, so the figures are the module's own cost).
#include <benchmark/benchmark.h>

#include <string>

#include "base/host_globals.h"
#include "lights/item_cache.h"
#include "lights/light_model.h"
#include "lights/light_tags.h"
#include "tests/support/fake_host.h"

using namespace velmora;

namespace {

const LWItemID kLight = testhost::id(0x500);
testhost::FakeHost host;

testhost::FakeItem &setUpLight(int type) {
    host.setShaderGlobals();
    host.keepRecords = false;
    testhost::FakeItem &light = host.add(0x500, LWI_LIGHT);
    light.lightType = type;
    light.falloff = LWLFALL_INV_DIST_2;
    light.range = 5.0;
    light.set(LWIP_W_POSITION, 0, 10, 0);
    light.set(LWIP_FORWARD, 0, -1, 0);
    itemParamsNewTime(0, 0);
    lightTagsClear();
    return light;
}

void tearDown() {
    lightTagsClear();
    host.items.clear();
    itemParamsNewTime(0, 0);
    resetHostGlobals();
}

int lit(LWItemID, const LWDVector, LWDVector dir, LWDVector color) {
    dir[0] = dir[1] = dir[2] = color[0] = color[1] = color[2] = 0.5;
    return 1;
}
double halfBlocked(const LWDVector, const LWDVector d) { return d[0] < 0 ? 1.0 : -1.0; }

void BM_LightUnshadowed(benchmark::State &state) {
    setUpLight(static_cast<int>(state.range(0)));
    double p[3] = {0.25, 0, 0.5}, dir[3], color[3];
    for (auto _ : state) {
        lightUnshadowed(kLight, p, dir, color);
        benchmark::DoNotOptimize(color);
        p[2] += 1e-9;
    }
    tearDown();
}
BENCHMARK(BM_LightUnshadowed)->ArgName("type")->Arg(LWLIGHT_DISTANT)->Arg(LWLIGHT_POINT)->Arg(LWLIGHT_SPOT);

// Arg 0: an untagged light, handed to the host; otherwise the samples per side of area shadows.
void BM_IlluminateTagged(benchmark::State &state) {
    testhost::FakeItem &light = setUpLight(LWLIGHT_POINT);
    if (state.range(0) > 0)
        light.tags = {"QZ_lightParam: areashadow = 1",
                      "QZ_lightParam: areashadow_sample = " + std::to_string(state.range(0))};
    LWShaderAccess sa = {};
    sa.sx = 100;
    sa.sy = 60;
    sa.illuminate = lit;
    sa.rayCast = halfBlocked;
    double p[3] = {0.25, 0, 0.5}, dir[3], color[3];
    for (auto _ : state) {
        benchmark::DoNotOptimize(illuminateTagged(&sa, kLight, p, dir, color));
        benchmark::DoNotOptimize(color);
    }
    tearDown();
}
BENCHMARK(BM_IlluminateTagged)->ArgName("samples")->Arg(0)->Arg(2)->Arg(6);

}  // namespace

BENCHMARK_MAIN();
