// SPDX-License-Identifier: Apache-2.0
// How textures reach image pixels without knowing the scene: the renderer implements this and
// installs it with setImageSource (texture_system.h).
#pragma once

#include "sdk/host_types.h"

namespace host::texture {

class ImageSource {
public:
    virtual ~ImageSource() = default;
    // Colour of `image` at (u, v), both wrapped into [0, 1); false (rgb untouched) when the image
    // is unknown. Called from render threads concurrently.
    virtual bool colorAt(LWImageID image, double u, double v, double rgb[3]) const = 0;
};

}  // namespace host::texture
