// SPDX-License-Identifier: Apache-2.0
// The image list: walking, pixels, spot filtering (nearest, bilinear, the spot filter's levels),
// loading, and the image data kept in scene files.
#include <cmath>

#include <gtest/gtest.h>

#include "host/image/image.h"
#include "host/services/global_lookup.h"
#include "host/services/scene_services.h"
#include "host/state/memory_state.h"
#include "tests/host/services/test_scene.h"
#include "tests/support/test_state.h"

namespace {

using namespace scenesvc_test;

class Images : public ::testing::Test {
protected:
    void SetUp() override {
        t = makeScene();
        host::services::registerSceneServices(t->scene);
        il = static_cast<const LWImageList *>(host::services::globalLookup(LWIMAGELIST_GLOBAL, 0));
        ASSERT_NE(il, nullptr);
        checker = t->scene.images[0].get();
        grey = t->scene.images[1].get();
        host::services::setSceneServicesMessageSink([this](const std::string &m) { messages.push_back(m); });
    }
    void TearDown() override {
        host::services::setSceneServicesMessageSink(nullptr);
        host::services::withdrawSceneServices();
    }

    // Writes a PNG of linear values 0 or 1 (exact through sRGB and back).
    std::string writePng(const std::string &file, int w, int h, const std::vector<float> &rgb) {
        std::string path = dir.path(file), why;
        EXPECT_TRUE(host::image::writePng(path, w, h, rgb, why)) << why;
        return path;
    }

