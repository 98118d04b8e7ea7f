// SPDX-License-Identifier: Apache-2.0
// Shared by the codecs' reader (image_input.cpp), writer (image_output.cpp), spot filter
// (spot_filter.cpp) and table (codecs.cpp); not for use outside host/codecs.
#pragma once

#include <OpenImageIO/imageio.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/image/image_codecs.h"

namespace host::codecs {

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

// The table's entries, one group per file.
bool probe(const std::string &path, int &width, int &height, std::string &why);
bool decodeFile(const std::string &path, int width, int height, std::vector<float> &rgb, std::string &why);
bool decodeBytes(const std::string &bytes, const std::string &label, int &width, int &height,
                 std::vector<float> &rgb, std::string &why);
bool write(const std::string &path, image::Encoding encoding, int width, int height, const std::vector<float> &rgb,
           const std::vector<float> &alpha, const std::vector<image::ImageAttribute> &attributes, std::string &why,
           const image::WriteProgress &progress);
bool encodePng(int width, int height, const std::vector<uint8_t> &srgb, std::vector<uint8_t> &png,
               std::string &why);
bool drawLabel(std::vector<float> &rgb, int width, int height, int x0, int x1, const std::string &text,
               const std::string &font, std::string &why);
void *newFilter();
void deleteFilter(void *filter);
const void *addToFilter(void *filter, const image::Image &image, std::string &why);
void sampleFilter(const void *filter, const void *texture, double u, double v, double footprint, bool blend,
                  double out[3]);

}  // namespace host::codecs
