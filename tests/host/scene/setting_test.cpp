// SPDX-License-Identifier: Apache-2.0
// The one diagnostic type's printed forms, and shader settings read from JSON: their typed shape,
// the faults kept for the panel's code, textures read against the scene's images, and the order
// a scene's settings are applied in.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/scene/loader.h"
#include "host/util/diagnostic.h"

namespace {

using host::scene::SettingValue;
using host::util::Diagnostic;
using host::util::FileLoc;
using Kind = SettingValue::Kind;

TEST(Diagnostic, TextNamesTheFileAndThePlaceInEachForm) {
    struct Case {
        Diagnostic d;
        std::string text;
    };
    const Case cases[] = {
        {Diagnostic::at(FileLoc::atPath("s.json", "/items/2"), "no camera"), "s.json: /items/2: no camera"},
        {Diagnostic::at(FileLoc::atLine("s.json", 3, 14), "missing comma"),
         "s.json: line 3, column 14: missing comma"},
        {Diagnostic::at(FileLoc::atLine("a.lws", 7), "bad key"), "a.lws, line 7: bad key"},
        {Diagnostic::at(FileLoc::atLine("a.lws", 0), "empty file"), "a.lws, line 0: empty file"},
        {Diagnostic::at(FileLoc::ofFile("m.ply"), "no end_header"), "m.ply: no end_header"},
        {Diagnostic::of("mesh file \"m.ply\"", "has no polygons"), "mesh file \"m.ply\" has no polygons"},
        {Diagnostic::plain("cannot open mesh file \"m.ply\": gone"), "cannot open mesh file \"m.ply\": gone"},
        {Diagnostic::at(FileLoc::atPath("", "/keys"), "bad").in("o.json"), "o.json: /keys: bad"},
    };
    for (const Case &c : cases) EXPECT_EQ(c.d.text(), c.text);
    EXPECT_TRUE(Diagnostic().empty());
}

// A scene with one image, "skin", for textures to name.
std::unique_ptr<host::scene::Scene> sceneWithImage() {
    auto scene = std::make_unique<host::scene::Scene>();
    scene->filename = "s.json";
    scene->images.push_back(std::make_unique<host::image::Image>());
    scene->images.back()->name = "skin";
    return scene;
}

TEST(SettingValue, KeepsTheShapeGivenAndTheFaultsForTheControlToReport) {
    struct Case {
        const char *json;
        Kind kind;
        std::string kindName, faultPath, faultMessage;
    };
    const Case cases[] = {
        {"0.5", Kind::Number, "a number", "", ""},
        {"true", Kind::Flag, "a boolean", "", ""},
        {"\"pale\"", Kind::Text, "a string", "", ""},
        {"null", Kind::Null, "null", "", ""},
        {"{\"amount\": 1}", Kind::Object, "an object", "", ""},
        {"[1, 2, 3]", Kind::List, "an array", "", ""},
        {"{\"keys\": [[0, 1]], \"spline\": true}", Kind::Envelope, "an object", "", ""},
        {"{\"keys\": [[0, 1]], \"zz\": 1, \"spline\": 2}", Kind::Envelope, "an object", "/zz",
         "unknown field \"zz\""},
        {"{\"keys\": 3, \"spline\": 2}", Kind::Envelope, "an object", "/spline", "expected true or false"},
        {"{\"texture\": {\"layers\": [{\"type\": \"noise\"}]}, \"extra\": 0}", Kind::Textured, "an object",
         "/extra", "unknown field \"extra\""},
    };
    auto scene = sceneWithImage();
    for (const Case &c : cases) {
        SettingValue v = host::scene::readSettingValue(nlohmann::json::parse(c.json), *scene);
        EXPECT_EQ(v.kind, c.kind) << c.json;
        EXPECT_EQ(v.kindName(), c.kindName) << c.json;
        EXPECT_EQ(v.fault.path, c.faultPath) << c.json;
        EXPECT_EQ(v.fault.message, c.faultMessage) << c.json;
    }
    SettingValue whole = host::scene::readSettingValue(nlohmann::json::parse("-7"), *scene);
    EXPECT_TRUE(whole.whole);
    EXPECT_EQ(whole.integer, -7);
    EXPECT_EQ(whole.number, -7.0);
    EXPECT_FALSE(host::scene::readSettingValue(nlohmann::json::parse("7.0"), *scene).whole);
    // Inside a colour, a key list is an envelope; a texture is read only at the top of a setting.
    SettingValue colour = host::scene::readSettingValue(
        nlohmann::json::parse(R"([0.5, {"keys": [[0, 1], [1, 2]]}, {"texture": {}}])"), *scene);
    ASSERT_EQ(colour.items.size(), 3u);
    EXPECT_EQ(colour.items[1].kind, Kind::Envelope);
    EXPECT_EQ(colour.items[1].items.size(), 2u);
    EXPECT_EQ(colour.items[2].kind, Kind::Object);
}

TEST(SettingValue, ReadsItsTextureAgainstTheScenesImagesWhenRead) {
    auto scene = sceneWithImage();
    SettingValue v = host::scene::readSettingValue(
        nlohmann::json::parse(R"({"texture": {"layers": [{"type": "image", "image": "skin"}]}, "value": 0.25})"),
        *scene);
    ASSERT_EQ(v.kind, Kind::Textured);
    ASSERT_TRUE(v.texture) << v.textureFault.message;
    ASSERT_EQ(v.texture->layers.size(), 1u);
    EXPECT_EQ(v.texture->layers[0].image, 0);
    EXPECT_EQ(v.texture->path, "/texture");
    EXPECT_EQ(v.texture->layers[0].path, "/texture/layers/0");
    ASSERT_EQ(v.items.size(), 1u);
    EXPECT_EQ(v.items[0].number, 0.25);

    SettingValue missing = host::scene::readSettingValue(
        nlohmann::json::parse(R"({"texture": {"layers": [{"type": "image", "image": "scar"}]}})"), *scene);
    EXPECT_FALSE(missing.texture);
    EXPECT_EQ(missing.textureFault.path, "/texture/layers/0/image");
    EXPECT_EQ(missing.textureFault.message, "no image named \"scar\"");
    EXPECT_TRUE(missing.items.empty());
}

TEST(SettingValue, AScenesSettingsComeInTheOrderTheyAreApplied) {
    const char *text = R"({"items": [{"type": "camera", "name": "cam"}],
      "surfaces": [{"name": "S", "shaders": [{"server": "X", "settings": {"b": 1, "a": [1, 2, 3], "c": "t"}}]}]})";
    host::scene::LoadResult r = host::scene::loadSceneText(text, "scene.json", ".");
    ASSERT_TRUE(r.scene) << r.error;
    const host::scene::ShaderRef &ref = r.scene->surfaces.at(0)->shaders.at(0);
    ASSERT_EQ(ref.settings.size(), 3u);
    EXPECT_EQ(ref.settings[0].name, "a");
    EXPECT_EQ(ref.settings[1].name, "b");
    EXPECT_EQ(ref.settings[2].name, "c");
    EXPECT_EQ(ref.setting("c")->text, "t");
    EXPECT_EQ(ref.setting("d"), nullptr);
    EXPECT_EQ(r.scene->sourceText, text);
}

}  // namespace
