// SPDX-License-Identifier: Apache-2.0
// The image codecs: reading, writing, text and texture filtering through OpenImageIO, in a library
// of their own (libvelmora-codecs.so, built from host/codecs) that the renderer loads on first use.
//
// OpenImageIO and the two hundred or so libraries behind it cost every program that links them
// about 0.4 s of start-up, nearly all of it the dynamic loader binding their symbols. Loaded on
// demand, that cost falls only on runs that read or write an image; help, option checks and
// refused scenes start at once. Both sides are built from this header in one build, so the table
// needs no versioning beyond a size check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/image/image.h"
#include "host/io/file_io.h"

namespace host::image {

// The file formats the codecs write.
enum class Encoding { Png, Tiff, ExrHalf, ExrFloat, Hdr };

struct ImageCodecs {
    size_t size;  // sizeof(ImageCodecs) as the library was built

    // Opens an image file and checks its header (see loadImage); its declared size.
    bool (*probe)(const std::string &path, int &width, int &height, std::string &why);
    // Decodes an image file, which must still be width x height, into linear RGB (see Image).
    bool (*decodeFile)(const std::string &path, int width, int height, std::vector<float> &rgb, std::string &why);
    // Checks and decodes an image held in memory (see loadImageBytes).
    bool (*decodeBytes)(const std::string &bytes, const std::string &label, int &width, int &height,
                        std::vector<float> &rgb, std::string &why);
    // Writes a file whole or not at all (see writeImage).
    bool (*write)(const std::string &path, Encoding encoding, int width, int height, const std::vector<float> &rgb,
                  const std::vector<float> &alpha, const std::vector<ImageAttribute> &attributes, std::string &why,
                  const WriteProgress &progress);
    // PNG bytes of 8-bit sRGB pixels (three a pixel, top row first).
    bool (*encodePng)(int width, int height, const std::vector<uint8_t> &srgb, std::vector<uint8_t> &png,
                      std::string &why);
    // See drawLabel.
    bool (*drawLabel)(std::vector<float> &rgb, int width, int height, int x0, int x1, const std::string &text,
                      const std::string &font, std::string &why);

    // A spot filter (see SpotFilter): made, given images, sampled and deleted.
    void *(*newFilter)();
    void (*deleteFilter)(void *filter);
    const void *(*addToFilter)(void *filter, const Image &image, std::string &why);
    void (*sampleFilter)(const void *filter, const void *texture, double u, double v, double footprint, bool blend,
                         double out[3]);

    // The version of the OpenImageIO library in use ("2.4.7").
    std::string (*libraryVersion)();

    // Makes the library's outputs register their temporary files in the program's registry
    // (io::tempFiles), which the program's signal handler empties.
    void (*shareTempFiles)(io::TempFiles *files);
};

// The library's file name and the function it exports, which returns its table.
constexpr const char *kCodecsLibrary = "libvelmora-codecs.so";
constexpr const char *kCodecsEntry = "velmora_image_codecs";

// The codecs, loaded on the first call from any thread. Null, with the reason ("the image codecs
// library ... is in none of <folders>", or why the one found would not load), when the library
// cannot be loaded; every later call gives the same answer.
const ImageCodecs *imageCodecs(std::string &why);
// The search behind it, uncached: the first of `folders` whose library loads and is of this build.
// Null with a reason (naming the folders, or why a library found there would not load) otherwise.
const ImageCodecs *loadImageCodecs(const std::vector<std::string> &folders, std::string &why);

}  // namespace host::image
