// SPDX-License-Identifier: Apache-2.0
// Renders that must finish whatever the scene asks: untraceable rays, geometry out of the tracer's
// range, extreme shader settings, exponential ray trees, colours beyond float range, extreme frame
// numbers; and renders that must not depend on the number of threads.
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/image/image.h"
#include "host/plugin/shader_session.h"
#include "host/render/renderer.h"
#include "host/scene/loader.h"
#include "host/trace/tracer.h"

namespace {

const std::string kRecording = VELMORA_RECORDING_PLUGIN;
const std::string kSkin = VELMORA_SKIN_PLUGIN;

std::unique_ptr<host::scene::Scene> load(const std::string &text) {
    host::scene::LoadResult r = host::scene::loadSceneText(text, "robust.json", ".");
    EXPECT_TRUE(r.scene) << r.error;
    return std::move(r.scene);
}

struct Rendered {
    host::render::RenderOutcome out;
    std::vector<host::render::Frame> frames;
};

Rendered render(const host::scene::Scene &scene, const std::string &plugin, int threads = 1,
                void (*adjust)(host::render::RenderSettings &) = nullptr) {
    Rendered r;
    host::render::RenderSettings s;
    s.pluginPath = plugin;
    s.hostShading = plugin.empty();
    s.threads = threads;
    if (adjust) adjust(s);
    r.out = host::render::renderScene(scene, s, [&](const host::render::Frame &f) {
        r.frames.push_back(f);
        return std::string();
    });
    return r;
}

bool allFinite(const host::render::Frame &f) {
    for (float v : f.rgb)
        if (!std::isfinite(v)) return false;
    return true;
}

TEST(RobustTrace, UntraceableRaysAreMisses) {
    auto scene = load(R"({"items": [{"type": "camera", "name": "c", "position": [0, 5, 0]},
        {"type": "object", "name": "floor", "mesh": {"primitive": "plane", "size": [10, 10]}}]})");
    ASSERT_TRUE(scene);
    host::trace::Tracer tracer;
    std::string why;
    ASSERT_TRUE(tracer.build(*scene, 0.0, why)) << why;
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    struct Case {
        const char *what;
        double org[3], dir[3], tnear, tfar;
        bool hits;
    } cases[] = {
        {"plain ray down", {0, 5, 0}, {0, -1, 0}, 1e-4, 1e30, true},
        {"infinite range", {0, 5, 0}, {0, -1, 0}, 0, inf, true},
        {"origin beyond range", {2e18, 5, 0}, {0, -1, 0}, 1e-4, 1e30, false},
        {"origin 1e300", {0, 1e300, 0}, {0, -1, 0}, 1e-4, 1e30, false},
        {"origin DBL_MAX", {DBL_MAX, 5, 0}, {0, -1, 0}, 1e-4, 1e30, false},
        {"origin infinite", {0, inf, 0}, {0, -1, 0}, 1e-4, 1e30, false},
        {"origin NaN", {nan, 5, 0}, {0, -1, 0}, 1e-4, 1e30, false},
        {"direction NaN", {0, 5, 0}, {0, nan, 0}, 1e-4, 1e30, false},
        {"direction beyond range", {0, 5, 0}, {0, -1e20, 0}, 1e-4, 1e30, false},
        {"tnear NaN", {0, 5, 0}, {0, -1, 0}, nan, 1e30, false},
        {"tnear negative", {0, 5, 0}, {0, -1, 0}, -1, 1e30, false},
        {"tnear 1e20", {0, 5, 0}, {0, -1, 0}, 1e20, inf, false},
        {"tfar NaN", {0, 5, 0}, {0, -1, 0}, 1e-4, nan, false},
        {"tfar below tnear", {0, 5, 0}, {0, -1, 0}, 2, 1, false},
        {"tfar minus infinity", {0, 5, 0}, {0, -1, 0}, 1e-4, -inf, false},
    };
    for (const Case &c : cases) {
        host::trace::Hit hit = tracer.intersect(c.org, c.dir, c.tnear, c.tfar);
        EXPECT_EQ(hit.t >= 0, c.hits) << c.what;
        EXPECT_EQ(tracer.occluded(c.org, c.dir, c.tnear, c.tfar), c.hits) << c.what;
    }
}

