// Placeholder: does nothing until this subsystem lands.
#include "vparam/occlusion.h"

namespace velmora {

volatile uint32_t occlusionSeed = 1;

double occlusionRandom() { return 0.0; }
double occlusionFraction(const LWMicropol *, const double *, const double *, int, int, int) { return 0.0; }

}  // namespace velmora
