// SPDX-License-Identifier: Apache-2.0
// The host services on the per-spot path: envelope values, texture evaluation and variant
// parameter values, on one thread and on several at once.
#include <benchmark/benchmark.h>

#include "host/animation/envelopes.h"
#include "host/texture/texture_system.h"
#include "host/vparm/vparm_service.h"

namespace {

LWEnvelopeID envelope() {
    static LWEnvelopeID e = [] {
        LWEnvelopeID id = host::animation::envelopeFuncs()->create(nullptr, "bench", 0);
        std::vector<host::animation::Key> keys;
        for (int i = 0; i < 32; ++i) keys.push_back({i * 0.5, (i % 3) * 1.0, LWKEY_TCB, 0, 0, 0});
        host::animation::setKeys(id, keys);
        return id;
    }();
    return e;
}

LWVParmID texturedParm() {
    static LWVParmID p = [] {
        const LWVParmFuncs &vp = *host::vparm::vparmFuncs();
        LWVParmID id = vp.create(LWVP_COLOR, LWVPDT_COLOR);
        vp.setup(id, "bench", nullptr, nullptr, nullptr, "bench", nullptr);
        LWTextureID t = host::vparm::setTextured(id, true);
        host::texture::addLayer(t, TLT_PROC);
        LWTLayerID g = host::texture::addLayer(t, TLT_GRAD);
        host::texture::LayerSettings s;
        s.input = "World Y Coordinate";
        s.keys = {{0, {0, 0, 0}, 1}, {1, {1, 0.5, 0.25}, 0.5}, {2, {0, 1, 0}, 1}};
        host::texture::setLayer(g, s);
        return id;
    }();
    return p;
}

void BM_EnvelopeValue(benchmark::State &state) {
    LWEnvelopeID e = envelope();
    const LWEnvelopeFuncs &env = *host::animation::envelopeFuncs();
    double t = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(env.value(e, t));
        t = t > 16 ? 0 : t + 0.013;
    }
}
BENCHMARK(BM_EnvelopeValue)->ThreadRange(1, 2);

void BM_TexturedGetVal(benchmark::State &state) {
    LWVParmID p = texturedParm();
    const LWVParmFuncs &vp = *host::vparm::vparmFuncs();
    LWMicropol mp;
    vp.initMP(&mp);
    double v[3];
    for (auto _ : state) {
        mp.wPos[1] = mp.oPos[1] = mp.wPos[1] > 2 ? 0 : mp.wPos[1] + 0.01;
        benchmark::DoNotOptimize(vp.getVal(p, 0, &mp, v));
    }
}
BENCHMARK(BM_TexturedGetVal)->ThreadRange(1, 2);

void BM_ConstantGetVal(benchmark::State &state) {
    static LWVParmID p = host::vparm::vparmFuncs()->create(LWVP_PERCENT, LWVPDT_PERCENT);
    const LWVParmFuncs &vp = *host::vparm::vparmFuncs();
    double v[3];
    for (auto _ : state) benchmark::DoNotOptimize(vp.getVal(p, 0, nullptr, v));
}
BENCHMARK(BM_ConstantGetVal)->ThreadRange(1, 2);

}  // namespace

BENCHMARK_MAIN();
