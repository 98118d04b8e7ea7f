// SPDX-License-Identifier: Apache-2.0
// Render threads using the gateway, the light tags and the item caches while the main thread
// rebuilds the snapshots, as during a render. Run under ThreadSanitizer in CI.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "base/host_globals.h"
#include "base/ray_state.h"
#include "lights/item_cache.h"
#include "lights/light_tags.h"
#include "shading/gateway.h"
#include "tests/support/fake_host.h"

using namespace velmora;
using testhost::id;

namespace {

const LWItemID kTagged = id(0x400), kPlain = id(0x401);
thread_local int refusedNested = 0;

// The host's illuminate, fully shadowed; like a shader evaluated inside the shadow computation,
// it looks for the thread's flag by name and asks the gateway again, which must refuse.
int hostIlluminate(LWItemID light, const LWDVector position, LWDVector dir, LWDVector color) {
    int *flag = static_cast<int *>(rayStateBlock(kIsShadowRayKey, 4));
    double d[3], c[3];
    if (flag && *flag == 1 && illuminationGateway(flag, nullptr, light, position, d, c) == 0) ++refusedNested;
    dir[0] = dir[1] = dir[2] = 0.0;
    color[0] = color[1] = color[2] = 0.0;
    return 0;
}
double noHit(const LWDVector, const LWDVector) { return -1.0; }

}  // namespace

TEST(LightsConcurrency, RenderThreadsReadWhileTheMainThreadRebuilds) {
    testhost::FakeHost host;
    host.setShaderGlobals();
    for (uintptr_t n : {0x400, 0x401}) {
        testhost::FakeItem &light = host.add(n, LWI_LIGHT);
        light.set(LWIP_W_POSITION, 0, 10, 0);
        for (int k = 0; k < 3; ++k) light.slope[LWIP_W_POSITION - 1][k] = 1.0;  // (t, 10 + t, t)
        light.shadowColor[2] = 1.0;
    }
    host.find(kTagged)->tags = {"QZ_lightParam: areashadow = 1", "QZ_lightParam: areashadow_sample = 2"};
    lightTagsClear();
    itemParamsNewTime(0, 0);
    ItemParamCache *texture = itemParamCacheCreate();
    itemParamCacheRefresh(texture, 0, 0);

    const int kThreads = 4, kSpots = 400;
    std::atomic<bool> go{false};
    std::atomic<int> failures{0}, refused{0}, finished{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            while (!go) std::this_thread::yield();
            LWShaderAccess sa = {};
            sa.sx = t;
            sa.sy = 3;
            sa.illuminate = hostIlluminate;
            sa.rayCast = noHit;
            for (int i = 0; i < kSpots; ++i) {
                rayStateBlock(kIsRayShadeKey, 4);
                int *flag = static_cast<int *>(rayStateBlock(kIsShadowRayKey, 4));
                const double p[3] = {0.5 * t, 0, i * 0.01};
                double dir[3], color[3];
                // Area shadows, nothing blocked: the full unshadowed colour, no shadow colour added.
                if (illuminationGateway(flag, &sa, kTagged, p, dir, color) != 1 || color[0] != 1.0 ||
                    color[2] != 1.0)
                    ++failures;
                // The host's fully shadowed light, turned blue by its shadow colour.
                if (illuminationGateway(flag, &sa, kPlain, p, dir, color) != 1 || color[0] != 0.0 ||
                    std::fabs(color[2] - 1.0) > 1e-15)
                    ++failures;
                if (!flag || *flag != 0) ++failures;
                const LightTagRecord *tags = lightTagsGet(kTagged);
                if (!tags || tags->areashadow != 1 || tags->areashadow_sample != 2) ++failures;
                // Each read sees one whole snapshot: x and z of (t, 10 + t, t) agree.
                double shared[3] = {-1, -1, -1}, own[3] = {-1, -1, -1};
                itemParamGet(kTagged, LWIP_W_POSITION, shared);
                itemParamCacheGet(texture, kPlain, LWIP_W_POSITION, own);
                if (shared[0] != shared[2] || shared[1] != 10 + shared[0] || own[0] != own[2]) ++failures;
            }
            refused += refusedNested;
            ++finished;
        });
    }
    go = true;
    // New frames keep coming for as long as the render threads shade.
    int frame = 0;
    do {
        ++frame;
        itemParamsNewTime(frame / 24.0, frame);
        itemParamCacheRefresh(texture, frame / 12.0, frame);
    } while (finished < kThreads);
    for (std::thread &w : workers) w.join();

    EXPECT_EQ(failures.load(), 0);
    EXPECT_GT(frame, 1);
    EXPECT_EQ(refused.load(), kThreads * kSpots);  // one nested query per plain-light call
    itemParamCacheDestroy(texture);
    lightTagsClear();
    host.items.clear();
    itemParamsNewTime(0, 0);
    resetHostGlobals();
}
