// SPDX-License-Identifier: Apache-2.0
// Every service table the host offers plug-ins for one scene: the render services, the scene-backed
// ones, and the scene-independent libraries (envelopes and channels, textures, variant parameters,
// the panel). Published on the main thread before a plug-in is activated, withdrawn after the last
// instance is destroyed.
#pragma once

#include "host/scene/scene.h"

namespace host::services {

void publishHostServices(const scene::Scene &scene);
void withdrawHostServices();

}  // namespace host::services
