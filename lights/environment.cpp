// Placeholder: does nothing until this subsystem lands.
#include "lights/environment.h"

namespace velmora {

void prepareSurfaceEnvImages(LWSurfaceID) {}
void surfaceEnvironment(LWShaderAccess *, LWSurfaceID, const double *, const double *, int, double color[3]) {
    color[0] = color[1] = color[2] = 0.0;
}
void directionAngles(const double *, double *heading, double *pitch) { *heading = *pitch = 0.0; }
double wrapUnit(double) { return 0.0; }

}  // namespace velmora
