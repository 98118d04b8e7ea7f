// SPDX-License-Identifier: Apache-2.0
// The item parameter cache: snapshots of every light, camera, object and bone for one time.
#include <gtest/gtest.h>

#include "base/host_globals.h"
#include "lights/item_cache.h"
#include "tests/support/fake_host.h"

using namespace velmora;
using testhost::id;

namespace {

class ItemCache : public ::testing::Test {
protected:
    testhost::FakeHost host;
    void SetUp() override {
        host.setShaderGlobals();
        testhost::FakeHost &s = host;
        s.add(0x10, LWI_LIGHT).set(LWIP_W_POSITION, 1, 2, 3);
        s.add(0x20, LWI_CAMERA).set(LWIP_W_POSITION, 4, 5, 6);
        testhost::FakeItem &object = s.add(0x30, LWI_OBJECT);
        object.set(LWIP_POSITION, 7, 8, 9);
        object.set(LWIP_PIVOT_ROT, 10, 11, 12);
        s.add(0x31, LWI_BONE, id(0x30)).set(LWIP_W_FORWARD, 0, 0, 1);
        s.add(0x40, LWI_OBJECT).set(LWIP_SCALING, 2, 2, 2);                      // an object without bones
        for (auto &entry : s.items) entry.slope[LWIP_W_UP - 1][1] = 1.0;         // W_UP.y = time
    }
    void TearDown() override {
        host.items.clear();
        shaderGlobals.itemInfo = &host.itemInfo;
        itemParamsNewTime(0, 0);  // leave the shared cache empty for the next test
        resetHostGlobals();
    }
};

double upY(ItemParamCache *cache, uintptr_t item) {
    double v[3] = {-1, -1, -1};
    if (cache)
        itemParamCacheGet(cache, id(item), LWIP_W_UP, v);
    else
        itemParamGet(id(item), LWIP_W_UP, v);
    return v[1];
}

}  // namespace

TEST_F(ItemCache, ReadsEveryParameterOfEveryKindOfItem) {
    itemParamsNewTime(0.0, 0);
    // Lights, cameras, objects and their bones: five items, twelve host calls each.
    EXPECT_EQ(host.paramCalls.load(), 5 * 12);
    struct Case {
        uintptr_t item;
        LWItemParam param;
        double want[3];
    } cases[] = {
        {0x10, LWIP_W_POSITION, {1, 2, 3}},   {0x20, LWIP_W_POSITION, {4, 5, 6}}, {0x30, LWIP_POSITION, {7, 8, 9}},
        {0x30, LWIP_PIVOT_ROT, {10, 11, 12}}, {0x31, LWIP_W_FORWARD, {0, 0, 1}},  {0x40, LWIP_SCALING, {2, 2, 2}},
    };
    for (const Case &c : cases) {
        double got[3] = {-1, -1, -1};
        itemParamGet(id(c.item), c.param, got);
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(got[k], c.want[k]) << "item " << c.item << " param " << c.param << " component " << k;
    }
}

TEST_F(ItemCache, OutOfRangeParametersAndMissingItemsLeaveTheOutputAlone) {
    itemParamsNewTime(0.0, 0);
    struct Case {
        uintptr_t item;
        LWItemParam param;
    } cases[] = {{0x10, 0}, {0x10, 13}, {0x10, -1}, {0x99, LWIP_W_POSITION}, {0, LWIP_W_POSITION}};
    for (const Case &c : cases) {
        double got[3] = {0.25, -7, 1e300};
        itemParamGet(id(c.item), c.param, got);
        EXPECT_EQ(got[0], 0.25) << "item " << c.item << " param " << c.param;
        EXPECT_EQ(got[1], -7.0) << "item " << c.item << " param " << c.param;
        EXPECT_EQ(got[2], 1e300) << "item " << c.item << " param " << c.param;
    }
}

TEST_F(ItemCache, RebuildReplacesTheSnapshot) {
    itemParamsNewTime(2.0, 48);
    EXPECT_EQ(upY(nullptr, 0x31), 2.0);
    itemParamsNewTime(2.0, 48);
    EXPECT_EQ(upY(nullptr, 0x31), 2.0);  // same time, same snapshot

    // An item removed from the scene keeps its stale record only until the next rebuild.
    host.items.pop_back();
    EXPECT_EQ(upY(nullptr, 0x40), 2.0);
    itemParamsNewTime(3.0, 72);
    EXPECT_EQ(upY(nullptr, 0x40), -1.0);
    EXPECT_EQ(upY(nullptr, 0x10), 3.0);
}

TEST_F(ItemCache, WithoutItemInfoARebuildKeepsWhatTheCacheHeld) {
    itemParamsNewTime(1.0, 24);
    shaderGlobals.itemInfo = nullptr;
    itemParamsNewTime(5.0, 120);
    EXPECT_EQ(upY(nullptr, 0x10), 1.0);
}

TEST_F(ItemCache, PrivateCachesAreIndependentOfTheSharedOne) {
    itemParamsNewTime(1.0, 24);
    ItemParamCache *a = itemParamCacheCreate();
    ItemParamCache *b = itemParamCacheCreate();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(upY(a, 0x10), -1.0);  // empty until refreshed

    itemParamCacheRefresh(a, 7.0, 168);
    itemParamCacheRefresh(b, 9.0, 216);
    EXPECT_EQ(upY(a, 0x31), 7.0);
    EXPECT_EQ(upY(b, 0x31), 9.0);
    EXPECT_EQ(upY(nullptr, 0x31), 1.0);

    itemParamsNewTime(4.0, 96);
    EXPECT_EQ(upY(a, 0x31), 7.0);
    itemParamCacheDestroy(a);
    EXPECT_EQ(upY(b, 0x31), 9.0);
    itemParamCacheDestroy(b);

    // A cache that could not be created is passed around as null; nothing happens.
    itemParamCacheRefresh(nullptr, 1.0, 0);
    double v[3] = {5, 5, 5};
    itemParamCacheGet(nullptr, id(0x10), LWIP_W_UP, v);
    EXPECT_EQ(v[1], 5.0);
    itemParamCacheDestroy(nullptr);
}
