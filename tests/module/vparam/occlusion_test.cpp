// SPDX-License-Identifier: Apache-2.0
// Occlusion sampling: the generator's first values, the fraction of blocked hemisphere directions
// in closed-form worlds, and the stratified pattern of the rays cast.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "vparam/occlusion.h"

using namespace velmora;

namespace {

constexpr double kPi = 3.141592653589793;

// What the fake ray cast sees around the spot.
enum class World {
    OpenSky,    // nothing anywhere
    ClosedBox,  // every ray hits a wall at distance 1
    Floor,      // a floor just below the spot: rays going down hit it
    Touching,   // every ray hits at distance 0, which is not a hit
};

struct Cast {
    double origin[3], dir[3];
};

World world = World::OpenSky;
std::vector<Cast> casts;

double fakeRayCast(const LWDVector position, const LWDVector direction) {
    casts.push_back({{position[0], position[1], position[2]}, {direction[0], direction[1], direction[2]}});
    switch (world) {
        case World::ClosedBox:
            return 1.0;
        case World::Floor:
            return direction[1] < 0 ? 0.5 : -1.0;
        case World::Touching:
            return 0.0;
        case World::OpenSky:
            break;
    }
    return -1.0;
}

class Occlusion : public ::testing::Test {
protected:
    void SetUp() override {
        occlusionSeed = 1;
        casts.clear();
        mp.rayCast = fakeRayCast;
    }
    double fraction(World w, const double normal[3], int rings, int dirs, int half) {
        world = w;
        casts.clear();
        const double p[3] = {0.5, 1.5, -2};
        return occlusionFraction(&mp, p, normal, rings, dirs, half);
    }
    LWMicropol mp = {};
};

double dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

}  // namespace

TEST(OcclusionRandom, FirstValuesAfterLoad) {
    occlusionSeed = 1;
    const struct {
        uint32_t seed;
        double value;
    } steps[] = {{1566083942u, 0.36463233223184943},
                 {3769590079u, 0.8776760844048113},
                 {799445724u, 0.1861354624852538},
                 {2786419917u, 0.648763942765072}};
    for (const auto &s : steps) {
        const double r = occlusionRandom();
        EXPECT_EQ(occlusionSeed, s.seed);
        EXPECT_EQ(r, s.value);
        EXPECT_EQ(r, s.seed * 2.3283064365386963e-10);
    }
    occlusionSeed = 0xFFFFFFFFu;  // the largest seed still gives a value below 1
    EXPECT_LT(occlusionRandom(), 1.0);
}

TEST_F(Occlusion, FractionOfBlockedDirectionsInSimpleWorlds) {
    const double up[3] = {0, 1, 0}, side[3] = {1, 0, 0}, down[3] = {0, -1, 0}, slanted[3] = {0, 3, 4};
    const double unnormalised[3] = {5, 0, 0};
    struct Case {
        const char *what;
        World world;
        const double *normal;
        int half;
        double want, tolerance;
    };
    const Case cases[] = {
        {"open sky, up, ambient", World::OpenSky, up, 0, 0, 0},
        {"open sky, up, half", World::OpenSky, up, 1, 0, 0},
        {"open sky, sideways, ambient", World::OpenSky, side, 0, 0, 0},
        {"open sky, sideways, half", World::OpenSky, side, 1, 0.5, 0.08},
        {"open sky, unnormalised sideways, half", World::OpenSky, unnormalised, 1, 0.5, 0.08},
        {"open sky, facing down, half", World::OpenSky, down, 1, 1, 0},
        {"closed box, up, ambient", World::ClosedBox, up, 0, 1, 0},
        {"closed box, up, half", World::ClosedBox, up, 1, 1, 0},
        {"closed box, slanted, ambient", World::ClosedBox, slanted, 0, 1, 0},
        {"closed box, sideways, half", World::ClosedBox, side, 1, 1, 0},
        {"floor, up, ambient", World::Floor, up, 0, 0, 0},
        {"floor, sideways, ambient", World::Floor, side, 0, 0.5, 0.08},
        {"floor, sideways, half", World::Floor, side, 1, 0.5, 0.08},
        {"hits at distance 0 do not count", World::Touching, up, 0, 0, 0},
    };
    for (const Case &c : cases) {
        for (int rings : {3, 12}) {
            const double got = fraction(c.world, c.normal, rings, rings * 3, c.half);
            EXPECT_NEAR(got, c.want, c.tolerance) << c.what << ", " << rings << " rings";
        }
    }
}

