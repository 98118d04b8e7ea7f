// SPDX-License-Identifier: Apache-2.0
// The illumination gateway: the recursion guard and coloured shadows.
#include <gtest/gtest.h>

#include "base/host_globals.h"
#include "base/ray_state.h"
#include "lights/item_cache.h"
#include "lights/light_tags.h"
#include "shading/gateway.h"
#include "tests/support/fake_host.h"

using namespace velmora;
using testhost::id;

namespace {

const LWItemID kLight = id(0x300);

// The host's illuminate: answers hostLit and hostColor, and may call the gateway again on the
// same thread, as a shader evaluated inside the host's shadow computation would.
int hostLit = 0;
double hostColor[3] = {0, 0, 0};
int hostCalls = 0;
int *nestedFlag = nullptr;
int nestedResult = -1;
double nestedDir[3], nestedColor[3];

int hostIlluminate(LWItemID light, const LWDVector position, LWDVector dir, LWDVector color) {
    ++hostCalls;
    if (nestedFlag)
        nestedResult = illuminationGateway(nestedFlag, nullptr, light, position, nestedDir, nestedColor);
    dir[0] = 0;
    dir[1] = -1;
    dir[2] = 0;
    for (int k = 0; k < 3; ++k) color[k] = hostColor[k];
    return hostLit;
}

class Gateway : public ::testing::Test {
protected:
    testhost::FakeHost host;
    void SetUp() override {
        host.setShaderGlobals();
        light_ = &host.add(0x300, LWI_LIGHT);
        light_->set(LWIP_W_POSITION, 0, 10, 0);
        light_->color[0] = 0.3;
        light_->color[1] = 0.6;
        light_->color[2] = 0.9;
        light_->shadowColor[2] = 1.0;
        itemParamsNewTime(0, 0);
        lightTagsClear();
        sa_ = LWShaderAccess();
        sa_.illuminate = hostIlluminate;
        hostCalls = 0;
        nestedFlag = nullptr;
        nestedResult = -1;
    }
    void TearDown() override {
        lightTagsClear();
        host.items.clear();
        itemParamsNewTime(0, 0);
        resetHostGlobals();
    }
    testhost::FakeItem *light_ = nullptr;
    LWShaderAccess sa_;
};

}  // namespace

TEST_F(Gateway, ShadowColourReplacesTheLightTheShadowTook) {
    struct Case {
        const char *what;
        int type, shadowType;
        double host[3];
        int hostLit;
        double want[3];
        int wantLit;
    } cases[] = {
        // Fully shadowed point light, blue shadow colour: mean removed light 0.6.
        {"blue shadow", LWLIGHT_POINT, LWSHAD_RAYTRACE, {0, 0, 0}, 0, {0, 0, 0.6}, 1},
        {"fully lit", LWLIGHT_POINT, LWSHAD_RAYTRACE, {0.3, 0.6, 0.9}, 1, {0.3, 0.6, 0.9}, 1},
        // A shadow that brightens gives a negative m and subtracts shadow colour.
        {"negative m", LWLIGHT_POINT, LWSHAD_MAP, {0.6, 0.9, 1.2}, 1, {0.6, 0.9, 0.9}, 1},
        {"distant", LWLIGHT_DISTANT, LWSHAD_RAYTRACE, {0.3, 0, 0}, 0, {0.3, 0, 0.5}, 1},
        // Lights without shadows, and other types, get exactly what illuminate gave.
        {"no shadows", LWLIGHT_POINT, LWSHAD_OFF, {0, 0, 0}, 0, {0, 0, 0}, 0},
        {"no shadows, lit", LWLIGHT_SPOT, LWSHAD_OFF, {0.1, 0.2, 0.3}, 1, {0.1, 0.2, 0.3}, 1},
        {"linear", LWLIGHT_LINEAR, LWSHAD_RAYTRACE, {0, 0, 0}, 0, {0, 0, 0}, 0},
        {"area", LWLIGHT_AREA, LWSHAD_RAYTRACE, {0.1, 0, 0}, 2, {0.1, 0, 0}, 2},
    };
    for (const Case &c : cases) {
        light_->lightType = c.type;
        light_->shadowType = c.shadowType;
        for (int k = 0; k < 3; ++k) hostColor[k] = c.host[k];
        hostLit = c.hostLit;
        int flag = 0;
        const double p[3] = {0, 0, 0};
        double dir[3] = {5, 5, 5}, color[3] = {5, 5, 5};
        EXPECT_EQ(illuminationGateway(&flag, &sa_, kLight, p, dir, color), c.wantLit) << c.what;
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(color[k], c.want[k], 1e-15) << c.what << " channel " << k;
        EXPECT_EQ(dir[1], -1.0) << c.what;
        EXPECT_EQ(flag, 0) << c.what;
    }
}

TEST_F(Gateway, GuardRefusesANestedCallAndLeavesItsOutputsAlone) {
    hostLit = 1;
    int flag = 0;
    nestedFlag = &flag;
    for (int k = 0; k < 3; ++k) nestedDir[k] = nestedColor[k] = 4.0;
    const double p[3] = {0, 0, 0};
    double dir[3], color[3];
    EXPECT_EQ(illuminationGateway(&flag, &sa_, kLight, p, dir, color), 1);
    EXPECT_EQ(hostCalls, 1);  // the nested call did not reach the host
    EXPECT_EQ(nestedResult, 0);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(nestedDir[k], 4.0);
        EXPECT_EQ(nestedColor[k], 4.0);
    }
    EXPECT_EQ(flag, 0);

    // A call made while the flag is set returns 0 and writes nothing.
    flag = 1;
    nestedFlag = nullptr;
    for (int k = 0; k < 3; ++k) dir[k] = color[k] = 3.0;
    EXPECT_EQ(illuminationGateway(&flag, &sa_, kLight, p, dir, color), 0);
    EXPECT_EQ(hostCalls, 1);
    EXPECT_EQ(dir[0], 3.0);
    EXPECT_EQ(color[2], 3.0);
    EXPECT_EQ(flag, 1);

    // Radiosity and caustics pass the guard and get no shadow colour.
    hostLit = 7;
    for (LWItemID special : {LWITEM_RADIOSITY, LWITEM_CAUSTICS}) {
        EXPECT_EQ(illuminationGateway(&flag, &sa_, special, p, dir, color), 7);
        EXPECT_EQ(color[2], 0.0);
    }
    EXPECT_EQ(hostCalls, 3);
}

TEST_F(Gateway, NullFlagGoesStraightToTheLight) {
    hostLit = 0;  // fully shadowed, but no guard and no shadow colour
    const double p[3] = {0, 0, 0};
    double dir[3], color[3] = {5, 5, 5};
    EXPECT_EQ(illuminationGateway(nullptr, &sa_, kLight, p, dir, color), 0);
    EXPECT_EQ(color[2], 0.0);
    EXPECT_EQ(hostCalls, 1);
}
