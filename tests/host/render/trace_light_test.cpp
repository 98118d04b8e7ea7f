// SPDX-License-Identifier: Apache-2.0
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "host/render/shading.h"
#include "host/scene/loader.h"
#include "sdk/item_info.h"

namespace {

// A loaded scene, its ray-tracing scene at time 0, and the calling thread bound to it.
struct Bound {
    std::unique_ptr<host::scene::Scene> scene;
    host::trace::Tracer tracer;
    host::render::RenderContext rc;
    host::render::ThreadState ts;

    explicit Bound(const std::string &items, const std::string &top = "",
                   const std::string &camera = R"({"type": "camera", "name": "cam"})") {
        std::string text = "{" + top + "\"items\": [" + camera + items + "]}";
        host::scene::LoadResult r = host::scene::loadSceneText(text, "test.json", ".");
        if (!r.scene) throw std::runtime_error(r.error);
        scene = std::move(r.scene);
        std::string why;
        if (!tracer.build(*scene, 0.0, why)) throw std::runtime_error(why);
        host::render::prepareContext(rc, *scene, tracer, 0.0, 64, 48);
        ts.rc = &rc;
        host::render::bindThread(&ts);
    }
    ~Bound() { host::render::bindThread(nullptr); }
    LWItemID light(const char *name) const { return scene->findItem(name); }
};

const char *kBox = R"(, {"type": "object", "name": "box", "mesh": {"primitive": "box", "size": [2, 2, 2]}})";

// The host's shading of whatever a ray from org along dir meets (red channel).
double shadeAlong(Bound &b, const double org[3], const double dir[3]) {
    double col[3];
    host::render::traceAndShade(b.ts, org, dir, LWRT_CAMERA, nullptr, 0.0, col);
    return col[0];
}

// The share of the hemisphere a Lambertian rectangle a x b (in units of its height above a
// point under its corner, parallel to the floor) covers, cosine-weighted: its form factor.
double cornerFormFactor(double a, double b) {
    double sa = std::sqrt(1 + a * a), sb = std::sqrt(1 + b * b);
    return (a / sa * std::atan(b / sa) + b / sb * std::atan(a / sb)) / (2 * M_PI);
}

TEST(RayFunctions, CastAgainstAUnitBox) {
    Bound b(kBox);
    struct Case {
        const char *what;
        double org[3], dir[3], want;
    } cases[] = {
        {"front face, unnormalised direction", {0, 0, -5}, {0, 0, 2}, 4.0},
        {"side face", {5, 0.5, 0}, {-1, 0, 0}, 4.0},
        {"from inside", {0, 0, 0}, {0, 1, 0}, 1.0},
        {"diagonal", {-4, -4, 0}, {1, 1, 0}, std::sqrt(18.0)},
        {"leaving its own face", {0, 0, -1}, {0, 0, -1}, -1.0},
        {"through from its own face", {0, 0, -1}, {0, 0, 1}, 2.0},
        {"miss", {0, 5, -5}, {0, 0, 1}, -1.0},
        {"zero direction", {0, 0, -5}, {0, 0, 0}, -1.0},
    };
    for (const Case &c : cases) {
        double t = host::render::hostRayCast(c.org, c.dir);
        if (c.want < 0)
            EXPECT_LT(t, 0.0) << c.what << ": got " << t;
        else
            EXPECT_NEAR(t, c.want, 1e-4) << c.what << ": got " << t << " want " << c.want;
    }
}

TEST(RayFunctions, ShadeFillsTheAccessRecordWithoutShading) {
    Bound b(kBox);
    LWShaderAccess sa;
    double org[3] = {0.25, 0.5, -5}, dir[3] = {0, 0, 1};
    double t = host::render::hostRayShade(org, dir, &sa);
    ASSERT_NEAR(t, 4.0, 1e-4);
    EXPECT_NEAR(sa.wPos[2], -1.0, 1e-4);
    EXPECT_NEAR(sa.oPos[0], 0.25, 1e-4);
    EXPECT_NEAR(sa.gNorm[2], -1.0, 1e-6) << "front face of the box faces -Z";
    EXPECT_NEAR(sa.cosine, 1.0, 1e-6);
    EXPECT_EQ(sa.objID, host::scene::itemID(b.scene->objects[0]));
    EXPECT_NE(sa.polygon, nullptr);
    double wsum = 0, pos[3] = {0, 0, 0};
    for (int k = 0; k < 4; ++k) {
        wsum += sa.weights[k];
        for (int c = 0; c < 3; ++c) pos[c] += sa.weights[k] * sa.vertsWPos[k][c];
    }
    EXPECT_NEAR(wsum, 1.0, 1e-6);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(pos[c], sa.wPos[c], 1e-4) << "weights rebuild the position, axis " << c;
    EXPECT_EQ(sa.rayCast, &host::render::hostRayCast);
    EXPECT_EQ(sa.illuminate, &host::render::hostIlluminate);

    double none[3] = {0, 0, 0};
    EXPECT_LT(host::render::hostRayShade(org, none, &sa), 0.0);
}

TEST(Illuminate, FalloffAndCone) {
    // Lights at the origin shining along +Z; positions on or near the axis.
    Bound b(R"(,
      {"type": "light", "name": "sq", "falloff": "inverse_square", "range": 2, "color": [1, 0.5, 0.25]},
      {"type": "light", "name": "lin", "falloff": "linear", "range": 2},
      {"type": "light", "name": "inv", "falloff": "inverse_distance", "range": 2},
      {"type": "light", "name": "spot", "light": "spot", "cone_angle": 30, "cone_edge": 10},
      {"type": "light", "name": "sun", "light": "distant", "rotation": [0, 90, 0], "intensity": 0.5})");
    const double deg = M_PI / 180;
    // Halfway through the soft edge, counted in cosines: smoothstep gives 0.5.
    const double mid = std::acos((std::cos(20 * deg) + std::cos(30 * deg)) / 2);
    struct Case {
        const char *light;
        double pos[3];
        double want;  // red channel arriving
        int lit;
    } cases[] = {
        {"sq", {0, 0, 4}, 0.25, 1},
        {"lin", {0, 0, 1}, 0.5, 1},
        {"lin", {0, 0, 3}, 0.0, 0},
        {"inv", {0, 0, 4}, 0.5, 1},
        {"spot", {0, std::sin(15 * deg), std::cos(15 * deg)}, 1.0, 1},  // inside r - g
        {"spot", {0, std::sin(mid), std::cos(mid)}, 0.5, 1},
        {"spot", {0, std::sin(31 * deg), std::cos(31 * deg)}, 0.0, 0},  // outside the cone
        {"sun", {7, -3, 2}, 0.5, 1},
    };
    for (const Case &c : cases) {
        double dir[3], col[3];
        int lit = host::render::hostIlluminate(b.light(c.light), c.pos, dir, col);
        EXPECT_EQ(lit, c.lit) << c.light;
        EXPECT_NEAR(col[0], c.want, 1e-9) << c.light << " at z=" << c.pos[2] << ": got " << col[0];
    }
    double dir[3], col[3], p[3] = {0, 0, 4};
    host::render::hostIlluminate(b.light("sq"), p, dir, col);
    EXPECT_NEAR(dir[2], 1.0, 1e-12) << "direction runs from the light to the position";
    EXPECT_NEAR(col[1], 0.125, 1e-12);
    host::render::hostIlluminate(b.light("sun"), p, dir, col);
    EXPECT_NEAR(dir[1], -1.0, 1e-12) << "a distant light pitched 90 degrees shines down";

    // Special identifiers come first; an unknown identifier is no light.
    EXPECT_EQ(host::render::hostIlluminate(LWITEM_CAUSTICS, p, dir, col), 0);
    EXPECT_EQ(host::render::hostIlluminate(LWITEM_RADIOSITY, p, dir, col), 0) << "radiosity is off";
    EXPECT_EQ(host::render::hostIlluminate(reinterpret_cast<LWItemID>(&b), p, dir, col), 0);
}

TEST(Illuminate, RayTracedShadows) {
    const char *items = R"(,
      {"type": "light", "name": "l", "position": [0, 10, 0]},
      {"type": "light", "name": "unshadowed", "position": [0, 10, 0], "shadow": "off"},
      {"type": "object", "name": "wall", "position": [0, 5, 0],
       "mesh": {"primitive": "box", "size": [4, 0.1, 4]}},
      {"type": "object", "name": "glass", "position": [20, 5, 0],
       "mesh": {"primitive": "box", "size": [4, 0.1, 4], "surface": "Glass"}},
      {"type": "light", "name": "g", "position": [20, 10, 0]})";
    std::string surfaces = R"("surfaces": [{"name": "Default"},
        {"name": "Glass", "transparency": 0.5, "color": [1, 0, 0], "color_filter": 1}],)";
    Bound b(items, surfaces);
    double dir[3], col[3];
    double under[3] = {0, 0, 0}, aside[3] = {8, 0, 0}, underGlass[3] = {20, 0, 0};
    EXPECT_EQ(host::render::hostIlluminate(b.light("l"), under, dir, col), 0);
    EXPECT_EQ(col[0], 0.0);
    EXPECT_EQ(host::render::hostIlluminate(b.light("l"), aside, dir, col), 1);
    EXPECT_EQ(host::render::hostIlluminate(b.light("unshadowed"), under, dir, col), 1);
    // Two faces of the glass slab, each passing half, filtered to red.
    EXPECT_EQ(host::render::hostIlluminate(b.light("g"), underGlass, dir, col), 1);
    EXPECT_NEAR(col[0], 0.25, 1e-9);
    EXPECT_NEAR(col[1], 0.0, 1e-9);

    Bound off(items, surfaces + std::string(R"("render": {"shadows": false},)"));
    EXPECT_EQ(host::render::hostIlluminate(off.light("l"), under, dir, col), 1)
        << "traced shadows off in the scene";
}

