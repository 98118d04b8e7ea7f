// SPDX-License-Identifier: Apache-2.0
// The skin shader in the host: scene settings applied through each instance's panel and the
// host's variant parameters (and refused with the file and JSON path before anything renders),
// the panel's print, saved instance data round trips in both state formats, and textures on
// shader values and surface channels changing what renders.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/plugin/shader_session.h"
#include "host/render/renderer.h"
#include "host/scene/loader.h"

namespace {

using json = nlohmann::json;
const std::string kSkin = VELMORA_SKIN_PLUGIN;

// A lit sphere resting on a floor, both with the skin shader; `settings` go to the sphere's.
json sceneJson(const json &settings, int size = 24) {
    return json::parse(R"({
      "render": {"width": 24, "height": 24, "frames": [15, 15]},
      "ambient": {"intensity": 0.2},
      "surfaces": [{"name": "Skin", "color": [0.8, 0.6, 0.5], "shaders": [{"server": "QZ_velmora"}]},
                   {"name": "Floor", "color": [0.5, 0.5, 0.5]}],
      "items": [{"type": "camera", "name": "cam", "position": [0, 1, -4.5], "fov": 40},
                {"type": "light", "name": "key", "light": "distant", "rotation": [0, 60, 0]},
                {"type": "object", "name": "ball", "position": [0, 1, 0],
                 "mesh": {"primitive": "sphere", "segments": 32, "rings": 16, "surface": "Skin"}},
                {"type": "object", "name": "floor", "mesh": {"primitive": "plane", "size": [20, 20],
                                                             "surface": "Floor"}}]})")
        .patch(json::array({{{"op", "add"}, {"path", "/surfaces/0/shaders/0/settings"}, {"value", settings}},
                            {{"op", "replace"}, {"path", "/render/width"}, {"value", size}},
                            {{"op", "replace"}, {"path", "/render/height"}, {"value", size}}}));
}

std::unique_ptr<host::scene::Scene> load(const json &j) {
    host::scene::LoadResult r = host::scene::loadSceneText(j.dump(), "skin.json", ".");
    EXPECT_TRUE(r.scene) << r.error;
    return std::move(r.scene);
}

std::string describe(const host::scene::Scene &scene) {
    std::string text, message;
    EXPECT_EQ(host::plugin::describePanels(scene, kSkin, text, message), 0) << message;
    return text;
}

// The printed line of a control, from its label on.
std::string line(const std::string &text, const std::string &label) {
    size_t at = text.find("\"" + label + "\"");
    if (at == std::string::npos) return "(no line for " + label + ")";
    return text.substr(at, text.find('\n', at) - at);
}

TEST(SkinSettings, EachKindOfValueReachesThePanel) {
    struct Case {
        const char *what;
        json settings;
        const char *label;
        const char *shown;
    } cases[] = {
        {"defaults", json::object(), "Ksub:", "\"Ksub:\" percent-env = 1"},
        {"scalar constant", {{"Ksub", 0.25}}, "Ksub:", "\"Ksub:\" percent-env = 0.25"},
        {"colour constant",
         {{"skin_color", {0.5, 0.25, 0.125}}},
         "Skin color:",
         "\"Skin color:\" color-env = 0.5 0.25 0.125"},
        // Frame 15 at 30 frames per second: half way between the keys.
        {"scalar envelope",
         {{"Ksheen", {{"keys", {{0, 0}, {1, 1}}}}}},
         "Ksheen:",
         "\"Ksheen:\" percent-env = 0.5 [env]"},
        {"one enveloped colour component",
         {{"sheen_color", {1, {{"keys", {{0, 0}, {1, 3}}}}, 0.5}}},
         "Sheen color:",
         "\"Sheen color:\" color-env = 1 1.5 0.5 [env]"},
        {"textured",
         {{"Ka", {{"value", 0.75}, {"texture", {{"layers", {{{"type", "noise"}}}}}}}}},
         "Ambient amount:",
         "\"Ambient amount:\" percent-env = 0.75 [tex]"},
        {"wrap, named with its colon",
         {{"scatter_wrap:", 0.9}},
         "Scattering wrap:",
         "\"Scattering wrap:\" float-env = 0.9"},
        {"prefix", {{"skin_prefix", "key"}}, "skin", ""},
        {"prefix over 16 characters", {{"sheen_prefix", "abcdefghijklmnopqrst"}}, "sheen", ""},
        {"toggle as a boolean",
         {{"sheen_trace", true}},
         "Use Sheen shadowings",
         "\"Use Sheen shadowings\" iBoolean = 1"},
        {"toggle as a number",
         {{"sheen_trace", 1}},
         "Use Sheen shadowings",
         "\"Use Sheen shadowings\" iBoolean = 1"},
        {"distance",
         {{"sheen_trace", 1}, {"sheen_decay", 0.125}},
         "Sheen decay:",
         "\"Sheen decay:\" distance = 0.125"},
    };
    for (const Case &c : cases) {
        auto scene = load(sceneJson(c.settings));
        ASSERT_TRUE(scene) << c.what;
        std::string text = describe(*scene);
        if (std::string(c.label) == "skin") {
            EXPECT_NE(text.find("0x8009 \"Prefix:\" string = \"key\""), std::string::npos) << c.what << "\n"
                                                                                           << text;
        } else if (std::string(c.label) == "sheen") {
            EXPECT_NE(text.find("0x800a \"Prefix:\" string = \"abcdefghijklmnop\""), std::string::npos)
                << c.what << "\n"
                << text;
        } else {
            EXPECT_EQ(line(text, c.label), c.shown) << c.what;
        }
    }
}