    std::unique_ptr<TestScene> t;
    const LWImageList *il = nullptr;
    LWImageID checker = nullptr, grey = nullptr;
    std::vector<std::string> messages;
    TempDir dir;
};

void expectColor(const double got[3], double r, double g, double b, const std::string &what) {
    const double want[3] = {r, g, b};
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(got[c], want[c], 1e-6)
            << what << " channel " << c << ": got " << got[c] << " want " << want[c];
}

TEST_F(Images, ListNamesSizesAndPixels) {
    EXPECT_EQ(il->first(), checker);
    EXPECT_EQ(il->next(checker), grey);
    EXPECT_EQ(il->next(grey), nullptr);
    EXPECT_EQ(il->next(LWITEM_RADIOSITY), nullptr);
    EXPECT_STREQ(il->name(checker), "checker");
    EXPECT_STREQ(il->filename(grey, 12), "/nowhere/grey.png");
    EXPECT_EQ(il->name(t->key), nullptr) << "a light is no image";
    int w = 0, h = 0;
    il->size(checker, &w, &h);
    EXPECT_EQ(w, 4);
    EXPECT_EQ(h, 2);
    il->size(nullptr, &w, &h);
    EXPECT_EQ(w + h, 0);
    EXPECT_EQ(il->isColor(checker), 1);
    EXPECT_EQ(il->isColor(grey), 0);

    double rgb[3];
    il->RGB(checker, 1, 0, rgb);
    expectColor(rgb, 1, 1, 1, "top row, column 1");
    il->RGB(checker, 0, 1, rgb);
    expectColor(rgb, 1, 0, 0, "bottom row");
    il->RGB(checker, 4, 0, rgb);
    expectColor(rgb, 0, 0, 0, "outside the image");
    EXPECT_DOUBLE_EQ(il->luma(checker, 0, 1), 0.2126);
    EXPECT_EQ(il->luma(checker, 0, -1), 0.0);
}

// Spots no larger than a pixel: nearest or bilinear, u wrapping, v clamping.
TEST_F(Images, SmallSpotsSampleThePixels) {
    struct Case {
        double u, v;
        int blend;
        double r, g, b;
        const char *what;
    } cases[] = {
        {0.375, 0.25, 1, 1, 1, 1, "centre of a white pixel, bilinear"},
        {0.375, 0.25, 0, 1, 1, 1, "centre of a white pixel, nearest"},
        {0.25, 0.25, 1, 0.5, 0.5, 0.5, "halfway between black and white"},
        {0.25, 0.25, 0, 1, 1, 1, "nearest takes the pixel the point is in"},
        {0.375, 0.5, 1, 1, 0.5, 0.5, "halfway between white and the red row"},
        {1.375, 0.25, 1, 1, 1, 1, "u wraps"},
        {0.375, -3.0, 1, 1, 1, 1, "v clamps to the top row"},
        {0.0, 0.25, 1, 0.5, 0.5, 0.5, "the seam blends the first and last columns"},
    };
    for (const Case &c : cases) {
        double rgb[3];
        il->RGBSpot(checker, c.u, c.v, 0.1, c.blend, rgb);
        expectColor(rgb, c.r, c.g, c.b, c.what);
    }
    double rgb[3] = {7, 7, 7};
    il->RGBSpot(checker, NAN, 0.5, 0.1, 1, rgb);
    expectColor(rgb, 0, 0, 0, "NaN coordinates");
    il->RGBSpot(LWITEM_CAUSTICS, 0.5, 0.5, 0.1, 1, rgb);
    expectColor(rgb, 0, 0, 0, "an identifier that is no image");
    il->RGBSpot(checker, 0.5, 0.5, 0.1, 1, nullptr);
}

// Large spots: the whole 4 x 2 checker averages to (0.75, 0.25, 0.25): its top row is half
// white, its bottom row red.
TEST_F(Images, LargeSpotsAverageTheirFootprint) {
    double rgb[3];
    il->RGBSpot(checker, 0.5, 0.5, 1.0, 1, rgb);
    expectColor(rgb, 0.75, 0.25, 0.25, "a spot as wide as the image, before needAA");
    il->needAA(checker);
    il->needAA(checker);  // a second call keeps what the first made
    il->RGBSpot(checker, 0.1, 0.9, 100.0, 0, rgb);
    expectColor(rgb, 0.75, 0.25, 0.25, "a spot larger than the image");

    // At the centre of a white pixel: level 0 is white there, level 1 the average. Between one
    // and two pixels, blend weighs the two levels by the footprint; without blend the coarser
    // level is taken.
    struct Case {
        double footprint;
        int blend;
        double r, g, b;
    } cases[] = {
        {1.0, 1, 1, 1, 1}, {1.5, 1, 0.875, 0.625, 0.625}, {2.0, 1, 0.75, 0.25, 0.25},
        {1.0, 0, 1, 1, 1}, {1.2, 0, 0.75, 0.25, 0.25},
    };
    for (const Case &c : cases) {
        il->RGBSpot(checker, 0.375, 0.25, c.footprint / 4, c.blend, rgb);
        expectColor(rgb, c.r, c.g, c.b,
                    "footprint " + std::to_string(c.footprint) + " blend " + std::to_string(c.blend));
    }
    for (double spot : {0.01, 0.5, 3.0}) {
        il->RGBSpot(grey, 0.3, 0.7, spot, 1, rgb);
        expectColor(rgb, 0.5, 0.5, 0.5, "a constant image at spot " + std::to_string(spot));
    }
}

TEST_F(Images, LoadFindsOrReadsAFile) {
    std::string path = writePng("tex.png", 2, 1, {1, 0, 0, 0, 0, 1});
    LWImageID img = il->load(path.c_str());
    ASSERT_NE(img, nullptr);
    EXPECT_STREQ(il->name(img), "tex.png");
    EXPECT_STREQ(il->filename(img, 0), path.c_str());
    EXPECT_EQ(il->next(grey), img) << "loaded images follow the scene's";
    EXPECT_EQ(il->load(path.c_str()), img) << "the same file is not read twice";
    EXPECT_EQ(host::services::imageFromID(img)->width, 2);
    double rgb[3];
    il->RGB(img, 1, 0, rgb);
    expectColor(rgb, 0, 0, 1, "loaded pixel");

    // A file whose name is already an image's name gets a numbered name.
    std::string clash = writePng("grey", 1, 1, {1, 1, 1});
    LWImageID second = il->load(clash.c_str());
    ASSERT_NE(second, nullptr);
    EXPECT_STREQ(il->name(second), "grey (2)");

    EXPECT_TRUE(messages.empty());
    std::string missing = dir.path("missing.png");
    EXPECT_EQ(il->load(missing.c_str()), nullptr);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find(missing), std::string::npos) << messages[0];
    EXPECT_EQ(il->load(nullptr), nullptr);
    EXPECT_EQ(il->load(""), nullptr);
}

