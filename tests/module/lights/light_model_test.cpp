// SPDX-License-Identifier: Apache-2.0
// The module's light model: falloff, spot cone and projection, and sampled square area shadows.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "base/host_globals.h"
#include "lights/item_cache.h"
#include "lights/light_model.h"
#include "tests/support/fake_host.h"

using namespace velmora;
using testhost::id;

namespace {

const LWItemID kLight = id(0x100);
const double kPi = 3.14159265358979323846;

class LightModel : public ::testing::Test {
protected:
    testhost::FakeHost host;
    void SetUp() override {
        host.setShaderGlobals();
        light_ = &host.add(0x100, LWI_LIGHT);
        light_->color[0] = 0.3;
        light_->color[1] = 0.6;
        light_->color[2] = 0.9;
        light_->set(LWIP_RIGHT, 1, 0, 0);
        light_->set(LWIP_UP, 0, 1, 0);
        light_->set(LWIP_FORWARD, 0, 0, 1);
        image_ = host.image("projection", "projection.png");
        image_->width = 4;
        image_->height = 8;
        image_->rgb[0] = 0.5;
        image_->rgb[1] = 0.25;
        image_->rgb[2] = 2.0;
    }
    void TearDown() override {
        host.items.clear();
        itemParamsNewTime(0, 0);
        resetHostGlobals();
    }
    void placeLight(double x, double y, double z) {
        light_->set(LWIP_W_POSITION, x, y, z);
        itemParamsNewTime(0, 0);
    }
    testhost::FakeItem *light_ = nullptr;
    testhost::FakeImage *image_ = nullptr;
};

struct Lit {
    double dir[3], color[3];
};

Lit unshadowed(double x, double y, double z) {
    const double p[3] = {x, y, z};
    Lit out = {{-9, -9, -9}, {-9, -9, -9}};
    lightUnshadowed(kLight, p, out.dir, out.color);
    return out;
}

}  // namespace

TEST_F(LightModel, FalloffScalesThePointLightsColour) {
    light_->lightType = LWLIGHT_POINT;
    placeLight(1, 1, 1);
    struct Case {
        int falloff;
        double range, distance, factor;
    } cases[] = {
        {LWLFALL_OFF, 2, 3, 1.0},
        {LWLFALL_LINEAR, 2, 1, 0.5},
        {LWLFALL_LINEAR, 2, 3, 0.0},
        {LWLFALL_LINEAR, 2, 2, 0.0},
        {LWLFALL_INV_DIST, 2, 4, 0.5},
        {LWLFALL_INV_DIST_2, 2, 4, 0.25},
        {LWLFALL_INV_DIST_2, 2, 1, 4.0},
        // At the light's own position, and linear falloff over a range of 0: finite, the nominal
        // colour at the light, nothing beyond it.
        {LWLFALL_LINEAR, 0, 0, 1.0},
        {LWLFALL_LINEAR, 0, 1, 0.0},
        {LWLFALL_INV_DIST, 2, 0, 1.0},
        {LWLFALL_INV_DIST_2, 2, 0, 1.0},
    };
    for (const Case &c : cases) {
        light_->falloff = c.falloff;
        light_->range = c.range;
        const Lit lit = unshadowed(1 + c.distance, 1, 1);
        const std::string what = "falloff " + std::to_string(c.falloff) + " range " + std::to_string(c.range) +
                                 " distance " + std::to_string(c.distance);
        EXPECT_DOUBLE_EQ(lit.color[0], 0.3 * c.factor) << what;
        EXPECT_DOUBLE_EQ(lit.color[1], 0.6 * c.factor) << what;
        EXPECT_DOUBLE_EQ(lit.color[2], 0.9 * c.factor) << what;
        // Positional lights: position minus light, not normalised.
        EXPECT_EQ(lit.dir[0], c.distance) << what;
        EXPECT_EQ(lit.dir[1], 0.0) << what;
        EXPECT_EQ(lit.dir[2], 0.0) << what;
    }
}

