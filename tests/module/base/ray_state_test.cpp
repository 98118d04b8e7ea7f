// SPDX-License-Identifier: Apache-2.0
// The per-thread ray-state blocks: their names, their memory from the host's render pool, one
// per thread.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include "base/host_globals.h"
#include "base/platform.h"
#include "base/ray_state.h"
#include "tests/support/fake_host.h"

using namespace velmora;

class RayState : public ::testing::Test {
protected:
    testhost::FakeHost host;
    void SetUp() override { host.setShaderGlobals(); }
    void TearDown() override { resetHostGlobals(); }
};

TEST_F(RayState, BlockNamesCarryTheThreadIdInEightHexDigits) {
    char name[kRayStateNameSize];
    struct Case {
        uint32_t id;
        const char *want;
    } cases[] = {{0x1a2b, "QZ's Lumakit:IsShadowRay 00001a2b"},
                 {0, "QZ's Lumakit:IsShadowRay 00000000"},
                 {0xdeadbeef, "QZ's Lumakit:IsShadowRay deadbeef"}};
    for (const Case &c : cases) {
        ASSERT_TRUE(rayStateBlockName(name, kIsShadowRayKey, c.id));
        EXPECT_STREQ(name, c.want);
    }
    // Key and id must fit the 512-byte name.
    const std::string longest(kRayStateNameSize - 10, 'k'), tooLong(kRayStateNameSize - 9, 'k');
    EXPECT_TRUE(rayStateBlockName(name, longest.c_str(), 1));
    EXPECT_FALSE(rayStateBlockName(name, tooLong.c_str(), 1));
    EXPECT_EQ(rayStateBlock(tooLong.c_str(), 4), nullptr);
}

TEST_F(RayState, FirstCallCreatesAZeroedBlockAndLaterCallsFindIt) {
    int *flag = static_cast<int *>(rayStateBlock(kIsShadowRayKey, 4));
    ASSERT_NE(flag, nullptr);
    EXPECT_EQ(*flag, 0);  // the pool hands out non-zero bytes
    char want[64];
    std::snprintf(want, sizeof want, "QZ's Lumakit:IsShadowRay %08x", static_cast<unsigned>(currentThreadId()));
    ASSERT_EQ(host.pool.created.size(), 1u);
    EXPECT_EQ(host.pool.created[0], want);

    *flag = 1;
    EXPECT_EQ(rayStateBlock(kIsShadowRayKey, 4), flag);
    EXPECT_EQ(*flag, 1);  // a found block is not cleared
    EXPECT_EQ(host.pool.created.size(), 1u);

    int *shade = static_cast<int *>(rayStateBlock(kIsRayShadeKey, 4));
    ASSERT_NE(shade, nullptr);
    EXPECT_NE(shade, flag);
    EXPECT_EQ(*shade, 0);
}

TEST_F(RayState, EachThreadHasItsOwnBlock) {
    int *mine = static_cast<int *>(rayStateBlock(kIsShadowRayKey, 4));
    int *theirs = nullptr, *theirsAgain = nullptr;
    std::thread other([&] {
        theirs = static_cast<int *>(rayStateBlock(kIsShadowRayKey, 4));
        *theirs = 1;
        theirsAgain = static_cast<int *>(rayStateBlock(kIsShadowRayKey, 4));
    });
    other.join();
    ASSERT_NE(mine, nullptr);
    ASSERT_NE(theirs, nullptr);
    EXPECT_NE(mine, theirs);
    EXPECT_EQ(theirsAgain, theirs);
    EXPECT_EQ(*mine, 0);
    EXPECT_EQ(host.pool.created.size(), 2u);
}

TEST_F(RayState, NoPoolOrNoChunkGivesNull) {
    host.pool.failCreate = true;
    EXPECT_EQ(rayStateBlock(kIsShadowRayKey, 4), nullptr);
    shaderGlobals.globalPool = nullptr;
    EXPECT_EQ(rayStateBlock(kIsShadowRayKey, 4), nullptr);
}