TEST(RobustTrace, PointsBeyondRangeAreNeverHit) {
    // One sphere lands beyond the tracer's range (scaled by 1e19 through its parents); the other is
    // ordinary.
    auto scene = load(R"({"items": [{"type": "camera", "name": "c", "position": [0, 0, -5]},
        {"type": "object", "name": "a", "scale": [1e9, 1e9, 1e9],
         "mesh": {"primitive": "plane", "size": [1e-6, 1e-6]}},
        {"type": "object", "name": "b", "parent": "a", "scale": [1e9, 1e9, 1e9],
         "mesh": {"primitive": "plane", "size": [1e-6, 1e-6]}},
        {"type": "object", "name": "far", "parent": "b", "position": [0, 0, 1], "scale": [10, 10, 10],
         "mesh": {"primitive": "sphere"}},
        {"type": "object", "name": "near", "mesh": {"primitive": "sphere"}}]})");
    ASSERT_TRUE(scene);
    host::trace::Tracer tracer;
    std::string why;
    ASSERT_TRUE(tracer.build(*scene, 0.0, why)) << why;
    double org[3] = {0, 0, -5}, dir[3] = {0, 0, 1};
    host::trace::Hit hit = tracer.intersect(org, dir, 1e-4, 1e30);
    ASSERT_GE(hit.t, 0);
    EXPECT_EQ(tracer.meshes()[hit.mesh].object->name, "near");
    EXPECT_LT(tracer.sceneExtent(), 1e13);  // offsets stay scaled to the traceable part
}

// A parent scaled by 1e9 with a child scaled by 10 holding the camera at x = 1e9: the camera sits
// at 1e19, beyond what the tracer takes.
const char *kHugeScale = R"({"render": {"width": 6, "height": 4},
  "surfaces": [{"name": "S", "shaders": [{"server": "QZ_record"}]}],
  "items": [
    {"type": "object", "name": "big", "scale": [1e9, 1e9, 1e9], "mesh": {"primitive": "sphere", "surface": "S"}},
    {"type": "object", "name": "child", "parent": "big", "scale": [10, 10, 10],
     "mesh": {"primitive": "sphere", "surface": "S"}},
    {"type": "camera", "name": "cam", "parent": "child", "position": [1e9, 0, 0]},
    {"type": "light", "name": "l", "position": [0, 3, -3]}]})";

TEST(RobustRender, HugeScalesRender) {
    auto scene = load(kHugeScale);
    ASSERT_TRUE(scene);
    for (const std::string &plugin : {std::string(), kRecording}) {
        Rendered r = render(*scene, plugin);
        ASSERT_EQ(r.out.status, 0) << r.out.message;
        ASSERT_EQ(r.frames.size(), 1u);
        EXPECT_TRUE(allFinite(r.frames[0]));
    }
}

// The skin shader traces its sheen with rayCast from a point offset by trace_eps. Its panel caps
// the offset, but saved data may hold any double: every one must render.
std::unique_ptr<host::scene::Scene> skinScene() {
    return load(R"({"render": {"width": 8, "height": 6},
      "surfaces": [{"name": "Skin", "shaders": [{"server": "QZ_velmora",
         "settings": {"sheen_trace": 1, "trace_eps": 0.125, "sheen_prefix": "rim", "Ksheen": 2}}]}],
      "items": [{"type": "camera", "name": "cam", "position": [0, 0, -5]},
        {"type": "light", "name": "rim", "position": [0, 1, 4]},
        {"type": "object", "name": "o", "mesh": {"primitive": "sphere", "surface": "Skin"}}]})");
}

TEST(RobustRender, SkinTraceOffsetsOfAnySize) {
    std::unique_ptr<host::scene::Scene> scene = skinScene();
    ASSERT_TRUE(scene);
    std::string saved, message;
    ASSERT_EQ(host::plugin::saveSceneStates(*scene, kSkin, host::state::Format::Text, saved, message), 0)
        << message;
    const std::string eighth = "63 192 0 0 0 0 0 0";  // 0.125, a big-endian double
    ASSERT_NE(saved.find(eighth), std::string::npos);
    struct Case {
        const char *what, *bytes;
    } cases[] = {
        {"1e20", "68 21 175 29 120 181 140 64"},
        {"1e300", "126 55 228 60 136 0 117 156"},
        {"DBL_MAX", "127 239 255 255 255 255 255 255"},
        {"inf", "127 240 0 0 0 0 0 0"},
        {"NaN", "127 248 0 0 0 0 0 0"},
    };
    for (const Case &c : cases) {
        std::string text = saved;
        text.replace(text.find(eighth), eighth.size(), c.bytes);
        auto edited = load(text);
        ASSERT_TRUE(edited) << c.what;
        for (const std::string &plugin : {kSkin}) {
            Rendered r = render(*edited, plugin);
            ASSERT_EQ(r.out.status, 0) << c.what << ": " << r.out.message;
            EXPECT_TRUE(allFinite(r.frames.at(0))) << c.what;
        }
    }
}

