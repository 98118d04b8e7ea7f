// SPDX-License-Identifier: Apache-2.0
// Reflection and refraction look-ups that honour the surface's own environment options.
//
// Both operations use the shader set's surface functions, backdrop, scene information and image
// list, and need all four: without any one of them prepareSurfaceEnvImages does nothing and
// surfaceEnvironment gives black.
#pragma once

#include "sdk/sdk.h"

namespace velmora {

// Surface options "ReflectionOptions" / "RefractionOptions": what a look-up returns.
constexpr int kEnvBackdrop = 0;        // the backdrop colour along the ray
constexpr int kEnvRayTrace = 1;        // the traced colour (black with tracing off)
constexpr int kEnvImage = 2;           // the spherical environment image (black without one)
constexpr int kEnvTraceThenImage = 3;  // traced, with the image where the ray finds nothing

// Readies the surface's reflection and refraction images for filtered sampling. Host thread, at
// render initialisation.
void prepareSurfaceEnvImages(LWSurfaceID surface);
// Colour along direction d (normalised by the caller) from position, as the surface's options for
// the mode (0 reflection, 1 refraction) say; black for any other mode. Render threads, no lock.
void surfaceEnvironment(LWShaderAccess *sa, LWSurfaceID surface, const double position[3], const double d[3],
                        int mode, double color[3]);
// Heading in [-π/2, 3π/2) (equal to -atan2(x, z) up to a whole turn) and pitch in [-π/2, π/2].
void directionAngles(const double d[3], double *heading, double *pitch);
// t wrapped into [0, 1]: a negative whole number gives 1, a non-negative one 0; not finite gives 0.
double wrapUnit(double t);

}  // namespace velmora
