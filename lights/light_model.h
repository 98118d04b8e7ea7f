// The module's own light model (falloff, cone, projection image) and square area shadows.
#pragma once

#include "sdk/sdk.h"

namespace velmora {

// Unshadowed colour at a position and the direction from the light (not normalised for
// positional lights: its length is the distance).
void lightUnshadowed(LWItemID light, const double position[3], double dir[3], double color[3]);
int illuminateAreaShadow(LWShaderAccess *sa, LWItemID light, const double position[3], double dir[3],
                         double color[3], double size, double samples);
int projectionUV(LWItemID light, const double position[3], double uv[2]);
double transformPoint(const double point[3], const double matrix[4][4], double out[3]);
void imageSpotRGB(LWImageID image, double u, double v, double rgb[3]);
void prepareProjectionImages();

}  // namespace velmora