// Ten parallel half-mirror, half-glass planes: without a cutoff every hit splits into two rays,
// 2^64 rays per sample at recursion limit 64.
std::string planeStack(bool skin) {
    std::string items;
    for (int i = 0; i < 10; ++i)
        items += R"({"type": "object", "name": "p)" + std::to_string(i) + R"(", "position": [0, 0, )" +
                 std::to_string(i) + R"(], "rotation": [0, -90, 0],
                   "mesh": {"primitive": "plane", "size": [40, 40], "surface": "Glass"}},)";
    std::string shader = skin ? R"(, "shaders": [{"server": "QZ_velmora"}])" : "";
    return R"({"render": {"width": 8, "height": 8, "recursion_limit": 64},
      "surfaces": [{"name": "Glass", "reflection": 0.5, "transparency": 0.5, "double_sided": true)" +
           shader + R"(}],
      "items": [)" +
           items + R"({"type": "camera", "name": "cam", "position": [0.3, 0.2, -5]},
        {"type": "light", "name": "l", "position": [0, 3, -3]}]})";
}

TEST(RobustRender, RayCutoffBoundsRayTrees) {
    for (bool skin : {false, true}) {
        auto scene = load(planeStack(skin));
        ASSERT_TRUE(scene);
        Rendered r = render(*scene, skin ? kSkin : std::string());
        ASSERT_EQ(r.out.status, 0) << r.out.message;
        // Weight halves per bounce: below 0.001 after ten, so at most about 2^11 rays per sample
        // and branch kind, shadow rays included.
        EXPECT_GT(r.out.stats.cutRays, 0u) << skin;
        EXPECT_LT(r.out.stats.rays, r.out.stats.samples * 20000) << skin;
        EXPECT_TRUE(allFinite(r.frames.at(0))) << skin;
    }
}

TEST(RobustRender, RayCutoffZeroTracesEveryRay) {
    auto scene = load(planeStack(false));
    ASSERT_TRUE(scene);
    auto adjust = [](host::render::RenderSettings &s) {
        s.pixelX = 4;
        s.pixelY = 4;
    };
    Rendered cut = render(*scene, {}, 1, adjust);
    host::scene::Scene &shallow = *scene;
    shallow.render.recursionLimit = 6;  // 2^7 rays at most: the weight never falls below 0.5^6
    Rendered exact = render(shallow, {}, 1, [](host::render::RenderSettings &s) {
        s.pixelX = 4;
        s.pixelY = 4;
        s.rayCutoff = 0.0;
    });
    Rendered defaultCut = render(shallow, {}, 1, adjust);
    ASSERT_EQ(exact.out.status, 0) << exact.out.message;
    EXPECT_EQ(exact.out.stats.cutRays, 0u);
    // Above the cutoff nothing changes: the same bits with and without it.
    EXPECT_EQ(defaultCut.out.stats.cutRays, 0u);
    EXPECT_TRUE(defaultCut.frames.at(0).rgb == exact.frames.at(0).rgb);
    EXPECT_GT(cut.out.stats.cutRays, 0u);
}

TEST(RobustRender, ColoursBeyondFloatAreCountedAndBlack) {
    // Saved data may give the skin's sub-surface strength any value; 1e300 overflows its colour.
    std::unique_ptr<host::scene::Scene> scene = skinScene();
    ASSERT_TRUE(scene);
    std::string saved, message;
    ASSERT_EQ(host::plugin::saveSceneStates(*scene, kSkin, host::state::Format::Text, saved, message), 0)
        << message;
    size_t at = saved.find(R"(\"1\")", saved.find("Ksub"));  // the value, quoted inside the JSON string
    ASSERT_NE(at, std::string::npos);
    auto edited = load(saved.replace(at, 5, R"(\"1e300\")"));
    ASSERT_TRUE(edited);
    Rendered r = render(*edited, kSkin);
    ASSERT_EQ(r.out.status, 0) << r.out.message;
    EXPECT_GT(r.out.stats.badSamples, 0u);
    EXPECT_LT(r.out.stats.badSamples, r.out.stats.samples);  // the backdrop around the sphere is fine
    EXPECT_TRUE(allFinite(r.frames.at(0)));
}

