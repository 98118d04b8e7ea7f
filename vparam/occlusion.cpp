// SPDX-License-Identifier: Apache-2.0
#include "vparam/occlusion.h"

#include <cmath>

#include "base/platform.h"
#include "base/vector3d.h"

namespace velmora {

volatile uint32_t occlusionSeed = 1;

namespace {
constexpr uint32_t kSeedMultiplier = 1566083941u;  // 0x5D588B65
constexpr double kTwoToMinus32 = 2.3283064365386963e-10;
constexpr double kTwoPi = 6.283185307179586;
}  // namespace

double occlusionRandom() {
    const uint32_t s = atomicLoad32(&occlusionSeed) * kSeedMultiplier + 1u;
    atomicExchange32(&occlusionSeed, s);
    return static_cast<double>(s) * kTwoToMinus32;
}

double occlusionFraction(const LWMicropol *mp, const double position[3], const double normal[3], int rings,
                         int directionsPerRing, int half) {
    if (!mp || !mp->rayCast || rings <= 0 || directionsPerRing <= 0) return 0.0;

    // Frame of the hemisphere: n and two tangents; the auxiliary axis avoids one parallel to n.
    Vector3d n;
    vecNormalized(n, asVector(normal));
    Vector3d h = {1.0, 0.0, 0.0};
    if (std::fabs(n.y) < std::fabs(n.x)) h = {0.0, 1.0, 0.0};
    Vector3d u, v, t;
    vecNormalized(u, vecCross(t, n, h));
    vecNormalized(v, vecCross(t, n, u));

    // Rings in equal steps of cos θ from the normal to the tangent plane, jittered in θ and φ.
    const double sector = kTwoPi / directionsPerRing;
    long long hits = 0;
    for (int i = 0; i < rings; ++i) {
        const double thetaA = std::acos(1.0 - static_cast<double>(i + 1) / rings);
        const double thetaB = std::acos(1.0 - static_cast<double>(i) / rings);
        for (int j = 0; j < directionsPerRing; ++j) {
            const double r1 = occlusionRandom();
            const double theta = thetaA - r1 * (thetaA - thetaB);
            const double r2 = occlusionRandom();
            const double phi = (j + r2) * sector;
            const double cp = std::cos(phi), sp = std::sin(phi), ct = std::cos(theta), st = std::sin(theta);
            const Vector3d w = {u.x * cp + v.x * sp, u.y * cp + v.y * sp, u.z * cp + v.z * sp};
            const double d[3] = {n.x * ct + w.x * st, n.y * ct + w.y * st, n.z * ct + w.z * st};
            if (half && d[1] < 0.0)
                ++hits;
            else if (mp->rayCast(position, d) > 0.0)
                ++hits;
        }
    }
    return static_cast<double>(hits) / static_cast<double>(static_cast<long long>(rings) * directionsPerRing);
}

}  // namespace velmora