TEST(Illuminate, BackdropRadiosity) {
    Bound b(kBox, R"("render": {"radiosity": {"mode": "backdrop", "rays": 64}},
                     "backdrop": {"type": "solid", "color": [0.5, 0.25, 0.125]},)");
    double open[3] = {0, 5, 0}, up[3] = {0, 1, 0}, col[3];
    ASSERT_EQ(host::render::hostIlluminate(LWITEM_RADIOSITY, open, up, col), 1);
    EXPECT_NEAR(col[0], 0.5, 1e-9) << "nothing above: the whole backdrop";
    double top[3] = {0, 1, 0}, down[3] = {0, -1, 0};
    ASSERT_EQ(host::render::hostIlluminate(LWITEM_RADIOSITY, top, down, col), 1);
    EXPECT_NEAR(col[0], 0.0, 1e-9) << "facing into the box: no backdrop";
}

TEST(Radiosity, GeometricSeriesInsideALuminousSphere) {
    // Inside a closed sphere of albedo a that emits e every spot sees the same light, so whatever
    // directions the gathering rays take, N bounces give a e (1 + a + ... + a^N). Bounces cut by
    // the ray cutoff (weights a, a^2, ...) or by the recursion limit end the series early.
    const double a = 0.6, e = 0.5;
    struct Case {
        int bounces;
        const char *render;  // further render settings
        int terms;
    } cases[] = {
        {1, "", 2},
        {2, "", 3},
        {3, "", 4},
        {4, "", 5},
        {4, R"(, "ray_cutoff": 0.5)", 2},  // 0.6 is traced, 0.36 is not
        {4, R"(, "recursion_limit": 2)", 3},
    };
    for (const Case &c : cases) {
        std::string top =
            R"("ambient": {"intensity": 0}, "render": {"radiosity": {"mode": "monte_carlo", "rays": 6,
            "secondary_rays": 3, "bounces": )" +
            std::to_string(c.bounces) + "}" + c.render + R"(},
            "surfaces": [{"name": "In", "color": [0.6, 0.6, 0.6], "luminosity": 0.5, "double_sided": true}],)";
        Bound b(
            R"(, {"type": "object", "name": "room", "mesh": {"primitive": "sphere", "radius": 3, "surface": "In"}})",
            top);
        b.rc.rayCutoff = b.scene->render.rayCutoff;
        double want = 0, term = a * e;
        for (int k = 0; k < c.terms; ++k, term *= a) want += term;
        double org[3] = {0.1, 0.2, 0.3}, dir[3] = {0.6, 0, 0.8};
        EXPECT_NEAR(shadeAlong(b, org, dir), want, 1e-12) << c.bounces << " bounces" << c.render;
    }
}

