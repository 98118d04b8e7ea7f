// Images: linear-light RGB pictures in memory, their loading (PNG, JPEG, HDR and others through
// stb_image) and sampling, and the writers for rendered frames (8-bit sRGB PNG, float PFM).
// An Image is read-only after loading and may be sampled from any thread.
#pragma once

#include <string>
#include <vector>

namespace host {

struct Image {
    std::string name;      // the name scenes and shaders know it by
    std::string filename;  // the file it came from, or empty
    int width = 0, height = 0;
    std::vector<float> rgb;  // width * height * 3 linear values, top row first

    const float *pixel(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
    // Colour at (u, v) in [0, 1] (u across, v down from the top row); blend non-zero
    // interpolates between pixel centres, else takes the nearest pixel. u wraps, v clamps.
    void sample(double u, double v, bool blend, double out[3]) const;
    // Average over a square spot of side `spot` (in units of the image's width) around (u, v).
    void sampleSpot(double u, double v, double spot, bool blend, double out[3]) const;
};

// Loads an image file. 8-bit files are taken as sRGB and turned linear; HDR files are linear.
// On failure returns false and sets why to a short reason.
// Colour at (u, v) of a width x height grid of RGB floats: u wraps, v clamps; bilinear between
// pixel centres when blend is set, else the nearest pixel. The grid must not be empty.
void samplePixels(const float *rgb, int width, int height, double u, double v, bool blend, double out[3]);

bool loadImage(const std::string &path, Image &out, std::string &why);

// Writes an 8-bit sRGB PNG or a float PFM of a linear RGB buffer (top row first).
bool writePng(const std::string &path, int width, int height, const std::vector<float> &rgb, std::string &why);
bool writePfm(const std::string &path, int width, int height, const std::vector<float> &rgb, std::string &why);

// sRGB encoding of one linear value, clamped to [0, 1].
double linearToSrgb(double v);
double srgbToLinear(double v);

}  // namespace host
