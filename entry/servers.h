// SPDX-License-Identifier: Apache-2.0
// The module's entry layer: the exported descriptor, its server table and the two activations.
#pragma once

#include "sdk/sdk.h"

#if defined(_WIN32)
#define VELMORA_EXPORT __declspec(dllexport)
#else
#define VELMORA_EXPORT __attribute__((visibility("default")))
#endif

extern "C" VELMORA_EXPORT ModuleDescriptor _mod_descrip;

namespace velmora {

void *moduleStartup();  // returns the server data token 4
void moduleShutdown(void *serverData);

// Fills the host's LWShaderHandler; version 4 only.
int shaderHandlerActivate(int version, GlobalFunc global, void *local, void *serverData);
// Builds the options panel into the host's LWInterface; version 4 only.
int shaderInterfaceActivate(int version, GlobalFunc global, void *local, void *serverData);

}  // namespace velmora
