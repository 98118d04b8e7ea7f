// SPDX-License-Identifier: Apache-2.0
// Whole renders with the real skin shader plug-in, in-process: tiny scenes whose light, shadow
// and projection follow in closed form, checked with a tolerance counted in pixels that are
// badly off.
//
// The shadow scenes share one layout: a skin-shaded floor (the plane y = 0), a point light 4 m
// above the origin, a blocker at y = 2 covering x < 0 and a camera 1 m above the floor looking
// straight down with a 90° field of view, so that image column c sees world x = 2(c + ½)/W − 1.
// The blocker's shadow edge falls on x = 0. Ambient light, highlights and mirror are off, and the
// skin's default shadow amount of 1 takes all diffuse light through the shadowed query, so a
// pixel is affine in the light that reaches it: with v1 the render without blocker and v0 the
// render under a blocker that covers the whole light, (v − v0) / (v1 − v0) is the fraction f of
// the light that arrives.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/cli/default_scene.h"
#include "host/render/renderer.h"
#include "host/scene/loader.h"

namespace {

struct Rendered {
    int status = -1;
    std::string message;
    host::render::Frame frame;
    float at(int x, int y, int c) const { return frame.rgb[(static_cast<size_t>(y) * frame.width + x) * 3 + c]; }
};

Rendered render(const std::string &json, int threads = 1, const std::string &plugin = VELMORA_PLUGIN,
                const std::string &baseDir = ".") {
    Rendered out;
    host::scene::LoadResult loaded = host::scene::loadSceneText(json, "e2e scene", baseDir);
    if (!loaded.scene) {
        out.message = loaded.error;
        return out;
    }
    host::render::RenderSettings s;
    s.threads = threads;
    s.pluginPath = plugin;
    host::render::RenderOutcome r = host::render::renderScene(*loaded.scene, s, [&](const host::render::Frame &f) {
        out.frame = f;
        return std::string();
    });
    out.status = r.status;
    out.message = r.message;
    return out;
}

constexpr int kW = 64, kH = 8;

double columnX(int c) { return 2.0 * (c + 0.5) / kW - 1.0; }

// The shadow scene; blocker: "half" (x < 0), "all" (covers the light) or "none".
struct ShadowScene {
    std::string blocker = "half";
    std::vector<std::string> tags;
    std::string shadowColor = "[0, 0, 0]";
    double blockerTransparency = 0;
    bool blockerSkin = false;

    std::string json() const {
        std::string t;
        for (const std::string &tag : tags) t += (t.empty() ? "\"" : ", \"") + tag + "\"";
        std::string blockerItem;
        if (blocker == "half")
            blockerItem = R"(, {"type": "object", "name": "Blocker", "position": [-5, 2, 0],
                "mesh": {"primitive": "plane", "size": [10, 20], "surface": "Blocker"}})";
        else if (blocker == "all")
            blockerItem = R"(, {"type": "object", "name": "Blocker", "position": [0, 2, 0],
                "mesh": {"primitive": "plane", "size": [40, 40], "surface": "Blocker"}})";
        std::string shaders = blockerSkin ? R"(, "shaders": [{"server": "QZ_velmora"}])" : "";
        return R"({
          "render": {"width": )" +
               std::to_string(kW) + R"(, "height": )" + std::to_string(kH) + R"(, "samples": 1},
          "ambient": {"intensity": 0},
          "surfaces": [
            {"name": "Floor", "color": [0.8, 0.7, 0.6], "specular": 0,
             "shaders": [{"server": "QZ_velmora"}]},
            {"name": "Blocker", "color": [0.5, 0.5, 0.5], "transparency": )" +
               std::to_string(blockerTransparency) + shaders + R"(}
          ],
          "items": [
            {"type": "camera", "name": "Camera", "position": [0, 1, 0], "rotation": [0, 90, 0], "fov": 90},
            {"type": "object", "name": "Floor", "mesh": {"primitive": "plane", "size": [20, 20], "surface": "Floor"}},
            {"type": "light", "name": "Lamp", "light": "point", "position": [0, 4, 0],
             "shadow_color": )" +
               shadowColor + R"(, "tags": [)" + t + R"(]})" + blockerItem + R"(
          ]
        })";
    }
};

const std::vector<std::string> kAreaTags = {"QZ_lightParam: areashadow = 1", "QZ_lightParam: areashadow_size = 1",
                                            "QZ_lightParam: areashadow_sample = 8"};