TEST(Radiosity, ConvexBallUnderAUniformBackdrop) {
    // The furnace: a closed convex ball of albedo a under a backdrop of radiance L everywhere.
    // Every gathering ray leaves the ball and meets the backdrop, so any number of bounces gives
    // a L; at albedo 1 the ball is as bright as the backdrop behind it.
    const double L = 0.8;
    for (double a : {1.0, 0.5})
        for (int bounces = 1; bounces <= 3; ++bounces) {
            std::string top =
                R"("ambient": {"intensity": 0}, "backdrop": {"type": "solid", "color": [0.8, 0.8, 0.8]},
                "render": {"radiosity": {"mode": "monte_carlo", "rays": 5, "bounces": )" +
                std::to_string(bounces) + R"(}}, "surfaces": [{"name": "Ball", "color": [)" + std::to_string(a) +
                ", " + std::to_string(a) + ", " + std::to_string(a) + R"(], "specular": 0}],)";
            Bound b(
                R"(, {"type": "object", "name": "ball", "mesh": {"primitive": "sphere", "radius": 1, "surface": "Ball"}})",
                top);
            double org[3] = {0.3, 0.2, -5}, dir[3] = {0, 0, 1};
            EXPECT_NEAR(shadeAlong(b, org, dir), a * L, 1e-9) << "albedo " << a << ", " << bounces << " bounces";
        }
}

// Fills an irradiance cache for the bound scene's view and has its lookups use it.
host::render::IrradianceCache &fillCache(Bound &b, host::render::IrradianceCache &cache) {
    host::render::IrradianceFillStats stats;
    b.rc.irradiance = &cache;
    EXPECT_TRUE(host::render::fillIrradianceCache(b.rc, 2, cache, stats, nullptr));
    host::render::bindThread(&b.ts);
    return cache;
}

TEST(Radiosity, InterpolatedBallUnderAUniformBackdrop) {
    // The furnace again, from a filled cache: records see the backdrop alone, so their gradients
    // vanish and interpolation between them is exact.
    for (int bounces : {1, 2}) {
        Bound b(
            R"(, {"type": "object", "name": "ball", "mesh": {"primitive": "sphere", "radius": 1, "surface": "Ball"}})",
            R"("ambient": {"intensity": 0}, "backdrop": {"type": "solid", "color": [0.8, 0.8, 0.8]},
                "render": {"radiosity": {"mode": "interpolated", "rays": 16, "bounces": )" +
                std::to_string(bounces) +
                R"(}}, "surfaces": [{"name": "Ball", "color": [0.5, 0.5, 0.5], "specular": 0}],)",
            R"({"type": "camera", "name": "cam", "position": [0, 0, -5]})");
        host::render::IrradianceCache cache;
        fillCache(b, cache);
        ASSERT_GT(cache.records(), 0u);
        for (double x : {0.0, 0.31, -0.57, 0.8}) {
            double org[3] = {x, 0.2, -5}, dir[3] = {0, 0, 1};
            EXPECT_NEAR(shadeAlong(b, org, dir), 0.5 * 0.8, 1e-9) << bounces << " bounces at x " << x;
        }
        EXPECT_EQ(b.ts.cacheMisses, 0u);
    }
}

TEST(Radiosity, InterpolatedFloorUnderAPanelHasNoBlotches) {
    // A luminous 4 x 2 panel (radiance 1) at height 1.5 over a white floor, in the dark: the
    // floor's radiosity is the panel's form factor. Along a line that crosses the panel's edge and
    // many records, every interpolated value stays within 3% of the closed form's peak.
    Bound b(R"(, {"type": "object", "name": "floor", "mesh": {"primitive": "plane", "size": [40, 40]}},
      {"type": "object", "name": "panel", "position": [0, 1.5, 0],
       "mesh": {"primitive": "plane", "size": [4, 2], "surface": "Panel"}})",
            R"("ambient": {"intensity": 0}, "backdrop": {"type": "solid", "color": [0, 0, 0]},
              "render": {"radiosity": {"mode": "interpolated", "rays": 4096, "bounces": 1}},
              "surfaces": [{"name": "Default", "color": [1, 1, 1]},
                           {"name": "Panel", "color": [1, 1, 1], "diffuse": 0, "specular": 0, "luminosity": 1,
                            "double_sided": true}],)",
            R"({"type": "camera", "name": "cam", "position": [0, 1.2, -5], "rotation": [0, 20, 0], "fov": 60})");
    host::render::IrradianceCache cache;
    fillCache(b, cache);
    // The form factor of the panel [-2, 2] x [-1, 1] at height 1.5 from (x, 0, z).
    auto formFactor = [](double x, double z) {
        auto g = [](double u, double v) {
            double s = (u < 0) != (v < 0) ? -1 : 1;
            return s * cornerFormFactor(std::fabs(u) / 1.5, std::fabs(v) / 1.5);
        };
        return g(2 - x, 1 - z) - g(-2 - x, 1 - z) - g(2 - x, -1 - z) + g(-2 - x, -1 - z);
    };
    const double peak = formFactor(0, 0);
    const int n = 400;
    for (int i = 0; i <= n; ++i) {
        double x = 0.3 + 2.5 * i / n, z = -3.0 + 3.5 * i / n;
        double p[3] = {x, 0, z}, up[3] = {0, 1, 0}, col[3];
        ASSERT_EQ(host::render::hostIlluminate(LWITEM_RADIOSITY, p, up, col), 1);
        EXPECT_NEAR(col[0], formFactor(x, z), 0.03 * peak) << "at x " << x << ", z " << z;
    }
    EXPECT_LT(b.ts.cacheMisses, static_cast<uint64_t>(n / 10)) << "the line lies in view: the cache covers it";
}

