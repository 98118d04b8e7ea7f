// SPDX-License-Identifier: Apache-2.0
// Services the renderer offers from its own state: "LW Scene Info 3" (the scene's render settings)
// and "Global Render Memory" (named memory chunks for plug-ins), and the active scene that the
// scene-backed services answer from.
#pragma once

#include "host/scene/scene.h"
#include "sdk/global_pool.h"
#include "sdk/scene_info.h"

namespace host::services {

// The scene being rendered (null when none). Set on the main thread before plug-ins are
// activated and left alone while render threads run.
void setActiveScene(const scene::Scene *scene);
const scene::Scene *activeScene();

// Fills the scene information record from a scene (and the effective render size and samples)
// and registers it as "LW Scene Info 3".
void publishSceneInfo(const scene::Scene &scene, int width, int height, int samples);
const LWSceneInfo *sceneInfo();

// Registers "Global Render Memory". find and create are safe from any thread; chunks are zeroed
// and live until resetRenderMemory, which the renderer calls after the render's clean-up.
void publishRenderMemory();
const LWGlobalPool *renderMemory();
void resetRenderMemory();

}  // namespace host::services