TEST_F(LightModel, DistantLightIgnoresPositionAndFalloff) {
    light_->lightType = LWLIGHT_DISTANT;
    light_->falloff = LWLFALL_INV_DIST_2;
    light_->set(LWIP_FORWARD, 0, 3, 4);
    placeLight(0, 0, 0);
    for (double x : {0.0, 10.0, -1e6}) {
        const Lit lit = unshadowed(x, 2, 0);
        EXPECT_EQ(lit.color[1], 0.6) << "x " << x;
        EXPECT_EQ(lit.dir[0], 0.0) << "x " << x;
        EXPECT_EQ(lit.dir[1], 0.6) << "x " << x;
        EXPECT_EQ(lit.dir[2], 0.8) << "x " << x;
    }
}

TEST_F(LightModel, SpotConeHasASmoothEdge) {
    light_->lightType = LWLIGHT_SPOT;
    light_->coneRadius = 0.5;
    light_->coneEdge = 0.2;
    placeLight(0, 0, 0);
    const double ci = std::cos(0.3), co = std::cos(0.5);
    struct Case {
        double ca, factor;
    } cases[] = {
        {1.0, 1.0},
        {std::cos(0.29), 1.0},
        {co + 0.5 * (ci - co), 0.5},
        {co + 0.25 * (ci - co), 3 * 0.0625 - 2 * 0.015625},
        {std::cos(0.51), 0.0},
        {0.0, 0.0},
        {-1.0, 0.0},
    };
    for (const Case &c : cases) {
        const double sine = std::sqrt(1 - c.ca * c.ca);
        const Lit lit = unshadowed(5 * sine, 0, 5 * c.ca);
        EXPECT_NEAR(lit.color[2], 0.9 * c.factor, 1e-12) << "cos " << c.ca;
    }

    // The cone multiplies the falloff.
    light_->falloff = LWLFALL_INV_DIST;
    light_->range = 1.0;
    EXPECT_NEAR(unshadowed(0, 0, 4).color[0], 0.3 * 0.25, 1e-15);

    // A light missing from the snapshot sits at the origin with a zero axis, so the cosine to the
    // axis is 0: inside a cone wider than 90 degrees, outside a narrower one.
    testhost::FakeItem &loose = host.add(0x100, LWI_BONE);  // a bone of no object: never snapshotted
    host.items.pop_front();
    itemParamsNewTime(0, 0);
    loose.lightType = LWLIGHT_SPOT;
    loose.coneEdge = 0.1;
    loose.coneRadius = 2.0;
    EXPECT_EQ(unshadowed(0, 0, 4).color[0], 1.0);
    loose.coneRadius = 1.0;
    EXPECT_EQ(unshadowed(0, 0, 4).color[0], 0.0);
}

TEST_F(LightModel, ProjectionCoversASquareBeyondCotR) {
    light_->coneRadius = kPi / 4;  // cot(r) = 1
    struct Case {
        double x, y, z;
        int inside;
        double u, v;
    } cases[] = {
        {0, 0, 0.99, 0, 0, 0},      // on the axis, nearer than cot(r)
        {0, 0, 1.01, 1, 0.5, 0.5},  // just beyond it: the image's centre
        {0, 0, -3, 0, 0, 0},        // behind the light
        {3.9, 0, 4, 1, 0.9875, 0.5}, {4.1, 0, 4, 0, 0, 0},  {-3.9, 0, 4, 1, 0.0125, 0.5},
        {0, 2, 4, 1, 0.5, 0.25},     {0, -4.1, 4, 0, 0, 0}, {2, -2, 4, 1, 0.75, 0.75},
    };
    const double origins[2][3] = {{0, 0, 0}, {1, -2, 30}};
    for (const auto &o : origins) {
        placeLight(o[0], o[1], o[2]);
        for (const Case &c : cases) {
            const double p[3] = {o[0] + c.x, o[1] + c.y, o[2] + c.z};
            double uv[2] = {-7, -7};
            const int inside = projectionUV(kLight, p, uv);
            const std::string what = "at (" + std::to_string(c.x) + ", " + std::to_string(c.y) + ", " +
                                     std::to_string(c.z) + ") from light z " + std::to_string(o[2]);
            EXPECT_EQ(inside, c.inside) << what;
            EXPECT_NEAR(uv[0], c.inside ? c.u : -7, 1e-12) << what;
            EXPECT_NEAR(uv[1], c.inside ? c.v : -7, 1e-12) << what;
        }
    }

    // A half-angle of 90 degrees or more projects nothing.
    placeLight(0, 0, 0);
    const double ahead[3] = {0, 0, 5};
    double uv[2] = {-7, -7};
    for (double r : {kPi / 2, 2.0}) {
        light_->coneRadius = r;
        EXPECT_EQ(projectionUV(kLight, ahead, uv), 0) << "r " << r;
    }
    // Without the item information the position is outside.
    light_->coneRadius = kPi / 4;
    shaderGlobals.itemInfo = nullptr;
    EXPECT_EQ(projectionUV(kLight, ahead, uv), 0);
    EXPECT_EQ(uv[0], -7.0);
}

