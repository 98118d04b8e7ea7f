// Reflection and refraction look-ups that honour the surface's own environment options.
#pragma once

#include "sdk/sdk.h"

namespace velmora {

void prepareSurfaceEnvImages(LWSurfaceID surface);
// Colour along direction d (normalised by the caller); mode 0 reflection, 1 refraction.
void surfaceEnvironment(LWShaderAccess *sa, LWSurfaceID surface, const double position[3], const double d[3],
                        int mode, double color[3]);
void directionAngles(const double d[3], double *heading, double *pitch);
double wrapUnit(double t);

}  // namespace velmora