TEST(SkinSettings, RefusedBeforeRenderingWithFileAndPath) {
    const std::string at = "skin.json: /surfaces/0/shaders/0/settings/";
    struct Case {
        json settings;
        std::string message;
    } cases[] = {
        {{{"Kfoo", 1}}, at + "Kfoo: unknown setting \"Kfoo\""},
        {{{"scatter_wrap", 1}}, at + "scatter_wrap: unknown setting"},
        {{{"Ksub", "high"}}, at + "Ksub: expected a number or {\"keys\": ...}, found a string"},
        {{{"Ksub", 12}}, at + "Ksub: value 12 is out of range [0, 10]"},
        {{{"Ksub", -0.5}}, at + "Ksub: value -0.5 is out of range [0, 10]"},
        {{{"skin_color", {1, 2}}}, at + "skin_color: expected three numbers"},
        {{{"skin_color", {1, 2, 1000}}}, at + "skin_color/2: value 1000 is out of range [0, 100]"},
        {{{"Ksheen", {{"keys", {{1, 0.5}, {0, 0.2}}}}}}, at + "Ksheen/keys/1/0: key times must increase"},
        {{{"Ksheen", {{"keys", json::array()}}}}, at + "Ksheen/keys: expected a non-empty array"},
        {{{"Ka", {{"texture", {{"layers", {{{"type", "gradient"}, {"input", "Nope"}, {"keys", {{0, 1}}}}}}}}}}},
         at + "Ka/texture/layers/0/input: unknown gradient input \"Nope\""},
        {{{"Ka",
           {{"texture",
             {{"layers",
               {{{"type", "gradient"}, {"input", "Light Incidence"}, {"item", "sun"}, {"keys", {{0, 1}}}}}}}}}}},
         at + "Ka/texture/layers/0/item: no item named \"sun\""},
        {{{"Ka", {{"texture", {{"layers", {{{"type", "image"}, {"image", "none"}}}}}}}}},
         at + "Ka/texture/layers/0/image: no image named \"none\""},
        {{{"Ka", {{"texture", 1}, {"colour", 1}}}}, at + "Ka/colour: unknown field \"colour\""},
        {{{"skin_prefix", 3}}, at + "skin_prefix: expected a string, found a number"},
        {{{"sheen_trace", 2}}, at + "sheen_trace: value 2 is out of range [0, 1]"},
        {{{"sheen_trace", 0.5}}, at + "sheen_trace: expected true or false, found a fraction"},
        {{{"trace_eps", -1}}, at + "trace_eps: value -1 is out of range"},
        {{{"sheen_decay", "far"}}, at + "sheen_decay: expected a number, found a string"},
    };
    for (const Case &c : cases) {
        auto scene = load(sceneJson(c.settings));
        ASSERT_TRUE(scene);
        host::render::RenderSettings s;
        s.pluginPath = kSkin;
        s.threads = 1;
        int frames = 0;
        host::render::RenderOutcome out = host::render::renderScene(*scene, s, [&](const host::render::Frame &) {
            ++frames;
            return std::string();
        });
        EXPECT_EQ(out.status, 2) << c.settings.dump();
        EXPECT_EQ(frames, 0) << c.settings.dump();
        EXPECT_EQ(out.message.rfind(c.message, 0), 0u) << "got:  " << out.message << "\nwant: " << c.message;
    }
}

