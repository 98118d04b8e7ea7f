// The skin shader's per-spot evaluation.
#pragma once

#include "sdk/sdk.h"

namespace velmora {

// Shades one spot and writes it as a full replacement colour. Called from render threads.
void evaluate(LWInstance instance, LWShaderAccess *sa);

}  // namespace velmora
