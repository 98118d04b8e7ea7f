#include <dlfcn.h>

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/render/renderer.h"
#include "host/scene/loader.h"

namespace {

const std::string kPlugin = VELMORA_RECORDING_PLUGIN;

// A floor under a slab, seen from straight above and lit by a distant light slanting 45 degrees
// towards +X: the slab's shadow falls on the floor at X 3..5, pixel columns 13 and 14 of row 8.
// Surfaces carry the recording shader when `shader` is set; the slab is glass when `glass` is.
std::unique_ptr<host::Scene> shadowScene(bool shader, bool glass, const std::string &frames = "[1, 1]") {
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
    host::LoadResult r = host::loadSceneText(text, "shadow.json", ".");
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

std::vector<host::Frame> render(const host::Scene &scene, bool hostShading, int threads,
                                host::RenderOutcome &out) {
    std::vector<host::Frame> frames;
    host::RenderSettings s;
    s.pluginPath = kPlugin;
    s.threads = threads;
    s.hostShading = hostShading;
    out = host::renderScene(scene, s, [&](const host::Frame &f) {
        frames.push_back(f);
        return std::string();
    });
    return frames;
}

float red(const host::Frame &f, int x, int y) { return f.rgb[(static_cast<size_t>(y) * f.width + x) * 3]; }

TEST(Render, LitAgainstShadowedPixels) {
    for (bool hostShading : {true, false}) {
        Recorder rec;
        ASSERT_TRUE(rec.handle) << dlerror();
        auto scene = shadowScene(!hostShading, false);
        rec.reset(scene->findItem("sun"));
        host::RenderOutcome out;
        auto frames = render(*scene, hostShading, 2, out);
        ASSERT_EQ(out.status, 0) << out.message;
        ASSERT_EQ(frames.size(), 1u);
        const host::Frame &f = frames[0];
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
    host::RenderOutcome out;
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
    host::LoadResult r = host::loadSceneText(text, "s.json", ".");
    ASSERT_TRUE(r.scene) << r.error;
    host::RenderOutcome out;
    auto frames = render(*r.scene, false, 1, out);
    EXPECT_EQ(out.status, 2);
    EXPECT_NE(out.message.find("s.json: /surfaces/0/shaders/0/server:"), std::string::npos) << out.message;
    EXPECT_TRUE(frames.empty());
    frames = render(*r.scene, true, 1, out);
    EXPECT_EQ(out.status, 0) << "host shading needs no plug-in";
}

TEST(Render, MoreThreadsSameImage) {
    auto scene = shadowScene(false, true);
    host::RenderOutcome out;
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
    host::LoadResult r = host::loadSceneText(R"({
      "render": {"width": 16, "height": 16, "samples": 8},
      "backdrop": {"color": [1, 0, 0]},
      "items": [{"type": "camera", "name": "cam", "position": [0, 0, -4]},
                {"type": "object", "name": "ball", "mesh": {"primitive": "sphere", "radius": 1}}]})",
                                             "ball.json", ".");
    ASSERT_TRUE(r.scene) << r.error;
    host::RenderOutcome out;
    auto frames = render(*r.scene, true, 2, out);
    ASSERT_EQ(out.status, 0) << out.message;
    ASSERT_EQ(frames.size(), 1u);
    const host::Frame &f = frames[0];
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

}  // namespace
