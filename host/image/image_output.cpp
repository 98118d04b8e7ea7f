// SPDX-License-Identifier: Apache-2.0
// Writing images: the checks made before any write, the format an extension names, PFM files
// written here, and the other formats handed to the codecs.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>

#include "host/image/image.h"
#include "host/image/image_codecs.h"
#include "host/io/file_io.h"
#include "host/util/paths.h"

namespace host::image {

namespace {

using util::extensionOf;

// Checks a buffer handed to a writer and the place it is to be written.
bool checkOutput(const std::string &path, int width, int height, const std::vector<float> &rgb,
                 const std::vector<float> &alpha, std::string &why) {
    if (width <= 0 || height <= 0) {
        why = "has no pixels to write";
        return false;
    }
    const size_t pixels = static_cast<size_t>(width) * height;
    if (rgb.size() < pixels * 3 || (!alpha.empty() && alpha.size() < pixels)) {
        why = "has fewer pixel values than its size needs";
        return false;
    }
    why = io::checkWritable(path);
    return why.empty();
}

// A value for a float file of range [lo, hi]: NaN becomes 0, anything beyond the range its end.
float clampTo(float v, float lo, float hi) { return std::isnan(v) ? 0.0f : std::min(hi, std::max(lo, v)); }

const std::vector<float> kNoAlpha;

}  // namespace

ImageAttribute ImageAttribute::ofText(std::string name, std::string value) {
    ImageAttribute a;
    a.name = std::move(name);
    a.type = Type::Text;
    a.value = std::move(value);
    return a;
}

ImageAttribute ImageAttribute::ofInt(std::string name, int value) {
    ImageAttribute a;
    a.name = std::move(name);
    a.type = Type::Int;
    a.integer = value;
    return a;
}

ImageAttribute ImageAttribute::ofFloat(std::string name, double value) {
    ImageAttribute a;
    a.name = std::move(name);
    a.type = Type::Float;
    a.number = value;
    return a;
}

// Checks the buffer and the place, then has the codecs write the file.
bool writeEncoded(const std::string &path, Encoding encoding, int width, int height, const std::vector<float> &rgb,
                  const std::vector<float> &alpha, const std::vector<ImageAttribute> &attributes, std::string &why,
                  const WriteProgress &progress) {
    if (!checkOutput(path, width, height, rgb, alpha, why)) return false;
    const ImageCodecs *codecs = imageCodecs(why);
    if (!codecs) {
        why = "cannot be written: " + why;
        return false;
    }
    return codecs->write(path, encoding, width, height, rgb, alpha, attributes, why, progress);
}

bool writePng(const std::string &path, int width, int height, const std::vector<float> &rgb, std::string &why,
              const WriteProgress &progress) {
    return writeEncoded(path, Encoding::Png, width, height, rgb, kNoAlpha, {}, why, progress);
}

bool writePfm(const std::string &path, int width, int height, const std::vector<float> &rgb, std::string &why,
              const WriteProgress &progress) {
    if (!checkOutput(path, width, height, rgb, kNoAlpha, why)) return false;
    return io::writeFileAtomic(
        path,
        [&](const io::ByteSink &sink, std::string &) {
            // Little-endian (negative scale), rows stored bottom row first.
            char header[64];
            int n = std::snprintf(header, sizeof header, "PF\n%d %d\n-1.0\n", width, height);
            if (!sink(header, static_cast<size_t>(n))) return false;
            const size_t w = static_cast<size_t>(width);
            std::vector<float> row(w * 3);
            for (int y = height - 1; y >= 0; --y) {
                const float *src = &rgb[static_cast<size_t>(y) * w * 3];
                for (size_t i = 0; i < row.size(); ++i) row[i] = clampTo(src[i], -FLT_MAX, FLT_MAX);
                if (!sink(row.data(), row.size() * sizeof(float))) return false;
                if (progress && (y % 64 == 0)) progress(static_cast<double>(height - y) / height);
            }
            return true;
        },
        why);
}

OutputKind outputKind(const std::string &path) {
    std::string ext = extensionOf(path);
    if (ext == "png") return OutputKind::Display;
    if (ext == "pfm" || ext == "tif" || ext == "tiff" || ext == "exr" || ext == "hdr") return OutputKind::Float;
    return OutputKind::None;
}

bool isExr(const std::string &path) { return extensionOf(path) == "exr"; }

bool writeImage(const std::string &path, int width, int height, const std::vector<float> &rgb,
                const std::vector<float> &alpha, const OutputOptions &options, std::string &why,
                const WriteProgress &progress) {
    std::string ext = extensionOf(path);
    // The codecs keep alpha and header attributes only in the formats that carry them.
    const Encoding encoding = ext == "png"                    ? Encoding::Png
                              : ext == "tif" || ext == "tiff" ? Encoding::Tiff
                              : ext == "exr"                  ? (options.exrFloat ? Encoding::ExrFloat : Encoding::ExrHalf)
                                                              : Encoding::Hdr;
    if (ext == "png" || ext == "tif" || ext == "tiff" || ext == "exr" || ext == "hdr")
        return writeEncoded(path, encoding, width, height, rgb, alpha, options.attributes, why, progress);
    if (ext == "pfm") return writePfm(path, width, height, rgb, why, progress);
    why = "has " + (ext.empty() ? std::string("no extension") : "the extension ." + ext) +
          "; the renderer writes .png, .tif, .tiff, .exr, .hdr and .pfm";
    return false;
}

bool writeImage(const std::string &path, int width, int height, const std::vector<float> &rgb, std::string &why,
                const WriteProgress &progress) {
    return writeImage(path, width, height, rgb, kNoAlpha, OutputOptions(), why, progress);
}

}  // namespace host::image
