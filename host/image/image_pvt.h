// SPDX-License-Identifier: Apache-2.0
// Shared by pixel access (image.cpp) and the calls into the codecs (image_codecs.cpp); not for use
// outside host/image.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "host/image/image.h"

namespace host::image {

// How far a loaded image has been decoded, and from where.
struct Image::Lazy {
    std::once_flag once;
    std::atomic<int> state{0};  // 0 not yet decoded, 1 decoded, 2 failed
    std::string path;           // the file to decode; empty when rgb is set in memory
    int width = 0, height = 0;  // the header's size, checked again at decoding
    std::string error;
    bool color = false;
};

// Colour at (u, v) of a width x height grid of RGB floats: u wraps, v clamps; bilinear between
// pixel centres when blend is set, else the nearest pixel. The grid must not be empty.
void samplePixels(const float *rgb, int width, int height, double u, double v, bool blend, double out[3]);

}  // namespace host::image
