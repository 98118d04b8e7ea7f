// SPDX-License-Identifier: Apache-2.0
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <OpenImageIO/imageio.h>

#include <cfloat>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/image/image.h"
#include "host/image/image_codecs.h"
#include "host/image/spot_filter.h"

namespace {

const std::string kData = VELMORA_HOST_TEST_DATA;

// A fresh folder for one test's files, removed with what is left in it.
struct Folder {
    std::string path;
    Folder() {
        std::string t = ::testing::TempDir() + "/velmora_image_XXXXXX";
        path = ::mkdtemp(&t[0]) ? t : "";
    }
    ~Folder() {
        for (const std::string &f : files()) std::remove((path + "/" + f).c_str());
        ::rmdir(path.c_str());
    }
    std::vector<std::string> files() const {
        std::vector<std::string> out;
        if (DIR *d = ::opendir(path.c_str())) {
            while (dirent *e = ::readdir(d))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") out.push_back(e->d_name);
            ::closedir(d);
        }
        return out;
    }
    std::string operator/(const std::string &name) const { return path + "/" + name; }
};

std::string readAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeAll(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Writes a width x height image of `channels` values per pixel straight through OpenImageIO.
template <class T>
void writeRaw(const std::string &path, int width, int height, int channels, OIIO::TypeDesc type,
              const std::vector<T> &data) {
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out) << path;
    ASSERT_TRUE(out->open(path, OIIO::ImageSpec(width, height, channels, type))) << out->geterror();
    ASSERT_TRUE(out->write_image(OIIO::BaseTypeFromC<T>::value, data.data())) << out->geterror();
    ASSERT_TRUE(out->close()) << out->geterror();
}

// A small linear RGB test pattern: values from 0 to 1 with colour in every pixel.
std::vector<float> pattern(int width, int height) {
    std::vector<float> rgb(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<float>((i * 37 % 101) / 100.0);
    return rgb;
}

uint32_t crc32(const std::string &bytes, size_t from, size_t to) {
    uint32_t c = 0xffffffffu;
    for (size_t i = from; i < to; ++i) {
        c ^= static_cast<unsigned char>(bytes[i]);
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xedb88320u & (0u - (c & 1u)));
    }
    return ~c;
}

void putBigEndian(std::string &bytes, size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) bytes[at + k] = static_cast<char>(v >> (24 - 8 * k));
}

// A PNG whose header declares width x height (its CRC kept valid) over a tiny real image.
std::string pngDeclaring(const Folder &dir, uint32_t width, uint32_t height) {
    std::string path = dir / "declared.png", why;
    EXPECT_TRUE(host::image::writePng(path, 2, 2, pattern(2, 2), why)) << why;
    std::string bytes = readAll(path);
    // Signature (8), IHDR length and type (8), then width and height; the CRC follows the 13 data bytes.
    putBigEndian(bytes, 16, width);
    putBigEndian(bytes, 20, height);
    putBigEndian(bytes, 29, crc32(bytes, 12, 29));
    return bytes;
}

bool anyTemporary(const Folder &dir) {
    for (const std::string &f : dir.files())
        if (f.find(".tmp") != std::string::npos) return true;
    return false;
}

TEST(Image, LoadsAndSamples) {
    host::image::Image img;
    std::string why;
    ASSERT_TRUE(host::image::loadImage(kData + "/red_blue.png", img, why)) << why;
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
    EXPECT_FALSE(host::image::loadImage(kData + "/two_triangles.obj", img, why));
}

// The spot filter: spots as wide as the image average it, with blend or without; every thread
// gets the same answers, bit for bit; an image without pixels is refused.
TEST(Image, SpotFilterAveragesAndRepeats) {
    host::image::Image img;
    img.width = 8;
    img.height = 4;
    img.rgb = pattern(8, 4);
    double mean[3] = {0, 0, 0};
    for (size_t i = 0; i < img.rgb.size(); ++i) mean[i % 3] += img.rgb[i] / 32.0;
    host::image::SpotFilter filter;
    std::string why;
    const host::image::SpotFilter::Texture *t = filter.add(img, why);
    ASSERT_TRUE(t) << why;
    for (bool blend : {true, false})
        for (double footprint : {8.0, 100.0}) {
            double rgb[3];
            filter.sample(t, 0.3, 0.6, footprint, blend, rgb);
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(rgb[c], mean[c], 1e-6) << "blend " << blend << ", footprint " << footprint;
        }

    auto spots = [&](std::vector<double> &out) {
        double rgb[3];
        for (int i = 0; i < 2000; ++i) {
            filter.sample(t, i * 0.618034, i * 0.0137 - 3, 1.5 + i % 40, i % 3 != 0, rgb);
            out.insert(out.end(), rgb, rgb + 3);
        }
    };
    std::vector<double> first;
    spots(first);
    std::vector<std::vector<double>> seen(4);
    std::vector<std::thread> threads;
    for (auto &s : seen) threads.emplace_back([&] { spots(s); });
    for (std::thread &th : threads) th.join();
    for (const auto &s : seen) EXPECT_TRUE(s == first) << "a thread saw other colours";

    host::image::Image empty;
    EXPECT_EQ(filter.add(empty, why), nullptr);
    EXPECT_NE(why.find("no pixels"), std::string::npos) << why;
}

