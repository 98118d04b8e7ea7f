// SPDX-License-Identifier: Apache-2.0
// Fuzzes the image reader with the bytes of one image file, named with the extension chosen at
// build time so that format's reader is tried first. Every input must end in a short refusal, or
// an image whose pixels are all there and all finite. Memory for pixels is capped at 512 MB, so an
// image that declares more is refused instead of decoded.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/image/image.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    setenv("VELMORA_MEMORY_LIMIT", "512M", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string label = std::string("fuzz.") + VELMORA_FUZZ_IMAGE_EXT;
    host::image::Image image;
    std::string why;
    std::string bytes(reinterpret_cast<const char *>(data), size);
    if (!host::image::loadImageBytes(bytes, label, image, why)) {
        if (why.empty() || why.size() > 1024) std::abort();
        return 0;
    }
    if (image.width <= 0 || image.height <= 0 ||
        image.rgb.size() != static_cast<size_t>(image.width) * image.height * 3)
        std::abort();
    for (float v : image.rgb)
        if (!std::isfinite(v)) std::abort();
    return 0;
}
