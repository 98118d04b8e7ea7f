// Every example scene, rendered by velmora-render, against the picture kept beside it. Renders
// that do not use the occlusion inputs repeat bit for bit, so their decoded pixels must equal the
// picture's exactly. The occlusion inputs share one random generator between render threads, so
// ksub_occlusion is checked statistically, on 8x8-pixel block means with tolerances set from the
// measured run-to-run noise; that check is shown to catch a 1/255 shift over a region and a faceted
// shadow terminator, both of which a count of pixels off by a tenth lets through.
//
// Bits repeat on one kind of processor only: Embree's kernels and the C library's exp, pow and
// trigonometry take other paths (fused multiply-add among them) where AVX2 or AVX-512 is there,
// and a few pixels of a thousand-triangle mesh, or many of a Monte Carlo render, come out a code
// apart. reference/pictures_made_with.txt names the features of the processor that made the
// pictures; on one with other features the pictures are held to the block rule instead, which
// still catches a one-code shift over a region and a faceted terminator.
//
// VELMORA_REWRITE_PICTURES=1 renders every picture anew in place and records this processor.
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/image/image.h"
#include "host/render/renderer.h"
#include "host/scene/loader.h"

namespace {

const std::string kExamples = VELMORA_EXAMPLES;
const std::string kReference = VELMORA_E2E_REFERENCE;
const std::string kProgram = VELMORA_RENDER_PROGRAM;

// The command-line arguments that render an example: its JSON scene, or a host scene file with
// the overlay beside it (at its first frame).
std::string sceneArgs(const std::string &name) {
    if (name == "default") return "";
    if (name == "bunny_shot")
        return kExamples + "/bunny_shot.lws --overlay " + kExamples + "/bunny_shot_skin.json --frame 1";
    return kExamples + "/" + name + ".json";
}

// An example, the options it is rendered with here and the picture it must equal: its own
// (examples/NAME.png), a preset's (examples/presets/...), or for slow scenes a smaller render kept
// in tests/e2e/reference/.
struct Shot {
    const char *name;
    const char *options;
    const char *reference;
};

std::string referenceOf(const Shot &s) {
    const std::string r = s.reference;
    if (r.empty()) return kExamples + "/" + s.name + ".png";
    return r.rfind("presets/", 0) == 0 ? kExamples + "/" + r : kReference + "/" + r;
}

// 8-bit sRGB codes of a linear buffer, as the PNG writer rounds them.
std::vector<int> codes(const std::vector<float> &rgb) {
    std::vector<int> out(rgb.size());
    for (size_t i = 0; i < rgb.size(); ++i)
        out[i] = static_cast<int>(std::lround(host::image::linearToSrgb(rgb[i]) * 255));
    return out;
}

// The statistical rule: per channel, the means of 8x8-pixel blocks of codes, and their
// differences averaged over every window of 4x4 blocks (32x32 pixels). `block` and `window` are
// the largest differences found, in codes.
struct BlockDifference {
    double block = 0, window = 0;
};

BlockDifference blockDifference(const std::vector<int> &a, const std::vector<int> &b, int w, int h) {
    const int bw = w / 8, bh = h / 8;
    std::vector<double> d(static_cast<size_t>(bw) * bh * 3, 0.0);
    for (int y = 0; y < bh * 8; ++y)
        for (int x = 0; x < bw * 8; ++x)
            for (int c = 0; c < 3; ++c) {
                size_t i = (static_cast<size_t>(y) * w + x) * 3 + c;
                d[((y / 8) * bw + x / 8) * 3 + c] += (a[i] - b[i]) / 64.0;
            }
    BlockDifference out;
    for (double v : d) out.block = std::max(out.block, std::fabs(v));
    for (int by = 0; by + 4 <= bh; ++by)
        for (int bx = 0; bx + 4 <= bw; ++bx)
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                for (int j = 0; j < 4; ++j)
                    for (int i = 0; i < 4; ++i) sum += d[((by + j) * bw + bx + i) * 3 + c];
                out.window = std::max(out.window, std::fabs(sum / 16));
            }
    return out;
}

// Tolerances of the rule for ksub_occlusion at its full size (360x270, 4 samples, two threads).
// Over seven runs the largest block difference measured was 1.28 codes and the largest window
// 0.28: blocks get 2.2; windows 0.6, so that a shift of one code over a window's area (measured
// 1.02 to 1.16 with the noise) shows. A faceted terminator measures 2.8 and 1.1 to 1.3.
constexpr double kBlockTolerance = 2.2, kWindowTolerance = 0.6;

bool passesBlockRule(const BlockDifference &d) {
    return d.block <= kBlockTolerance && d.window <= kWindowTolerance;
}

// The processor features that change floating-point results, as "avx fma avx2 avx512f" with the
// absent ones left out.
std::string floatingPointFeatures() {
    std::string s;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx")) s += "avx ";
    if (__builtin_cpu_supports("fma")) s += "fma ";
    if (__builtin_cpu_supports("avx2")) s += "avx2 ";
    if (__builtin_cpu_supports("avx512f")) s += "avx512f ";
#endif
    if (!s.empty()) s.pop_back();
    return s;
}