TEST(RobustRender, ExtremeFramesEnd) {
    auto scene = load(R"({"render": {"width": 1, "height": 1},
      "items": [{"type": "camera", "name": "cam"}]})");
    ASSERT_TRUE(scene);
    struct Case {
        int first, last;
        std::vector<int> want;
    } cases[] = {
        {INT_MAX, INT_MAX, {INT_MAX}},
        {INT_MAX - 1, INT_MAX, {INT_MAX - 1, INT_MAX}},
        {INT_MIN, INT_MIN + 1, {INT_MIN, INT_MIN + 1}},
    };
    for (const Case &c : cases) {
        Rendered r;
        host::render::RenderSettings s;
        s.hostShading = true;
        s.threads = 1;
        s.frameStart = c.first;
        s.frameEnd = c.last;
        std::vector<int> got;
        r.out = host::render::renderScene(*scene, s, [&](const host::render::Frame &f) {
            got.push_back(f.number);
            return got.size() > 4 ? std::string("runaway") : std::string();
        });
        EXPECT_EQ(r.out.status, 0) << c.first << ": " << r.out.message;
        EXPECT_EQ(got, c.want) << c.first;
    }
    host::render::FrameRange all{INT_MIN, INT_MAX, 1};
    EXPECT_EQ(all.count(), 4294967296ull);
    EXPECT_EQ(all.at(all.count() - 1), INT_MAX);
    host::render::FrameRange stepped{INT_MAX - 10, INT_MAX, 1000000};
    EXPECT_EQ(stepped.count(), 1u);
}

TEST(RobustRender, AreaShadowRaysFromTags) {
    struct Case {
        std::vector<std::string> tags;
        uint64_t rays;
    } cases[] = {
        {{}, 1},
        {{"QZ_lightParam: areashadow = 1", "QZ_lightParam: areashadow_sample = 3"}, 9},
        {{"QZ_lightParam:areashadow=1", "QZ_lightParam:   areashadow_sample   ==  32 rays"}, 1024},
        {{"QZ_lightParam: areashadow = 0", "QZ_lightParam: areashadow_sample = 32"}, 1},
        {{"QZ_lightParam: areashadow_sample = 32"}, 1},
        {{"QZ_lightParam: areashadow = 1", "QZ_lightParam: areashadow_sample = 99999999999999999999999"}, 65536},
        {{"QZ_lightParam: areashadow = 1", "QZ_lightParam: areashadow_sample = -5"}, 1},
        {{"QZ_lightParam: areashadow = 1", "QZ_lightParam: areashadow_size = 40"}, 1},
        {{"QZ_lightParam: areashadow = 1", "QZ_lightParam: areashadow_sample = 8",
          "QZ_lightParam: areashadow_sample = 30"},
         64},
        {{"", "QZ_lightParam:", "QZ_lightParam: areashadow", "QZ_lightParam: = =", std::string(1, '\0'),
          "\xff\xfe garbage", "QZ_lightParam: areashadow = 1", "QZ_lightParam: areashadow_sample ="},
         1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(host::render::areaShadowRays(c.tags), c.rays) << ::testing::PrintToString(c.tags);

    auto scene = load(R"({"items": [{"type": "camera", "name": "cam"},
      {"type": "light", "name": "soft", "tags": ["QZ_lightParam: areashadow = 1", "QZ_lightParam: areashadow_sample = 9"]},
      {"type": "light", "name": "mild", "tags": ["QZ_lightParam: areashadow = 1", "QZ_lightParam: areashadow_sample = 8"]},
      {"type": "light", "name": "noshadow", "shadow": "off",
       "tags": ["QZ_lightParam: areashadow = 1", "QZ_lightParam: areashadow_sample = 32"]}]})");
    ASSERT_TRUE(scene);
    std::vector<std::string> warnings = host::render::renderWarnings(*scene);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("\"soft\" asks for 81 shadow rays"), std::string::npos) << warnings[0];
}

