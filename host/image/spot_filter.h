// SPDX-License-Identifier: Apache-2.0
// Filtered colour over square spots of images, through OpenImageIO's TextureSystem: mip-mapped,
// its levels made on first use from the image's own pixels, trilinear between two levels or the
// nearest pixel of one. Images are handed over decoded, from memory: the library reads no file,
// so the loader's checks stay the only way to an image's bytes, and images made in memory work
// the same. Look-ups are deterministic, safe from any thread and allocate nothing once a level is
// made.
#pragma once

#include <memory>
#include <string>

#include "host/image/image.h"

namespace host::image {

class SpotFilter {
public:
    struct Texture;  // one image as the filter holds it

    SpotFilter();
    ~SpotFilter();
    SpotFilter(const SpotFilter &) = delete;
    SpotFilter &operator=(const SpotFilter &) = delete;

    // Takes a decoded image, whose pixels must stay in place while this filter lives. Null, with
    // a reason, when it has no pixels or the library refuses it. Each call adds a new texture, so
    // callers keep the one they get.
    const Texture *add(const Image &image, std::string &why);

    // Colour over a square spot `footprint` pixels wide around (u, v) (u across, v down from the
    // top row): u wraps, v clamps. With blend, trilinear between the two levels nearest the
    // footprint; without it, the nearest pixel of the nearest level. Black when the look-up fails.
    void sample(const Texture *texture, double u, double v, double footprint, bool blend, double out[3]) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace host::image