TEST_F(Images, SceneDataRoundTrips) {
    std::string path = writePng("saved.png", 1, 1, {0, 1, 0});
    LWImageID img = il->load(path.c_str());
    ASSERT_NE(img, nullptr);
    testhost::TestState tape;
    il->sceneSave(tape.save(), img);
    il->sceneSave(tape.save(), checker);
    il->sceneSave(tape.save(), LWITEM_RADIOSITY);  // writes nothing
    ASSERT_EQ(tape.root.children.size(), 6u);

    // A fresh session: the loaded image is read again under its saved name, the scene's found.
    host::services::withdrawSceneServices();
    host::services::registerSceneServices(t->scene);
    LWImageID back = il->sceneLoad(tape.load());
    ASSERT_NE(back, nullptr);
    EXPECT_STREQ(il->name(back), "saved.png");
    EXPECT_STREQ(il->filename(back, 0), path.c_str());
    EXPECT_EQ(il->sceneLoad(tape.load()), checker);
    tape.rewind();
    EXPECT_EQ(il->sceneLoad(tape.load()), back) << "a second load finds the image by name";
}

// The same through the host's own scene-file states, binary and text, with a name that needs
// quoting in text.
TEST_F(Images, SceneDataRoundTripsThroughTheHostStates) {
    std::string path = writePng("odd \"name\".png", 1, 1, {1, 1, 0});
    LWImageID img = il->load(path.c_str());
    ASSERT_NE(img, nullptr);
    for (auto format : {host::state::Format::Binary, host::state::Format::Text}) {
        host::state::SaveState save(format);
        il->sceneSave(save.record(), img);
        il->sceneSave(save.record(), grey);
        save.finish();
        host::services::withdrawSceneServices();
        host::services::registerSceneServices(t->scene);
        host::state::LoadState load(format, save.bytes());
        LWImageID back = il->sceneLoad(load.record());
        ASSERT_NE(back, nullptr) << (format == host::state::Format::Text ? "text" : "binary");
        EXPECT_STREQ(il->name(back), "odd \"name\".png");
        EXPECT_STREQ(il->filename(back, 0), path.c_str());
        EXPECT_EQ(il->sceneLoad(load.record()), grey);
        EXPECT_EQ(load.failures(), 0);
        img = back;
    }
}

TEST_F(Images, UnusableSceneDataGivesNoImage) {
    using testhost::Node;
    struct Case {
        std::vector<Node> items;
        const char *what;
        size_t messages;
    } cases[] = {
        {{}, "nothing", 0},
        {{Node::i4(2), Node::str("checker"), Node::str("")}, "another version", 0},
        {{Node::i4(1)}, "cut after the version", 0},
        {{Node::i4(1), Node::str("ghost")}, "cut after the name", 0},
        {{Node::str("checker")}, "a string where the version goes", 0},
        {{Node::i4(1), Node::str(""), Node::str("")}, "no name and no file", 0},
        {{Node::i4(1), Node::str("ghost"), Node::str(std::string("/nonexistent/ghost.png"))},
         "a file that is not there",
         1},
        {{Node::i4(1), Node::str(std::string(5000, 'n')), Node::str(std::string(9000, 'p'))}, "overlong texts", 1},
    };
    for (const Case &c : cases) {
        messages.clear();
        testhost::TestState tape;
        tape.root.children = c.items;
        EXPECT_EQ(il->sceneLoad(tape.load()), nullptr) << c.what;
        EXPECT_EQ(messages.size(), c.messages) << c.what;
    }
    EXPECT_EQ(il->sceneLoad(nullptr), nullptr);
    EXPECT_EQ(il->next(grey), nullptr) << "nothing was added to the list";
}

}  // namespace