TEST(SkinSettings, PanelPrintShowsTabsGroupsAndTheToggle) {
    auto scene = load(sceneJson(json::object()));
    std::string text = describe(*scene);
    for (const char *want : {"Surface \"Skin\", shader 1: QZ_velmora",
                             "Panel \"QZ's Velmora Shader version 0.33e Options\"", "Tab \"Standard\" (0x800f)",
                             "Tab \"Experimental\" (0x8010)", "0x8002 \"Skin color:\" color-env = 0.6 0.2 0",
                             "0x800c \"Sheen trace eps:\" distance = 0.001 (disabled)",
                             "Dependency: 0x800b \"Use Sheen shadowings\" enables 0x800c \"Sheen trace eps:\" "
                             "0x800d \"Sheen decay:\""})
        EXPECT_NE(text.find(want), std::string::npos) << want << "\n" << text;
    // Standard holds the first three groups, Experimental the fourth.
    EXPECT_LT(text.find("Tab \"Standard\""), text.find("0x8005 \"Diffuse roughness:\""));
    EXPECT_LT(text.find("0x8008 \"Ambient amount:\""), text.find("Tab \"Experimental\""));
    EXPECT_LT(text.find("Tab \"Experimental\""), text.find("0x800b"));
}

TEST(SkinSettings, SceneWithoutShadersDescribesADefaultInstance) {
    json j = sceneJson(json::object());
    j["surfaces"][0].erase("shaders");
    auto scene = load(j);
    std::string text = describe(*scene);
    EXPECT_EQ(text.rfind("Default instance: QZ_velmora\n", 0), 0u) << text;
    EXPECT_NE(text.find("\"Ksub:\" percent-env = 1"), std::string::npos) << text;
}

// Everything the panel can hold, not at its default.
json everySetting() {
    return {{"skin_color", {0.7, {{"keys", {{0, 0.1}, {2, 0.3}}}}, 0.05}},
            {"sheen_color", {0.9, 0.8, 0.7}},
            {"Ksub",
             {{"value", 0.5},
              {"texture",
               {{"layers",
                 {{{"type", "gradient"}, {"input", "Ambient Occlusion (Low)"}, {"keys", {{0, 1}, {1, 0.1}}}},
                  {{"type", "noise"}, {"value", 0.3}, {"opacity", 0.5}, {"blend", "multiply"}}}}}}}},
            {"Ksheen", {{"keys", {{0, 0.2}, {1, 0.8}}}, {"spline", true}}},
            {"scatter_wrap:", 0.7},
            {"shadow_amount", 0.6},
            {"diff_rough", 0.3},
            {"Ka", 0.4},
            {"skin_prefix", "key"},
            {"sheen_prefix", "rim"},
            {"sheen_trace", true},
            {"trace_eps", 0.002},
            {"sheen_decay", 0.1 + 0.2}};  // a double with no short decimal form
}

TEST(SkinSettings, SavedDataRoundTripsInBothFormats) {
    for (host::state::Format f : {host::state::Format::Text, host::state::Format::Binary}) {
        const char *name = f == host::state::Format::Text ? "text" : "binary";
        auto scene = load(sceneJson(everySetting()));
        std::string saved, again, message;
        ASSERT_EQ(host::plugin::saveSceneStates(*scene, kSkin, f, saved, message), 0) << message;
        json j = json::parse(saved);
        const json &shader = j["surfaces"][0]["shaders"][0];
        EXPECT_FALSE(shader.contains("settings")) << name;
        EXPECT_EQ(shader["state"]["format"], name);
        auto reloaded = load(j);
        ASSERT_TRUE(reloaded) << name;
        ASSERT_TRUE(reloaded->surfaces[0]->shaders[0].hasState) << name;
        EXPECT_EQ(describe(*reloaded), describe(*scene)) << name;
        // Saving what was loaded gives the same bytes: every value, key and layer came back.
        ASSERT_EQ(host::plugin::saveSceneStates(*reloaded, kSkin, f, again, message), 0) << message;
        EXPECT_EQ(json::parse(again), j) << name;
    }
}

