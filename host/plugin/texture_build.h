// SPDX-License-Identifier: Apache-2.0
// Builds host textures from the textures a scene file describes, through the host's texture
// system: for surface channels (evaluated by the host per spot) and for shader values (the
// texture of a variant parameter, evaluated by the plug-in). Main thread only.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "host/scene/scene.h"
#include "sdk/texture_funcs.h"

namespace host::plugin {

// Adds the layers of `spec` to `tex` (listed top first, so added bottom up). A gradient's
// input must be one of the host's inputs or of the texture's gradient-input context, and its
// picked item must exist. On failure returns false with "FILE: PATH: what is wrong", FILE being
// the file the texture was given in (the scene file or an overlay).
bool buildTexture(LWTextureID tex, const scene::TextureSpec &spec, const scene::Scene &scene, std::string &error);

// The textures of every surface channel of a scene, by surface index and channel (null where a
// channel has none); destroyed with the object.
class SurfaceTextures {
public:
    using Row = std::array<LWTextureID, scene::kSurfaceChannels>;
    SurfaceTextures() = default;
    SurfaceTextures(const SurfaceTextures &) = delete;
    SurfaceTextures &operator=(const SurfaceTextures &) = delete;
    ~SurfaceTextures() { destroy(); }

    // Builds them all; false with a message on a texture the scene cannot have.
    bool build(const scene::Scene &scene, std::string &error);
    void newTime(double time, int frame);
    void cleanup();
    void destroy();
    // Empty when no surface has a texture.
    const std::vector<Row> &table() const { return table_; }

private:
    std::vector<Row> table_;
};

}  // namespace host::plugin
