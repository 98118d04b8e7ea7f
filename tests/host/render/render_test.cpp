// SPDX-License-Identifier: Apache-2.0
#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/render/renderer.h"
#include "host/scene/loader.h"
#include "sdk/item_info.h"

namespace {

const std::string kPlugin = VELMORA_RECORDING_PLUGIN;

// A floor under a slab, seen from straight above and lit by a distant light slanting 45 degrees
// towards +X: the slab's shadow falls on the floor at X 3..5, pixel columns 13 and 14 of row 8.
// Surfaces carry the recording shader when `shader` is set; the slab is glass when `glass` is.
std::unique_ptr<host::scene::Scene> shadowScene(bool shader, bool glass, const std::string &frames = "[1, 1]") {
    std::string sh = shader ? R"(, "shaders": [{"server": "QZ_record"}])" : "";
    std::string text = R"({
      "render": {"width": 16, "height": 16, "samples": 1, "frames": )" +
                       frames + R"(},
      "ambient": {"intensity": 0},
      "surfaces": [{"name": "Floor")" +
                       sh + R"(},
                   {"name": "Slab", "transparency": )" +
                       (glass ? "0.5" : "0") + sh + R"(}],
      "items": [
        {"type": "camera", "name": "cam", "position": [0, 10, 0], "rotation": [0, 90, 0], "fov": 60},
        {"type": "light", "name": "sun", "light": "distant", "rotation": [90, 45, 0]},
        {"type": "object", "name": "floor", "mesh": {"primitive": "plane", "size": [40, 40], "surface": "Floor"}},
        {"type": "object", "name": "slab", "position": [0, 4, 0], "cast_shadows": true,
         "mesh": {"primitive": "grid", "size": [2, 2], "divisions": 1, "surface": "Slab"}}
      ]})";
    host::scene::LoadResult r = host::scene::loadSceneText(text, "shadow.json", ".");
    EXPECT_TRUE(r.scene) << r.error;
    return std::move(r.scene);
}

struct Recorder {
    void *handle = dlopen(kPlugin.c_str(), RTLD_NOW);
    const char *(*log)() = reinterpret_cast<const char *(*)()>(dlsym(handle, "recording_log"));
    void (*reset)(void *) = reinterpret_cast<void (*)(void *)>(dlsym(handle, "recording_reset"));
    long (*count)(int) = reinterpret_cast<long (*)(int)>(dlsym(handle, "recording_count"));
    ~Recorder() { dlclose(handle); }
};

std::vector<host::render::Frame> renderWith(const host::scene::Scene &scene, const host::render::RenderSettings &s,
                                            host::render::RenderOutcome &out) {
    std::vector<host::render::Frame> frames;
    out = host::render::renderScene(scene, s, [&](const host::render::Frame &f) {
        frames.push_back(f);
        return std::string();
    });
    return frames;
}

std::vector<host::render::Frame> render(const host::scene::Scene &scene, bool hostShading, int threads,
                                        host::render::RenderOutcome &out) {
    host::render::RenderSettings s;
    s.pluginPath = kPlugin;
    s.threads = threads;
    s.hostShading = hostShading;
    return renderWith(scene, s, out);
}

float red(const host::render::Frame &f, int x, int y) { return f.rgb[(static_cast<size_t>(y) * f.width + x) * 3]; }

TEST(Render, LitAgainstShadowedPixels) {
    for (bool hostShading : {true, false}) {
        Recorder rec;
        ASSERT_TRUE(rec.handle) << dlerror();
        auto scene = shadowScene(!hostShading, false);
        rec.reset(scene->findItem("sun"));
        host::render::RenderOutcome out;
        auto frames = render(*scene, hostShading, 2, out);
        ASSERT_EQ(out.status, 0) << out.message;
        ASSERT_EQ(frames.size(), 1u);
        const host::render::Frame &f = frames[0];
        // Lambert: 0.8 * cos 45 under host shading; the recording shader shows the light, 1.
        float lit = red(f, 1, 8), shadowed = red(f, 13, 8), slab = red(f, 8, 8);
        float want = hostShading ? 0.5657f : 1.0f;
        const char *how = hostShading ? "host shading" : "plug-in shading";
        EXPECT_NEAR(lit, want, 1e-3) << how << ", lit floor";
        EXPECT_NEAR(slab, want, 1e-3) << how << ", the slab's top";
        EXPECT_EQ(shadowed, 0.0f) << how << ", floor in the slab's shadow";
        EXPECT_EQ(out.stats.samples, 256u);
    }
}