// Fraction of light arriving at each pixel, from the green channel against the two references.
std::vector<double> arriving(const Rendered &v, const Rendered &v0, const Rendered &v1) {
    std::vector<double> f;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            double d = v1.at(x, y, 1) - v0.at(x, y, 1);
            f.push_back(d > 0 ? (v.at(x, y, 1) - v0.at(x, y, 1)) / d : -1.0);
        }
    return f;
}

// A square light of side s, centred on the light, seen from the floor across the blocker's edge:
// its frame lies diagonal to the edge, so the samples' offset along x is (s/2)(a + b)/√2 with a
// and b uniform in [−1, 1] (a triangular spread), and a sample reaches floor point x when its
// offset is beyond −x (light and floor are equally far from the blocker).
double squareLightArriving(double x, double s) {
    double c = -x * std::sqrt(2.0) / (s / 2);
    c = std::fmax(-2.0, std::fmin(2.0, c));
    return c >= 0 ? (2 - c) * (2 - c) / 8 : 1 - (2 + c) * (2 + c) / 8;
}

class Shadows : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ShadowScene none, all;
        none.blocker = "none";
        all.blocker = "all";
        none.tags = all.tags = kAreaTags;
        lit = new Rendered(render(none.json()));
        dark = new Rendered(render(all.json()));
    }
    static void TearDownTestSuite() {
        delete lit;
        delete dark;
    }
    void SetUp() override {
        ASSERT_EQ(lit->status, 0) << lit->message;
        ASSERT_EQ(dark->status, 0) << dark->message;
    }
    static Rendered *lit, *dark;
};
Rendered *Shadows::lit = nullptr;
Rendered *Shadows::dark = nullptr;

TEST_F(Shadows, ReferencesAreLitAndDark) {
    int bad = 0;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            if (!(lit->at(x, y, 1) > 0.3f) || !(std::fabs(dark->at(x, y, 1)) < 0.02f)) ++bad;
    EXPECT_EQ(bad, 0) << "lit " << lit->at(0, 0, 1) << ", dark " << dark->at(0, 0, 1);
}

TEST_F(Shadows, AreaShadowTagGivesASoftPenumbraWhereTheHostsShadowIsHard) {
    ShadowScene tagged, plain;
    tagged.tags = kAreaTags;
    Rendered soft = render(tagged.json()), hard = render(plain.json());
    ASSERT_EQ(soft.status, 0) << soft.message;
    ASSERT_EQ(hard.status, 0) << hard.message;
    std::vector<double> fs = arriving(soft, *dark, *lit), fh = arriving(hard, *dark, *lit);

    int softBad = 0, softBetween = 0, hardBad = 0, hardBetween = 0;
    for (int y = 0; y < kH; ++y)
        for (int c = 0; c < kW; ++c) {
            double x = columnX(c), want = squareLightArriving(x, 1.0), got = fs[y * kW + c];
            if (std::fabs(got - want) > 0.06) {
                ++softBad;
                ADD_FAILURE() << "soft pixel " << c << "," << y << " (x " << x << "): light " << got << ", want "
                              << want;
            }
            if (got > 0.05 && got < 0.95) ++softBetween;
            double h = fh[y * kW + c];
            if (h > 0.05 && h < 0.95) ++hardBetween;
            if (std::fabs(h - (x > 0 ? 1.0 : 0.0)) > 0.02) ++hardBad;
        }
    EXPECT_LE(softBad, 4);
    // Between 5% and 95% of the light arrives for |x| < 0.48 (where (2 − c)²/8 = 0.05): 31 of
    // the 64 columns.
    EXPECT_GE(softBetween, 29 * kH);
    EXPECT_EQ(hardBetween, 0);
    EXPECT_EQ(hardBad, 0);
}

