// SPDX-License-Identifier: Apache-2.0
// Variant parameters: naming, events, the spot micropolygon, and persistence with envelopes,
// textures and image references.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "base/host_globals.h"
#include "tests/support/fake_host.h"
#include "tests/support/test_state.h"
#include "vparam/image_refs.h"
#include "vparam/vparam.h"

using namespace velmora;
using namespace testhost;

namespace {

class VparamTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetHostGlobals();
        hostGlobal = FakeHost::lookup;
        owner = host.group("owner");
    }
    void TearDown() override { resetHostGlobals(); }

    std::unique_ptr<Vparam> make(const char *name, int valueType, int textureKind, LWSurfaceID surface = nullptr) {
        std::unique_ptr<Vparam> vp(new Vparam(name, valueType, textureKind, owner, "QZ_velmora", surface));
        return vp;
    }
    static FakeParam *fake(const Vparam &vp) { return static_cast<FakeParam *>(vp.parameter); }

    FakeHost host;
    FakeGroup *owner = nullptr;
};

bool isColourChannelOf(const std::string &channel, const std::string &name) {
    if (channel.size() != name.size() + 9 || channel.compare(0, name.size() + 1, name + "_") != 0) return false;
    for (size_t i = name.size() + 1; i < channel.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(channel[i])) && (channel[i] < 'a' || channel[i] > 'f'))
            return false;
    return true;
}

}  // namespace

TEST_F(VparamTest, ColourParameterGetsAChannelGroupOfItsOwn) {
    auto colour = make("skin_color", LWVP_COLOR, LWVPDT_COLOR);
    auto percent = make("Ksub", LWVP_PERCENT, LWVPDT_NOTXTR);
    FakeParam *c = fake(*colour), *p = fake(*percent);
    ASSERT_NE(c, nullptr);
    ASSERT_NE(p, nullptr);

    EXPECT_TRUE(isColourChannelOf(c->channel, "skin_color")) << c->channel;
    const FakeGroup *own = static_cast<FakeGroup *>(c->group);
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->name, c->channel);
    EXPECT_EQ(own->parent, owner);
    if (sizeof(void *) == 4) {
        char address[16];
        std::snprintf(address, sizeof address, "%08x",
                      static_cast<unsigned>(reinterpret_cast<uintptr_t>(colour.get())));
        EXPECT_EQ(c->channel.substr(11), address);
    }

    EXPECT_EQ(p->channel, "Ksub");
    EXPECT_EQ(p->group, owner);
    EXPECT_EQ(p->context, nullptr) << "no texture, no gradient context";
    for (FakeParam *f : {c, p}) {
        EXPECT_EQ(f->event, vparamEvent);
        EXPECT_EQ(f->plugin, "QZ_velmora");
        EXPECT_EQ(f->value[0], 0.0);
        EXPECT_EQ(f->value[2], 0.0);
    }
    EXPECT_EQ(c->userData, colour.get());
    EXPECT_EQ(c->envType, LWVP_COLOR);
    EXPECT_EQ(c->texType, LWVPDT_COLOR);

    // Channel names stay unique among the parameters alive at the same time.
    auto second = make("skin_color", LWVP_COLOR, LWVPDT_COLOR);
    EXPECT_NE(fake(*second)->channel, c->channel);
    colour.reset();
    EXPECT_EQ(host.destroyedParams.back(), c);
    auto third = make("skin_color", LWVP_COLOR, LWVPDT_COLOR);
    EXPECT_NE(fake(*third)->channel, fake(*second)->channel);
}

TEST_F(VparamTest, CreateShaderGroupHangsUnderTheSurfaceGroup) {
    host.surfaceGroup = host.group("surface");
    const FakeGroup *under = static_cast<FakeGroup *>(createShaderGroup("QZ_velmora", surfaceId(0)));
    const FakeGroup *top = static_cast<FakeGroup *>(createShaderGroup("QZ_velmora", nullptr));
    ASSERT_TRUE(under && top);
    EXPECT_EQ(under->parent, host.surfaceGroup);
    EXPECT_EQ(top->parent, nullptr);
    EXPECT_EQ(top->name, "QZ_velmora");
}

