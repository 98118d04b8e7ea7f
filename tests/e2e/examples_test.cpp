// Every example scene with the skin shader, rendered by velmora-render, against the picture kept
// beside it: the same size, and few pixels badly off. Occlusion sampling shares one generator
// between render threads, so noisy examples differ a little from run to run; the tolerance
// counts pixels off by more than a tenth of the 8-bit range, not small differences.
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

namespace {

const std::string kExamples = VELMORA_EXAMPLES;
const std::string kProgram = VELMORA_RENDER_PROGRAM;

// The command-line arguments that render an example: its JSON scene, or a host scene file with
// the overlay beside it (at its first frame).
std::string sceneArgs(const std::string &name) {
    if (name == "default") return "";
    if (name == "bunny_shot")
        return kExamples + "/bunny_shot.lws --overlay " + kExamples + "/bunny_shot_skin.json --frame 1";
    return kExamples + "/" + name + ".json";
}

class Example : public ::testing::TestWithParam<const char *> {};

TEST_P(Example, RendersCloseToItsPicture) {
    std::string name = GetParam();
    std::string out = ::testing::TempDir() + "/velmora_e2e_" + name + ".png";
    std::string cmd = kProgram + " -q " + sceneArgs(name) + " -o " + out + " </dev/null >/dev/null 2>&1";
    int raw = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << cmd;
    host::Image got, want;
    std::string why;
    ASSERT_TRUE(host::loadImage(out, got, why)) << why;
    ASSERT_TRUE(host::loadImage(kExamples + "/" + name + ".png", want, why)) << why;
    ASSERT_TRUE(got.decode(why) && want.decode(why)) << why;
    ASSERT_EQ(got.width, want.width);
    ASSERT_EQ(got.height, want.height);
    ASSERT_EQ(got.rgb.size(), want.rgb.size());
    long bad = 0;
    double worst = 0;
    for (size_t i = 0; i < got.rgb.size(); i += 3) {
        double d = 0;
        for (int c = 0; c < 3; ++c)
            d = std::max(d, std::fabs(host::linearToSrgb(got.rgb[i + c]) - host::linearToSrgb(want.rgb[i + c])));
        worst = std::max(worst, d);
        if (d > 0.1) ++bad;
    }
    long pixels = static_cast<long>(got.width) * got.height;
    EXPECT_LE(bad, pixels / 200) << bad << " of " << pixels << " pixels off by more than 0.1 (worst " << worst
                                 << ")";
}

INSTANTIATE_TEST_SUITE_P(Skin, Example,
                         ::testing::Values("default", "subsurface_key", "sheen_rim", "sheen_trace_ear",
                                           "area_shadows", "ksub_occlusion", "transparent_skin", "bunny_shot"),
                         [](const auto &info) { return std::string(info.param); });

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
                                           "area_shadows", "transparent_skin", "glass_and_mirror", "bunny_shot"),
                         [](const auto &info) { return std::string(info.param); });

// Mean and spread of the luminance over the lower middle of a PFM frame (bottom row first), where
// the balls of ksub_occlusion touch the floor.
void occludedStats(const std::string &pfm, double &mean, double &spread) {
    std::istringstream in(pfm);
    std::string magic;
    int w = 0, h = 0;
    double scale = 0;
    in >> magic >> w >> h >> scale;
    in.get();
    std::vector<float> px(static_cast<size_t>(w) * h * 3);
    in.read(reinterpret_cast<char *>(px.data()), static_cast<std::streamsize>(px.size() * sizeof(float)));
    ASSERT_TRUE(in && magic == "PF") << magic;
    double sum = 0, sum2 = 0;
    long n = 0;
    for (int y = h / 6; y < h / 2; ++y)
        for (int x = w / 4; x < 3 * w / 4; ++x) {
            const float *p = &px[(static_cast<size_t>(y) * w + x) * 3];
            double l = 0.2126 * p[0] + 0.7152 * p[1] + 0.0722 * p[2];
            sum += l;
            sum2 += l * l;
            ++n;
        }
    mean = sum / n;
    spread = std::sqrt(std::max(0.0, sum2 / n - mean * mean));
}

// The occlusion inputs share one generator between render threads by design, so those renders
// differ between runs with several threads; their statistics over the occluded area must not.
TEST(Occlusion, ThreadedRendersAgreeStatistically) {
    double mean1, spread1;
    occludedStats(renderPfm("ksub_occlusion", "--threads 1"), mean1, spread1);
    ASSERT_GT(mean1, 0.0);
    for (int run = 0; run < 2; ++run) {
        double mean, spread;
        occludedStats(renderPfm("ksub_occlusion", "--threads 2"), mean, spread);
        EXPECT_NEAR(mean, mean1, 0.02 * mean1) << "run " << run;
        EXPECT_NEAR(spread, spread1, 0.05 * spread1) << "run " << run;
    }
}

}  // namespace
