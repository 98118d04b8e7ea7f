// SPDX-License-Identifier: Apache-2.0
// Writing images through OpenImageIO: PNG, TIFF, EXR and HDR files, PNG bytes in memory, and
// labels drawn into a picture.
#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>

#include "host/codecs/codecs_pvt.h"
#include "host/image/image.h"
#include "host/io/file_io.h"

namespace host::codecs {

namespace {

using image::ImageAttribute;
using image::linearToSrgb;
using image::WriteProgress;

// Rows per block of a width-pixel image of `channels` values of `bytesPerValue` each.
size_t blockRows(int width, int height, int channels, size_t bytesPerValue) {
    size_t row = static_cast<size_t>(width) * channels * bytesPerValue;
    return std::max<size_t>(1, std::min<size_t>(static_cast<size_t>(height), kBlockBytes / row));
}

// A value for a float file of range [lo, hi]: NaN becomes 0, anything beyond the range its end.
float clampTo(float v, float lo, float hi) { return std::isnan(v) ? 0.0f : std::min(hi, std::max(lo, v)); }

// The stdio stream an OpenImageIO output writes the temporary file through; closed on every path.
struct OutFile {
    std::FILE *file = nullptr;
    ~OutFile() {
        if (file) std::fclose(file);
    }
    // Flushes and closes, reporting any write that failed on the way (a full disk, a size limit).
    bool finish(std::string &why) {
        bool ok = std::fflush(file) == 0 && !std::ferror(file);
        int e = errno;
        ok = std::fclose(file) == 0 && ok;
        if (!ok && e == 0) e = errno;
        file = nullptr;
        if (!ok) why = std::string("cannot be written: ") + std::strerror(e ? e : EIO);
        return ok;
    }
};

// How one format is written through OpenImageIO.
struct OiioFormat {
    const char *name;         // OpenImageIO's name of the format
    OIIO::TypeDesc fileType;  // UINT8: 8-bit sRGB; else linear values clamped to [lo, hi]
    float lo, hi;
    bool alpha;       // carries the coverage as a fourth channel, when there is one
    bool attributes;  // carries the caller's header attributes
};

// Writes a buffer the caller has checked (its size, and a place it may write).
bool writeWithOiio(const std::string &path, const OiioFormat &format, int width, int height,
                   const std::vector<float> &rgb, const std::vector<float> &alpha,
                   const std::vector<ImageAttribute> &attributes, std::string &why,
                   const WriteProgress &progress) {
    setUpImageLibrary();
    io::TempOutput temp(path);
    if (temp.name().empty()) {
        why = std::string("cannot create a file in its folder: ") + std::strerror(errno);
        return false;
    }
    OutFile f;
    f.file = std::fopen(temp.name().c_str(), "wb");
    if (!f.file) {
        why = std::string("cannot be written: ") + std::strerror(errno);
        return false;
    }
    {
        OIIO::Filesystem::IOFile proxy(f.file, OIIO::Filesystem::IOProxy::Write);
        auto out = OIIO::ImageOutput::create(format.name);
        if (!out) {
            why = "cannot be written: no " + std::string(format.name) + " writer (" +
                  shortError(OIIO::geterror()) + ")";
            return false;
        }
        auto fail = [&] {
            why = "cannot be written: " + errorOf(*out);
            return false;
        };
        const bool bytes = format.fileType == OIIO::TypeDesc::UINT8;
        const int channels = format.alpha && !alpha.empty() ? 4 : 3;
        OIIO::ImageSpec spec(width, height, channels, format.fileType);
        if (channels == 4) spec.alpha_channel = 3;
        if (bytes) spec.attribute("oiio:ColorSpace", "sRGB");
        // TIFF's Exif block cannot be written through an I/O proxy; the frames carry no Exif data.
        spec.attribute("tiff:write_exif", 0);
        // OpenImageIO stamps EXR and TIFF files with the time of writing unless given one; an empty
        // date keeps the same render giving the same bytes.
        spec.attribute("DateTime", "");
        if (format.attributes)
            for (const ImageAttribute &a : attributes) {
                if (a.type == ImageAttribute::Type::Int)
                    spec.attribute(a.name, a.integer);
                else if (a.type == ImageAttribute::Type::Float)
                    spec.attribute(a.name, static_cast<float>(a.number));
                else
                    spec.attribute(a.name, a.value);
            }
        if (!out->set_ioproxy(&proxy) || !out->open(temp.name(), spec)) return fail();
        const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
        const size_t rows = blockRows(width, height, channels, bytes ? 1 : sizeof(float));
        std::vector<uint8_t> encoded(bytes ? rows * w * channels : 0);
        std::vector<float> clamped(bytes ? 0 : rows * w * channels);
        for (size_t y0 = 0; y0 < h; y0 += rows) {
            const size_t y1 = std::min(h, y0 + rows), n = (y1 - y0) * w;
            const float *src = &rgb[y0 * w * 3];
            const float *cover = channels == 4 ? &alpha[y0 * w] : nullptr;
            for (size_t i = 0; i < n; ++i) {
                for (int c = 0; c < 3; ++c) {
                    if (bytes)
                        encoded[i * channels + c] =
                            static_cast<uint8_t>(std::lround(linearToSrgb(src[i * 3 + c]) * 255.0));
                    else
                        clamped[i * channels + c] = clampTo(src[i * 3 + c], format.lo, format.hi);
                }
                if (cover) clamped[i * channels + 3] = clampTo(cover[i], 0.0f, 1.0f);
            }
            bool ok = bytes ? out->write_scanlines(static_cast<int>(y0), static_cast<int>(y1), 0,
                                                   OIIO::TypeDesc::UINT8, encoded.data())
                            : out->write_scanlines(static_cast<int>(y0), static_cast<int>(y1), 0,
                                                   OIIO::TypeDesc::FLOAT, clamped.data());
            if (!ok || out->has_error()) return fail();
            if (progress) progress(static_cast<double>(y1) / static_cast<double>(h));
        }
        if (!out->close() || out->has_error()) return fail();
    }
    return f.finish(why) && temp.commit(why);
}

// Half floats end at 65504; RGBE stores no negatives and ends below 2^127.
const OiioFormat kPng = {"png", OIIO::TypeDesc::UINT8, 0.0f, 1.0f, false, false};
const OiioFormat kTiff = {"tiff", OIIO::TypeDesc::FLOAT, -FLT_MAX, FLT_MAX, true, false};
const OiioFormat kExrHalf = {"openexr", OIIO::TypeDesc::HALF, -65504.0f, 65504.0f, true, true};
const OiioFormat kExrFloat = {"openexr", OIIO::TypeDesc::FLOAT, -FLT_MAX, FLT_MAX, true, true};
const OiioFormat kHdr = {"hdr", OIIO::TypeDesc::FLOAT, 0.0f, 1e38f, false, false};

}  // namespace

bool write(const std::string &path, image::Encoding encoding, int width, int height, const std::vector<float> &rgb,
           const std::vector<float> &alpha, const std::vector<ImageAttribute> &attributes, std::string &why,
           const WriteProgress &progress) {
    using image::Encoding;
    const OiioFormat &format = encoding == Encoding::Png        ? kPng
                               : encoding == Encoding::Tiff     ? kTiff
                               : encoding == Encoding::ExrHalf  ? kExrHalf
                               : encoding == Encoding::ExrFloat ? kExrFloat
                                                                : kHdr;
    return writeWithOiio(path, format, width, height, rgb, alpha, attributes, why, progress);
}

bool encodePng(int width, int height, const std::vector<uint8_t> &srgb, std::vector<uint8_t> &png,
               std::string &why) {
    if (width <= 0 || height <= 0 || srgb.size() != static_cast<size_t>(width) * height * 3) {
        why = "no picture to encode";
        return false;
    }
    setUpImageLibrary();
    std::vector<unsigned char> buffer;
    OIIO::Filesystem::IOVecOutput proxy(buffer);
    auto out = OIIO::ImageOutput::create("png");
    if (!out) {
        why = "no PNG writer";
        return false;
    }
    OIIO::ImageSpec spec(width, height, 3, OIIO::TypeDesc::UINT8);
    spec.attribute("oiio:ColorSpace", "sRGB");
    bool ok = out->set_ioproxy(&proxy) && out->open("picture.png", spec) &&
              out->write_image(OIIO::TypeDesc::UINT8, srgb.data()) && out->close();
    if (!ok || out->has_error()) {
        why = "the picture could not be encoded: " + out->geterror();
        return false;
    }
    png.assign(buffer.begin(), buffer.end());
    return true;
}

bool drawLabel(std::vector<float> &rgb, int width, int height, int x0, int x1, const std::string &label,
               const std::string &font, std::string &why) {
    if (width <= 0 || height <= 0 || rgb.size() < static_cast<size_t>(width) * height * 3) {
        why = "has no pixels to draw on";
        return false;
    }
    // The library draws the whole text before clipping it: a label longer than any cell could
    // show is cut (at a character's start, so UTF-8 stays whole).
    constexpr size_t kMaxLabelBytes = 256;
    std::string text = label;
    if (text.size() > kMaxLabelBytes) {
        size_t cut = kMaxLabelBytes;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
        text.resize(cut);
    }
    setUpImageLibrary();
    const int size = std::max(10, std::min(48, height / 20));
    if (!OIIO::ImageBufAlgo::text_size(text, size, font).defined()) {
        OIIO::geterror();
        why = "font \"" + font + "\" not found";
        return false;
    }
    x0 = std::max(0, x0);
    x1 = std::min(width, x1);
    if (x1 <= x0) return true;
    // The columns alone, in place: the text cannot reach past them.
    const OIIO::stride_t pixel = 3 * sizeof(float);
    OIIO::ImageBuf canvas(OIIO::ImageSpec(x1 - x0, height, 3, OIIO::TypeDesc::FLOAT),
                          &rgb[static_cast<size_t>(x0) * 3], pixel, pixel * width);
    const float white[3] = {1.0f, 1.0f, 1.0f};
    bool ok = OIIO::ImageBufAlgo::render_text(canvas, size / 3, size + size / 4, text, size, font, white,
                                              OIIO::ImageBufAlgo::TextAlignX::Left,
                                              OIIO::ImageBufAlgo::TextAlignY::Baseline, 2, {}, 1);
    if (!ok) why = "cannot draw text: " + shortError(canvas.geterror());
    return ok;
}

}  // namespace host::codecs