TEST(Image, SrgbEncoding) {
    struct Case {
        double linear, srgb;
    } cases[] = {{0, 0}, {1, 1}, {2, 1}, {-1, 0}, {0.0031308, 0.04045}, {0.2140, 0.5}};
    for (const Case &c : cases)
        EXPECT_NEAR(host::image::linearToSrgb(c.linear), c.srgb, 2e-4)
            << c.linear << " -> " << host::image::linearToSrgb(c.linear);
    EXPECT_NEAR(host::image::srgbToLinear(host::image::linearToSrgb(0.37)), 0.37, 1e-9);
}

TEST(Image, PfmKeepsFloatsAndRowOrder) {
    std::vector<float> rgb = {1.5f, 0, 0, 0, 2.5f, 0};  // top row red, bottom row green
    std::string path = ::testing::TempDir() + "/velmora_test.pfm", why;
    ASSERT_TRUE(host::image::writePfm(path, 1, 2, rgb, why)) << why;
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

// Files in each readable format, written by OpenImageIO, read back with 8-bit files taken as sRGB.
TEST(Image, ReadsEachFormat) {
    Folder dir;
    const int w = 5, h = 3;
    std::vector<float> linear = pattern(w, h);
    std::vector<uint8_t> bytes(linear.size());
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 53 % 256);
    std::vector<uint8_t> grey = {0, 64, 128, 255, 10, 20};
    writeRaw(dir / "rgb8.png", w, h, 3, OIIO::TypeDesc::UINT8, bytes);
    writeRaw(dir / "grey.png", 3, 2, 1, OIIO::TypeDesc::UINT8, grey);
    std::vector<uint8_t> flat(bytes.size());  // JPEG keeps a flat colour closely
    for (size_t i = 0; i < flat.size(); ++i) flat[i] = static_cast<uint8_t>(200 - 70 * (i % 3));
    writeRaw(dir / "photo.jpg", w, h, 3, OIIO::TypeDesc::UINT8, flat);
    writeRaw(dir / "float.tif", w, h, 3, OIIO::TypeDesc::FLOAT, linear);
    writeRaw(dir / "half.exr", w, h, 3, OIIO::TypeDesc::HALF, linear);
    writeRaw(dir / "sky.hdr", w, h, 3, OIIO::TypeDesc::FLOAT, linear);
    writeRaw(dir / "real.png", 3, 2, 1, OIIO::TypeDesc::UINT8, grey);  // found by its content
    std::rename((dir / "real.png").c_str(), (dir / "misnamed.jpg").c_str());

    auto srgb = [](uint8_t b) { return static_cast<float>(host::image::srgbToLinear(b / 255.0)); };
    struct Case {
        const char *file;
        int width, height;
        std::function<float(size_t)> expect;  // the value at index i (of width * height * 3)
        double tolerance;                     // relative to 1 and to the value
    } cases[] = {
        {"rgb8.png", w, h, [&](size_t i) { return srgb(bytes[i]); }, 0},
        {"grey.png", 3, 2, [&](size_t i) { return srgb(grey[i / 3]); }, 0},
        {"misnamed.jpg", 3, 2, [&](size_t i) { return srgb(grey[i / 3]); }, 0},
        {"photo.jpg", w, h, [&](size_t i) { return srgb(flat[i]); }, 0.02},
        {"float.tif", w, h, [&](size_t i) { return linear[i]; }, 0},
        {"half.exr", w, h, [&](size_t i) { return linear[i]; }, 1e-3},
        {"sky.hdr", w, h, [&](size_t i) { return linear[i]; }, 1e-2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        host::image::Image img;
        std::string why;
        ASSERT_TRUE(host::image::loadImage(dir / c.file, img, why)) << why;
        EXPECT_EQ(img.width, c.width);
        EXPECT_EQ(img.height, c.height);
        EXPECT_TRUE(img.rgb.empty()) << "pixels wait for their first use";
        ASSERT_TRUE(img.decode(why)) << why;
        ASSERT_EQ(img.rgb.size(), static_cast<size_t>(c.width) * c.height * 3);
        double worst = 0;
        for (size_t i = 0; i < img.rgb.size(); ++i)
            worst = std::max<double>(worst,
                                     std::fabs(img.rgb[i] - c.expect(i)) / std::max(1.0f, std::fabs(c.expect(i))));
        EXPECT_LE(worst, c.tolerance);
    }
}

// A scene may name many images it never uses: loading reads only headers, and the pixels are
// decoded once however many threads ask first.
TEST(Image, DecodesOnFirstUseOnce) {
    Folder dir;
    std::string why;
    writeAll(dir / "huge.png", pngDeclaring(dir, 12000, 12000));
    host::image::Image huge;
    ASSERT_TRUE(host::image::loadImage(dir / "huge.png", huge, why)) << why;
    EXPECT_EQ(huge.width, 12000);
    EXPECT_TRUE(huge.rgb.empty());

    ASSERT_TRUE(host::image::writePng(dir / "small.png", 4, 4, pattern(4, 4), why)) << why;
    host::image::Image img;
    ASSERT_TRUE(host::image::loadImage(dir / "small.png", img, why)) << why;
    std::vector<std::thread> threads;
    std::vector<double> seen(8);
    for (size_t t = 0; t < seen.size(); ++t)
        threads.emplace_back([&, t] {
            double rgb[3];
            img.sample(0.6, 0.4, true, rgb);
            seen[t] = rgb[0] + rgb[1] * 3 + rgb[2] * 7;
        });
    for (std::thread &t : threads) t.join();
    for (double v : seen) EXPECT_EQ(v, seen[0]);
    EXPECT_GT(seen[0], 0.0);
    EXPECT_TRUE(img.isColor());
}

// Damaged, hostile and impossible files are refused with the file and what is wrong, when loading
// (header) or at the latest when decoding; from memory, always when loading.
TEST(Image, RefusesBadFiles) {
    Folder dir;
    std::string why;
    ASSERT_TRUE(host::image::writePng(dir / "good.png", 16, 16, pattern(16, 16), why)) << why;
    std::string png = readAll(dir / "good.png");
    std::string badCrc = png;
    size_t idat = png.find("IDAT");
    ASSERT_NE(idat, std::string::npos);
    uint32_t idatLength = (uint32_t(uint8_t(png[idat - 4])) << 24) | (uint32_t(uint8_t(png[idat - 3])) << 16) |
                          (uint32_t(uint8_t(png[idat - 2])) << 8) | uint32_t(uint8_t(png[idat - 1]));
    badCrc[idat + 4 + idatLength] ^= 0x5a;
    std::string hdr = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 4000 +X 4000\n" + std::string(100, '\x7f');
    ASSERT_TRUE(host::image::writeImage(dir / "whole.exr", 64, 64, pattern(64, 64), why)) << why;
    std::string exr = readAll(dir / "whole.exr");

    struct Case {
        const char *name;
        std::string bytes;
        const char *reason;  // in the message
    } cases[] = {
        {"bad_crc.png", badCrc, "damaged"},
        {"truncated.hdr", hdr, "damaged"},
        {"truncated.exr", exr.substr(0, exr.size() / 2), "damaged"},
        // An attribute name past OpenEXR's 31 characters: the library would read on from mid-name
        // and take text for a 1.9 GB attribute size.
        {"long_name.exr", readAll(kData + "/image_long_name.exr"), "header is malformed"},
        {"wide.png", pngDeclaring(dir, 100000, 4), "beyond the limit"},
        {"vast.png", pngDeclaring(dir, 65536, 65536), "memory"},
        {"noise.png", std::string(500, 'x'), "is not a PNG, JPEG, TIFF, EXR, HDR, PNM or PFM image"},
        {"empty.tif", "", "is not a PNG, JPEG"},
        {"text.dat", "hello", "is not a PNG, JPEG"},
        {"cut.png", png.substr(0, png.size() - 20), "is damaged: its IDAT chunk runs past the end"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (std::string(c.reason) == "memory" &&
            65536.0 * 65536 * 12 < double(::sysconf(_SC_PHYS_PAGES)) * ::sysconf(_SC_PAGESIZE))
            continue;  // a machine that could hold it
        std::string path = dir / c.name;
        writeAll(path, c.bytes);
        host::image::Image img;
        std::string loadWhy, decodeWhy;
        bool loaded = host::image::loadImage(path, img, loadWhy);
        if (loaded) {
            EXPECT_FALSE(img.decode(decodeWhy));
            EXPECT_NE(decodeWhy.find(path), std::string::npos) << decodeWhy;
            double rgb[3] = {1, 1, 1};
            img.sample(0.5, 0.5, true, rgb);
            EXPECT_EQ(rgb[0] + rgb[1] + rgb[2], 0.0) << "an image that fails reads as black";
        }
        EXPECT_NE((loadWhy + decodeWhy).find(c.reason), std::string::npos) << loadWhy << decodeWhy;
        host::image::Image mem;
        EXPECT_FALSE(host::image::loadImageBytes(c.bytes, c.name, mem, why));
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    }

    ASSERT_EQ(::mkfifo((dir / "pipe.png").c_str(), 0600), 0);
    struct Special {
        std::string path;
        const char *reason;
    } specials[] = {{dir / "pipe.png", "pipe"},
                    {"/dev/zero", "device"},
                    {dir.path, "folder"},
                    {dir / "missing.png", "cannot be opened"}};
    for (const Special &s : specials) {
        host::image::Image img;
        EXPECT_FALSE(host::image::loadImage(s.path, img, why)) << s.path;
        EXPECT_NE(why.find(s.reason), std::string::npos) << s.path << ": " << why;
    }
}

// Each output format reads back; float files never hold inf or NaN.
TEST(Image, WritesEachFormat) {
    Folder dir;
    const int w = 4, h = 2;
    std::vector<float> rgb = pattern(w, h);
    rgb[0] = INFINITY;
    rgb[1] = NAN;
    rgb[2] = -INFINITY;
    rgb[3] = 1e30f;
    struct Case {
        const char *file;
        float top;         // what inf and 1e30 become
        float bottom;      // what -inf becomes
        double tolerance;  // for the ordinary values
    } cases[] = {
        {"out.pfm", FLT_MAX, -FLT_MAX, 0}, {"out.TIF", FLT_MAX, -FLT_MAX, 0}, {"out.tiff", FLT_MAX, -FLT_MAX, 0},
        {"out.exr", 65504, -65504, 1e-3},  {"out.hdr", 1e38f, 0, 1e-2},       {"out.png", 1, 0, 0.01},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        std::string why;
        std::vector<double> progress;
        ASSERT_TRUE(host::image::writeImage(dir / c.file, w, h, rgb, why, [&](double f) {
            progress.push_back(f);
        })) << why;
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.back(), 1.0);
        host::image::Image img;
        ASSERT_TRUE(host::image::loadImage(dir / c.file, img, why)) << why;
        ASSERT_TRUE(img.decode(why)) << why;
        ASSERT_EQ(img.rgb.size(), rgb.size());
        EXPECT_NEAR(img.rgb[0], c.top, c.top * 1e-2);
        EXPECT_EQ(img.rgb[1], 0.0f);
        EXPECT_NEAR(img.rgb[2], c.bottom, std::fabs(c.bottom) * 1e-2);
        EXPECT_NEAR(img.rgb[3], std::min(1e30f, c.top), std::min(1e30f, c.top) * 1e-2);
        for (size_t i = 6; i < rgb.size(); ++i)  // past the two pixels holding extremes
            EXPECT_NEAR(img.rgb[i], rgb[i], c.tolerance + (c.tolerance > 0.005 ? 0.01 : 0)) << i;
    }
    std::string why;
    EXPECT_FALSE(host::image::writeImage(dir / "out.gif", w, h, rgb, why));
    EXPECT_NE(why.find(".gif"), std::string::npos) << why;
    EXPECT_FALSE(anyTemporary(dir));
}

// What OpenImageIO's own tool reports of a file: its size, channels, type and header.
std::string oiiotoolInfo(const std::string &path) {
    std::string text;
    if (std::FILE *p = ::popen(("oiiotool --info -v '" + path + "' 2>&1").c_str(), "r")) {
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
        EXPECT_EQ(::pclose(p), 0) << "oiiotool (Debian openimageio-tools) failed on " << path << ":\n" << text;
    }
    return text;
}

// EXR and TIFF carry the coverage as channel A; EXR as half or float and with the render's
// attributes. Extensions are told apart whatever their case, and the same pixels always give the
// same bytes.
TEST(Image, OutputChannelsTypesAndHeader) {
    Folder dir;
    const int w = 4, h = 2;
    std::vector<float> rgb = pattern(w, h), alpha = {0, 0.25f, 0.5f, 1, NAN, 2, -1, 0.75f};
    host::image::OutputOptions options;
    options.attributes = {host::image::ImageAttribute::ofText("velmora:scene", "ball.json"),
                          host::image::ImageAttribute::ofInt("velmora:frame", 7),
                          host::image::ImageAttribute::ofFloat("velmora:ray_cutoff", 0.25),
                          host::image::ImageAttribute::ofText("Software", "velmora-render test")};
    const std::string header = "    Software: \"velmora-render test\"\n";
    struct Case {
        const char *file;
        bool exrFloat;
        std::string summary;  // oiiotool's first line after the name
        bool alpha, attributes;
    } cases[] = {
        {"half.exr", false, "4 x    2, 4 channel, half openexr", true, true},
        {"float.EXR", true, "4 x    2, 4 channel, float openexr", true, true},
        {"alpha.Tif", false, "4 x    2, 4 channel, float tiff", true, false},
        {"alpha.TIFF", false, "4 x    2, 4 channel, float tiff", true, false},
        {"sky.HDR", false, "4 x    2, 3 channel, float hdr", false, false},
        {"shown.Png", false, "4 x    2, 3 channel, uint8 png", false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        options.exrFloat = c.exrFloat;
        std::string why, path = dir / c.file, again = dir / (std::string("again_") + c.file);
        ASSERT_TRUE(host::image::writeImage(path, w, h, rgb, alpha, options, why)) << why;
        ASSERT_TRUE(host::image::writeImage(again, w, h, rgb, alpha, options, why)) << why;
        EXPECT_TRUE(readAll(path) == readAll(again)) << "two writes differ";

        std::string info = oiiotoolInfo(path);
        EXPECT_NE(info.find(c.summary), std::string::npos) << info;
        EXPECT_EQ(info.find("channel list: R, G, B, A") != std::string::npos, c.alpha) << info;
        EXPECT_EQ(info.find("DateTime"), std::string::npos) << info;
        if (c.attributes) {
            for (const char *line :
                 {"velmora:scene: \"ball.json\"", "velmora:frame: 7", "velmora:ray_cutoff: 0.25"})
                EXPECT_NE(info.find(line), std::string::npos) << line << " in\n" << info;
            EXPECT_NE(info.find(header), std::string::npos) << info;
        }
        if (!c.alpha) continue;
        auto in = OIIO::ImageInput::open(path);
        ASSERT_TRUE(in) << OIIO::geterror();
        std::vector<float> back(static_cast<size_t>(w) * h * 4);
        ASSERT_TRUE(in->read_image(0, 0, 0, 4, OIIO::TypeDesc::FLOAT, back.data())) << in->geterror();
        const float want[] = {0, 0.25f, 0.5f, 1, 0, 1, 0, 0.75f};  // NaN and beyond [0, 1] clamped
        for (size_t i = 0; i < 8; ++i) {
            EXPECT_EQ(back[i * 4 + 3], want[i]) << "alpha of pixel " << i;
            EXPECT_NEAR(back[i * 4], rgb[i * 3], 1e-3) << "red of pixel " << i;
        }
    }
}

// Labels: drawn within their columns in the font asked for; a font that is missing draws nothing.
TEST(Image, LabelsDrawnOrRefused) {
    const int w = 120, h = 40;
    const std::vector<float> blank(static_cast<size_t>(w) * h * 3, 0.0f);
    std::vector<float> rgb = blank;
    std::string why;
    EXPECT_FALSE(host::image::drawLabel(rgb, w, h, 0, 60, "Ksub = 1", "NoSuchFont", why));
    EXPECT_NE(why.find("NoSuchFont"), std::string::npos) << why;
    EXPECT_TRUE(rgb == blank);
    ASSERT_TRUE(host::image::drawLabel(rgb, w, h, 60, 90, "Ksub = 0.5 and then some", "DejaVuSans", why)) << why;
    int inside = 0, outside = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            bool lit = rgb[(static_cast<size_t>(y) * w + x) * 3] > 0.5f;
            (x >= 60 && x < 90 ? inside : outside) += lit;
        }
    EXPECT_GT(inside, 10);
    EXPECT_EQ(outside, 0) << "the label runs past its columns";
    // A megabyte of text is cut to what a cell could show (drawn whole, it takes a minute).
    EXPECT_TRUE(host::image::drawLabel(rgb, w, h, 0, 60, std::string(1 << 20, 'x'), "DejaVuSans", why)) << why;
}

// A failed write leaves no temporary and the file it would have replaced as it was.
TEST(Image, FailedWritesChangeNothing) {
    Folder dir;
    std::string why;
    for (const char *name : {"missing/out.png", "missing/out.pfm", "missing/out.exr"}) {
        EXPECT_FALSE(host::image::writeImage(dir / name, 2, 2, pattern(2, 2), why)) << name;
        EXPECT_NE(why.find("does not exist"), std::string::npos) << why;
    }
    ASSERT_EQ(::mkdir((dir / "taken.png").c_str(), 0700), 0);
    EXPECT_FALSE(host::image::writeImage(dir / "taken.png", 2, 2, pattern(2, 2), why));
    EXPECT_NE(why.find("folder"), std::string::npos) << why;
    ::rmdir((dir / "taken.png").c_str());

    // Under a file-size limit the large writes fail part-way; the earlier files stay whole.
    const int w = 512, h = 512;
    std::vector<float> noise(static_cast<size_t>(w) * h * 3);
    std::mt19937 random(7);
    for (float &v : noise) v = static_cast<float>(random() % 1000) / 1000.0f;
    struct rlimit old;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    for (const char *name : {"frame.png", "frame.pfm", "frame.exr", "frame.tif", "frame.hdr"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(host::image::writeImage(dir / name, 2, 2, pattern(2, 2), why)) << why;
        std::string before = readAll(dir / name);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = old;
        small.rlim_cur = 64 << 10;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        bool ok = host::image::writeImage(dir / name, w, h, noise, why);
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_FALSE(ok);
        EXPECT_NE(why.find("cannot be written"), std::string::npos) << why;
        EXPECT_TRUE(readAll(dir / name) == before) << "the earlier file changed";
        EXPECT_FALSE(anyTemporary(dir));
    }
}

}  // namespace

// The film curve: black stays black, it rises monotonically with a soft shoulder below 1, the
// values its source tabulates, and odd inputs stay in range.
// The codecs library is found in the first folder that holds a loadable copy; anything else is
// refused with a reason that says where it looked or what was wrong with what it found.
TEST(ImageCodecs, FoundOrRefusedWithTheReason) {
    Folder empty, junk;
    writeAll(junk / host::image::kCodecsLibrary, "not a library");
    struct Case {
        std::vector<std::string> folders;
        bool found;
        std::string reason;
    } cases[] = {
        {{empty.path}, false, "is in none of " + empty.path},
        {{}, false, "is in none of"},
        {{junk.path, empty.path}, false, "cannot be loaded (" + (junk / host::image::kCodecsLibrary)},
        {{empty.path, VELMORA_CODECS_DIR}, true, ""},
    };
    for (const Case &c : cases) {
        std::string why;
        const host::image::ImageCodecs *codecs = host::image::loadImageCodecs(c.folders, why);
        ASSERT_EQ(codecs != nullptr, c.found) << why;
        if (c.found) {
            EXPECT_EQ(codecs->size, sizeof(host::image::ImageCodecs));
        }
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    }
}

TEST(ImageDisplay, FilmCurve) {
    EXPECT_EQ(host::image::filmCurve(0), 0);
    EXPECT_NEAR(host::image::filmCurve(1), 0.6733, 1e-4);
    EXPECT_NEAR(host::image::filmCurve(4), 0.9342, 1e-4);
    double last = 0;
    for (double v = 0.001; v < 1000; v *= 1.1) {
        double f = host::image::filmCurve(v);
        EXPECT_GE(f, last) << v;
        EXPECT_LE(f, 1.0) << v;
        last = f;
    }
    EXPECT_EQ(host::image::filmCurve(-1), 0);
    EXPECT_EQ(host::image::filmCurve(std::nan("")), 0);
    EXPECT_EQ(host::image::filmCurve(1e300), 1);
}