const std::string kMadeWith = kReference + "/pictures_made_with.txt";

std::string picturesMadeWith() {
    std::ifstream in(kMadeWith);
    std::string line;
    std::getline(in, line);
    return line;
}

bool rewritingPictures() {
    const char *v = std::getenv("VELMORA_REWRITE_PICTURES");
    return v && std::string(v) == "1";
}

class Example : public ::testing::TestWithParam<Shot> {};

TEST_P(Example, RendersItsPictureExactly) {
    const Shot &shot = GetParam();
    std::string out = ::testing::TempDir() + "/velmora_e2e_" + shot.name + ".png";
    std::string cmd = kProgram + " -q " + shot.options + " " + sceneArgs(shot.name) + " -o " + out +
                      " </dev/null >/dev/null 2>&1";
    int raw = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << cmd;
    if (rewritingPictures()) {
        std::ifstream in(out, std::ios::binary);
        std::ofstream(referenceOf(shot), std::ios::binary) << in.rdbuf();
        std::ofstream(kMadeWith) << floatingPointFeatures() << "\n";
        std::remove(out.c_str());
        return;
    }
    host::image::Image got, want;
    std::string why;
    ASSERT_TRUE(host::image::loadImage(out, got, why)) << why;
    ASSERT_TRUE(host::image::loadImage(referenceOf(shot), want, why)) << why;
    ASSERT_TRUE(got.decode(why) && want.decode(why)) << why;
    ASSERT_EQ(got.width, want.width);
    ASSERT_EQ(got.height, want.height);
    long differ = 0, first = -1;
    for (size_t i = 0; i < got.rgb.size(); i += 3)
        if (std::memcmp(&got.rgb[i], &want.rgb[i], 3 * sizeof(float)) != 0) {
            if (first < 0) first = static_cast<long>(i / 3);
            ++differ;
        }
    const std::string here = floatingPointFeatures(), made = picturesMadeWith();
    if (differ && here != made) {
        BlockDifference d = blockDifference(codes(got.rgb), codes(want.rgb), got.width, got.height);
        EXPECT_TRUE(passesBlockRule(d))
            << referenceOf(shot) << ": block " << d.block << ", window " << d.window
            << " codes (pictures made with \"" << made << "\", this processor has \"" << here << "\")";
    } else {
        EXPECT_EQ(differ, 0) << differ << " pixels differ from " << referenceOf(shot) << ", the first at "
                             << first % got.width << "," << first / got.width;
    }
    std::remove(out.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Examples, Example,
    ::testing::Values(Shot{"default", "", ""}, Shot{"area_shadows", "", ""}, Shot{"bunny", "", ""},
                      Shot{"bunny_shot", "", ""}, Shot{"glass_and_mirror", "", ""}, Shot{"shader_ball", "", ""},
                      Shot{"sheen_rim", "", ""}, Shot{"sheen_trace_ear", "", ""}, Shot{"subsurface_key", "", ""},
                      Shot{"textured", "", ""}, Shot{"transparent_skin", "", ""}, Shot{"weight_map", "", ""},
                      Shot{"showcase", "--width 160 --height 120", "showcase_160x120.png"},
                      Shot{"showcase", "--width 160 --height 120 --host-shading", "showcase_host_160x120.png"},
                      Shot{"preset_stage", "", ""},
                      Shot{"preset_stage", "--preset light_skin", "presets/light_skin.png"},
                      Shot{"preset_stage", "--preset medium_skin", "presets/medium_skin.png"},
                      Shot{"preset_stage", "--preset dark_skin", "presets/dark_skin.png"},
                      Shot{"preset_stage", "--preset wax", "presets/wax.png"},
                      Shot{"preset_stage", "--preset marble", "presets/marble.png"}),
    [](const auto &info) {
        std::string n = info.param.name;
        if (std::strstr(info.param.options, "host")) n += "_host";
        if (const char *p = std::strstr(info.param.options, "--preset ")) n += std::string("_") + (p + 9);
        return n;
    });

std::string renderPfm(const std::string &name, const std::string &args) {
    std::string out = ::testing::TempDir() + "/velmora_e2e_det_" + name + ".pfm";
    std::string cmd = kProgram + " -q --width 96 --height 72 " + args + " " + sceneArgs(name) + " -o " + out +
                      " </dev/null >/dev/null 2>&1";
    int raw = std::system(cmd.c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << cmd;
    std::ifstream in(out, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(out.c_str());
    return bytes;
}

// Largest difference between the pixel values of two PFM files of the same size.
double largestDifference(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return 1e30;
    size_t header = a.size() - 96 * 72 * 12;
    double worst = 0;
    for (size_t i = header; i + 4 <= a.size(); i += 4) {
        float x, y;
        std::memcpy(&x, a.data() + i, 4);
        std::memcpy(&y, b.data() + i, 4);
        worst = std::max(worst, static_cast<double>(std::fabs(x - y)));
    }
    return worst;
}

// Scenes without the occlusion inputs: the same bytes on 1, 2 and 3 threads. Without the ray
// cutoff only the weightless tails of deep mirror and glass paths come back (below 1e-5).
class Deterministic : public ::testing::TestWithParam<const char *> {};

TEST_P(Deterministic, SameBytesOnAnyThreadCountAndCutoff) {
    std::string name = GetParam();
    std::string one = renderPfm(name, "--threads 1");
    ASSERT_GT(one.size(), 96u * 72 * 12);
    EXPECT_TRUE(renderPfm(name, "--threads 2") == one) << "2 threads";
    EXPECT_TRUE(renderPfm(name, "--threads 3") == one) << "3 threads";
    EXPECT_LT(largestDifference(renderPfm(name, "--threads 2 --ray-cutoff 0"), one), 1e-5) << "no cutoff";
}

INSTANTIATE_TEST_SUITE_P(Examples, Deterministic,
                         ::testing::Values("default", "subsurface_key", "sheen_rim", "sheen_trace_ear",
                                           "area_shadows", "transparent_skin", "glass_and_mirror", "bunny_shot",
                                           "bunny", "shader_ball", "textured", "weight_map", "preset_stage"),
                         [](const auto &info) { return std::string(info.param); });

// The rule these renders were once held to: at most 0.5 % of pixels off by more than 0.1.
bool passesOldRule(const std::vector<int> &a, const std::vector<int> &b, int w, int h) {
    long bad = 0;
    for (size_t i = 0; i < a.size(); i += 3) {
        int d = 0;
        for (int c = 0; c < 3; ++c) d = std::max(d, std::abs(a[i + c] - b[i + c]));
        if (d > 25.5) ++bad;
    }
    return bad <= static_cast<long>(w) * h / 200;
}

// ksub_occlusion rendered in-process on two threads, as 8-bit codes.
std::vector<int> renderOcclusion(bool smoothOrigins, int &w, int &h) {
    host::scene::LoadResult loaded = host::scene::loadSceneFile(kExamples + "/ksub_occlusion.json");
    EXPECT_TRUE(loaded.scene) << loaded.error;
    if (!loaded.scene) return {};
    host::render::RenderSettings s;
    s.threads = 2;
    s.pluginPath = VELMORA_PLUGIN;
    s.smoothOrigins = smoothOrigins;
    std::vector<int> out;
    host::render::RenderOutcome r = host::render::renderScene(*loaded.scene, s, [&](const host::render::Frame &f) {
        w = f.width;
        h = f.height;
        out = codes(f.rgb);
        return std::string();
    });
    EXPECT_EQ(r.status, 0) << r.message;
    return out;
}

// The occlusion example against its picture, by the block rule; and the rule's reach: a render
// whose rays leave the facets (a faceted terminator) and the render shifted by one code over a
// 64x64 region both fail it, while both pass the old count of badly-off pixels.
TEST(Occlusion, BlockMeansMatchThePictureAndCatchFaults) {
    host::image::Image picture;
    std::string why;
    ASSERT_TRUE(host::image::loadImage(kExamples + "/ksub_occlusion.png", picture, why) && picture.decode(why))
        << why;
    const std::vector<int> want = codes(picture.rgb);
    int w = 0, h = 0;
    std::vector<int> got = renderOcclusion(true, w, h);
    ASSERT_EQ(w, picture.width);
    ASSERT_EQ(h, picture.height);
    BlockDifference d = blockDifference(got, want, w, h);
    EXPECT_TRUE(passesBlockRule(d)) << "block " << d.block << ", window " << d.window << " codes";

    std::vector<int> shifted = got;
    for (int y = h / 2 - 32; y < h / 2 + 32; ++y)
        for (int x = w / 2 - 32; x < w / 2 + 32; ++x)
            for (int c = 0; c < 3; ++c) {
                int &v = shifted[(static_cast<size_t>(y) * w + x) * 3 + c];
                v = std::min(255, v + 1);
            }
    int fw = 0, fh = 0;
    std::vector<int> faceted = renderOcclusion(false, fw, fh);
    ASSERT_EQ(faceted.size(), want.size());
    struct Fault {
        const char *what;
        const std::vector<int> &pixels;
    } faults[] = {{"one code over 64x64 pixels", shifted}, {"rays leaving the facets", faceted}};
    for (const Fault &f : faults) {
        BlockDifference fd = blockDifference(f.pixels, want, w, h);
        EXPECT_FALSE(passesBlockRule(fd)) << f.what << ": block " << fd.block << ", window " << fd.window;
        EXPECT_TRUE(passesOldRule(f.pixels, want, w, h)) << f.what << ": the old rule would have caught it";
    }
}

}  // namespace
