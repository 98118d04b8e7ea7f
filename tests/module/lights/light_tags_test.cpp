// SPDX-License-Identifier: Apache-2.0
// Light tags: the tag-line grammar, the per-render record table and the choice between the host's
// illuminate and sampled area shadows.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <string>
#include <vector>

#include "base/host_globals.h"
#include "lights/item_cache.h"
#include "lights/light_tags.h"
#include "tests/support/fake_host.h"

using namespace velmora;
using testhost::id;

namespace {

const LWItemID kLight = id(0x200);

class LightTags : public ::testing::Test {
protected:
    testhost::FakeHost host;
    void SetUp() override {
        host.setShaderGlobals();
        light_ = &host.add(0x200, LWI_LIGHT);
        lightTagsClear();
    }
    void TearDown() override {
        lightTagsClear();
        host.items.clear();
        itemParamsNewTime(0, 0);
        resetHostGlobals();
    }
    LightTagRecord read(const std::vector<std::string> &tags) {
        lightTagsClear();
        light_->tags = tags;
        const LightTagRecord *record = lightTagsGet(kLight);
        return record ? *record : LightTagRecord{-99, -99, -99, -99, -99, -99, -99};
    }
    testhost::FakeItem *light_ = nullptr;
};

}  // namespace

TEST_F(LightTags, TagLinesSetTheRecord) {
    struct Case {
        std::vector<std::string> tags;
        int areashadow;
        double size;
        int samples;
    } cases[] = {
        {{}, 0, 1.0, 6},
        {{"QZ_lightParam:areashadow1"}, 1, 1.0, 6},
        {{"QZ_lightParam: areashadow == 1"}, 1, 1.0, 6},
        {{"QZ_lightParam: areashadow_size = 2.5", "QZ_lightParam: areashadow = 1"}, 1, 2.5, 6},
        {{"QZ_lightParam: areashadow = 1", "QZ_lightParam: areashadow_size = 2.5"}, 1, 2.5, 6},
        {{"qz_lightParam: areashadow = 1"}, 0, 1.0, 6},
        {{" QZ_lightParam: areashadow = 1"}, 0, 1.0, 6},
        {{"QZ_lightParam: areashadow =", "QZ_lightParam: areashadow = 1"}, 1, 1.0, 6},
        {{"QZ_lightParam: areashadow = = 1"}, 0, 1.0, 6},
        {{"QZ_lightParam: areashadow_sample = 3.9"}, 0, 1.0, 3},
        {{"QZ_lightParam: areashadow_size = 2e-1"}, 0, 0.2, 6},
        {{"QZ_lightParam: areashadow = 1", "QZ_lightParam: areashadow = 0"}, 1, 1.0, 6},
        // Every separator is a run of any whitespace, and each is optional.
        {{"QZ_lightParam:\t\vareashadow_sample\r\f=\n-4"}, 0, 1.0, -4},
        {{"QZ_lightParam:areashadow_size=.5e1x"}, 0, 5.0, 6},
        {{"QZ_lightParam:areashadow_sample+8"}, 0, 1.0, 8},
        // A value that starts with no number reads as 0 and still sets the key.
        {{"QZ_lightParam: areashadow = yes", "QZ_lightParam: areashadow = 1"}, 0, 1.0, 6},
        {{"QZ_lightParam: areashadow_size = -", "QZ_lightParam: areashadow_size = 3"}, 0, 0.0, 6},
        {{"QZ_lightParam: areashadow_size = 1e", "QZ_lightParam: areashadow_size = 3"}, 0, 1.0, 6},
        // All the rest of the line after the key is its value, so trailing letters read as 0.
        {{"QZ_lightParam: areashadow_samples = 4"}, 0, 1.0, 0},
        // Other keys, misspelt keys, empty and blank values are passed over.
        {{"QZ_lightParam: AreaShadow = 1", "QZ_lightParam: areashadow   "}, 0, 1.0, 6},
        {{"QZ_lightParam: areashadow_size", "QZ_lightParam: areashadow_sample ="}, 0, 1.0, 6},
    };
    for (const Case &c : cases) {
        const LightTagRecord r = read(c.tags);
        std::string what;
        for (const std::string &t : c.tags) what += "[" + t + "] ";
        EXPECT_EQ(r.areashadow, c.areashadow) << what;
        EXPECT_DOUBLE_EQ(r.areashadow_size, c.size) << what;
        EXPECT_EQ(r.areashadow_sample, c.samples) << what;
    }
}

