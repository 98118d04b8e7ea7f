// SPDX-License-Identifier: Apache-2.0
// A plug-in's way of storing a textured variant parameter: its own blocks around the host's
// data, the parameter's envelopes, every layer channel's envelope and the layers' images, then
// the same read back through finds over block lists. The host's states and services must carry
// the whole of it in either format.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "host/animation/envelopes.h"
#include "host/state/memory_state.h"
#include "host/texture/texture_system.h"
#include "host/vparm/vparm_service.h"

namespace {

using host::state::Format;

const LWBlockIdent kParmList[] = {
    {LWID_('V', 'P', 'R', 'M'), "Vparam"}, {LWID_('V', 'E', 'N', 'V'), "VparamEnv"}, {0, nullptr}};
const LWBlockIdent kImageList[] = {
    {LWID_('I', 'R', 'E', 'F'), "ImageRef"},          {LWID_('I', 'V', 'A', 'L'), "ImageRefValue"},
    {LWID_('I', 'D', 'A', 'T'), "ImageRefData"},      {LWID_('I', 'E', 'N', 'V'), "ImageEnvelope"},
    {LWID_('I', 'E', 'N', 'V'), "ImageEnvelopeData"}, {0, nullptr}};
const LWBlockIdent *const kVprm = &kParmList[0], *const kVenv = &kParmList[1];
const LWBlockIdent *const kIref = &kImageList[0], *const kIval = &kImageList[1], *const kIdat = &kImageList[2],
                          *const kIenv = &kImageList[3], *const kIenvData = &kImageList[4];

const LWVParmFuncs &vp() { return *host::vparm::vparmFuncs(); }
const LWEnvelopeFuncs &env() { return *host::animation::envelopeFuncs(); }
const LWTextureFuncs &tx() { return *host::texture::textureFuncs(); }
const LWChannelInfo &ch() { return *host::animation::channelInfo(); }

LWChanGroupID gGroup = nullptr;
int onEvent(LWVParmID parm, void *, int code, void *) {
    if (code == LWVPE_ENVGROUP) tx().setEnvGroup(vp().getTex(parm), gGroup);
    return 1;
}

std::vector<LWEnvelopeID> layerEnvelopes(LWTextureID t) {
    std::vector<LWEnvelopeID> out;
    for (LWTLayerID l = tx().firstLayer(t); l; l = tx().nextLayer(t, l))
        if (LWChanGroupID g = tx().layerEnvGroup(l))
            for (LWChannelID c = ch().nextChannel(g, nullptr); c; c = ch().nextChannel(g, c))
                if (LWEnvelopeID e = ch().channelEnvelope(c)) out.push_back(e);
    return out;
}

void valueBlock(const LWSaveState *s, int v) {
    s->beginBlk(s->writeData, kIval, 1);
    s->writeI4(s->writeData, &v, 1);
    s->endBlk(s->writeData);
}

int valueRead(const LWLoadState *l) {
    int v = 0;
    if (l->findBlk(l->readData, kImageList) != kIval->id || l->readI4(l->readData, &v, 1) != 1) v = 0;
    l->endBlk(l->readData);
    return v;
}

void save(const LWSaveState *s, LWVParmID p) {
    void *w = s->writeData;
    int version = 256;
    s->beginBlk(w, kVprm, 0);
    s->writeI4(w, &version, 1);
    vp().save(p, s);
    LWEnvelopeID envs[3];
    vp().getEnv(p, envs);
    for (LWEnvelopeID e : envs)
        if (e) {
            s->beginBlk(w, kVenv, 0);
            env().save(e, s);
            s->endBlk(w);
        }
    LWTextureID t = vp().getTex(p);
    s->beginBlk(w, kIenv, 0);
    std::vector<LWEnvelopeID> les = layerEnvelopes(t);
    valueBlock(s, static_cast<int>(les.size()));
    for (LWEnvelopeID e : les) {
        s->beginBlk(w, kIenvData, 0);
        env().save(e, s);
        s->endBlk(w);
    }
    s->endBlk(w);
    s->beginBlk(w, kIref, 0);
    std::vector<std::pair<int, LWImageID>> images;
    int k = 0;
    for (LWTLayerID l = tx().firstLayer(t); l; l = tx().nextLayer(t, l), ++k) {
        LWImageID img = nullptr;
        if (tx().getParam(l, TXTAG_IMAGE, &img) && img) images.emplace_back(k, img);
    }
    valueBlock(s, static_cast<int>(images.size()));
    for (auto [index, img] : images) {
        valueBlock(s, index);
        s->beginBlk(w, kIdat, 0);
        short flag = 1;
        s->writeI4(w, &version, 1);
        s->writeI2(w, &flag, 1);
        s->writeStr(w, std::to_string(reinterpret_cast<uintptr_t>(img)).c_str());
        s->endBlk(w);
    }
    s->endBlk(w);
    s->endBlk(w);
}

void load(const LWLoadState *l, LWVParmID p) {
    void *r = l->readData;
    int version = 0;
    if (l->findBlk(r, kParmList) == kVprm->id && l->readI4(r, &version, 1) == 1 && version == 256) {
        vp().load(p, l);
        LWEnvelopeID envs[3];
        vp().getEnv(p, envs);
        for (LWEnvelopeID e : envs)
            if (e) {
                if (l->findBlk(r, kParmList) == kVenv->id) env().load(e, l);
                l->endBlk(r);
            }
        LWTextureID t = vp().getTex(p);
        if (l->findBlk(r, kImageList) == kIenv->id) {
            valueRead(l);
            for (LWEnvelopeID e : layerEnvelopes(t)) {
                if (l->findBlk(r, kImageList) == kIenv->id) env().load(e, l);
                l->endBlk(r);
            }
        }
        l->endBlk(r);
        if (l->findBlk(r, kImageList) == kIref->id) {
            int n = valueRead(l), wanted = valueRead(l), loaded = 0, k = 0;
            for (LWTLayerID ly = tx().firstLayer(t); ly && n > 0 && loaded < n; ly = tx().nextLayer(t, ly), ++k) {
                if (k != wanted) continue;
                LWImageID img = nullptr;
                char name[512] = "";
                short flag = 0;
                int v = 0;
                if (l->findBlk(r, kImageList) == kIdat->id && l->readI4(r, &v, 1) == 1 && v == 256 &&
                    l->readI2(r, &flag, 1) == 1 && l->readStr(r, name, sizeof name) >= 0 && flag)
                    img = reinterpret_cast<LWImageID>(std::stoull(name));
                l->endBlk(r);
                tx().setParam(ly, TXTAG_IMAGE, &img);
                if (++loaded < n) wanted = valueRead(l);
            }
        }
        l->endBlk(r);
    }
    l->endBlk(r);
}

class PluginFlow : public ::testing::TestWithParam<Format> {
protected:
    void SetUp() override { gGroup = env().createGroup(nullptr, "surface"); }
    void TearDown() override {
        host::vparm::clearAll();
        host::texture::clearAll();
        host::animation::clearAll();
    }
    LWVParmID make(const char *name) {
        LWVParmID p = vp().create(LWVP_COLOR, LWVPDT_COLOR);
        vp().setup(p, name, gGroup, nullptr, onEvent, "test", nullptr);
        return p;
    }
};

TEST_P(PluginFlow, TexturedParameterRoundTrips) {
    LWVParmID src = make("src");
    double c[3] = {0.2, 0.4, 0.6};
    vp().setVal(src, c);
    host::vparm::setEnveloped(src, 0, true);
    LWEnvelopeID envs[3];
    vp().getEnv(src, envs);
    host::animation::setKeys(envs[0], {{0, 1, LWKEY_LINEAR}, {1, 3, LWKEY_LINEAR}});
    LWTextureID t = host::vparm::setTextured(src, true);
    LWTLayerID image = host::texture::addLayer(t, TLT_IMAGE);
    host::texture::addLayer(t, TLT_PROC);
    host::texture::addLayer(t, TLT_GRAD);  // layers now: grad, proc, image
    LWImageID img = reinterpret_cast<LWImageID>(0x4242);
    tx().setParam(image, TXTAG_IMAGE, &img);
    LWEnvelopeID op = host::texture::envelopeOpacity(image, true);
    ASSERT_NE(op, nullptr);
    host::animation::setKeys(op, {{0, 0.5}, {2, 0.25}});

    host::state::SaveState s(GetParam());
    save(s.record(), src);
    EXPECT_EQ(s.openBlocks(), 0);

    LWVParmID dst = make("dst");
    host::state::LoadState l(GetParam(), s.bytes());
    load(l.record(), dst);
    EXPECT_EQ(l.failures(), 0);
    EXPECT_EQ(l.depth(), 0);

    double out[3];
    vp().getVal(dst, 0.5, nullptr, out);
    EXPECT_EQ(out[0], 2) << "red from its envelope";
    EXPECT_EQ(out[2], 0.6);
    LWTextureID dt = vp().getTex(dst);
    ASSERT_EQ(host::texture::layerCount(dt), 3);
    LWTLayerID third = tx().nextLayer(dt, tx().nextLayer(dt, tx().firstLayer(dt)));
    LWImageID got = nullptr;
    EXPECT_EQ(tx().getParam(third, TXTAG_IMAGE, &got), 1);
    EXPECT_EQ(got, img) << "image back on layer 2";
    std::vector<LWEnvelopeID> les = layerEnvelopes(dt);
    ASSERT_EQ(les.size(), 1u);
    EXPECT_EQ(env().value(les[0], 2), 0.25) << "layer opacity keys back";
}

INSTANTIATE_TEST_SUITE_P(BothFormats, PluginFlow, ::testing::Values(Format::Binary, Format::Text),
                         [](const auto &info) { return info.param == Format::Binary ? "Binary" : "Text"; });

}  // namespace
