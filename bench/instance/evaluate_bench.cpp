// SPDX-License-Identifier: Apache-2.0
// Cost of one spot's evaluation with 1, 3 and 8 lights: the module's whole path (ray state,
// parameters, gateway, light model, tags, item cache, environment) against a fake host that
// answers from prepared values and records nothing.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>

#include "base/host_globals.h"
#include "instance/skin_instance.h"
#include "shading/evaluate.h"
#include "tests/support/fake_host.h"
#include "vparam/vparam.h"

using namespace velmora;

namespace {

void setParm(testhost::FakeHost &host, Vparam *vp, double v) {
    double *value = host.parm(vp->parameter)->value;
    value[0] = value[1] = value[2] = v;
}

// lights: how many; trace: sheen tracing on, with every light casting shadows.
void evaluateSpot(benchmark::State &state, bool trace) {
    const int lights = static_cast<int>(state.range(0));
    testhost::FakeHost host;
    for (int i = 0; i < lights; ++i) {
        testhost::FakeItem &l = host.addLight(i % 2 ? "key" : "rim");
        const double a = 0.7 * i;  // spread round the spot, some in front, some behind
        l.aim(-std::sin(a), -std::cos(a) * 0.3, i % 3 == 2 ? 0.6 : -0.8);
        l.lightType = i % 2 ? LWLIGHT_POINT : LWLIGHT_DISTANT;
        l.place(4.0 * std::sin(a), 0.0, 4.0);
        l.shadowType = trace ? LWSHAD_RAYTRACE : LWSHAD_OFF;
        l.exitColor[0] = 0.5;
    }
    host.ambient[0] = host.ambient[1] = host.ambient[2] = 0.1;
    host.rayCastDistance = 0.3;
    host.activate();
    SkinInstance *skin = static_cast<SkinInstance *>(skinCreate(nullptr, nullptr, nullptr));
    setParm(host, skin->diff_rough, 0.3);
    skin->sheen_trace = trace;
    std::strcpy(skin->sheen_prefix, "rim");

    LWShaderAccess sa;
    std::memset(&sa, 0, sizeof sa);
    host.fillAccess(sa);
    sa.wNorm[0] = 0.1, sa.wNorm[2] = 1.0;
    sa.gNorm[2] = 1.0;
    sa.raySource[0] = -2.0, sa.raySource[2] = 3.0;
    sa.color[0] = 0.8, sa.color[1] = 0.6, sa.color[2] = 0.5;
    sa.diffuse = 0.8;
    sa.specular = 0.3;
    sa.roughness = 0.4;
    sa.translucency = 0.2;
    sa.eta = 1.0;

    skinRenderInit(skin, LWINIT_RENDER);
    skinNewTime(skin, 1, 0.0);
    host.keepRecords = false;
    for (auto _ : state) {
        evaluate(skin, &sa);
        benchmark::DoNotOptimize(sa.replacement_color[0]);
    }
    state.SetItemsProcessed(state.iterations());
    skinRenderCleanup(skin);
    skinDestroy(skin);
    resetHostGlobals();
}

void BM_EvaluateSpot(benchmark::State &state) { evaluateSpot(state, false); }
void BM_EvaluateSpotSheenTrace(benchmark::State &state) { evaluateSpot(state, true); }

BENCHMARK(BM_EvaluateSpot)->Arg(1)->Arg(3)->Arg(8);
BENCHMARK(BM_EvaluateSpotSheenTrace)->Arg(1)->Arg(3)->Arg(8);

}  // namespace

BENCHMARK_MAIN();
