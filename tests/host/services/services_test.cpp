// SPDX-License-Identifier: Apache-2.0
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/scene/loader.h"
#include "host/services/global_lookup.h"
#include "host/services/render_services.h"

namespace {

TEST(RenderMemory, FindCreateAndUniqueNames) {
    host::services::resetRenderMemory();
    host::services::publishRenderMemory();
    auto *pool = static_cast<const LWGlobalPool *>(host::services::globalLookup(LWGLOBALPOOL_RENDER_GLOBAL, 0));
    ASSERT_EQ(pool, host::services::renderMemory());
    EXPECT_EQ(pool->find("a"), nullptr);
    LWMemChunk a = pool->create("a", 16);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(static_cast<unsigned char *>(a)[15], 0) << "chunks start zeroed";
    EXPECT_EQ(pool->find("a"), a);
    EXPECT_EQ(pool->create("a", 16), nullptr) << "a name is unique in the pool";
    EXPECT_EQ(pool->create("b", 0), nullptr);
    EXPECT_EQ(pool->create(nullptr, 4), nullptr);
    LWMemChunk b = pool->create("b", 8);
    EXPECT_EQ(pool->first(), a);
    EXPECT_EQ(pool->next(a), b);
    EXPECT_EQ(pool->next(b), nullptr);
    EXPECT_STREQ(pool->ID(b), "b");
    EXPECT_EQ(pool->size(b), 8);
    host::services::resetRenderMemory();
    EXPECT_EQ(pool->find("a"), nullptr);
}

TEST(RenderMemory, ConcurrentFindOrCreateGivesOneChunkPerName) {
    host::services::resetRenderMemory();
    const LWGlobalPool *pool = host::services::renderMemory();
    const int threads = 8, names = 64;
    std::vector<std::vector<LWMemChunk>> seen(threads, std::vector<LWMemChunk>(names));
    std::vector<std::thread> pool_threads;
    for (int t = 0; t < threads; ++t)
        pool_threads.emplace_back([&, t] {
            for (int n = 0; n < names; ++n) {
                std::string name = "block " + std::to_string(n);
                LWMemChunk c = pool->find(name.c_str());
                if (!c) c = pool->create(name.c_str(), 4);
                if (!c) c = pool->find(name.c_str());  // another thread created it meanwhile
                seen[t][n] = c;
            }
        });
    for (std::thread &t : pool_threads) t.join();
    for (int n = 0; n < names; ++n)
        for (int t = 0; t < threads; ++t) {
            ASSERT_NE(seen[t][n], nullptr);
            EXPECT_EQ(seen[t][n], seen[0][n]) << "name " << n << " thread " << t;
        }
    host::services::resetRenderMemory();
}

TEST(SceneInfo, RenderOptionsAndSizes) {
    host::scene::LoadResult r = host::scene::loadSceneText(
        R"({"name": "n", "render": {"reflection": false, "frames": [3, 9], "fps": 24, "recursion_limit": 5},
            "items": [{"type": "camera", "name": "c"},
                      {"type": "object", "name": "o", "mesh": {"primitive": "box"}}]})",
        "info.json", ".");
    ASSERT_TRUE(r.scene) << r.error;
    host::services::publishSceneInfo(*r.scene, 320, 200, 4);
    auto *info = static_cast<const LWSceneInfo *>(host::services::globalLookup(LWSCENEINFO_GLOBAL, 0));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->renderOpts, LWROPT_SHADOWTRACE | LWROPT_REFRACTTRACE);
    EXPECT_EQ(info->frameStart, 3);
    EXPECT_EQ(info->frameEnd, 9);
    EXPECT_EQ(info->framesPerSecond, 24);
    EXPECT_EQ(info->frameWidth, 320);
    EXPECT_EQ(info->frameHeight, 200);
    EXPECT_EQ(info->maxSamplesPerPixel, 4);
    EXPECT_EQ(info->recursionDepth, 5);
    EXPECT_EQ(info->numPoints, 8);
    EXPECT_EQ(info->numPolygons, 6);
    EXPECT_STREQ(info->filename, "info.json");
}

}  // namespace