TEST_F(LightModel, ProjectionImageTintsTheSpotInsteadOfTheCone) {
    light_->lightType = LWLIGHT_SPOT;
    light_->projImage = LWImageID(image_);
    light_->coneRadius = kPi / 4;
    light_->coneEdge = 0.5;
    placeLight(0, 0, 0);

    const Lit centre = unshadowed(0, 0, 2);
    EXPECT_DOUBLE_EQ(centre.color[0], 0.3 * 0.5);
    EXPECT_DOUBLE_EQ(centre.color[1], 0.6 * 0.25);
    EXPECT_DOUBLE_EQ(centre.color[2], 0.9 * 2.0);
    // One pixel of the longer side (8 high), blended, at the projected (u, v).
    EXPECT_EQ(host.lastSpot.size, 0.125);
    EXPECT_EQ(host.lastSpot.blend, 1);
    EXPECT_NEAR(host.lastSpot.u, 0.5, 1e-12);

    // Near the soft edge the image colour is full: the cone's edge does not apply.
    const Lit edge = unshadowed(1.9, 0, 2);
    EXPECT_DOUBLE_EQ(edge.color[0], 0.3 * 0.5);
    // Outside the square, and for a wide cone, the spot is black.
    EXPECT_EQ(unshadowed(2.1, 0, 2).color[0], 0.0);
    light_->coneRadius = kPi / 2;
    EXPECT_EQ(unshadowed(0, 0, 2).color[0], 0.0);
}

TEST_F(LightModel, ImageSpotSizeIsOnePixelOfTheLongerSide) {
    struct Case {
        int w, h;
        double size;
        bool sampled;
    } cases[] = {
        {4, 8, 0.125, true}, {16, 2, 0.0625, true}, {5, 5, 0.2, true}, {0, 8, 0, false}, {0, 0, 0, false}};
    for (const Case &c : cases) {
        image_->width = c.w;
        image_->height = c.h;
        host.coloredSpots = 0;
        double rgb[3] = {-1, -1, -1};
        imageSpotRGB(LWImageID(image_), 0.25, 0.75, rgb);
        const std::string what = std::to_string(c.w) + "x" + std::to_string(c.h);
        EXPECT_EQ(host.coloredSpots.load(), c.sampled ? 1 : 0) << what;
        EXPECT_EQ(rgb[2], c.sampled ? 2.0 : 0.0) << what;
        if (c.sampled) {
            EXPECT_EQ(host.lastSpot.size, c.size) << what;
            EXPECT_EQ(host.lastSpot.u, 0.25) << what;
            EXPECT_EQ(host.lastSpot.v, 0.75) << what;
        }
    }
}

