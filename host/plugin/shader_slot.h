// SPDX-License-Identifier: Apache-2.0
// One shader plug-in instance on a surface, as render threads call it: the handler's functions
// and the instance they act on. The ShaderSet that made it owns the instance.
#pragma once

#include "sdk/shader.h"

namespace host::plugin {

struct ShaderSlot {
    const LWShaderHandler *handler = nullptr;
    LWInstance instance = nullptr;
};

}  // namespace host::plugin