TEST_F(VparamTest, AutomaticSizingBoxesTheSurfacesPolygons) {
    host.surfaceNames = {"skin", "unused"};
    FakeMesh head, hat, other;
    head.addPoint(-1, 0, 2);
    head.addPoint(3, 1, 0);
    head.addPoint(0, -2, 1);
    head.addPoint(100, 100, 100);
    head.addPolygon({0, 1, 2}, "skin");
    head.addPolygon({3, 1, 2}, "hair");
    hat.addPoint(-50, -50, -50);
    hat.addPolygon({0, 0, 0}, nullptr);
    other.addPoint(500, 500, 500);
    other.addPolygon({0, 0, 0}, "skin");  // an object that does not list the surface
    host.objects = {{"head.lwo", {surfaceId(0), surfaceId(1), nullptr}, {&head, nullptr, &hat}},
                    {nullptr, {surfaceId(0), nullptr}, {&other}},
                    {"other.lwo", {surfaceId(1), nullptr}, {&other}}};

    struct Case {
        const char *what;
        LWSurfaceID surface;
        double want[6];
    } cases[] = {{"no surface", nullptr, {-0.5, 0.5, -0.5, 0.5, -0.5, 0.5}},
                 {"surface no polygon uses", surfaceId(1), {-0.5, 0.5, -0.5, 0.5, -0.5, 0.5}},
                 {"surface of one polygon", surfaceId(0), {-1, 3, -2, 1, 0, 2}}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        auto vp = make("Ka", LWVP_PERCENT, LWVPDT_PERCENT, c.surface);
        double box[6] = {9, 9, 9, 9, 9, 9};
        EXPECT_EQ(fake(*vp)->event(vp->parameter, fake(*vp)->userData, LWVPE_AUTOSIZE, box), 1);
        for (int i = 0; i < 6; ++i) EXPECT_EQ(box[i], c.want[i]) << "box[" << i << "]";
    }
    EXPECT_EQ(head.destroyed, 2) << "each layer mesh taken is released";
    EXPECT_EQ(other.destroyed, 1) << "taken only for the surface its object lists, never for a nameless object";
}

TEST_F(VparamTest, TextureEventsAndRenderCallsReachTheTexture) {
    auto plain = make("Ksheen", LWVP_PERCENT, LWVPDT_PERCENT);
    auto textured = make("Ksub", LWVP_PERCENT, LWVPDT_PERCENT);
    FakeTexture *tex = host.texture({{}});
    fake(*textured)->texture = tex;
    for (Vparam *vp : {plain.get(), textured.get()}) {
        EXPECT_EQ(vparamEvent(vp->parameter, vp, LWVPE_ENVGROUP, nullptr), 1);
        EXPECT_EQ(vparamEvent(vp->parameter, vp, 99, nullptr), 1);
        vparamNewTime(vp, 1.5, 36);
        vparamCleanup(vp);
    }
    EXPECT_EQ(tex->envGroup, owner);
    EXPECT_EQ(tex->newTimes, 1);
    EXPECT_EQ(tex->cleanups, 1);
}

TEST_F(VparamTest, MicropolygonAxes) {
    FakeMesh mesh;
    mesh.addPoint(0, 0, 0);
    mesh.addPoint(0, 0, 1);
    mesh.addPoint(1, 0, 0);
    mesh.addPolygon({0, 1, 2});  // lies in y = 0
    LWItemID object = reinterpret_cast<LWItemID>(0x40);
    host.objectMeshes = {{object, &mesh}};
    const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    const double swapXZ[9] = {0, 0, 1, 0, 1, 0, 1, 0, 0};

    struct Case {
        double gNorm[3];
        bool polygon;
        const double *wXfrm;
        int wAxis, oAxis;
    } cases[] = {{{0.6, 0.6, 0.5}, false, identity, 0, 0}, {{0.5, 0.6, 0.6}, false, identity, 1, 1},
                 {{0.1, 0.2, 0.9}, false, identity, 2, 2}, {{0.1, 0.2, 0.9}, false, swapXZ, 2, 0},
                 {{0.1, 0.2, 0.9}, true, identity, 2, 1},  {{0.0, 0.0, 0.0}, false, identity, 0, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.gNorm[0] << "," << c.gNorm[1] << "," << c.gNorm[2]
                                        << (c.polygon ? " with polygon" : ""));
        LWShaderAccess sa = {};
        for (int i = 0; i < 3; ++i) {
            sa.gNorm[i] = c.gNorm[i];
            sa.wPos[i] = 1.0 + i;
            sa.raySource[i] = 0.5;
        }
        for (int i = 0; i < 9; ++i) sa.wXfrm[i] = c.wXfrm[i];
        sa.objID = object;
        sa.polygon = c.polygon ? FakeMesh::polygon(0) : nullptr;
        sa.weights[3] = 0.75f;
        LWMicropol mp;
        micropolFromAccess(&mp, &sa, surfaceId(4));
        EXPECT_EQ(mp.wAxis, c.wAxis);
        EXPECT_EQ(mp.oAxis, c.oAxis);
        EXPECT_EQ(mp.ray[2], 2.5) << "wPos - raySource, not normalised";
        EXPECT_EQ(mp.oScl[1], 1.0);
        EXPECT_EQ(mp.txVal, 0.25) << "kept from the host's initialisation";
        EXPECT_EQ(mp.srfID, surfaceId(4));
        EXPECT_EQ(mp.weights[3], 0.75f);
        EXPECT_EQ(mp.polygon, sa.polygon);
    }
    EXPECT_EQ(mesh.destroyed, 1);
}

