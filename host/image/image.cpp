#include "host/image/image.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

namespace host {

double srgbToLinear(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }

double linearToSrgb(double v) {
    if (!(v > 0.0)) return 0.0;
    if (v >= 1.0) return 1.0;
    return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
}

bool loadImage(const std::string &path, Image &out, std::string &why) {
    int w = 0, h = 0, n = 0;
    out.rgb.clear();
    if (stbi_is_hdr(path.c_str())) {
        std::unique_ptr<float, void (*)(void *)> data(stbi_loadf(path.c_str(), &w, &h, &n, 3), stbi_image_free);
        if (!data) {
            why = stbi_failure_reason() ? stbi_failure_reason() : "unreadable image";
            return false;
        }
        out.rgb.assign(data.get(), data.get() + static_cast<size_t>(w) * h * 3);
    } else {
        std::unique_ptr<unsigned char, void (*)(void *)> data(stbi_load(path.c_str(), &w, &h, &n, 3),
                                                              stbi_image_free);
        if (!data) {
            why = stbi_failure_reason() ? stbi_failure_reason() : "unreadable image";
            return false;
        }
        // One table lookup per channel value instead of a pow per pixel.
        float table[256];
        for (int i = 0; i < 256; ++i) table[i] = static_cast<float>(srgbToLinear(i / 255.0));
        size_t count = static_cast<size_t>(w) * h * 3;
        out.rgb.resize(count);
        for (size_t i = 0; i < count; ++i) out.rgb[i] = table[data.get()[i]];
    }
    out.width = w;
    out.height = h;
    out.filename = path;
    return true;
}

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

void Image::sample(double u, double v, bool blend, double out[3]) const {
    out[0] = out[1] = out[2] = 0.0;
    if (width <= 0 || height <= 0 || !std::isfinite(u) || !std::isfinite(v)) return;
    samplePixels(rgb.data(), width, height, u, v, blend, out);
}

void Image::sampleSpot(double u, double v, double spot, bool blend, double out[3]) const {
    double pixelSize = width > 0 ? 1.0 / width : 1.0;
    if (!(spot > pixelSize * 1.5) || !std::isfinite(spot)) {
        sample(u, v, blend, out);
        return;
    }
    // A 4x4 box of samples across the spot; v is scaled so the spot stays square in pixels.
    double aspect = height > 0 ? static_cast<double>(width) / height : 1.0;
    double sum[3] = {0, 0, 0}, s[3];
    const int n = 4;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            double du = ((i + 0.5) / n - 0.5) * spot, dv = ((j + 0.5) / n - 0.5) * spot * aspect;
            sample(u + du, v + dv, blend, s);
            for (int c = 0; c < 3; ++c) sum[c] += s[c];
        }
    for (int c = 0; c < 3; ++c) out[c] = sum[c] / (n * n);
}

bool writePng(const std::string &path, int width, int height, const std::vector<float> &rgb, std::string &why) {
    std::vector<unsigned char> bytes(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < bytes.size() && i < rgb.size(); ++i)
        bytes[i] = static_cast<unsigned char>(std::lround(linearToSrgb(rgb[i]) * 255.0));
    if (!stbi_write_png(path.c_str(), width, height, 3, bytes.data(), width * 3)) {
        why = "cannot write the PNG file";
        return false;
    }
    return true;
}

bool writePfm(const std::string &path, int width, int height, const std::vector<float> &rgb, std::string &why) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) {
        why = "cannot open the file for writing";
        return false;
    }
    // Little-endian (negative scale), rows stored bottom row first.
    bool ok = std::fprintf(f, "PF\n%d %d\n-1.0\n", width, height) > 0;
    for (int y = height - 1; ok && y >= 0; --y)
        ok = std::fwrite(&rgb[static_cast<size_t>(y) * width * 3], sizeof(float), static_cast<size_t>(width) * 3,
                         f) == static_cast<size_t>(width) * 3;
    ok = (std::fclose(f) == 0) && ok;
    if (!ok) why = "cannot write the PFM file";
    return ok;
}

}  // namespace host