TEST_F(LightTags, UserValuesAndOutOfRangeNumbers) {
    const LightTagRecord r = read({
        "QZ_lightParam: userid3 = -0.125",
        "QZ_lightParam: userid1 = 42",
        "QZ_lightParam: areashadow = 99999999999999999999",
        "QZ_lightParam: areashadow_sample = -2147483649",
        "QZ_lightParam: userid2 = 1e400",
        "QZ_lightParam: userid4 = -0.00001e-400",
        "QZ_lightParam: areashadow_size = 1000000000000000000000e-420",
    });
    EXPECT_EQ(r.userid1, 42.0);
    EXPECT_EQ(r.userid2, DBL_MAX);
    EXPECT_EQ(r.userid3, -0.125);
    EXPECT_EQ(r.userid4, 0.0);
    EXPECT_EQ(r.areashadow, INT_MAX);
    EXPECT_EQ(r.areashadow_sample, INT_MIN);
    EXPECT_EQ(r.areashadow_size, 0.0);  // 1e21 · 1e-420 underflows

    // Beyond the 32-bit range integers saturate; 2147483647 itself is kept.
    struct Case {
        const char *value;
        int want;
    } ints[] = {{"2147483647", INT_MAX},
                {"2147483648", INT_MAX},
                {"-2147483648", INT_MIN},
                {"-99999999999999999999999999", INT_MIN},
                {"007", 7},
                {"- 3", 0},
                {"+-3", 0}};
    for (const Case &c : ints) {
        light_->tags = {std::string("QZ_lightParam: areashadow_sample = ") + c.value};
        int got = -5;
        readTagInt(kLight, kLightTagPrefix, "areashadow_sample", &got);
        EXPECT_EQ(got, c.want) << c.value;
    }
}

TEST_F(LightTags, ReadersLeaveTheOutputWhenNoLineSetsTheKey) {
    light_->tags = {"QZ_lightParam: areashadow_size = 3", "other: userid1 = 4"};
    int i = 17;
    double d = 0.5;
    readTagInt(kLight, kLightTagPrefix, "areashadow", &i);
    readTagReal(kLight, kLightTagPrefix, "userid1", &d);
    EXPECT_EQ(i, 17);
    EXPECT_EQ(d, 0.5);
    readTagReal(kLight, "other:", "userid1", &d);  // any prefix may be asked for
    EXPECT_EQ(d, 4.0);
    shaderGlobals.itemInfo = nullptr;
    readTagReal(kLight, kLightTagPrefix, "areashadow_size", &d);
    EXPECT_EQ(d, 4.0);
}

TEST_F(LightTags, RecordsAreReadOncePerRender) {
    light_->tags = {"QZ_lightParam: areashadow = 1"};
    LightTagRecord *first = lightTagsGet(kLight);
    ASSERT_NE(first, nullptr);
    light_->tags = {"QZ_lightParam: areashadow = 0"};  // edits take effect at the next render
    EXPECT_EQ(lightTagsGet(kLight), first);
    EXPECT_EQ(first->areashadow, 1);
    lightTagsClear();
    EXPECT_EQ(lightTagsGet(kLight)->areashadow, 0);

    // Any item gets a record, the host's pseudo-lights included.
    EXPECT_NE(lightTagsGet(LWITEM_RADIOSITY), nullptr);
    EXPECT_EQ(lightTagsGet(id(0x12345))->areashadow_sample, 6);

    shaderGlobals.itemInfo = nullptr;
    EXPECT_EQ(lightTagsGet(kLight), nullptr);
}

