// SPDX-License-Identifier: Apache-2.0
// Images: linear-light RGB pictures in memory, their loading (PNG, JPEG, TIFF, EXR, HDR and others
// through OpenImageIO) and sampling, and the writers for rendered frames.
//
// Loading reads and checks only a file's header; its pixels are decoded on first use (or by
// decode()), once, safely from any thread. Files of integer samples are taken as sRGB and turned
// linear; files of float samples (HDR, EXR, float TIFF) are linear. An Image is read-only after
// loading and may be sampled from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace host::image {

// The largest width or height an image file may declare.
constexpr int kMaxImageSide = 65536;

struct Image {
    std::string name;      // the name scenes and shaders know it by
    std::string filename;  // the file it came from, or empty
    int width = 0, height = 0;
    // width * height * 3 linear values, top row first. For a loaded image it stays empty until the
    // pixels are decoded: call decode() before reading it directly. An image made in memory sets it.
    std::vector<float> rgb;

    Image();
    ~Image();
    Image(const Image &) = delete;
    Image &operator=(const Image &) = delete;

    // Decodes the pixels once (later calls return the first outcome). On failure returns false
    // with a reason naming the file; `attempted` (when given) is set only on the call that ran
    // the decoder, so a caller can report a failure once.
    bool decode(std::string &why, bool *attempted = nullptr) const;
    // Some pixel has unequal channels (decodes; false when it cannot).
    bool isColor() const;

    // Pixel (x, y), in range; black when the pixels cannot be decoded.
    const float *pixel(int x, int y) const;
    // Colour at (u, v) in [0, 1] (u across, v down from the top row); blend non-zero
    // interpolates between pixel centres, else takes the nearest pixel. u wraps, v clamps.
    // Wider footprints are filtered by a SpotFilter (spot_filter.h).
    void sample(double u, double v, bool blend, double out[3]) const;

    struct Lazy;  // the file to decode from and the outcome of decoding

private:
    bool ready() const;
    std::unique_ptr<Lazy> lazy_;
    friend bool loadImage(const std::string &, Image &, std::string &);
    friend bool loadImageBytes(const std::string &, const std::string &, Image &, std::string &);
};

// Opens an image file and checks its header: a regular file within the size cap, a known format,
// at most kMaxImageSide per side, and pixels that fit in the memory available. The pixels are
// decoded on first use. On failure returns false and sets why to a short reason.
bool loadImage(const std::string &path, Image &out, std::string &why);
// The same checks on an image held in memory (`label` names it in messages), decoding it fully.
bool loadImageBytes(const std::string &bytes, const std::string &label, Image &out, std::string &why);

// Called with the fraction of an output written so far, from 0 to 1.
using WriteProgress = std::function<void(double)>;

// What writeImage makes of a file name, by its extension (case ignored): an 8-bit display image
// (.png), a float image (.tif, .tiff, .exr, .hdr, .pfm), or nothing it writes.
enum class OutputKind { None, Display, Float };
OutputKind outputKind(const std::string &path);
// Whether writeImage writes `path` as EXR (its extension, case ignored).
bool isExr(const std::string &path);

// A header attribute of an output file: text, a whole number or a number.
struct ImageAttribute {
    enum class Type { Text, Int, Float };
    std::string name;
    Type type = Type::Text;
    std::string value;  // a Text attribute's
    int integer = 0;    // an Int attribute's
    double number = 0;  // a Float attribute's
    static ImageAttribute ofText(std::string name, std::string value);
    static ImageAttribute ofInt(std::string name, int value);
    static ImageAttribute ofFloat(std::string name, double value);
};

// What an output holds besides its colour.
struct OutputOptions {
    bool exrFloat = false;                   // EXR channels as 32-bit floats rather than half floats
    std::vector<ImageAttribute> attributes;  // EXR header attributes
};

// Writes a linear RGB buffer (top row first) as the format the extension names, case ignored:
// .png (8-bit sRGB), .tif/.tiff (32-bit float), .exr (half or 32-bit float, and the options'
// attributes), .hdr (RGBE) or .pfm (32-bit float). `alpha` (width * height values, or empty for
// none) becomes the fourth channel, A, of EXR and TIFF files; the others keep RGB only. Float
// files never get inf or NaN: values are clamped to the format's finite range (alpha to [0, 1])
// and NaN is written as 0. The same pixels and options always give the same bytes. The file is
// written whole or not at all: a failure leaves an existing file as it was and no temporary
// behind. On failure returns false with a short reason.
bool writeImage(const std::string &path, int width, int height, const std::vector<float> &rgb,
                const std::vector<float> &alpha, const OutputOptions &options, std::string &why,
                const WriteProgress &progress = nullptr);
// The same without alpha, with the default options.
bool writeImage(const std::string &path, int width, int height, const std::vector<float> &rgb, std::string &why,
                const WriteProgress &progress = nullptr);
// writeImage for a given format, whatever the extension.
bool writePng(const std::string &path, int width, int height, const std::vector<float> &rgb, std::string &why,
              const WriteProgress &progress = nullptr);
bool writePfm(const std::string &path, int width, int height, const std::vector<float> &rgb, std::string &why,
              const WriteProgress &progress = nullptr);

// PNG bytes of 8-bit sRGB pixels (width * height * 3 values, top row first), for sending rather
// than saving. False with a reason when there is no picture or it cannot be encoded.
bool encodePng(int width, int height, const std::vector<uint8_t> &srgb, std::vector<uint8_t> &png, std::string &why);

// Writes `text` in white with a dark halo into the top left corner of columns [x0, x1) of a
// width x height linear RGB buffer, clipped to those columns, its size in proportion to the
// height. `font` is a name OpenImageIO looks up among the system's fonts ("DejaVuSans"). False
// with a reason, and nothing drawn, when the font is not found.
bool drawLabel(std::vector<float> &rgb, int width, int height, int x0, int x1, const std::string &text,
               const std::string &font, std::string &why);

// Scales linear RGB by 2^stops (0 leaves every value as it was).
void applyExposure(std::vector<float> &rgb, double stops);
// The filmic display curve: a scene-linear value to a display-linear one in [0, 1], with a toe and
// a soft shoulder. Narkowicz's fit of the ACES reference rendering and output transforms ("ACES
// Filmic Tone Mapping Curve", 2016), per channel, with its 0.6 input scale: 1.0 maps to 0.67,
// 4.0 to 0.93.
double filmCurve(double v);
// filmCurve on every value of a linear RGB buffer, before writePng's sRGB encoding.
void applyFilmCurve(std::vector<float> &rgb);

// sRGB encoding of one linear value, clamped to [0, 1].
double linearToSrgb(double v);
double srgbToLinear(double v);

}  // namespace host::image
