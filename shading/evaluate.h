// SPDX-License-Identifier: Apache-2.0
// The skin shader's per-spot evaluation.
#pragma once

#include "sdk/sdk.h"

namespace velmora {

// Shades one spot and writes it as a full replacement colour (percentage 1); writes nothing when
// a required host service is missing. Called from render threads; allocates nothing, takes no lock.
void evaluate(LWInstance instance, LWShaderAccess *sa) noexcept;

}  // namespace velmora