TEST_F(Shadows, ShadowColourTintsTheShadowByTheLightItTookAway) {
    // A white light of intensity 1 reaches the floor whole (no falloff); where the blocker takes
    // all of it the gateway adds the shadow colour times that mean, so the shadow gets the lit
    // floor's light per channel scaled by the shadow colour, and the lit side is unchanged.
    const double sc[3] = {0.1, 0.3, 0.9};
    ShadowScene tinted;
    tinted.shadowColor = "[0.1, 0.3, 0.9]";
    Rendered t = render(tinted.json());
    ASSERT_EQ(t.status, 0) << t.message;
    int bad = 0;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            for (int c = 0; c < 3; ++c) {
                double l = lit->at(x, y, c), d = dark->at(x, y, c);
                double want = columnX(x) > 0 ? l : d + sc[c] * (l - d);
                double got = t.at(x, y, c);
                if (std::fabs(got - want) > 1e-3 * std::fmax(1.0, l)) {
                    ++bad;
                    ADD_FAILURE() << "pixel " << x << "," << y << " channel " << c << ": " << got << ", want "
                                  << want;
                }
            }
    EXPECT_EQ(bad, 0);
}

// A quadrant image, written as a binary PPM: red, green / blue, yellow, 8x8 pixels each.
std::string writeQuadrantImage(const std::filesystem::path &dir) {
    std::filesystem::create_directories(dir);
    std::filesystem::path file = dir / "quadrants.ppm";
    std::ofstream out(file, std::ios::binary);
    out << "P6\n16 16\n255\n";
    const unsigned char q[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) out.write(reinterpret_cast<const char *>(q[(y / 8) * 2 + x / 8]), 3);
    return file.string();
}

TEST(Projection, SpotProjectionImageLandsOnTheSkinShadedFloor) {
    // A spot 4 m above the floor, pointing down with a half-angle of 30°: its image spans
    // ±4·tan 30° = ±2.31 m and the camera sees the middle ±1 m of it, so each quarter of the
    // view shows one quadrant colour, the image's top towards the spot's up axis (+z, the top of
    // the view). Once through the host's illuminate, once (area-shadow tag) through the
    // shader's own light model.
    std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "velmora_e2e_projection";
    std::string image = writeQuadrantImage(dir);
    const std::string want[4] = {"red", "green", "blue", "yellow"};
    for (bool tagged : {false, true}) {
        std::string tags =
            tagged ? R"("QZ_lightParam: areashadow = 1", "QZ_lightParam: areashadow_sample = 1")" : "";
        std::string json = R"({
          "render": {"width": 32, "height": 32, "samples": 1},
          "ambient": {"intensity": 0},
          "images": [{"name": "quadrants", "file": ")" +
                           image + R"("}],
          "surfaces": [{"name": "Floor", "color": [1, 1, 1], "specular": 0, "shaders": [{"server": "QZ_velmora"}]}],
          "items": [
            {"type": "camera", "name": "Camera", "position": [0, 1, 0], "rotation": [0, 90, 0], "fov": 90},
            {"type": "object", "name": "Floor", "mesh": {"primitive": "plane", "size": [20, 20], "surface": "Floor"}},
            {"type": "light", "name": "Spot", "light": "spot", "position": [0, 4, 0], "rotation": [0, 90, 0],
             "cone_angle": 30, "projection_image": "quadrants", "tags": [)" +
                           tags + R"(]}
          ]
        })";
        Rendered r = render(json);
        ASSERT_EQ(r.status, 0) << r.message;
        int bad = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                if (std::abs(2 * x - 31) < 6 || std::abs(2 * y - 31) < 6) continue;  // near the quadrant edges
                float red = r.at(x, y, 0), green = r.at(x, y, 1), blue = r.at(x, y, 2);
                float hi = std::fmax(red, std::fmax(green, blue)), lo = hi * 0.1f;
                std::string got = (red > lo && green > lo && blue <= lo)    ? "yellow"
                                  : (red > lo && green <= lo && blue <= lo) ? "red"
                                  : (green > lo && red <= lo && blue <= lo) ? "green"
                                  : (blue > lo && red <= lo && green <= lo) ? "blue"
                                                                            : "other";
                const std::string &expected = want[(y < 16 ? 0 : 2) + (x < 16 ? 0 : 1)];
                if (!(hi > 0.2f) || got != expected) {
                    ++bad;
                    ADD_FAILURE() << (tagged ? "tagged" : "plain") << " pixel " << x << "," << y << ": " << red
                                  << " " << green << " " << blue << " (" << got << "), want " << expected;
                }
            }
        EXPECT_EQ(bad, 0) << (tagged ? "through the shader's light model" : "through the host's illuminate");
    }
}