TEST_F(VparamTest, EnvelopedComponentsEachSaveOneBlock) {
    FakeEnvelope *r = host.envelope(0.5f), *g = host.envelope(1.5f), *b = host.envelope(2.5f);
    struct Case {
        FakeEnvelope *envs[3];
        const char *outline;
    } cases[] = {{{nullptr, nullptr, nullptr}, "VPRM[256 7]"},
                 {{r, nullptr, nullptr}, "VPRM[256 7 VENV[0.5f]]"},
                 {{r, g, b}, "VPRM[256 7 VENV[0.5f] VENV[1.5f] VENV[2.5f]]"},
                 {{nullptr, g, b}, "VPRM[256 7 VENV[1.5f] VENV[2.5f]]"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.outline);
        auto vp = make("skin_color", LWVP_COLOR, LWVPDT_COLOR);
        fake(*vp)->data = 7;
        std::copy(c.envs, c.envs + 3, fake(*vp)->envs);
        TestState state;
        vparamSave(vp.get(), state.save());
        EXPECT_EQ(state.outline(), c.outline);
        EXPECT_TRUE(state.balanced());

        auto back = make("skin_color", LWVP_COLOR, LWVPDT_COLOR);
        FakeEnvelope fresh[3];
        for (int i = 0; i < 3; ++i) fake(*back)->envs[i] = c.envs[i] ? &fresh[i] : nullptr;
        state.startLoad(state.bytes());
        vparamLoad(back.get(), state.load());
        EXPECT_TRUE(state.balanced());
        EXPECT_EQ(fake(*back)->data, 7);
        for (int i = 0; i < 3; ++i)
            if (c.envs[i]) {
                EXPECT_EQ(fresh[i].value, c.envs[i]->value) << "component " << i;
            }
    }
}

TEST_F(VparamTest, LoadLeavesTheParameterWithoutAUsableBlock) {
    struct Case {
        const char *what;
        LWID id;
        int version;
    } cases[] = {
        {"version 255", kBlockVPRM, 255}, {"version 257", kBlockVPRM, 257}, {"a PTEX block", kBlockPTEX, 256}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TestState state;
        const LWBlockIdent row = {c.id, "Other"};
        const int data = 9;
        const float env = 4.f;
        state.save()->beginBlk(state.save()->writeData, &row, 0);
        state.save()->writeI4(state.save()->writeData, &c.version, 1);
        state.save()->writeI4(state.save()->writeData, &data, 1);
        state.save()->writeFP(state.save()->writeData, &env, 1);
        state.save()->endBlk(state.save()->writeData);

        auto vp = make("Ksub", LWVP_PERCENT, LWVPDT_PERCENT);
        FakeEnvelope kept{1.f};
        fake(*vp)->data = 5;
        fake(*vp)->envs[0] = &kept;
        state.startLoad(state.bytes());
        vparamLoad(vp.get(), state.load());
        EXPECT_TRUE(state.balanced());
        EXPECT_EQ(state.loadEnds, 1) << "one end, whether or not VPRM was found";
        EXPECT_EQ(fake(*vp)->data, 5);
        EXPECT_EQ(kept.value, 1.f);
    }
}

// A textured colour parameter with envelopes on every component, a layer envelope and an image
// on its second layer; and a bare texture in a PTEX block.
class Persistence : public VparamTest {
protected:
    void SetUp() override {
        VparamTest::SetUp();
        skin = host.image("skin", "maps/skin.png");
        source = make("skin_color", LWVP_COLOR, LWVPDT_COLOR);
        FakeParam *p = fake(*source);
        p->data = 42;
        for (int i = 0; i < 3; ++i) p->envs[i] = host.envelope(0.25f * (i + 1));
        p->texture = layered(host.envelope(8.f), skin);
        p->texture->data = 17;
        bare.texture = layered(host.envelope(3.f), skin);
        static_cast<FakeTexture *>(bare.texture)->data = 23;
    }

