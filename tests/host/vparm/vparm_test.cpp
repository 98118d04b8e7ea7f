// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <vector>

#include "host/animation/envelopes.h"
#include "host/state/memory_state.h"
#include "host/texture/texture_system.h"
#include "host/vparm/vparm_service.h"

namespace {

using host::animation::Key;
using host::state::Format;

const LWVParmFuncs &vp() { return *host::vparm::vparmFuncs(); }
const LWEnvelopeFuncs &env() { return *host::animation::envelopeFuncs(); }
const LWTextureFuncs &tx() { return *host::texture::textureFuncs(); }

// What the plug-in's event function saw.
struct Events {
    std::vector<int> codes;
    double box[6] = {0, 0, 0, 0, 0, 0};
    LWChanGroupID group = nullptr;
};

int recordEvent(LWVParmID parm, void *user, int code, void *data) {
    Events *e = static_cast<Events *>(user);
    e->codes.push_back(code);
    if (code == LWVPE_AUTOSIZE) {
        double *box = static_cast<double *>(data);
        std::copy(box, box + 6, e->box);
        const double fitted[6] = {-1, 3, 0, 2, 5, 5};
        std::copy(fitted, fitted + 6, box);
    }
    if (code == LWVPE_ENVGROUP) host::texture::textureFuncs()->setEnvGroup(vp().getTex(parm), e->group);
    return 1;
}

class VParms : public ::testing::Test {
protected:
    void SetUp() override { events.group = env().createGroup(nullptr, "surface"); }
    void TearDown() override {
        host::vparm::clearAll();
        host::texture::clearAll();
        host::animation::clearAll();
    }
    LWVParmID make(int type, const char *name, int texType = LWVPDT_COLOR) {
        LWVParmID p = vp().create(type, texType);
        EXPECT_EQ(vp().setup(p, name, events.group, nullptr, recordEvent, "test", &events), 1);
        return p;
    }
    Events events;
};

LWMicropol spot(double x) {
    LWMicropol mp;
    vp().initMP(&mp);
    mp.oPos[0] = mp.wPos[0] = x;
    return mp;
}

TEST_F(VParms, ConstantValuesByComponentCount) {
    LWVParmID color = make(LWVP_COLOR, "col");
    LWVParmID pct = make(LWVP_PERCENT, "pct", LWVPDT_PERCENT);
    double c[3] = {0.1, 0.2, 0.3}, k = 0.75;
    EXPECT_EQ(vp().setVal(color, c), 3);
    EXPECT_EQ(vp().setVal(pct, &k), 1);
    double out[3] = {9, 9, 9};
    EXPECT_EQ(vp().getVal(color, 0, nullptr, out), 0.1);
    EXPECT_EQ(out[2], 0.3);
    out[1] = 9;
    EXPECT_EQ(vp().getVal(pct, 4, nullptr, out), 0.75);
    EXPECT_EQ(out[1], 9) << "one component written for a percentage";
    EXPECT_EQ(vp().getState(pct), 0);
    EXPECT_EQ(vp().getVal(reinterpret_cast<LWVParmID>(&k), 0, nullptr, out), 0) << "unknown id";
}

TEST_F(VParms, EnvelopedComponentsFollowTheirChannels) {
    LWVParmID p = make(LWVP_COLOR, "col");
    double c[3] = {0.5, 0.5, 0.5};
    vp().setVal(p, c);
    ASSERT_TRUE(host::vparm::setEnveloped(p, 1, true));
    LWEnvelopeID envs[3];
    vp().getEnv(p, envs);
    EXPECT_EQ(envs[0], nullptr);
    ASSERT_NE(envs[1], nullptr);
    EXPECT_EQ(envs[2], nullptr);
    EXPECT_STREQ(host::animation::channelInfo()->channelName(envs[1]), "col.G");
    EXPECT_EQ(host::animation::channelInfo()->channelParent(envs[1]), events.group);
    EXPECT_EQ(vp().getState(p), LWVPSF_ENV);
    EXPECT_EQ(env().value(envs[1], 10), 0.5) << "a new envelope holds the value";

    host::animation::setKeys(envs[1], {{0, 0, LWKEY_LINEAR}, {2, 1, LWKEY_LINEAR}});
    double out[3];
    vp().getVal(p, 0.5, nullptr, out);
    EXPECT_EQ(out[0], 0.5);
    EXPECT_EQ(out[1], 0.25);
    ASSERT_TRUE(host::vparm::setEnveloped(p, 1, false));
    EXPECT_FALSE(host::animation::isEnvelope(envs[1]));
    EXPECT_EQ(vp().getState(p), 0);

    LWVParmID scalar = make(LWVP_FLOAT, "wrap", LWVPDT_NOTXTR);
    ASSERT_TRUE(host::vparm::setEnveloped(scalar, 0, true));
    vp().getEnv(scalar, envs);
    EXPECT_STREQ(host::animation::channelInfo()->channelName(envs[0]), "wrap");
    EXPECT_FALSE(host::vparm::setEnveloped(scalar, 1, true)) << "a scalar has one component";
    double k = 0.6, got = 0;
    vp().setVal(scalar, &k);
    host::animation::setKeys(envs[0], {{0, 5}});
    EXPECT_EQ(vp().getVal(scalar, 0, nullptr, &got), 5);
    env().destroy(envs[0]);  // the channel removed behind the parameter's back
    EXPECT_EQ(vp().getVal(scalar, 0, nullptr, &got), 0.6) << "falls back to the constant";
    EXPECT_EQ(vp().getState(scalar), 0);
}

TEST_F(VParms, TexturedValueBlendsOverTheBase) {
    LWVParmID p = make(LWVP_PERCENT, "pct", LWVPDT_PERCENT);
    double base = 0.2;
    vp().setVal(p, &base);
    LWTextureID t = host::vparm::setTextured(p, true);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(events.codes, std::vector<int>{LWVPE_ENVGROUP});
    EXPECT_EQ(vp().getTex(p), t);
    EXPECT_EQ(vp().getState(p), LWVPSF_TEX);

    LWTLayerID l = host::texture::addLayer(t, TLT_GRAD);
    EXPECT_NE(tx().layerEnvGroup(l), nullptr) << "the event placed the texture's channels";
    host::texture::LayerSettings s;
    s.input = "X Coordinate";
    s.keys = {{0, {0, 0, 0}, 1}, {1, {1, 1, 1}, 1}};
    s.opacity = 0.5;
    ASSERT_TRUE(host::texture::setLayer(l, s));
    LWMicropol mp = spot(0.8);
    double out = 0;
    EXPECT_DOUBLE_EQ(vp().getVal(p, 0, &mp, &out), 0.2 * 0.5 + 0.8 * 0.5);
    EXPECT_EQ(vp().getVal(p, 0, nullptr, &out), 0.2) << "without a spot, the base value";

    ASSERT_TRUE(host::vparm::setEnveloped(p, 0, true));
    EXPECT_EQ(vp().getState(p), LWVPSF_ENV | LWVPSF_TEX);
    LWVParmID plain = make(LWVP_FLOAT, "plain", LWVPDT_NOTXTR);
    EXPECT_EQ(host::vparm::setTextured(plain, true), nullptr) << "created without texture support";
}

TEST_F(VParms, AutoSizeAsksTheEventFunctionForTheBox) {
    LWVParmID p = make(LWVP_COLOR, "col");
    LWTextureID t = host::vparm::setTextured(p, true);
    LWTLayerID l = host::texture::addLayer(t, TLT_IMAGE);
    EXPECT_EQ(host::vparm::autoSize(p, l), 1);
    EXPECT_EQ(events.codes.back(), LWVPE_AUTOSIZE);
    EXPECT_EQ(events.box[0], -0.5);
    EXPECT_EQ(events.box[5], 0.5);
    host::texture::LayerSettings s;
    ASSERT_TRUE(host::texture::getLayer(l, s));
    EXPECT_EQ(s.center[0], 1);
    EXPECT_EQ(s.size[0], 4);
    EXPECT_EQ(s.center[1], 1);
    EXPECT_EQ(s.size[1], 2);
    EXPECT_EQ(s.center[2], 5);
    EXPECT_EQ(s.size[2], 1) << "an empty extent keeps the size";
}

TEST_F(VParms, SaveThenLoadRestoresValuesEnvelopesAndTexture) {
    for (Format f : {Format::Binary, Format::Text}) {
        LWVParmID src = make(LWVP_COLOR, "src");
        double c[3] = {0.1, 1.0 / 3.0, 0.9};
        vp().setVal(src, c);
        host::vparm::setEnveloped(src, 0, true);
        host::vparm::setEnveloped(src, 2, true);
        LWTextureID t = host::vparm::setTextured(src, true);
        host::texture::addLayer(t, TLT_PROC);
        host::texture::addLayer(t, TLT_GRAD);

        host::state::SaveState save(f);
        EXPECT_EQ(vp().save(src, save.record()), nullptr);
        LWVParmID dst = make(LWVP_COLOR, "dst");
        host::state::LoadState load(f, save.bytes());
        EXPECT_EQ(vp().load(dst, load.record()), nullptr);

        double out[3];
        vp().getVal(dst, 0, nullptr, out);
        EXPECT_EQ(out[1], c[1]);
        LWEnvelopeID envs[3];
        vp().getEnv(dst, envs);
        EXPECT_NE(envs[0], nullptr);
        EXPECT_EQ(envs[1], nullptr);
        EXPECT_NE(envs[2], nullptr) << "enveloped components exist, ready for their keys";
        ASSERT_NE(vp().getTex(dst), nullptr);
        EXPECT_EQ(host::texture::layerCount(vp().getTex(dst)), 2);
        EXPECT_EQ(tx().layerType(tx().firstLayer(vp().getTex(dst))), TLT_GRAD);
    }
}

TEST_F(VParms, DataOfAnotherTypeLeavesTheParameter) {
    LWVParmID pct = make(LWVP_PERCENT, "pct", LWVPDT_PERCENT);
    double k = 0.4;
    vp().setVal(pct, &k);
    host::state::SaveState save(Format::Binary);
    vp().save(pct, save.record());
    std::vector<uint8_t> full = save.bytes();

    LWVParmID color = make(LWVP_COLOR, "col");
    host::state::LoadState other(Format::Binary, full);
    EXPECT_NE(vp().load(color, other.record()), nullptr) << "saved from another value type";

    double out[3] = {0, 0, 0};
    vp().getVal(color, 0, nullptr, out);
    EXPECT_EQ(out[0], 0);
}

TEST_F(VParms, CopyTakesValuesEnvelopesAndTexture) {
    LWVParmID src = make(LWVP_PERCENT, "a", LWVPDT_PERCENT);
    double k = 0.3;
    vp().setVal(src, &k);
    host::vparm::setEnveloped(src, 0, true);
    LWEnvelopeID se[3];
    vp().getEnv(src, se);
    host::animation::setKeys(se[0], {{0, 1, LWKEY_LINEAR}, {1, 2, LWKEY_LINEAR}});
    host::texture::addLayer(host::vparm::setTextured(src, true), TLT_PROC);

    LWVParmID dst = make(LWVP_PERCENT, "b", LWVPDT_PERCENT);
    EXPECT_EQ(vp().copy(dst, src), nullptr);
    double out = 0;
    EXPECT_EQ(vp().getVal(dst, 0.5, nullptr, &out), 1.5);
    LWEnvelopeID de[3];
    vp().getEnv(dst, de);
    EXPECT_NE(de[0], se[0]) << "its own envelope";
    EXPECT_STREQ(host::animation::channelInfo()->channelName(de[0]), "b");
    EXPECT_NE(vp().getTex(dst), vp().getTex(src));
    EXPECT_EQ(host::texture::layerCount(vp().getTex(dst)), 1);
    EXPECT_NE(vp().copy(make(LWVP_COLOR, "c"), src), nullptr) << "different value types";

    vp().destroy(dst);
    EXPECT_FALSE(host::animation::isEnvelope(de[0])) << "a parameter's envelopes go with it";
    EXPECT_FALSE(host::vparm::isVParm(dst));
}

}  // namespace