TEST_F(Occlusion, HalfVariantCastsOnlyUpwardDirections) {
    const double side[3] = {1, 0, 0}, up[3] = {0, 1, 0};
    fraction(World::OpenSky, side, 10, 30, 1);
    const size_t halfCasts = casts.size();
    EXPECT_GT(halfCasts, 100u);
    EXPECT_LT(halfCasts, 200u);
    for (const Cast &c : casts) EXPECT_GE(c.dir[1], 0.0);
    fraction(World::OpenSky, up, 10, 30, 1);
    EXPECT_EQ(casts.size(), 300u);
}

TEST_F(Occlusion, QualityLevelsCastRingsTimesDirectionsFromTheSpot) {
    const double n[3] = {0.2, 0.9, -0.4};
    const struct {
        int rings, dirs;
        size_t rays;
    } levels[] = {{3, 9, 27}, {6, 18, 108}, {8, 24, 192}, {10, 30, 300}, {12, 36, 432}};
    for (const auto &l : levels) {
        const uint32_t before = occlusionSeed;
        fraction(World::OpenSky, n, l.rings, l.dirs, 0);
        ASSERT_EQ(casts.size(), l.rays) << l.rings << " rings";
        // Two jitter values per direction.
        uint32_t s = before;
        for (size_t k = 0; k < 2 * l.rays; ++k) s = s * 1566083941u + 1u;
        EXPECT_EQ(occlusionSeed, s) << l.rings << " rings";
        for (const Cast &c : casts) {
            EXPECT_EQ(c.origin[0], 0.5);
            EXPECT_EQ(c.origin[1], 1.5);
            EXPECT_EQ(c.origin[2], -2.0);
            EXPECT_NEAR(std::sqrt(dot(c.dir, c.dir)), 1.0, 1e-12);
        }
    }
}

TEST_F(Occlusion, RaysFallInTheirRingAndSector) {
    // For the normal +Z the frame is u = +Y, v = -X (auxiliary axis X on the tie |n.y| = |n.x|).
    const double n[3] = {0, 0, 1};
    const int rings = 6, dirs = 18;
    fraction(World::OpenSky, n, rings, dirs, 0);
    ASSERT_EQ(casts.size(), size_t(rings * dirs));
    for (int i = 0; i < rings; ++i) {
        for (int j = 0; j < dirs; ++j) {
            const double *d = casts[i * dirs + j].dir;
            const double cosTheta = d[2];
            EXPECT_LE(cosTheta, 1.0 - double(i) / rings + 1e-12) << "ring " << i << " sector " << j;
            EXPECT_GE(cosTheta, 1.0 - double(i + 1) / rings - 1e-12) << "ring " << i << " sector " << j;
            double phi = std::atan2(-d[0], d[1]);
            if (phi < 0) phi += 2 * kPi;
            EXPECT_GE(phi, j * 2 * kPi / dirs - 1e-12) << "ring " << i << " sector " << j;
            EXPECT_LE(phi, (j + 1) * 2 * kPi / dirs + 1e-12) << "ring " << i << " sector " << j;
        }
    }
}

TEST_F(Occlusion, SameSeedGivesTheSameResult) {
    const double n[3] = {1, 0, 0};
    occlusionSeed = 77;
    const double a = fraction(World::Floor, n, 6, 18, 0);
    occlusionSeed = 77;
    const double b = fraction(World::Floor, n, 6, 18, 0);
    EXPECT_EQ(a, b);
}

TEST_F(Occlusion, FallBacksCastNothing) {
    const double up[3] = {0, 1, 0};
    const double p[3] = {0, 0, 0};
    world = World::ClosedBox;
    const struct {
        const char *what;
        bool withRayCast;
        int rings, dirs;
    } cases[] = {{"no rayCast", false, 3, 9}, {"no rings", true, 0, 9}, {"negative directions", true, 3, -9}};
    for (const auto &c : cases) {
        casts.clear();
        mp.rayCast = c.withRayCast ? fakeRayCast : nullptr;
        EXPECT_EQ(occlusionFraction(&mp, p, up, c.rings, c.dirs, 0), 0.0) << c.what;
        EXPECT_TRUE(casts.empty()) << c.what;
    }
    EXPECT_EQ(occlusionFraction(nullptr, p, up, 3, 9, 0), 0.0);
}
