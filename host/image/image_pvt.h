// Shared by the image reader (image_input.cpp), the writer (image_output.cpp) and pixel access
// (image.cpp); not for use outside host/image.
#pragma once

#include <OpenImageIO/imageio.h>

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>

#include "host/image/image.h"

namespace host::image {

// Rows decoded or encoded per block: bounds the temporary buffers and paces progress reports.
constexpr size_t kBlockBytes = 16u << 20;

// An OpenImageIO message cut to its first line and a sane length.
std::string shortError(std::string e);

// The error an ImageInput or ImageOutput holds, retrieved (so it is never left pending).
template <class T>
std::string errorOf(const T &io) {
    std::string e = io.geterror();
    std::string global = OIIO::geterror();
    return shortError(e.empty() ? global : e);
}

// Sets OpenImageIO up once, before its first use: no worker threads of its own (and none in
// OpenEXR). The renderer reads each image on one thread and sizes its own thread pool; threads
// the library started behind its back would also be left locked in a process that forks.
void setUpImageLibrary();

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
