// The illumination gateway: every shadowed light query of the skin evaluation, with a per-thread
// recursion guard and coloured shadows.
#pragma once

#include "sdk/sdk.h"

namespace velmora {

// flag: the calling thread's shadow-ray flag, or null to turn the guard off.
int illuminationGateway(int *flag, LWShaderAccess *sa, LWItemID light, const double position[3], double dir[3],
                        double color[3]);

}  // namespace velmora
