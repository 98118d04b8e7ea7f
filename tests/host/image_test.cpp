#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/image/image.h"

namespace {

const std::string kData = VELMORA_HOST_TEST_DATA;

TEST(Image, LoadsAndSamples) {
    host::Image img;
    std::string why;
    ASSERT_TRUE(host::loadImage(kData + "/red_blue.png", img, why)) << why;
    ASSERT_EQ(img.width, 2);
    ASSERT_EQ(img.height, 1);
    struct Case {
        double u, v;
        bool blend;
        double r, b;
    } cases[] = {
        {0.25, 0.5, false, 1, 0},   {0.75, 0.5, false, 0, 1}, {0.5, 0.5, true, 0.5, 0.5},
        {0.25, 0.5, true, 1, 0},    {1.25, 0.5, false, 1, 0},  // u wraps
        {0.0, 0.5, true, 0.5, 0.5},                            // blends across the seam
    };
    for (const Case &c : cases) {
        double rgb[3];
        img.sample(c.u, c.v, c.blend, rgb);
        EXPECT_NEAR(rgb[0], c.r, 1e-6) << "u=" << c.u << " blend=" << c.blend << ": red " << rgb[0];
        EXPECT_NEAR(rgb[2], c.b, 1e-6) << "u=" << c.u << " blend=" << c.blend << ": blue " << rgb[2];
    }
    double rgb[3];
    img.sampleSpot(0.5, 0.5, 1.0, true, rgb);
    EXPECT_NEAR(rgb[0], 0.5, 1e-6) << "a spot as wide as the image averages it";
    EXPECT_FALSE(host::loadImage(kData + "/two_triangles.obj", img, why));
}

TEST(Image, SrgbEncoding) {
    struct Case {
        double linear, srgb;
    } cases[] = {{0, 0}, {1, 1}, {2, 1}, {-1, 0}, {0.0031308, 0.04045}, {0.2140, 0.5}};
    for (const Case &c : cases)
        EXPECT_NEAR(host::linearToSrgb(c.linear), c.srgb, 2e-4)
            << c.linear << " -> " << host::linearToSrgb(c.linear);
    EXPECT_NEAR(host::srgbToLinear(host::linearToSrgb(0.37)), 0.37, 1e-9);
}

TEST(Image, PfmKeepsFloatsAndRowOrder) {
    std::vector<float> rgb = {1.5f, 0, 0, 0, 2.5f, 0};  // top row red, bottom row green
    std::string path = ::testing::TempDir() + "/velmora_test.pfm", why;
    ASSERT_TRUE(host::writePfm(path, 1, 2, rgb, why)) << why;
    std::ifstream in(path, std::ios::binary);
    std::string magic, scale;
    int w = 0, h = 0;
    in >> magic >> w >> h >> scale;
    in.get();
    float px[6];
    in.read(reinterpret_cast<char *>(px), sizeof px);
    EXPECT_EQ(magic, "PF");
    EXPECT_EQ(w, 1);
    EXPECT_EQ(h, 2);
    EXPECT_EQ(scale, "-1.0");
    EXPECT_EQ(px[1], 2.5f) << "bottom row first";
    EXPECT_EQ(px[3], 1.5f);
    std::remove(path.c_str());
}

}  // namespace
