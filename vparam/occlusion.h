// SPDX-License-Identifier: Apache-2.0
// Ambient and half occlusion of a spot, from stratified ray casts over its hemisphere.
#pragma once

#include <cstdint>

#include "sdk/sdk.h"

namespace velmora {

// Generator state shared by every occlusion input, spot and thread: 1 at load, never reset.
extern volatile uint32_t occlusionSeed;

// Next jitter value in [0, 1): seed × 1566083941 + 1 (mod 2³²), stored with an atomic exchange and
// no lock, so two threads may draw the same value. Any thread.
double occlusionRandom();
// Fraction in [0, 1] of rings × directionsPerRing hemisphere rays around normal that the spot's
// rayCast reports as hitting (distance > 0); half counts every direction below the world's
// horizontal plane as blocked without casting it. 0 when the spot has no rayCast or a count is not
// positive. Any thread; no allocation.
double occlusionFraction(const LWMicropol *mp, const double position[3], const double normal[3], int rings,
                         int directionsPerRing, int half);

}  // namespace velmora