TEST(Render, SequenceAndNestedShadowShading) {
    Recorder rec;
    ASSERT_TRUE(rec.handle) << dlerror();
    auto scene = shadowScene(true, true, "[1, 2]");
    rec.reset(scene->findItem("sun"));
    host::render::RenderOutcome out;
    auto frames = render(*scene, false, 2, out);
    ASSERT_EQ(out.status, 0) << out.message;
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_STREQ(rec.log(),
                 "activate;create;create;init;init;newtime 1;newtime 1;newtime 2;newtime 2;cleanup;cleanup;"
                 "destroy;destroy;");
    EXPECT_EQ(rec.count(0) > 0, true);
    EXPECT_EQ(rec.count(2), 0) << "evaluations outside new-time .. clean-up";
    EXPECT_GT(rec.count(1), 0) << "shadow rays through the glass slab shade it inside an evaluation";
    // The recording shader makes the slab fully transparent for shadows: its shadow is gone.
    EXPECT_NEAR(red(frames[0], 13, 8), 1.0f, 1e-6);

    // Host shading lets half the light through the glass.
    frames = render(*scene, true, 2, out);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_NEAR(red(frames[0], 13, 8), 0.5f * 0.5657f, 1e-3);
}

TEST(Render, ShaderNotInPluginIsBadInput) {
    std::string text = R"({"surfaces": [{"name": "S", "shaders": [{"server": "nobody"}]}],
      "items": [{"type": "camera", "name": "cam"},
                {"type": "object", "name": "o", "mesh": {"primitive": "box", "surface": "S"}}]})";
    host::scene::LoadResult r = host::scene::loadSceneText(text, "s.json", ".");
    ASSERT_TRUE(r.scene) << r.error;
    host::render::RenderOutcome out;
    auto frames = render(*r.scene, false, 1, out);
    EXPECT_EQ(out.status, 2);
    EXPECT_NE(out.message.find("s.json: /surfaces/0/shaders/0/server:"), std::string::npos) << out.message;
    EXPECT_TRUE(frames.empty());
    frames = render(*r.scene, true, 1, out);
    EXPECT_EQ(out.status, 0) << "host shading needs no plug-in";
}

TEST(Render, MoreThreadsSameImage) {
    auto scene = shadowScene(false, true);
    host::render::RenderOutcome out;
    auto one = render(*scene, true, 1, out);
    auto two = render(*scene, true, 2, out);
    ASSERT_EQ(one.size(), 1u);
    ASSERT_EQ(two.size(), 1u);
    EXPECT_EQ(one[0].rgb, two[0].rgb);
    EXPECT_EQ(one[0].alpha, two[0].alpha);
}

// Coverage: the fraction of a pixel's samples that hit geometry. A sphere filling the middle of
// the frame against a red backdrop, 8 samples a pixel.
TEST(Render, CoverageAlpha) {
    host::scene::LoadResult r = host::scene::loadSceneText(R"({
      "render": {"width": 16, "height": 16, "samples": 8},
      "backdrop": {"color": [1, 0, 0]},
      "items": [{"type": "camera", "name": "cam", "position": [0, 0, -4]},
                {"type": "object", "name": "ball", "mesh": {"primitive": "sphere", "radius": 1}}]})",
                                                           "ball.json", ".");
    ASSERT_TRUE(r.scene) << r.error;
    host::render::RenderOutcome out;
    auto frames = render(*r.scene, true, 2, out);
    ASSERT_EQ(out.status, 0) << out.message;
    ASSERT_EQ(frames.size(), 1u);
    const host::render::Frame &f = frames[0];
    ASSERT_EQ(f.alpha.size(), f.rgb.size() / 3);
    auto alpha = [&](int x, int y) { return f.alpha[static_cast<size_t>(y) * f.width + x]; };
    EXPECT_EQ(alpha(0, 0), 0.0f) << "backdrop";
    EXPECT_EQ(red(f, 0, 0), 1.0f) << "the backdrop's colour stays in the picture";
    EXPECT_EQ(alpha(8, 8), 1.0f) << "the middle of the ball";
    int partial = 0;
    for (float a : f.alpha) {
        EXPECT_TRUE(a >= 0.0f && a <= 1.0f) << a;
        EXPECT_EQ(a * 8, std::round(a * 8)) << "a whole number of the 8 samples";
        partial += a > 0.0f && a < 1.0f;
    }
    EXPECT_GT(partial, 0) << "pixels on the ball's outline are partly covered";
}

