// Placeholder: leaves the spot as the host shaded it until the evaluation lands.
#include "shading/evaluate.h"

namespace velmora {

void evaluate(LWInstance, LWShaderAccess *) {}

}  // namespace velmora