// A skin-shaded scene without occlusion inputs, with sampled area shadows, transparency and
// reflection: the same bits on every thread count.
// With interpolated radiosity (two bounces) and adaptive sampling too, the cache is the same.
TEST(RobustRender, SameBitsOnAnyThreadCount) {
    for (const char *extra : {"", R"(, "radiosity": {"mode": "interpolated", "bounces": 2, "rays": 16},
                                  "adaptive": {"threshold": 0.02, "min_samples": 2})"}) {
        auto scene = load(R"({"render": {"width": 40, "height": 30, "samples": 2, "recursion_limit": 3)" +
                          std::string(extra) + R"(},
      "surfaces": [{"name": "Skin", "color": [0.85, 0.62, 0.52], "specular": 0.3, "translucency": 0.2,
                    "shaders": [{"server": "QZ_velmora", "settings": {"sheen_trace": 1}}]},
                   {"name": "Veil", "transparency": 0.5, "reflection": 0.3, "shaders": [{"server": "QZ_velmora"}]}],
      "items": [{"type": "camera", "name": "cam", "position": [0, 1.5, -5], "rotation": [0, 10, 0]},
        {"type": "object", "name": "head", "position": [0, 1, 0], "mesh": {"primitive": "sphere", "surface": "Skin"}},
        {"type": "object", "name": "floor", "mesh": {"primitive": "plane", "size": [20, 20], "surface": "Skin"}},
        {"type": "object", "name": "veil", "position": [1.2, 1.5, -1],
         "mesh": {"primitive": "plane", "size": [1.5, 1.5], "surface": "Veil"}},
        {"type": "light", "name": "key", "position": [1.6, 4.5, -1.2],
         "tags": ["QZ_lightParam: areashadow = 1", "QZ_lightParam: areashadow_size = 0.8",
                  "QZ_lightParam: areashadow_sample = 3"]},
        {"type": "light", "name": "rim", "position": [-2, 3, 3]}]})");
        ASSERT_TRUE(scene);
        Rendered one = render(*scene, kSkin, 1);
        ASSERT_EQ(one.out.status, 0) << one.out.message;
        for (int threads : {2, 3}) {
            Rendered many = render(*scene, kSkin, threads);
            ASSERT_EQ(many.out.status, 0) << many.out.message;
            EXPECT_TRUE(many.frames.at(0).rgb == one.frames.at(0).rgb) << threads << " threads" << extra;
            EXPECT_EQ(many.out.stats.cacheRecords, one.out.stats.cacheRecords) << threads << " threads" << extra;
        }
    }
}