TEST(SkinSettings, BadSavedDataIsRefusedByTheLoaderOrFallsBack) {
    json j = sceneJson(json::object());
    j["surfaces"][0]["shaders"][0].erase("settings");
    struct Case {
        json state;
        const char *error;  // empty: loads, and the instance keeps its defaults
    } cases[] = {
        {{{"format", "binary"}, {"data", "abc"}}, "/surfaces/0/shaders/0/state/data: hex data has an odd number"},
        {{{"format", "binary"}, {"data", "zz"}},
         "/surfaces/0/shaders/0/state/data: character 0 is not a hex digit"},
        {{{"format", "pickled"}, {"data", ""}}, "/surfaces/0/shaders/0/state/format: unknown value \"pickled\""},
        {{{"format", "text"}}, "/surfaces/0/shaders/0/state: missing field \"data\""},
        {{{"format", "text"}, {"data", "255\n{ PluginDataLib\n"}}, ""},
        {{{"format", "binary"}, {"data", "000001"}}, ""},
        {{{"format", "text"}, {"data", "256\n{ PluginDataLib 3 { PluginDataParam \"Ksub\" }"}}, ""},
    };
    for (const Case &c : cases) {
        json k = j;
        k["surfaces"][0]["shaders"][0]["state"] = c.state;
        host::scene::LoadResult r = host::scene::loadSceneText(k.dump(), "skin.json", ".");
        if (*c.error) {
            EXPECT_FALSE(r.scene) << c.state.dump();
            EXPECT_NE(r.error.find(c.error), std::string::npos) << r.error;
            continue;
        }
        ASSERT_TRUE(r.scene) << r.error;
        EXPECT_EQ(line(describe(*r.scene), "Ksub:"), "\"Ksub:\" percent-env = 1") << c.state.dump();
    }
    json both = j;
    both["surfaces"][0]["shaders"][0]["settings"] = json::object();
    both["surfaces"][0]["shaders"][0]["state"] = {{"format", "text"}, {"data", ""}};
    host::scene::LoadResult r = host::scene::loadSceneText(both.dump(), "skin.json", ".");
    EXPECT_NE(r.error.find("give either \"settings\" or \"state\""), std::string::npos) << r.error;
}

std::vector<float> renderRgb(const host::scene::Scene &scene, bool hostShading = false) {
    host::render::RenderSettings s;
    s.pluginPath = kSkin;
    s.threads = 1;
    s.hostShading = hostShading;
    std::vector<float> rgb;
    host::render::RenderOutcome out = host::render::renderScene(scene, s, [&](const host::render::Frame &f) {
        rgb = f.rgb;
        return std::string();
    });
    EXPECT_EQ(out.status, 0) << out.message;
    return rgb;
}

double luminance(const std::vector<float> &rgb, int w, int x, int y) {
    size_t i = (static_cast<size_t>(y) * w + x) * 3;
    return (rgb[i] + rgb[i + 1] + rgb[i + 2]) / 3;
}

// Ksub follows occlusion: a gradient that keeps it where the sky is open and takes it away where
// the floor hides it. The picture then darkens near the contact and hardly on the open top.
TEST(SkinSettings, TexturedKsubDiffersWhereOcclusionDiffers) {
    const int n = 32;
    json constant = {{"Ksub", 1}, {"Ka", 0}};
    json textured = {
        {"Ksub",
         {{"value", 1},
          {"texture",
           {{"layers",
             {{{"type", "gradient"}, {"input", "Ambient Occlusion (Low)"}, {"keys", {{0, 1}, {0.5, 0}}}}}}}}}},
        {"Ka", 0}};
    auto a = load(sceneJson(constant, n)), b = load(sceneJson(textured, n));
    std::vector<float> ca = renderRgb(*a), cb = renderRgb(*b);
    ASSERT_EQ(ca.size(), cb.size());
    // Column through the sphere's centre: its top and its bottom near the floor.
    int x = n / 2, top = -1, bottom = -1;
    for (int y = 0; y < n; ++y) {
        bool onBall =
            luminance(ca, n, x, y) > 0 && std::fabs(luminance(ca, n, x, y) - luminance(ca, n, 0, y)) > 1e-3;
        if (onBall && top < 0) top = y;
    }
    ASSERT_GE(top, 0);
    bottom = n / 2 + (n / 2 - top) - 2;  // the sphere sits at the image's centre, its bottom mirrors its top
    double dTop = luminance(ca, n, x, top + 1) - luminance(cb, n, x, top + 1);
    double dBottom = luminance(ca, n, x, bottom) - luminance(cb, n, x, bottom);
    EXPECT_GT(dBottom, 0.01) << "occluded: constant " << luminance(ca, n, x, bottom) << ", textured "
                             << luminance(cb, n, x, bottom);
    EXPECT_LT(std::fabs(dTop), dBottom / 2) << "open top: " << dTop << " against " << dBottom;
}

