// SPDX-License-Identifier: Apache-2.0
// Images in memory: pixel access and sampling, colour encodings, exposure and the film curve.
#include "host/image/image.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "host/image/image_pvt.h"

namespace host::image {

namespace {

const float kBlack[3] = {0.0f, 0.0f, 0.0f};

}  // namespace

// Colour at (u, v) of a width x height grid of RGB floats: u wraps, v clamps; bilinear between
// pixel centres when blend is set, else the nearest pixel. The grid must not be empty.
void samplePixels(const float *rgb, int width, int height, double u, double v, bool blend, double out[3]) {
    auto pixel = [&](int x, int y) { return rgb + (static_cast<size_t>(y) * width + x) * 3; };
    u -= std::floor(u);
    v = std::min(1.0, std::max(0.0, v));
    double fx = u * width, fy = v * height;
    if (!blend) {
        int x = std::min(width - 1, static_cast<int>(fx));
        int y = std::min(height - 1, static_cast<int>(fy));
        const float *p = pixel(x, y);
        for (int c = 0; c < 3; ++c) out[c] = p[c];
        return;
    }
    fx -= 0.5;
    fy -= 0.5;
    double x0f = std::floor(fx), y0f = std::floor(fy);
    double tx = fx - x0f, ty = fy - y0f;
    int x0 = static_cast<int>(x0f), y0 = static_cast<int>(y0f);
    auto wrapX = [&](int x) { return ((x % width) + width) % width; };
    auto clampY = [&](int y) { return std::min(height - 1, std::max(0, y)); };
    const float *a = pixel(wrapX(x0), clampY(y0)), *b = pixel(wrapX(x0 + 1), clampY(y0));
    const float *c = pixel(wrapX(x0), clampY(y0 + 1)), *d = pixel(wrapX(x0 + 1), clampY(y0 + 1));
    for (int k = 0; k < 3; ++k)
        out[k] = (a[k] * (1 - tx) + b[k] * tx) * (1 - ty) + (c[k] * (1 - tx) + d[k] * tx) * ty;
}

double srgbToLinear(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }

void applyExposure(std::vector<float> &rgb, double stops) {
    if (stops == 0) return;
    const double scale = std::exp2(stops);
    for (float &v : rgb) v = static_cast<float>(v * scale);
}

double filmCurve(double v) {
    if (!(v > 0)) return 0;  // negative and NaN
    const double x = 0.6 * std::min(v, 1e6);
    return std::min(1.0, x * (2.51 * x + 0.03) / (x * (2.43 * x + 0.59) + 0.14));
}

void applyFilmCurve(std::vector<float> &rgb) {
    for (float &v : rgb) v = static_cast<float>(filmCurve(v));
}

double linearToSrgb(double v) {
    if (!(v > 0.0)) return 0.0;
    if (v >= 1.0) return 1.0;
    return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
}

Image::Image() : lazy_(std::make_unique<Lazy>()) {}
Image::~Image() = default;

bool Image::ready() const { return lazy_->state.load(std::memory_order_acquire) == 1; }

bool Image::isColor() const {
    std::string why;
    return decode(why) && lazy_->color;
}

const float *Image::pixel(int x, int y) const {
    std::string why;
    if (!ready() && !decode(why)) return kBlack;
    return &rgb[(static_cast<size_t>(y) * width + x) * 3];
}

void Image::sample(double u, double v, bool blend, double out[3]) const {
    out[0] = out[1] = out[2] = 0.0;
    if (width <= 0 || height <= 0 || !std::isfinite(u) || !std::isfinite(v)) return;
    std::string why;
    if (!ready() && !decode(why)) return;
    samplePixels(rgb.data(), width, height, u, v, blend, out);
}

}  // namespace host::image