// --- illuminateTagged -----------------------------------------------------------------------------

namespace {

int hostCalls = 0;
int hostIlluminate(LWItemID, const LWDVector, LWDVector dir, LWDVector color) {
    ++hostCalls;
    dir[0] = dir[1] = dir[2] = 7.0;
    color[0] = color[1] = color[2] = 0.125;
    return 5;
}
double blockAll(const LWDVector, const LWDVector) { return 0.5; }

}  // namespace

TEST_F(LightTags, AreaShadowsOnlyForTaggedPointAndSpotLightsWithTracedShadows) {
    light_->tags = {"QZ_lightParam: areashadow = 1", "QZ_lightParam: areashadow_sample = 2"};
    light_->set(LWIP_W_POSITION, 0, 10, 0);
    light_->color[0] = light_->color[1] = light_->color[2] = 0.5;
    itemParamsNewTime(0, 0);
    LWShaderAccess sa = {};
    sa.illuminate = hostIlluminate;
    sa.rayCast = blockAll;
    const double p[3] = {0, 0, 0};

    struct Case {
        const char *what;
        int lightType;
        bool tagged;
        int renderOpts;
        bool sampled;
    } cases[] = {
        {"point", LWLIGHT_POINT, true, LWROPT_SHADOWTRACE, true},
        {"spot", LWLIGHT_SPOT, true, LWROPT_SHADOWTRACE | LWROPT_REFLECTTRACE, true},
        {"distant", LWLIGHT_DISTANT, true, LWROPT_SHADOWTRACE, false},
        {"linear", LWLIGHT_LINEAR, true, LWROPT_SHADOWTRACE, false},
        {"area", LWLIGHT_AREA, true, LWROPT_SHADOWTRACE, false},
        {"untraced scene", LWLIGHT_POINT, true, LWROPT_REFLECTTRACE, false},
        {"untagged", LWLIGHT_POINT, false, LWROPT_SHADOWTRACE, false},
    };
    for (const Case &c : cases) {
        lightTagsClear();
        hostCalls = 0;
        light_->lightType = c.lightType;
        light_->tags.resize(c.tagged ? 2 : 0);
        host.sceneInfo.renderOpts = c.renderOpts;
        double dir[3] = {0, 0, 0}, color[3] = {0, 0, 0};
        const int lit = illuminateTagged(&sa, kLight, p, dir, color);
        EXPECT_EQ(lit, c.sampled ? 1 : 5) << c.what;
        EXPECT_EQ(hostCalls, c.sampled ? 0 : 1) << c.what;
        EXPECT_NEAR(color[0], c.sampled ? 0.0 : 0.125, 1e-15) << c.what;  // every sample blocked
    }

    // Without the scene information the module cannot tell that shadows are traced: host.
    host.sceneInfo.renderOpts = LWROPT_SHADOWTRACE;
    light_->lightType = LWLIGHT_POINT;
    light_->tags.resize(2);
    struct Missing {
        const char *what;
        void **service;
    } missing[] = {{"scene info", reinterpret_cast<void **>(&shaderGlobals.sceneInfo)},
                   {"light info", reinterpret_cast<void **>(&shaderGlobals.lightInfo)},
                   {"item info", reinterpret_cast<void **>(&shaderGlobals.itemInfo)}};
    for (const Missing &m : missing) {
        void *kept = *m.service;
        *m.service = nullptr;
        lightTagsClear();
        hostCalls = 0;
        double dir[3], color[3];
        EXPECT_EQ(illuminateTagged(&sa, kLight, p, dir, color), 5) << m.what;
        EXPECT_EQ(hostCalls, 1) << m.what;
        *m.service = kept;
    }
}
