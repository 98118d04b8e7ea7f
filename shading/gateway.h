// SPDX-License-Identifier: Apache-2.0
// The illumination gateway: every shadowed light query of the skin evaluation, with a per-thread
// recursion guard and coloured shadows.
#pragma once

#include "sdk/sdk.h"

namespace velmora {

// Shadowed light arriving at position, through illuminateTagged. flag is the calling thread's
// shadow-ray flag (null turns the guard off): while it is set, a nested call returns 0 at once and
// writes neither output; it is back at 0 when every other call returns. Distant, point and spot
// lights with shadows get the light's shadow colour added in proportion to the light the shadow
// removed, and count as lit. LWITEM_RADIOSITY and LWITEM_CAUSTICS go straight to
// illuminateTagged. Any render thread.
int illuminationGateway(int *flag, LWShaderAccess *sa, LWItemID light, const double position[3], double dir[3],
                        double color[3]);

}  // namespace velmora
