// SPDX-License-Identifier: Apache-2.0
// Writing a JSON scene back (velmora-render --save): the scene file's text as read, with an
// overlay's fields, every file name made absolute, and each shader instance's settings replaced by
// its saved data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/scene/scene.h"

namespace host::scene {

// One shader instance's saved data: the surface (index into Scene::surfaces), its place in the
// surface's shader list, the state format and the bytes the instance saved.
struct SavedShader {
    int surface = 0;
    int index = 0;
    bool binary = false;
    std::vector<uint8_t> data;
};

// The scene file with each instance's settings replaced by its saved data ("state": {"format",
// "data"}: the text state as a string, the binary one in hex). The scene file's surface of that
// name takes it (mesh files bring surfaces of their own, after the scene file's, so indices
// differ); a mesh file's surface with shaders gets an entry of its own. Returns 0 with the text
// in `out`, or 2 with "FILE: ..." in `message` when a file name or a saved state cannot be written
// as JSON text.
int writeSceneStates(const Scene &scene, const std::vector<SavedShader> &shaders, std::string &out,
                     std::string &message);

}  // namespace host::scene
