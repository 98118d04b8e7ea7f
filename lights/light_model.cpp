// Placeholder: does nothing until this subsystem lands.
#include "lights/light_model.h"

namespace velmora {

void lightUnshadowed(LWItemID, const double *, double dir[3], double color[3]) {
    for (int i = 0; i < 3; ++i) dir[i] = color[i] = 0.0;
}
int illuminateAreaShadow(LWShaderAccess *, LWItemID, const double *, double *, double *, double, double) { return 0; }
int projectionUV(LWItemID, const double *, double *) { return 0; }
double transformPoint(const double *, const double (*)[4], double *) { return 0.0; }
void imageSpotRGB(LWImageID, double, double, double rgb[3]) { rgb[0] = rgb[1] = rgb[2] = 0.0; }
void prepareProjectionImages() {}

}  // namespace velmora