std::unique_ptr<host::scene::Scene> load(const std::string &text) {
    host::scene::LoadResult r = host::scene::loadSceneText(text, "lighting.json", ".");
    EXPECT_TRUE(r.scene) << r.error;
    return std::move(r.scene);
}

TEST(Render, RadiosityGatheringShadesPlugInSurfaces) {
    // The recording shader shows the radiosity around each spot's normal, under a white backdrop,
    // on a floor and a slab above it. With two bounces the slab's underside gathers white like
    // everything else, so every pixel is exactly 1; with one, the last bounce takes no radiosity
    // and the slab darkens the floor near it, as it does in backdrop mode, which runs no shader.
    Recorder rec;
    ASSERT_TRUE(rec.handle) << dlerror();
    struct Case {
        const char *mode;
        int bounces;
        bool allWhite;
    } cases[] = {{"backdrop", 2, false}, {"monte_carlo", 1, false}, {"monte_carlo", 2, true}};
    for (const Case &c : cases) {
        auto scene =
            load(R"({"render": {"width": 24, "height": 24, "radiosity": {"mode": ")" + std::string(c.mode) +
                 R"(", "rays": 16, "bounces": )" + std::to_string(c.bounces) + R"(}},
          "backdrop": {"type": "solid", "color": [1, 1, 1]},
          "surfaces": [{"name": "S", "shaders": [{"server": "QZ_record"}]}],
          "items": [
            {"type": "camera", "name": "cam", "position": [0, 20, 0], "rotation": [0, 90, 0], "fov": 40},
            {"type": "object", "name": "floor", "mesh": {"primitive": "plane", "size": [40, 40], "surface": "S"}},
            {"type": "object", "name": "slab", "position": [0, 2, 0],
             "mesh": {"primitive": "plane", "size": [4, 4], "surface": "S"}}]})");
        rec.reset(LWITEM_RADIOSITY);
        host::render::RenderOutcome out;
        auto frames = render(*scene, false, 2, out);
        ASSERT_EQ(frames.size(), 1u) << out.message;
        const std::string what = std::string(c.mode) + ", " + std::to_string(c.bounces) + " bounces";
        EXPECT_EQ(rec.count(3) > 0, std::string(c.mode) == "monte_carlo")
            << what << ": gathering rays evaluate the plug-in with LWRT_RADIOSITY";
        float darkest = 1, brightest = 0;
        for (size_t i = 0; i < frames[0].rgb.size(); i += 3) {
            darkest = std::min(darkest, frames[0].rgb[i]);
            brightest = std::max(brightest, frames[0].rgb[i]);
        }
        EXPECT_EQ(brightest, 1.0f) << what;
        if (c.allWhite)
            EXPECT_EQ(darkest, 1.0f) << what;
        else
            EXPECT_LT(darkest, 0.98f) << what << ": the floor beside the slab";
    }
}

// A ball of `segments` seen from the front, lit by one point light from the side and behind:
// the host's shading with translucency (light from behind its smooth surface), or the skin
// shader with sampled area shadows (its own rayCast from the spot).
std::unique_ptr<host::scene::Scene> ballScene(int segments, bool skin) {
    std::string surface = skin ? R"({"name": "S", "color": [0.8, 0.55, 0.45], "shaders": [{"server": "QZ_velmora",
                                     "settings": {"Ksub": 0, "Ksheen": 0, "Ka": 0}}]})"
                               : R"({"name": "S", "color": [0.8, 0.8, 0.8], "translucency": 0.3})";
    std::string tags =
        skin ? R"(, "tags": ["QZ_lightParam: areashadow=1 areashadow_size=0.05 areashadow_sample=2"])" : "";
    return load(R"({"render": {"width": 160, "height": 160}, "ambient": {"intensity": 0}, "surfaces": [)" +
                surface +
                R"(], "items": [{"type": "camera", "name": "cam", "position": [0, 0, -4], "fov": 36},
      {"type": "object", "name": "ball", "mesh": {"primitive": "sphere", "segments": )" +
                std::to_string(segments) + R"(, "rings": )" + std::to_string(segments / 2) + R"(, "surface": "S"}},
      {"type": "light", "name": "key", "position": [6, 3, 3])" +
                tags + "}]}");
}

