// Every example scene with the skin shader, rendered by velmora-render, against the picture kept
// beside it: the same size, and few pixels badly off. Occlusion sampling shares one generator
// between render threads, so noisy examples differ a little from run to run; the tolerance
// counts pixels off by more than a tenth of the 8-bit range, not small differences.
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "host/image/image.h"

namespace {

const std::string kExamples = VELMORA_EXAMPLES;
const std::string kProgram = VELMORA_RENDER_PROGRAM;

class Example : public ::testing::TestWithParam<const char *> {};

TEST_P(Example, RendersCloseToItsPicture) {
    std::string name = GetParam();
    std::string out = ::testing::TempDir() + "/velmora_e2e_" + name + ".png";
    std::string scene = name == "default" ? std::string() : kExamples + "/" + name + ".json";
    std::string cmd = kProgram + " -q " + scene + " -o " + out + " </dev/null >/dev/null 2>&1";
    int raw = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << cmd;
    host::Image got, want;
    std::string why;
    ASSERT_TRUE(host::loadImage(out, got, why)) << why;
    ASSERT_TRUE(host::loadImage(kExamples + "/" + name + ".png", want, why)) << why;
    ASSERT_EQ(got.width, want.width);
    ASSERT_EQ(got.height, want.height);
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
                                           "area_shadows", "ksub_occlusion", "transparent_skin"),
                         [](const auto &info) { return std::string(info.param); });

}  // namespace