bool sameFrames(const Rendered &a, const Rendered &b, std::string &why) {
    if (a.frame.rgb.size() != b.frame.rgb.size()) {
        why = "sizes " + std::to_string(a.frame.rgb.size()) + " and " + std::to_string(b.frame.rgb.size());
        return false;
    }
    for (size_t i = 0; i < a.frame.rgb.size(); ++i)
        if (a.frame.rgb[i] != b.frame.rgb[i]) {
            why = "value " + std::to_string(i) + ": " + std::to_string(a.frame.rgb[i]) + " and " +
                  std::to_string(b.frame.rgb[i]);
            return false;
        }
    return true;
}

TEST(Threads, RenderIsTheSameOnOneAndTwoThreads) {
    // The default scene (spot, point and distant light, sub-surface and sheen), small, and the
    // area-shadow scene: the shader keeps no state between spots that could depend on which
    // thread shaded what.
    std::string defaultScene = host::cli::kDefaultSceneJson;
    const std::string full = R"("width": 640, "height": 480, "samples": 4)";
    size_t at = defaultScene.find(full);
    ASSERT_NE(at, std::string::npos);
    defaultScene.replace(at, full.size(), R"("width": 96, "height": 72, "samples": 2)");
    ShadowScene area;
    area.tags = kAreaTags;
    for (const std::string &json : {defaultScene, area.json()}) {
        Rendered one = render(json, 1), two = render(json, 2);
        ASSERT_EQ(one.status, 0) << one.message;
        ASSERT_EQ(two.status, 0) << two.message;
        std::string why;
        EXPECT_TRUE(sameFrames(one, two, why)) << why;
    }
}

TEST(RecursionGuard, TransparentSkinBlockerShadowsASkinFloorThroughANestedEvaluation) {
    // The blocker is half transparent and skin-shaded: the host shades it for every shadow ray
    // from the floor, inside the floor's own light query, so the shader runs nested on the same
    // thread and its light queries must give up at once. Half the light passes (no colour
    // filter), so the shadowed side gets exactly half the light.
    using Counts = void (*)(long[3]);
    void *probe = dlopen(VELMORA_E2E_PROBE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(probe, nullptr) << dlerror();
    auto counts = reinterpret_cast<Counts>(dlsym(probe, "probeCounts"));
    auto reset = reinterpret_cast<void (*)()>(dlsym(probe, "probeReset"));
    ASSERT_TRUE(counts && reset);

    ShadowScene s;
    s.blockerTransparency = 0.5;
    s.blockerSkin = true;
    ShadowScene none = s, all = s;
    none.blocker = "none";
    all.blocker = "all";
    Rendered v1 = render(none.json(), 1, VELMORA_E2E_PROBE);
    Rendered vHalf = render(all.json(), 1, VELMORA_E2E_PROBE);
    reset();
    Rendered half = render(s.json(), 1, VELMORA_E2E_PROBE);
    long n[3];
    counts(n);
    ASSERT_EQ(half.status, 0) << half.message;
    ASSERT_EQ(v1.status, 0) << v1.message;
    ASSERT_EQ(vHalf.status, 0) << vHalf.message;

    // Every floor pixel on the shadowed side sends one shadow ray through the blocker, whose
    // nested evaluation may trace its refraction on down to the floor again.
    EXPECT_EQ(n[2], kW * kH / 2) << "nested evaluations of shadow rays";
    EXPECT_GE(n[1], n[2]) << "all nested evaluations";
    EXPECT_EQ(n[0] - n[1], kW * kH) << "outer evaluations: one per pixel";

    // The shadowed side matches the floor under a half-transparent blocker everywhere, and that
    // lies halfway between the lit floor and the floor under an opaque blocker.
    ShadowScene opaque;
    opaque.blocker = "all";
    Rendered v0 = render(opaque.json());
    ASSERT_EQ(v0.status, 0) << v0.message;
    int bad = 0;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            double l = v1.at(x, y, 1), h = vHalf.at(x, y, 1), d = v0.at(x, y, 1);
            double want = columnX(x) > 0 ? l : h, got = half.at(x, y, 1);
            if (std::fabs(got - want) > 1e-3 || std::fabs(h - 0.5 * (l + d)) > 1e-3) {
                ++bad;
                ADD_FAILURE() << "pixel " << x << "," << y << ": " << got << ", want " << want << "; under the "
                              << "blocker " << h << ", want " << 0.5 * (l + d);
            }
        }
    EXPECT_EQ(bad, 0);
    dlclose(probe);
}

}  // namespace