TEST(AreaLights, FloorUnderARectangleMatchesItsFormFactor) {
    // A 2 x 1 panel facing down at height 2, inverse-square falloff: the host's Lambert shading of
    // a white floor is I R^2 pi F / A, F the form factor of the panel seen from the spot.
    Bound b(R"(, {"type": "object", "name": "floor", "mesh": {"primitive": "plane", "size": [40, 40]}},
      {"type": "light", "name": "panel", "light": "area", "position": [0, 2, 0], "rotation": [0, 90, 0],
       "size": [2, 1], "samples": 1024, "intensity": 1.5, "falloff": "inverse_square", "range": 2})",
            R"("ambient": {"intensity": 0}, "surfaces": [{"name": "Default", "color": [1, 1, 1]}],)");
    const double scale = 1.5 * 4 * M_PI / 2;  // I R^2 pi / A
    struct Case {
        const char *where;
        double x, z, formFactor;
    } cases[] = {
        {"below the centre", 0, 0, 4 * cornerFormFactor(0.5, 0.25)},
        {"below a corner", 1, 0.5, cornerFormFactor(1, 0.5)},
        {"below the middle of the long side", 0, 0.5, 2 * cornerFormFactor(0.5, 0.5)},
    };
    for (const Case &c : cases) {
        double org[3] = {c.x, 5, c.z}, down[3] = {0, -1, 0};
        double want = scale * c.formFactor;
        EXPECT_NEAR(shadeAlong(b, org, down), want, 2e-3 * want) << c.where;
    }
}