    FakeTexture *layered(FakeEnvelope *layerEnv, FakeImage *image) {
        return host.texture({{host.group("layer 0", {layerEnv})}, {nullptr, true, image}});
    }

    // A parameter shaped like `source` whose values are all unset.
    struct Target {
        std::unique_ptr<Vparam> vp;
        FakeEnvelope envs[3];
        FakeEnvelope layerEnv;
        FakeTexture *texture;
    };
    std::unique_ptr<Target> blankTarget() {
        std::unique_ptr<Target> t(new Target);
        t->vp = make("skin_color", LWVP_COLOR, LWVPDT_COLOR);
        FakeParam *p = fake(*t->vp);
        for (int i = 0; i < 3; ++i) p->envs[i] = &t->envs[i];
        t->texture = layered(&t->layerEnv, nullptr);
        p->texture = t->texture;
        return t;
    }

    FakeImage *skin = nullptr;
    std::unique_ptr<Vparam> source;
    TextureParam bare = {};
};

TEST_F(Persistence, SaveThenLoadRestoresEverything) {
    TestState state;
    vparamSave(source.get(), state.save());
    textureParamSave(&bare, state.save());
    EXPECT_EQ(state.outline(),
              "VPRM[256 42 VENV[0.25f] VENV[0.5f] VENV[0.75f] IENV[IVAL[1] IENV[8f]] "
              R"(IREF[IVAL[1] IVAL[1] IDAT[256 1s "skin" "maps/skin.png"]]] )"
              R"(PTEX[256 23 IENV[IVAL[1] IENV[3f]] IREF[IVAL[1] IVAL[1] IDAT[256 1s "skin" "maps/skin.png"]]])");

    auto t = blankTarget();
    TextureParam loadedBare = {0, host.texture({{host.group("layer 0", {host.envelope(0.f)})}, {}}), 0, 0};
    FakeTexture *bareTex = static_cast<FakeTexture *>(loadedBare.texture);
    state.startLoad(state.bytes());
    vparamLoad(t->vp.get(), state.load());
    textureParamLoad(&loadedBare, state.load());
    EXPECT_TRUE(state.balanced());

    EXPECT_EQ(fake(*t->vp)->data, 42);
    EXPECT_EQ(t->envs[0].value, 0.25f);
    EXPECT_EQ(t->envs[2].value, 0.75f);
    EXPECT_EQ(t->layerEnv.value, 8.f);
    EXPECT_EQ(t->texture->layers[1].image, skin);
    EXPECT_EQ(bareTex->data, 23);
    EXPECT_EQ(bareTex->layers[0].group->channels[0].envelope->value, 3.f);
    EXPECT_EQ(bareTex->layers[1].image, skin);
    EXPECT_EQ(host.imagesLoaded, 0);
}

TEST_F(Persistence, EveryTruncationLoadsSafely) {
    TestState saved;
    vparamSave(source.get(), saved.save());
    textureParamSave(&bare, saved.save());
    const std::vector<uint8_t> bytes = saved.bytes();
    for (size_t length = 0; length <= bytes.size(); ++length) {
        SCOPED_TRACE(testing::Message() << "first " << length << " of " << bytes.size() << " bytes");
        auto t = blankTarget();
        FakeTexture *bareTex = host.texture({{host.group("layer 0", {host.envelope(0.f)})}, {}});
        TextureParam loadedBare = {0, bareTex, 0, 0};
        TestState state;
        state.startLoad(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)));
        vparamLoad(t->vp.get(), state.load());
        textureParamLoad(&loadedBare, state.load());
        ASSERT_TRUE(state.balanced()) << state.finds << " finds, " << state.loadEnds << " ends";

        // Each value is either left alone or restored whole.
        const int data = fake(*t->vp)->data;
        EXPECT_TRUE(data == 0 || data == 42) << data;
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(t->envs[i].value == 0.f || t->envs[i].value == 0.25f * (i + 1));
        EXPECT_TRUE(t->layerEnv.value == 0.f || t->layerEnv.value == 8.f) << t->layerEnv.value;
        EXPECT_TRUE(t->texture->layers[1].image == nullptr || t->texture->layers[1].image == skin);
        EXPECT_TRUE(bareTex->data == 0 || bareTex->data == 23) << bareTex->data;
        EXPECT_TRUE(bareTex->layers[1].image == nullptr || bareTex->layers[1].image == skin);
        if (length == bytes.size()) {
            EXPECT_EQ(bareTex->layers[1].image, skin);
        }
    }
}