// A colour gradient over the world X coordinate on the floor, shaded by the host: left and right
// halves take the two key colours.
TEST(SurfaceTextures, ChannelTextureIsEvaluatedPerSpot) {
    json j = sceneJson(json::object(), 24);
    j["surfaces"][1]["textures"] = {
        {"color",
         {{"layers",
           {{{"type", "gradient"},
             {"input", "World X Coordinate"},
             {"keys", {{-0.01, {1, 0, 0}}, {0.01, {0, 0, 1}}}}}}}}},
        {"luminosity",
         {{"layers", {{{"type", "gradient"}, {"input", "World X Coordinate"}, {"keys", {{0, 1}}}}}}}}};
    auto scene = load(j);
    std::vector<float> rgb = renderRgb(*scene, true);
    const int n = 24;
    size_t left = (static_cast<size_t>(n - 1) * n + 1) * 3, right = (static_cast<size_t>(n - 1) * n + n - 2) * 3;
    // The camera looks along +Z, so +X is on the right.
    EXPECT_GT(rgb[left], 3 * rgb[left + 2]) << "left: " << rgb[left] << " " << rgb[left + 2];
    EXPECT_GT(rgb[right + 2], 3 * rgb[right]) << "right: " << rgb[right] << " " << rgb[right + 2];
}

TEST(SurfaceTextures, RefusedWithTheirPath) {
    struct Case {
        json textures;
        const char *message;
    } cases[] = {
        {{{"colour", json::object()}}, "skin.json: /surfaces/1/textures/colour: unknown field \"colour\""},
        {{{"color", {{"layers", json::array()}}}},
         "/surfaces/1/textures/color/layers: expected a non-empty array"},
        {{{"diffuse", {{"layers", {{{"type", "wood"}}}}}}},
         "/surfaces/1/textures/diffuse/layers/0/type: unknown value"},
        {{{"diffuse", {{"layers", {{{"type", "gradient"}, {"keys", {{0, 1}}}}}}}}},
         "/surfaces/1/textures/diffuse/layers/0: missing field \"input\""},
        {{{"diffuse", {{"layers", {{{"type", "gradient"}, {"input", "Slope"}, {"keys", {{1, 1}, {0, 1}}}}}}}}},
         "/surfaces/1/textures/diffuse/layers/0/keys/1/0: key positions must not decrease"},
        {{{"diffuse", {{"layers", {{{"type", "noise"}, {"octaves", 40}}}}}}},
         "/surfaces/1/textures/diffuse/layers/0/octaves: value 40 is out of range [1, 16]"},
        {{{"diffuse", {{"layers", {{{"type", "noise"}, {"opacity", 2}}}}}}},
         "/surfaces/1/textures/diffuse/layers/0/opacity: value 2 is out of range [0, 1]"},
    };
    for (const Case &c : cases) {
        json j = sceneJson(json::object());
        j["surfaces"][1]["textures"] = c.textures;
        host::scene::LoadResult r = host::scene::loadSceneText(j.dump(), "skin.json", ".");
        EXPECT_FALSE(r.scene) << c.textures.dump();
        EXPECT_NE(r.error.find(c.message), std::string::npos) << "got:  " << r.error << "\nwant: " << c.message;
    }
    // Names a surface texture's gradient cannot know until the scene's items are read.
    json j = sceneJson(json::object());
    j["surfaces"][1]["textures"] = {
        {"diffuse",
         {{"layers", {{{"type", "gradient"}, {"input", "Ambient Occlusion (Low)"}, {"keys", {{0, 1}}}}}}}}};
    auto scene = load(j);
    host::render::RenderSettings s;
    s.pluginPath = kSkin;
    host::render::RenderOutcome out =
        host::render::renderScene(*scene, s, [](const host::render::Frame &) { return std::string(); });
    EXPECT_EQ(out.status, 2);
    EXPECT_EQ(
        out.message.rfind("skin.json: /surfaces/1/textures/diffuse/layers/0/input: unknown gradient input", 0), 0u)
        << out.message;
}

}  // namespace
