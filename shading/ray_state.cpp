// Placeholder: does nothing until this subsystem lands.
#include "shading/ray_state.h"

namespace velmora {

const char kIsShadowRayKey[] = "QZ's Lumakit:IsShadowRay";
const char kIsRayShadeKey[] = "QZ's Lumakit:IsRayShade";

void *rayStateBlock(const char *, int) { return nullptr; }

}  // namespace velmora
