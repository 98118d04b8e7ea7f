// Ambient and half occlusion of a spot, from stratified ray casts over its hemisphere.
#pragma once

#include <cstdint>

#include "sdk/sdk.h"

namespace velmora {

extern volatile uint32_t occlusionSeed;  // 1 at load, advanced by every occlusionRandom

double occlusionRandom();  // in [0, 1)
// Fraction of rings × directions hemisphere rays that hit; half counts every direction below the
// world's horizontal plane as blocked. 0 when the spot has no rayCast.
double occlusionFraction(const LWMicropol *mp, const double position[3], const double normal[3], int rings,
                         int directionsPerRing, int half);

}  // namespace velmora
