// SPDX-License-Identifier: Apache-2.0
// Image references and layer envelopes of textures, saved and loaded through a memory state.
#include <gtest/gtest.h>

#include "base/host_globals.h"
#include "tests/support/fake_host.h"
#include "tests/support/test_state.h"
#include "vparam/image_refs.h"

using namespace velmora;
using namespace testhost;

namespace {

class ImageRefs : public ::testing::Test {
protected:
    void SetUp() override {
        resetHostGlobals();
        hostGlobal = FakeHost::lookup;
    }
    void TearDown() override { resetHostGlobals(); }

    // Loads what `saved` wrote, through `loaded`, and checks that the state was left balanced.
    template <typename Load>
    void reload(TestState &state, Load load) {
        state.startLoad(state.bytes());
        load(state.load());
        EXPECT_TRUE(state.balanced()) << state.finds << " finds, " << state.loadEnds << " ends";
    }

    FakeHost host;
};

}  // namespace

TEST_F(ImageRefs, OnlyLayerTwoHasAnImage) {
    FakeImage *skin = host.image("skin.png", "maps/skin.png");
    FakeTexture *saved = host.texture({{}, {}, {nullptr, true, skin}});
    TestState state;
    imageRefSave(state.save(), saved);
    EXPECT_EQ(state.outline(), R"(IREF[IVAL[1] IVAL[2] IDAT[256 1s "skin.png" "maps/skin.png"]])");

    FakeTexture *loaded = host.texture({{}, {}, {}});
    reload(state, [&](const LWLoadState *load) { imageRefLoad(load, loaded); });
    EXPECT_EQ(loaded->layers[0].image, nullptr);
    EXPECT_EQ(loaded->layers[1].image, nullptr);
    EXPECT_EQ(loaded->layers[2].image, skin);
    EXPECT_EQ(host.imagesLoaded, 0);
}

TEST_F(ImageRefs, ReusesAnImageOfTheSameNameIgnoringCase) {
    struct Case {
        const char *sceneImage;  // null: the scene has no image
        bool reused;
    } cases[] = {
        {"Skin.PNG", true}, {"skin.png", true}, {"SKIN.png", true}, {"skin.jpg", false}, {nullptr, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.sceneImage ? c.sceneImage : "(no image)");
        FakeHost scene;
        acquireLibraryGlobals();  // the reference operations do it before they save or load images
        FakeImage saved = {"Skin.PNG", "maps/skin.png"};
        TestState state;
        imageDataSave(state.save(), &saved);
        FakeImage *present = c.sceneImage ? scene.image(c.sceneImage, "elsewhere/skin.png") : nullptr;

        state.startLoad(state.bytes());
        FakeImage *got = static_cast<FakeImage *>(imageDataLoad(state.load()));
        EXPECT_TRUE(state.balanced());
        ASSERT_NE(got, nullptr);
        if (c.reused) {
            EXPECT_EQ(got, present);
            EXPECT_EQ(scene.imagesLoaded, 0);
        } else {
            EXPECT_EQ(scene.imagesLoaded, 1);
            EXPECT_EQ(got->file, "maps/skin.png") << "recreated from the saved data";
        }
    }
}

TEST_F(ImageRefs, TextureWithoutImageLayersSavesACountOfZero) {
    FakeTexture *saved = host.texture({{nullptr, false, nullptr}, {}});
    TestState state;
    imageRefSave(state.save(), saved);
    EXPECT_EQ(state.outline(), "IREF[IVAL[0]]");

    FakeImage *kept = host.image("keep", "keep.png");
    FakeTexture *loaded = host.texture({{nullptr, true, kept}, {}});
    reload(state, [&](const LWLoadState *load) { imageRefLoad(load, loaded); });
    EXPECT_EQ(loaded->layers[0].image, kept);
}

TEST_F(ImageRefs, LayerEnvelopesAreSavedLayerByLayerChannelByChannel) {
    FakeEnvelope *a = host.envelope(0.5f), *b = host.envelope(1.5f), *c = host.envelope(2.5f);
    FakeTexture *saved = host.texture({{host.group("0", {a, nullptr, b})}, {}, {host.group("2", {c})}});
    TestState state;
    imageEnvSave(state.save(), saved);
    EXPECT_EQ(state.outline(), "IENV[IVAL[3] IENV[0.5f] IENV[1.5f] IENV[2.5f]]");
    const std::vector<std::string> tokens = {"ImageEnvelope", "ImageRefValue", "ImageEnvelopeData",
                                             "ImageEnvelopeData", "ImageEnvelopeData"};
    EXPECT_EQ(state.begunTokens, tokens);

    a->value = b->value = c->value = 0.f;
    reload(state, [&](const LWLoadState *load) { imageEnvLoad(load, saved); });
    EXPECT_EQ(a->value, 0.5f);
    EXPECT_EQ(b->value, 1.5f);
    EXPECT_EQ(c->value, 2.5f);
}

TEST_F(ImageRefs, LayersWithoutChannelGroupsSaveAnEmptyEnvelopeBlock) {
    FakeTexture *tex = host.texture({{}, {}});
    TestState state;
    imageEnvSave(state.save(), tex);
    EXPECT_EQ(state.outline(), "IENV[IVAL[0]]");
    reload(state, [&](const LWLoadState *load) { imageEnvLoad(load, tex); });
    EXPECT_EQ(state.finds, 2) << "the IENV block and its count";
}

TEST_F(ImageRefs, UnusableReferencesFallBack) {
    FakeImage *face = host.image("face", "face.png");
    FakeImage *skin = host.image("skin", "skin.png");

    // More saved references than the loading texture has layers: the rest are skipped by the
    // end of the IREF block, and whatever follows it still reads.
    {
        TestState state;
        imageRefSave(state.save(), host.texture({{nullptr, true, face}, {}, {nullptr, true, skin}}));
        valueBlockWrite(state.save(), 77);
        FakeTexture *twoLayers = host.texture({{}, {}});
        reload(state, [&](const LWLoadState *load) {
            imageRefLoad(load, twoLayers);
            EXPECT_EQ(valueBlockRead(load), 77);
        });
        EXPECT_EQ(twoLayers->layers[0].image, face);
        EXPECT_EQ(twoLayers->layers[1].image, nullptr);
    }
    // An IDAT block of another version gives the layer whose index was read no image.
    {
        TestState state;
        const LWSaveState *save = state.save();
        const LWBlockIdent iref = {kBlockIREF, "ImageRef"}, idat = {kBlockIDAT, "ImageRefData"};
        save->beginBlk(save->writeData, &iref, 0);
        valueBlockWrite(save, 1);
        valueBlockWrite(save, 1);
        save->beginBlk(save->writeData, &idat, 0);
        const int version = 255;
        const short flag = 1;
        save->writeI4(save->writeData, &version, 1);
        save->writeI2(save->writeData, &flag, 1);
        save->writeStr(save->writeData, "face");
        save->endBlk(save->writeData);
        save->endBlk(save->writeData);
        FakeTexture *tex = host.texture({{nullptr, true, face}, {nullptr, true, skin}});
        reload(state, [&](const LWLoadState *load) { imageRefLoad(load, tex); });
        EXPECT_EQ(tex->layers[0].image, face);
        EXPECT_EQ(tex->layers[1].image, nullptr);
    }
    // A block that is not IREF changes nothing.
    {
        TestState state;
        valueBlockWrite(state.save(), 1);
        FakeTexture *tex = host.texture({{nullptr, true, face}});
        reload(state, [&](const LWLoadState *load) { imageRefLoad(load, tex); });
        EXPECT_EQ(tex->layers[0].image, face);
    }
}