TEST(TransformPoint, DividesByANonZeroW) {
    const double p[3] = {1, 2, 3};
    double out[3];
    const double scaleW[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {10, 20, 30, 2}};
    EXPECT_EQ(transformPoint(p, scaleW, out), 2.0);
    EXPECT_EQ(out[0], 5.5);
    EXPECT_EQ(out[1], 11.0);
    EXPECT_EQ(out[2], 16.5);
    const double zeroW[4][4] = {{0, 1, 0, 0}, {1, 0, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 0}};
    EXPECT_EQ(transformPoint(p, zeroW, out), 0.0);
    EXPECT_EQ(out[0], 2.0);
    EXPECT_EQ(out[1], 1.0);
    EXPECT_EQ(out[2], 3.0);
}

TEST_F(LightModel, ProjectionImagesOfSpotLightsAreReadied) {
    light_->lightType = LWLIGHT_SPOT;
    light_->projImage = LWImageID(image_);
    host.add(0x101, LWI_LIGHT).lightType = LWLIGHT_SPOT;  // no image
    testhost::FakeItem &point = host.add(0x102, LWI_LIGHT);
    point.lightType = LWLIGHT_POINT;
    point.projImage = id(0x901);  // ignored: not a spot light
    prepareProjectionImages();
    ASSERT_EQ(host.needAA.size(), 1u);
    EXPECT_EQ(host.needAA[0], LWImageID(image_));

    shaderGlobals.itemInfo = nullptr;
    prepareProjectionImages();
    EXPECT_EQ(host.needAA.size(), 1u);
}

// --- Area shadows ---------------------------------------------------------------------------------

namespace {

// The light sits at (0, 10, 0) above a spot at the origin, so V = (0, -1, 0) and the square's
// first axis is (1, 0, -1)/√2: samples of the first half of rows (b < 0) have d.x < d.z.
std::vector<std::array<double, 3>> rays;
int illuminateCalls = 0;

double recordNoHit(const LWDVector, const LWDVector d) {
    rays.push_back({d[0], d[1], d[2]});
    return -1.0;
}
double blockAll(const LWDVector, const LWDVector d) {
    rays.push_back({d[0], d[1], d[2]});
    return 1.0;
}
double blockFirstHalf(const LWDVector, const LWDVector d) {
    rays.push_back({d[0], d[1], d[2]});
    return d[0] - d[2] < 0 ? 9.0 : -1.0;
}
double hitBeyondTheLight(const LWDVector, const LWDVector) { return 50.0; }
double hitAtZero(const LWDVector, const LWDVector) { return 0.0; }
int hostIlluminate(LWItemID, const LWDVector, LWDVector dir, LWDVector color) {
    ++illuminateCalls;
    dir[0] = dir[1] = dir[2] = 7.0;
    color[0] = color[1] = color[2] = 0.125;
    return 3;
}

class AreaShadow : public LightModel {
protected:
    void SetUp() override {
        LightModel::SetUp();
        light_->lightType = LWLIGHT_POINT;
        placeLight(0, 10, 0);
        rays.clear();
        illuminateCalls = 0;
        sa_ = LWShaderAccess();
        sa_.sx = 12;
        sa_.sy = 34;
        sa_.illuminate = hostIlluminate;
    }
    int sample(LWRayCastFunc *cast, double size, double n, double dir[3], double color[3]) {
        sa_.rayCast = cast;
        const double p[3] = {0, 0, 0};
        return illuminateAreaShadow(&sa_, kLight, p, dir, color, size, n);
    }
    std::vector<std::array<double, 3>> pattern(double sx, double sy) {
        rays.clear();
        sa_.sx = sx;
        sa_.sy = sy;
        double dir[3], color[3];
        sample(recordNoHit, 2.0, 4, dir, color);
        return rays;
    }
    LWShaderAccess sa_;
};

}  // namespace

