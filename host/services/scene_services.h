// The scene-backed services plug-ins see ("LW Item Info 3", "LW Light Info 3", "LW Object Info 4",
// "LW Image List 3", "Surface Functions 2", "LW Backdrop Info 2", "Scene Objects 4"): registered
// for a scene before the plug-in is activated, answered from activeScene(). A service not yet
// written is simply not registered, and plug-ins find it absent.
#pragma once

#include "host/scene/scene.h"

namespace host {

// Registers every scene-backed service that exists for `scene`; called on the main thread.
void publishSceneServices(const Scene &scene);

}  // namespace host
