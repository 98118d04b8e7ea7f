// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "host/animation/envelopes.h"
#include "host/state/memory_state.h"
#include "host/texture/texture_system.h"

namespace {

using host::state::Format;
using host::texture::Blend;
using host::texture::GradientKey;
using host::texture::LayerSettings;

const LWTextureFuncs &tx() { return *host::texture::textureFuncs(); }

LWMicropol spotAt(double x, double y, double z) {
    LWMicropol mp{};
    double p[3] = {x, y, z};
    for (int a = 0; a < 3; ++a) mp.oPos[a] = mp.wPos[a] = p[a];
    mp.wNorm[1] = 1;
    mp.cosine = 1;
    return mp;
}

GradientKey gkey(double pos, double v, double alpha = 1) {
    GradientKey k;
    k.position = pos;
    k.value[0] = k.value[1] = k.value[2] = v;
    k.alpha = alpha;
    return k;
}

// A gradient layer whose value is `v` everywhere (one key), with the given opacity and mode.
LWTLayerID flatLayer(LWTextureID t, double v, double opacity, Blend blend) {
    LWTLayerID l = host::texture::addLayer(t, TLT_GRAD);
    LayerSettings s;
    s.input = "X Coordinate";
    s.keys = {gkey(0, v)};
    s.opacity = opacity;
    s.blend = blend;
    EXPECT_TRUE(host::texture::setLayer(l, s));
    return l;
}

// A plug-in's gradient-input context that records every callback. Its one input answers
// 2 * wPos.x + the time the per-time data was made for.
struct Recorder {
    int timeCalls = 0, cleanupCalls = 0, evaluateCalls = 0;
    double lastTime = -1;
    LWItemID lastItem = nullptr;
    std::vector<double *> live;
};
Recorder *gRec = nullptr;

double recEvaluate(LWTxtrParamDesc *desc, int nb, LWMicropol *mp, gParamData data) {
    ++gRec->evaluateCalls;
    gRec->lastItem = desc->itemID;
    return nb == 1 && data ? 2 * mp->wPos[0] + *static_cast<double *>(data) : -100;
}

gParamData recTime(void *, LWTxtrParamDesc *desc, int, LWTime time, LWFrame) {
    ++gRec->timeCalls;
    gRec->lastTime = time;
    gRec->lastItem = desc->itemID;
    double *d = new double(time);
    gRec->live.push_back(d);
    return d;
}

void recCleanup(LWTxtrParamDesc *, int, gParamData data) {
    ++gRec->cleanupCalls;
    auto &v = gRec->live;
    for (size_t i = 0; i < v.size(); ++i)
        if (v[i] == data) {
            delete v[i];
            v.erase(v.begin() + long(i));
            return;
        }
    ADD_FAILURE() << "cleanup of data never made";
}

class Textures : public ::testing::Test {
protected:
    void SetUp() override { gRec = &rec; }
    void TearDown() override {
        host::texture::clearAll();
        host::animation::clearAll();
        host::texture::setImageSource(nullptr);
        for (double *d : rec.live) delete d;
        gRec = nullptr;
    }
    LWTxtrContextID context() {
        LWTxtrContextID c = tx().contextCreate({recEvaluate, recTime, recCleanup});
        LWTxtrParamDesc d{"Test Input", 0, 1, 2, 4, -1, nullptr, nullptr};
        EXPECT_EQ(tx().contextAddParam(c, d), 1);
        return c;
    }
    Recorder rec;
};

// Two layers over a base of 0.5: the bottom sets 0.2 fully; the top applies 0.8 at half
// opacity with each mode. Combined alpha 1 - (1 - 1)(1 - 0.5) = 1.
TEST_F(Textures, LayersBlendFromTheBottomUp) {
    struct Case {
        Blend blend;
        double want;
    };
    const Case cases[] = {{Blend::Normal, 0.2 * 0.5 + 0.8 * 0.5},
                          {Blend::Additive, 0.2 + 0.8 * 0.5},
                          {Blend::Subtractive, 0.2 - 0.8 * 0.5},
                          {Blend::Multiply, 0.2 * 0.5 + 0.2 * 0.8 * 0.5}};
    for (const Case &c : cases) {
        LWTextureID t = tx().create(TRT_SCALAR, "t", nullptr, nullptr);
        flatLayer(t, 0.2, 1, Blend::Normal);
        flatLayer(t, 0.8, 0.5, c.blend);  // added on top
        LWMicropol mp = spotAt(0, 0, 0);
        double v = 0.5;
        EXPECT_DOUBLE_EQ(tx().evaluate(t, &mp, &v), 1.0) << int(c.blend);
        EXPECT_NEAR(v, c.want, 1e-15) << int(c.blend);
        tx().destroy(t);
    }
}

TEST_F(Textures, PartialCoverageKeepsTheBase) {
    LWTextureID t = tx().create(TRT_COLOR, "t", nullptr, nullptr);
    flatLayer(t, 1, 0.25, Blend::Normal);
    LWMicropol mp = spotAt(0, 0, 0);
    double v[3] = {0, 0.4, 1};
    EXPECT_DOUBLE_EQ(tx().evaluate(t, &mp, v), 0.25);
    EXPECT_DOUBLE_EQ(v[0], 0.25);
    EXPECT_DOUBLE_EQ(v[1], 0.4 * 0.75 + 0.25);
    EXPECT_DOUBLE_EQ(v[2], 1);
}

TEST_F(Textures, GradientKeysInterpolateOverAHostInput) {
    LWTextureID t = tx().create(TRT_SCALAR, "t", nullptr, nullptr);
    LWTLayerID l = host::texture::addLayer(t, TLT_GRAD);
    LayerSettings s;
    s.input = "World Y Coordinate";
    s.keys = {gkey(0, 0), gkey(2, 1, 0.5)};
    ASSERT_TRUE(host::texture::setLayer(l, s));
    struct Case {
        double y, value, alpha;
    };
    for (Case c : {Case{-1, 0, 1}, Case{1, 0.5, 0.75}, Case{3, 1, 0.5}}) {
        LWMicropol mp = spotAt(0, c.y, 0);
        double v = 0;
        EXPECT_DOUBLE_EQ(tx().evaluate(t, &mp, &v), c.alpha) << c.y;
        EXPECT_DOUBLE_EQ(v, c.value * c.alpha) << c.y;
    }
}

TEST_F(Textures, PluginInputIsTimedOncePerTextureAndTime) {
    LWTxtrContextID ctx = context();
    LWTextureID t = tx().create(TRT_SCALAR, "t", ctx, nullptr);
    LWItemID picked = reinterpret_cast<LWItemID>(0x1234);
    for (int i = 0; i < 2; ++i) {  // two layers on the same input share its per-time data
        LWTLayerID l = host::texture::addLayer(t, TLT_GRAD);
        LayerSettings s;
        s.input = "Test Input";
        s.keys = {gkey(0, 0), gkey(10, 10)};
        s.opacity = 1;
        s.pickedItem = picked;
        ASSERT_TRUE(host::texture::setLayer(l, s));
    }
    tx().newtime(t, 1.5, 45);
    EXPECT_EQ(rec.timeCalls, 1);
    EXPECT_EQ(rec.lastItem, picked);
    tx().newtime(t, 1.5, 45);
    EXPECT_EQ(rec.timeCalls, 1) << "same time again";

    LWMicropol mp = spotAt(2, 0, 0);
    double v = 0;
    EXPECT_DOUBLE_EQ(tx().evaluate(t, &mp, &v), 1.0);
    EXPECT_DOUBLE_EQ(v, 2 * 2 + 1.5) << "the input's value through the keys";
    EXPECT_EQ(rec.evaluateCalls, 2);
    EXPECT_EQ(rec.lastItem, picked);

    tx().newtime(t, 2.0, 60);
    EXPECT_EQ(rec.cleanupCalls, 1) << "the old time's data went first";
    EXPECT_EQ(rec.timeCalls, 2);
    tx().cleanup(t);
    EXPECT_EQ(rec.cleanupCalls, 2);
    EXPECT_TRUE(rec.live.empty());

    tx().newtime(t, 3.0, 90);
    tx().contextDestroy(ctx);  // releases the data while the plug-in can still answer
    EXPECT_TRUE(rec.live.empty());
    v = 0;
    EXPECT_DOUBLE_EQ(tx().evaluate(t, &mp, &v), 0.0) << "a destroyed context's input gives nothing";
}

struct UVImage : host::texture::ImageSource {
    bool colorAt(LWImageID image, double u, double v, double rgb[3]) const override {
        if (image != reinterpret_cast<LWImageID>(7)) return false;
        rgb[0] = u;
        rgb[1] = v;
        rgb[2] = 0.5;
        return true;
    }
};

TEST_F(Textures, ImageLayersProjectAndSample) {
    UVImage img;
    host::texture::setImageSource(&img);
    LWTextureID t = tx().create(TRT_COLOR, "t", nullptr, nullptr);
    LWTLayerID l = host::texture::addLayer(t, TLT_IMAGE);
    LWImageID id = reinterpret_cast<LWImageID>(7), got = nullptr;
    EXPECT_EQ(tx().getParam(l, TXTAG_IMAGE, &got), 1);
    EXPECT_EQ(got, nullptr);
    EXPECT_EQ(tx().setParam(l, TXTAG_IMAGE, &id), 1);
    EXPECT_EQ(tx().getParam(l, TXTAG_IMAGE, &got), 1);
    EXPECT_EQ(got, id);
    EXPECT_EQ(tx().getParam(l, 3, &got), 0) << "tags this host does not keep";

    struct Case {
        const char *what;
        host::texture::Projection projection;
        int axis;
        double p[3], u, v;
    };
    const double size = 2;
    const Case cases[] = {
        {"planar z", host::texture::Projection::Planar, 2, {0.5, 0.5, 9}, 0.75, 0.25},
        {"planar x", host::texture::Projection::Planar, 0, {9, 0.5, -0.5}, 0.25, 0.25},
        {"planar wraps", host::texture::Projection::Planar, 2, {1.5, 0, 0}, 0.25, 0.5},
        {"spherical equator +x", host::texture::Projection::Spherical, 2, {1, 0, 0}, 0.5, 0.5},
        {"spherical equator +y", host::texture::Projection::Spherical, 2, {0, 1, 0}, 0.75, 0.5},
        {"spherical pole", host::texture::Projection::Spherical, 2, {0, 0, 1}, 0.5, 0.0},
    };
    for (const Case &c : cases) {
        LayerSettings s;
        s.projection = c.projection;
        s.axis = c.axis;
        s.size[0] = s.size[1] = s.size[2] = size;
        ASSERT_TRUE(host::texture::setLayer(l, s));
        LWMicropol mp = spotAt(c.p[0], c.p[1], c.p[2]);
        double v[3] = {0, 0, 0};
        EXPECT_DOUBLE_EQ(tx().evaluate(t, &mp, v), 1.0) << c.what;
        EXPECT_NEAR(v[0], c.u, 1e-12) << c.what;
        EXPECT_NEAR(v[1], c.v, 1e-12) << c.what;
    }
}

TEST_F(Textures, FractalNoiseIsBoundedAndRepeatable) {
    LWTextureID t = tx().create(TRT_SCALAR, "t", nullptr, nullptr);
    host::texture::addLayer(t, TLT_PROC);
    double lo = 1, hi = 0;
    for (int i = 0; i < 500; ++i) {
        LWMicropol mp = spotAt(i * 0.173, i * -0.31, i * 0.05);
        double v = 0, w = 0;
        double a = tx().evaluate(t, &mp, &v);
        EXPECT_EQ(tx().evaluate(t, &mp, &w), a);
        lo = std::min(lo, a);
        hi = std::max(hi, a);
    }
    EXPECT_GE(lo, 0.0);
    EXPECT_LE(hi, 1.0);
    EXPECT_GT(hi - lo, 0.2) << "the noise varies";
    LWMicropol far = spotAt(1e300, -INFINITY, NAN);
    double v = 0;
    double a = tx().evaluate(t, &far, &v);
    EXPECT_TRUE(a >= 0 && a <= 1) << a;
}

TEST_F(Textures, SaveThenLoadRestoresTheLayers) {
    for (Format f : {Format::Binary, Format::Text}) {
        LWTextureID src = tx().create(TRT_COLOR, "src", nullptr, nullptr);
        LWTLayerID image = host::texture::addLayer(src, TLT_IMAGE);
        LWImageID id = reinterpret_cast<LWImageID>(7);
        tx().setParam(image, TXTAG_IMAGE, &id);
        flatLayer(src, 0.3, 0.7, Blend::Multiply);
        LWTLayerID proc = host::texture::addLayer(src, TLT_PROC);
        LayerSettings ps;
        ps.octaves = 6;
        ps.color[1] = 0.125;
        ps.center[2] = 1.0 / 3.0;
        ASSERT_TRUE(host::texture::setLayer(proc, ps));

        host::state::SaveState save(f);
        tx().save(src, save.record());
        LWTextureID dst = tx().create(TRT_COLOR, "dst", nullptr, nullptr);
        host::texture::addLayer(dst, TLT_GRAD);
        host::state::LoadState load(f, save.bytes());
        tx().load(dst, load.record());
        ASSERT_EQ(host::texture::layerCount(dst), 3);

        LWTLayerID a = tx().firstLayer(src), b = tx().firstLayer(dst);
        for (; a && b; a = tx().nextLayer(src, a), b = tx().nextLayer(dst, b)) {
            LayerSettings sa, sb;
            ASSERT_TRUE(host::texture::getLayer(a, sa) && host::texture::getLayer(b, sb));
            EXPECT_EQ(tx().layerType(a), tx().layerType(b));
            EXPECT_EQ(sa.opacity, sb.opacity);
            EXPECT_EQ(sa.blend, sb.blend);
            EXPECT_EQ(sa.octaves, sb.octaves);
            EXPECT_EQ(sa.center[2], sb.center[2]);
            EXPECT_EQ(sa.color[1], sb.color[1]);
            EXPECT_EQ(sa.input, sb.input);
            EXPECT_EQ(sa.keys.size(), sb.keys.size());
        }
        LWImageID got = id;
        EXPECT_EQ(tx().getParam(tx().nextLayer(dst, tx().nextLayer(dst, tx().firstLayer(dst))), TXTAG_IMAGE, &got),
                  1);
        EXPECT_EQ(got, nullptr) << "images are stored by whoever owns the texture";
    }
}

TEST_F(Textures, LayerChannelsLiveInTheEnvelopeGroup) {
    const LWEnvelopeFuncs &env = *host::animation::envelopeFuncs();
    LWTextureID t = tx().create(TRT_SCALAR, "t", nullptr, nullptr);
    LWTLayerID l = flatLayer(t, 1, 1, Blend::Normal);
    EXPECT_EQ(tx().layerEnvGroup(l), nullptr) << "no group before the texture has one";
    LWChanGroupID g = env.createGroup(nullptr, "param");
    tx().setEnvGroup(t, g);
    LWChanGroupID lg = tx().layerEnvGroup(l);
    ASSERT_NE(lg, nullptr);
    EXPECT_EQ(host::animation::channelInfo()->groupParent(lg), g);

    LWEnvelopeID op = host::texture::envelopeOpacity(l, true);
    ASSERT_NE(op, nullptr);
    EXPECT_EQ(host::animation::channelInfo()->nextChannel(lg, nullptr), op);
    host::animation::setKeys(op, {{0, 0, LWKEY_LINEAR}, {2, 1, LWKEY_LINEAR}});
    tx().newtime(t, 0.5, 15);
    LWMicropol mp = spotAt(0, 0, 0);
    double v = 0;
    EXPECT_DOUBLE_EQ(tx().evaluate(t, &mp, &v), 0.25) << "opacity from the envelope at the texture's time";

    LWChanGroupID g2 = env.createGroup(nullptr, "other");
    tx().setEnvGroup(t, g2);
    EXPECT_EQ(host::animation::channelInfo()->nextGroup(g, nullptr), nullptr) << "layer groups move";
    lg = tx().layerEnvGroup(l);
    EXPECT_EQ(host::animation::channelInfo()->groupParent(lg), g2);
    LWEnvelopeID moved = host::animation::findChannel(lg, "Opacity");
    EXPECT_EQ(env.value(moved, 1), 0.5) << "keys kept";
    tx().destroy(t);
    EXPECT_FALSE(host::animation::isGroup(lg)) << "the texture's groups go with it";
}

}  // namespace