TEST_F(AreaShadow, BlockedShareOfTheSamplesRemovesThatShareOfTheColour) {
    struct Case {
        const char *what;
        LWRayCastFunc *cast;
        double n, share;  // share of the unshadowed colour that stays
        size_t rays;
    } cases[] = {
        {"none blocked", recordNoHit, 6, 1.0, 36},
        {"all blocked", blockAll, 6, 0.0, 36},
        {"half blocked", blockFirstHalf, 6, 0.5, 36},
        {"all of 3x3", blockAll, 3, 0.0, 9},
        {"N = 0", blockAll, 0, 1.0, 0},
        {"N < 0", blockAll, -2, 1.0, 0},
    };
    for (const double sign : {1.0, -1.0}) {  // a light may have a negative colour
        for (int k = 0; k < 3; ++k) light_->color[k] = sign * (0.3 * (k + 1));
        for (const Case &c : cases) {
            rays.clear();
            double dir[3] = {0, 0, 0}, color[3] = {0, 0, 0};
            EXPECT_EQ(sample(c.cast, 1.0, c.n, dir, color), 1) << c.what;
            EXPECT_EQ(rays.size(), c.rays) << c.what;
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(color[k], sign * 0.3 * (k + 1) * c.share, 1e-14) << c.what << " channel " << k;
            EXPECT_EQ(dir[0], 0.0) << c.what;
            EXPECT_EQ(dir[1], -1.0) << c.what;
            EXPECT_EQ(illuminateCalls, 0) << c.what;
        }
    }
}

TEST_F(AreaShadow, HitsAtOrBeyondTheSampleDoNotBlock) {
    double dir[3], color[3];
    sample(hitBeyondTheLight, 1.0, 2, dir, color);
    EXPECT_EQ(color[1], 0.6);
    sample(hitAtZero, 1.0, 2, dir, color);  // 0 ≤ hit: blocked
    EXPECT_NEAR(color[1], 0.0, 1e-15);
}

TEST_F(AreaShadow, SamplesFillTheSquareAroundTheLight) {
    const auto rs = pattern(12, 34);
    ASSERT_EQ(rs.size(), 16u);
    // Every sample point lies on the square of side 2 across V, centred on the light: at the
    // light's height, within √2 along each axis of the square (x - z and x + z, each scaled by √½).
    for (const auto &d : rs) {
        const double t = 10.0 / d[1];
        const double x = d[0] * t, z = d[2] * t;
        EXPECT_LE(std::fabs(x - z) / std::sqrt(2.0), 1.0 + 1e-12);
        EXPECT_LE(std::fabs(x + z) / std::sqrt(2.0), 1.0 + 1e-12);
    }
}

TEST_F(AreaShadow, APixelAlwaysSeesTheSamePattern) {
    const auto first = pattern(12, 34);
    EXPECT_EQ(pattern(12, 34), first);       // the same pixel twice
    EXPECT_EQ(pattern(12.75, 34.5), first);  // sub-pixel positions of that pixel
    EXPECT_EQ(pattern(12.0001, 34.9999), first);
    EXPECT_NE(pattern(13, 34), first);        // a neighbour differs
    EXPECT_EQ(pattern(2, 3), pattern(3, 2));  // the seed is the product sx·sy
    EXPECT_EQ(pattern(0, 5), pattern(7, 0));
    // Coordinates that are not finite or far out of range seed like any other, without failing.
    EXPECT_EQ(pattern(std::nan(""), 5).size(), 16u);
    EXPECT_EQ(pattern(-1e300, 1e300).size(), 16u);
}

TEST_F(AreaShadow, LightsWithoutTracedShadowsGoToTheHost) {
    for (int type : {LWSHAD_OFF, LWSHAD_MAP}) {
        light_->shadowType = type;
        double dir[3], color[3];
        EXPECT_EQ(sample(blockAll, 1.0, 6, dir, color), 3) << "shadow type " << type;
        EXPECT_EQ(color[0], 0.125) << "shadow type " << type;
        EXPECT_TRUE(rays.empty()) << "shadow type " << type;
    }
    EXPECT_EQ(illuminateCalls, 2);
}

TEST_F(AreaShadow, HugeSampleCountsAreBounded) {
    double dir[3], color[3];
    sample(blockFirstHalf, 1.0, 1e9, dir, color);
    EXPECT_EQ(rays.size(), size_t(kMaxAreaSamplesPerSide * kMaxAreaSamplesPerSide));
    EXPECT_NEAR(color[1], 0.3, 1e-12);
}