// The cache lives from frame to frame while nothing its light depends on moves: a static
// animation has the same indirect light, bit for bit, in every frame; a moving light, a moving
// object or an animated shader setting starts it again each frame. A moving camera keeps it.
TEST(RobustRender, InterpolatedRadiosityKeepsItsCacheWhileNothingMoves) {
    const std::string moving = R"({"keys": [[0, 0], [1, 1.5]]})";
    struct Case {
        const char *what;
        std::string camera, light, ball, skin;
        uint64_t starts;
        bool sameFrames;
    } cases[] = {
        {"static", "0", "3", "0", "", 1, true},
        {"camera moving", moving, "3", "0", "", 1, false},
        {"light moving", "0", moving, "0", "", 3, false},
        {"object moving", "0", "3", moving, "", 3, false},
        {"shader setting animated", "0", "3", "0", R"(, "settings": {"Ksub": {"keys": [[0, 0.2], [1, 0.9]]}})", 3,
         false},
    };
    for (const Case &c : cases) {
        auto scene = load(R"({"render": {"width": 24, "height": 18, "samples": 1, "frames": [1, 3], "fps": 4,
            "radiosity": {"mode": "interpolated", "bounces": 2, "rays": 9}},
          "surfaces": [{"name": "Skin", "color": [0.85, 0.62, 0.52], "shaders": [{"server": "QZ_velmora")" +
                          c.skin + R"(}]}],
          "items": [{"type": "camera", "name": "cam", "position": [)" +
                          c.camera + R"(, 1.5, -5], "rotation": [0, 10, 0]},
            {"type": "object", "name": "ball", "position": [)" +
                          c.ball + R"(, 1, 0], "mesh": {"primitive": "sphere", "surface": "Skin"}},
            {"type": "object", "name": "floor", "mesh": {"primitive": "plane", "size": [20, 20], "surface": "Skin"}},
            {"type": "light", "name": "key", "position": [1.6, )" +
                          c.light + R"(, -1.2]}]})");
        ASSERT_TRUE(scene) << c.what;
        Rendered r = render(*scene, kSkin, 2);
        ASSERT_EQ(r.out.status, 0) << c.what << ": " << r.out.message;
        ASSERT_EQ(r.frames.size(), 3u) << c.what;
        EXPECT_EQ(r.out.stats.cacheStarts, c.starts) << c.what;
        EXPECT_EQ(r.frames[1].rgb == r.frames[0].rgb && r.frames[2].rgb == r.frames[0].rgb, c.sameFrames)
            << c.what;
    }
}

// Adaptive sampling stops where a pixel's samples agree: a frame of backdrop alone takes the
// minimum everywhere; a lit, shadowed scene takes more, never beyond the maximum.
TEST(RobustRender, AdaptiveSamplingStopsWhereSamplesAgree) {
    struct Case {
        const char *what, *items;
        bool atLeast;  // every pixel at the minimum, else some above it
    } cases[] = {
        {"backdrop alone", "", true},
        {"shadowed sphere", R"(, {"type": "object", "name": "ball", "mesh": {"primitive": "sphere"}},
            {"type": "object", "name": "floor", "position": [0, -1, 0], "mesh": {"primitive": "plane", "size": [20, 20]}},
            {"type": "light", "name": "key", "light": "area", "size": [2, 2], "samples": 4, "position": [1, 4, -1]})",
         false},
    };
    for (const Case &c : cases) {
        auto scene = load(R"({"render": {"width": 20, "height": 16, "samples": 4,
            "adaptive": {"threshold": 0.002, "min_samples": 3, "max_samples": 24}},
          "items": [{"type": "camera", "name": "cam", "position": [0, 1, -6], "rotation": [0, 8, 0]})" +
                          std::string(c.items) + "]}");
        ASSERT_TRUE(scene);
        Rendered r = render(*scene, "");
        ASSERT_EQ(r.out.status, 0) << r.out.message;
        const uint64_t pixels = 20 * 16;
        if (c.atLeast)
            EXPECT_EQ(r.out.stats.samples, pixels * 3) << c.what;
        else
            EXPECT_GT(r.out.stats.samples, pixels * 3) << c.what;
        EXPECT_LE(r.out.stats.samples, pixels * 24) << c.what;
    }
}

}  // namespace

// An image the scene uses is decoded before the first tile: one that loads (its header is sound)
// but cannot be decoded refuses the render with its name instead of rendering black.
TEST(RobustRender, DamagedImagesInUseRefuseTheRender) {
    std::string dir = ::testing::TempDir() + "/velmora_damaged_image";
    std::string whole = dir + "/whole.exr", cut = dir + "/cut.exr", why;
    ASSERT_EQ(std::system(("mkdir -p " + dir).c_str()), 0);
    std::vector<float> noise(128 * 128 * 3);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<float>((i * 7919) % 1000) / 1000.0f;
    ASSERT_TRUE(host::image::writeImage(whole, 128, 128, noise, why)) << why;
    std::FILE *in = std::fopen(whole.c_str(), "rb");
    ASSERT_TRUE(in);
    std::vector<char> bytes(1 << 20);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), in));
    std::fclose(in);
    std::FILE *out = std::fopen(cut.c_str(), "wb");
    ASSERT_TRUE(out);
    std::fwrite(bytes.data(), 1, bytes.size() / 2, out);
    std::fclose(out);
    for (const char *use : {R"("backdrop": {"type": "image", "image": "sky"})",
                            R"("surfaces": [{"name": "S", "color_texture": {"image": "sky"}}])"}) {
        SCOPED_TRACE(use);
        auto scene = load(std::string(R"({"images": [{"name": "sky", "file": ")") + cut + R"("}], )" + use +
                          R"(, "render": {"width": 8, "height": 8},
            "items": [{"type": "camera", "name": "c"}, {"type": "object", "name": "o",
                       "mesh": {"primitive": "plane"}}]})");
        ASSERT_TRUE(scene);
        Rendered r = render(*scene, "");
        EXPECT_EQ(r.out.status, 2);
        EXPECT_NE(r.out.message.find(cut), std::string::npos) << r.out.message;
        EXPECT_TRUE(r.frames.empty());
    }
}