TEST(AreaLights, IlluminateAveragesTheSamples) {
    // Sized lights 100 below: the panel's cosine is 1 within 1e-4 there, the segment has none.
    Bound b(R"(,
      {"type": "light", "name": "panel", "light": "area", "rotation": [0, 90, 0], "size": [2, 1], "intensity": 0.5},
      {"type": "light", "name": "tube", "light": "linear", "size": 3, "samples": 7, "color": [1, 0.5, 0.25]},
      {"type": "light", "name": "dot", "light": "area", "rotation": [0, 90, 0], "size": [0, 0]})");
    struct Case {
        const char *light;
        double pos[3];
        double red, tolerance;
        int lit;
    } cases[] = {
        {"panel", {0, -100, 0}, 0.5, 1e-4, 1}, {"panel", {0.3, 100, 0}, 0.0, 0, 0},   // behind the panel
        {"tube", {0, -100, 0}, 1.0, 1e-12, 1}, {"tube", {0, 100, 0}, 1.0, 1e-12, 1},  // a segment shines all round
        {"dot", {0, 5, 0}, 1.0, 0, 1},  // no size: lit as a point, from behind too
    };
    for (const Case &c : cases) {
        double dir[3], col[3];
        EXPECT_EQ(host::render::hostIlluminate(b.light(c.light), c.pos, dir, col), c.lit) << c.light;
        EXPECT_NEAR(col[0], c.red, c.tolerance) << c.light << " at y=" << c.pos[1];
        double len = std::sqrt(dir[0] * dir[0] + dir[1] * dir[1] + dir[2] * dir[2]);
        EXPECT_NEAR(len, 1.0, 1e-12) << c.light;
        EXPECT_NEAR(dir[1], c.pos[1] < 0 ? -1.0 : 1.0, 1e-3) << c.light << ": from the light towards the spot";
    }
}

