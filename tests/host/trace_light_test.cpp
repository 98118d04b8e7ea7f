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
    std::unique_ptr<host::Scene> scene;
    host::Tracer tracer;
    host::RenderContext rc;
    host::ThreadState ts;

    explicit Bound(const std::string &items, const std::string &top = "") {
        std::string text = "{" + top + "\"items\": [{\"type\": \"camera\", \"name\": \"cam\"}" + items + "]}";
        host::LoadResult r = host::loadSceneText(text, "test.json", ".");
        if (!r.scene) throw std::runtime_error(r.error);
        scene = std::move(r.scene);
        std::string why;
        if (!tracer.build(*scene, 0.0, why)) throw std::runtime_error(why);
        host::prepareContext(rc, *scene, tracer, 0.0, 64, 48);
        ts.rc = &rc;
        host::bindThread(&ts);
    }
    ~Bound() { host::bindThread(nullptr); }
    LWItemID light(const char *name) const { return scene->findItem(name); }
};

const char *kBox = R"(, {"type": "object", "name": "box", "mesh": {"primitive": "box", "size": [2, 2, 2]}})";

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
        double t = host::hostRayCast(c.org, c.dir);
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
    double t = host::hostRayShade(org, dir, &sa);
    ASSERT_NEAR(t, 4.0, 1e-4);
    EXPECT_NEAR(sa.wPos[2], -1.0, 1e-4);
    EXPECT_NEAR(sa.oPos[0], 0.25, 1e-4);
    EXPECT_NEAR(sa.gNorm[2], -1.0, 1e-6) << "front face of the box faces -Z";
    EXPECT_NEAR(sa.cosine, 1.0, 1e-6);
    EXPECT_EQ(sa.objID, host::itemID(b.scene->objects[0]));
    EXPECT_NE(sa.polygon, nullptr);
    double wsum = 0, pos[3] = {0, 0, 0};
    for (int k = 0; k < 4; ++k) {
        wsum += sa.weights[k];
        for (int c = 0; c < 3; ++c) pos[c] += sa.weights[k] * sa.vertsWPos[k][c];
    }
    EXPECT_NEAR(wsum, 1.0, 1e-6);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(pos[c], sa.wPos[c], 1e-4) << "weights rebuild the position, axis " << c;
    EXPECT_EQ(sa.rayCast, &host::hostRayCast);
    EXPECT_EQ(sa.illuminate, &host::hostIlluminate);

    double none[3] = {0, 0, 0};
    EXPECT_LT(host::hostRayShade(org, none, &sa), 0.0);
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
        int lit = host::hostIlluminate(b.light(c.light), c.pos, dir, col);
        EXPECT_EQ(lit, c.lit) << c.light;
        EXPECT_NEAR(col[0], c.want, 1e-9) << c.light << " at z=" << c.pos[2] << ": got " << col[0];
    }
    double dir[3], col[3], p[3] = {0, 0, 4};
    host::hostIlluminate(b.light("sq"), p, dir, col);
    EXPECT_NEAR(dir[2], 1.0, 1e-12) << "direction runs from the light to the position";
    EXPECT_NEAR(col[1], 0.125, 1e-12);
    host::hostIlluminate(b.light("sun"), p, dir, col);
    EXPECT_NEAR(dir[1], -1.0, 1e-12) << "a distant light pitched 90 degrees shines down";

    // Special identifiers come first; an unknown identifier is no light.
    EXPECT_EQ(host::hostIlluminate(LWITEM_CAUSTICS, p, dir, col), 0);
    EXPECT_EQ(host::hostIlluminate(LWITEM_RADIOSITY, p, dir, col), 0) << "radiosity is off";
    EXPECT_EQ(host::hostIlluminate(reinterpret_cast<LWItemID>(&b), p, dir, col), 0);
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
    EXPECT_EQ(host::hostIlluminate(b.light("l"), under, dir, col), 0);
    EXPECT_EQ(col[0], 0.0);
    EXPECT_EQ(host::hostIlluminate(b.light("l"), aside, dir, col), 1);
    EXPECT_EQ(host::hostIlluminate(b.light("unshadowed"), under, dir, col), 1);
    // Two faces of the glass slab, each passing half, filtered to red.
    EXPECT_EQ(host::hostIlluminate(b.light("g"), underGlass, dir, col), 1);
    EXPECT_NEAR(col[0], 0.25, 1e-9);
    EXPECT_NEAR(col[1], 0.0, 1e-9);

    Bound off(items, surfaces + std::string(R"("render": {"shadows": false},)"));
    EXPECT_EQ(host::hostIlluminate(off.light("l"), under, dir, col), 1) << "traced shadows off in the scene";
}

TEST(Illuminate, BackdropRadiosity) {
    Bound b(kBox, R"("render": {"radiosity": {"mode": "backdrop", "rays": 64}},
                     "backdrop": {"type": "solid", "color": [0.5, 0.25, 0.125]},)");
    double open[3] = {0, 5, 0}, up[3] = {0, 1, 0}, col[3];
    ASSERT_EQ(host::hostIlluminate(LWITEM_RADIOSITY, open, up, col), 1);
    EXPECT_NEAR(col[0], 0.5, 1e-9) << "nothing above: the whole backdrop";
    double top[3] = {0, 1, 0}, down[3] = {0, -1, 0};
    ASSERT_EQ(host::hostIlluminate(LWITEM_RADIOSITY, top, down, col), 1);
    EXPECT_NEAR(col[0], 0.0, 1e-9) << "facing into the box: no backdrop";
}

}  // namespace