// Per row of the ball's middle band, where the luminance first reaches `level` from the left, to
// a fraction of a pixel (NaN where it does not).
std::vector<double> terminator(const host::render::Frame &f, double level) {
    std::vector<double> at;
    for (int y = f.height / 6; y < f.height * 5 / 6; ++y) {
        double prev = 0, x = std::nan("");
        for (int i = 0; i < f.width; ++i) {
            const float *p = &f.rgb[(static_cast<size_t>(y) * f.width + i) * 3];
            double l = 0.2126 * p[0] + 0.7152 * p[1] + 0.0722 * p[2];
            if (i > 0 && prev < level && l >= level) {
                x = i - 1 + (level - prev) / (l - prev);
                break;
            }
            prev = l;
        }
        at.push_back(x);
    }
    return at;
}

// How far, in pixels, one terminator wanders from another along their length: the spread of the
// rows' differences about their mean.
double spread(const std::vector<double> &a, const std::vector<double> &b) {
    std::vector<double> d;
    for (size_t i = 0; i < a.size(); ++i)
        if (!std::isnan(a[i]) && !std::isnan(b[i])) d.push_back(a[i] - b[i]);
    if (d.size() < a.size() / 2) return 1e9;
    double mean = 0, var = 0;
    for (double v : d) mean += v / d.size();
    for (double v : d) var += (v - mean) * (v - mean) / d.size();
    return std::sqrt(var);
}

TEST(Render, CoarseBallsKeepTheTerminatorOfFineOnes) {
    // A 24-segment ball's terminator follows a 384-segment ball's to within half a pixel; with rays
    // leaving the flat facets it is scalloped along the facets, several pixels off (1.5 to 3 at
    // this size), which is what this measure catches.
    for (bool skin : {false, true}) {
        host::render::RenderSettings s;
        s.pluginPath = skin ? VELMORA_SKIN_PLUGIN : kPlugin;
        s.hostShading = !skin;
        s.threads = 2;
        host::render::RenderOutcome out;
        auto fine = renderWith(*ballScene(384, skin), s, out);
        ASSERT_EQ(fine.size(), 1u) << out.message;
        auto coarseScene = ballScene(24, skin);
        for (bool smooth : {true, false}) {
            s.smoothOrigins = smooth;
            auto coarse = renderWith(*coarseScene, s, out);
            ASSERT_EQ(coarse.size(), 1u) << out.message;
            double wander = spread(terminator(coarse[0], 0.02), terminator(fine[0], 0.02));
            const char *how = skin ? "skin shader" : "host shading";
            if (smooth)
                EXPECT_LT(wander, 0.5) << how;
            else
                EXPECT_GT(wander, 1.0) << how << ", rays from the facets";
        }
    }
}

TEST(Render, FlatScenesDoNotMoveTheirRays) {
    // Planes and flat-shaded boxes have no smooth surface to leave from: the same bits either way.
    auto scene = load(R"({"render": {"width": 48, "height": 36, "samples": 2},
      "surfaces": [{"name": "Floor", "translucency": 0.2},
        {"name": "Box", "color": [0.8, 0.5, 0.4], "smoothing": false, "specular": 0.3, "translucency": 0.3},
        {"name": "Skin", "smoothing": false, "shaders": [{"server": "QZ_velmora"}]}],
      "items": [{"type": "camera", "name": "cam", "position": [0, 2, -6], "rotation": [0, 15, 0], "fov": 45},
        {"type": "object", "name": "floor", "mesh": {"primitive": "plane", "size": [20, 20], "surface": "Floor"}},
        {"type": "object", "name": "box", "position": [-1, 0.5, 0], "rotation": [30, 0, 0],
         "mesh": {"primitive": "box", "surface": "Box"}},
        {"type": "object", "name": "skin", "position": [1.2, 0.5, 0.5], "rotation": [-20, 0, 0],
         "mesh": {"primitive": "box", "surface": "Skin"}},
        {"type": "light", "name": "key", "position": [-3, 4, -2],
         "tags": ["QZ_lightParam: areashadow=1 areashadow_size=0.5 areashadow_sample=3"]},
        {"type": "light", "name": "low", "light": "distant", "rotation": [70, 5, 0], "intensity": 0.5}]})");
    for (bool hostShading : {true, false}) {
        host::render::RenderSettings s;
        s.pluginPath = VELMORA_SKIN_PLUGIN;
        s.hostShading = hostShading;
        host::render::RenderOutcome out;
        auto moved = renderWith(*scene, s, out);
        s.smoothOrigins = false;
        auto kept = renderWith(*scene, s, out);
        ASSERT_EQ(moved.size(), 1u) << out.message;
        ASSERT_EQ(kept.size(), 1u) << out.message;
        EXPECT_EQ(moved[0].rgb, kept[0].rgb) << (hostShading ? "host shading" : "skin shader");
    }
}

}  // namespace