TEST(AreaLights, PenumbraWidthFollowsSimilarTriangles) {
    // A light of width w at height H above the floor, a wall edge at height h over x = 0 covering
    // x < 0: the penumbra spans w h / (H - h) on the floor, here 2 wide around x = 0. Along the
    // linear light every point brings the same light, so the lit share grows linearly across it;
    // the area light (2 x 2) is dark before the penumbra and fully lit past it.
    Bound b(R"(,
      {"type": "object", "name": "wall", "position": [-10, 2, 0], "mesh": {"primitive": "plane", "size": [20, 20]}},
      {"type": "light", "name": "tube", "light": "linear", "position": [0, 4, 0], "size": 2, "samples": 64},
      {"type": "light", "name": "panel", "light": "area", "position": [0, 4, 0], "rotation": [0, 90, 0],
       "size": [2, 2], "samples": 64})");
    for (double x : {-1.5, -1.0, -0.75, -0.25, 0.25, 0.75, 1.0, 1.5}) {
        double p[3] = {x, 0, 0}, dir[3], col[3];
        host::render::hostIlluminate(b.light("tube"), p, dir, col);
        EXPECT_NEAR(col[0], std::min(1.0, std::max(0.0, 0.5 + x / 2)), 1.0 / 64) << "linear light, x=" << x;
        host::render::hostIlluminate(b.light("panel"), p, dir, col);
        if (std::fabs(x) > 1) {
            EXPECT_EQ(col[0] > 0, x > 0) << "area light beyond the penumbra, x=" << x;
        } else if (std::fabs(x) < 1) {
            EXPECT_GT(col[0], 0.0) << "area light in the penumbra, x=" << x;
        }
    }
}

TEST(RayFunctions, RaysFromTheSpotStartOnTheSmoothSurface) {
    // A floor at y = 0 and a ceiling slab at y = 0.05 above the spot at the origin. The spot is
    // set by hand: its smooth surface lies 0.1 above the facet, its normal leans towards +X.
    Bound b(R"(, {"type": "object", "name": "floor", "mesh": {"primitive": "plane", "size": [4, 4]}},
      {"type": "object", "name": "slab", "position": [0, 0.05, 0], "mesh": {"primitive": "plane", "size": [0.2, 0.2]}},
      {"type": "object", "name": "ground", "position": [0, -1, 0], "mesh": {"primitive": "plane", "size": [4, 4]}})");
    host::render::ThreadState::Spot &s = b.ts.spot;
    s.set = true;
    const double lifted[3] = {0, 0.1, 0}, beneath[3] = {0, -0.01, 0}, normal[3] = {0.6, 0.8, 0};
    std::copy(lifted, lifted + 3, s.lifted);
    std::copy(beneath, beneath + 3, s.beneath);
    std::copy(normal, normal + 3, s.shading);
    s.geometric[1] = 1;
    const double spot[3] = {0, 0, 0}, aside[3] = {0.5, 0, 0};
    struct Case {
        const char *what;
        const double *from;
        double dir[3];
        double cast, trace;  // distances from `from`; negative: nothing met
    } cases[] = {
        {"up from the smooth surface, past the slab", spot, {0, 1, 0}, -1, -1},
        {"down into the surface: from the spot", spot, {0, -1, 0}, 1, 1},
        {"below the smooth surface, above the facet: a shadow ray meets the surface itself",
         spot,
         {-0.9, 0.43588989435406733, 0},
         0.01 / 0.43588989435406733 - 0.01 * 0.43588989435406733,
         -1},
        {"not from the spot: as asked", aside, {-0.5, 0.05, 0}, std::sqrt(0.2525), std::sqrt(0.2525)},
    };
    for (const Case &c : cases) {
        double col[3];
        double cast = host::render::hostRayCast(c.from, c.dir),
               trace = host::render::hostRayTrace(c.from, c.dir, col);
        EXPECT_NEAR(cast, c.cast, 1e-5) << c.what << ": rayCast";
        EXPECT_NEAR(trace, c.trace, 1e-5) << c.what << ": rayTrace";
        // rayShade starts where rayTrace does and reports the distance from the position given.
        LWShaderAccess met{};
        double shade = host::render::hostRayShade(c.from, c.dir, &met);
        EXPECT_NEAR(shade, c.trace, 1e-5) << c.what << ": rayShade";
        if (shade > 0) {
            EXPECT_EQ(met.rayLength, shade) << c.what;
            EXPECT_EQ(std::vector<double>(met.raySource, met.raySource + 3),
                      std::vector<double>(c.from, c.from + 3))
                << c.what;
        }
    }
}

}  // namespace
