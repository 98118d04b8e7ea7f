// SPDX-License-Identifier: Apache-2.0
// Gradient layers of the host's texture system on the module's own inputs: the host offers the
// module's 36 inputs in a textured parameter's gradients and, at render time, evaluates them
// through the module's context on spots the module fills from a shading access record.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "base/host_globals.h"
#include "host/texture/texture_system.h"
#include "host/vparm/vparm_service.h"
#include "instance/skin_instance.h"
#include "tests/support/host_session.h"
#include "vparam/gradient_inputs.h"
#include "vparam/vparam.h"

namespace {

constexpr double kHalfPi = 1.5707963267948966;

const LWVParmFuncs &vp() { return *host::vparm::vparmFuncs(); }

class ModuleGradient : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(host.activation(), 0);
        skin = host.create();
        ASSERT_NE(skin, nullptr);
        tex = host::vparm::setTextured(skin->Ksub->parameter, true);
        ASSERT_NE(tex, nullptr);
    }
    void TearDown() override { host.destroy(skin); }

    // A single gradient layer on `input`, value v0 at x0 and v1 at x1, fully opaque.
    void gradient(const char *input, double x0, double v0, double x1, double v1) {
        LWTLayerID layer = host::texture::addLayer(tex, TLT_GRAD);
        host::texture::LayerSettings s;
        ASSERT_TRUE(host::texture::getLayer(layer, s));
        s.input = input;
        s.keys = {{x0, {v0, 0, 0}, 1.0}, {x1, {v1, 0, 0}, 1.0}};
        ASSERT_TRUE(host::texture::setLayer(layer, s));
    }

    // Ksub at a spot with the given shading normal, filled the way the evaluation fills it.
    double ksubAt(double nx, double ny, double nz) {
        LWShaderAccess sa{};
        const double n[3] = {nx, ny, nz};
        for (int i = 0; i < 3; ++i) sa.wNorm[i] = sa.gNorm[i] = sa.wNorm0[i] = n[i];
        sa.wPos[2] = 1;
        sa.raySource[2] = 5;
        sa.rayLength = 4;
        sa.cosine = 1;
        for (int i = 0; i < 3; ++i) sa.oXfrm[4 * i] = sa.wXfrm[4 * i] = 1;
        LWMicropol mp;
        velmora::micropolFromAccess(&mp, &sa, skin->surface);
        double v[3] = {-1, -1, -1};
        vp().getVal(skin->Ksub->parameter, velmora::renderTime, &mp, v);
        return v[0];
    }

    integ::HostSession host;
    velmora::SkinInstance *skin = nullptr;
    LWTextureID tex = nullptr;
};

TEST_F(ModuleGradient, HostOffersTheModuleInputs) {
    const std::vector<std::string> inputs = host::texture::contextInputs(host::texture::textureContext(tex));
    ASSERT_EQ(inputs.size(), size_t(velmora::kGradientInputCount));
    EXPECT_EQ(inputs.front(), "Bump");
    EXPECT_EQ(inputs[1], "Slope");
    EXPECT_EQ(inputs[15], "World Y Axis");
    EXPECT_EQ(inputs.back(), "Half Occlusion (Very High)");
    EXPECT_EQ(host::texture::textureContext(tex), velmora::gradientContext);
}

TEST_F(ModuleGradient, WorldYAxisMapsTheNormalOntoTheKeys) {
    // World Y Axis is -n.y * pi/2; keys 0 at -pi/2 and 1 at pi/2 make the value (1 - n.y) / 2.
    gradient("World Y Axis", -kHalfPi, 0.0, kHalfPi, 1.0);
    host.newTime(skin, 3, 0.125);
    struct Case {
        double n[3];
        double want;
    } const cases[] = {
        {{0, 1, 0}, 0.0}, {{0, -1, 0}, 1.0}, {{1, 0, 0}, 0.5}, {{0, 0.6, 0.8}, 0.2}, {{0, -3, 4}, 0.8},
    };
    for (const Case &c : cases)
        EXPECT_NEAR(ksubAt(c.n[0], c.n[1], c.n[2]), c.want, 1e-12)
            << "normal " << c.n[0] << ", " << c.n[1] << ", " << c.n[2];
}

TEST_F(ModuleGradient, SlopeIsTheModuleInputNotTheHostOne) {
    // The host has an input of the same name; a texture with the module's context takes the
    // module's: 1 - up . n, with the world's up when no object is known.
    gradient("Slope", 0.0, 0.0, 1.0, 1.0);
    host.newTime(skin, 0, 0.0);
    struct Case {
        double n[3];
        double want;
    } const cases[] = {{{0, 1, 0}, 0.0}, {{1, 0, 0}, 1.0}, {{0, 0.6, 0.8}, 0.4}, {{0, -1, 0}, 1.0}};
    for (const Case &c : cases)
        EXPECT_NEAR(ksubAt(c.n[0], c.n[1], c.n[2]), c.want, 1e-12)
            << "normal " << c.n[0] << ", " << c.n[1] << ", " << c.n[2];
    host.handler().rend->cleanup(skin);  // releases the per-time data
}

TEST_F(ModuleGradient, SurvivesSaveAndLoad) {
    gradient("World Y Axis", -kHalfPi, 0.0, kHalfPi, 1.0);
    for (host::state::Format f : {host::state::Format::Binary, host::state::Format::Text}) {
        const std::vector<uint8_t> bytes = integ::saved(host, skin, f);
        velmora::SkinInstance *dst = host.create();
        host::state::LoadState load(f, bytes);
        host.load(dst, load);
        std::swap(skin, dst);
        host.newTime(skin, 1, 0.5);
        EXPECT_NEAR(ksubAt(0, 0.6, 0.8), 0.2, 1e-12);
        std::swap(skin, dst);
        host.destroy(dst);
    }
}

}  // namespace
