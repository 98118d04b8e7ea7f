// SPDX-License-Identifier: Apache-2.0
// The module's own light model (falloff, cone, projection image) and square area shadows.
//
// Every operation runs on the render threads concurrently and keeps its state on the stack; light
// positions and axes come from the shared item parameter cache, a light missing from it reading
// as placed at the origin with zero axes. Host queries that take a time use renderTime.
#pragma once

#include "sdk/sdk.h"

namespace velmora {

// Most samples per side that illuminateAreaShadow honours; larger counts are reduced to it.
constexpr double kMaxAreaSamplesPerSide = 256.0;

// The light's colour at a position without shadows (falloff, spot cone or projection image
// applied) and its direction, pointing from the light to the position: the unit forward axis for
// a distant light, else position minus light position, not normalised (its length is the
// distance). Both zero without the host's light information.
void lightUnshadowed(LWItemID light, const double position[3], double dir[3], double color[3]);
// Square area shadows: size is the side length, samples the count per side (samples² shadow rays
// through the access record's rayCast). Returns 1 when it sampled; a light without ray-traced
// shadows goes to the host's illuminate and returns its result.
int illuminateAreaShadow(LWShaderAccess *sa, LWItemID light, const double position[3], double dir[3],
                         double color[3], double size, double samples);
// 1 and the spot projection's (u, v), both in [0, 1], when the position falls inside the
// projection; 0 with uv untouched otherwise (also for a cone half-angle of 90° or more).
int projectionUV(LWItemID light, const double position[3], double uv[2]);
// out = [point 1]·matrix divided by the homogeneous w when w is not zero; returns w. The matrix
// is stored row after row.
double transformPoint(const double point[3], const double matrix[4][4], double out[3]);
// The image's filtered colour at (u, v) over one pixel of its longer side; black without the
// image list or for an image with no pixels.
void imageSpotRGB(LWImageID image, double u, double v, double rgb[3]);
// Readies every spot light's projection image for spot sampling. Render initialisation, main thread.
void prepareProjectionImages();

}  // namespace velmora
