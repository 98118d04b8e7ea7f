// SPDX-License-Identifier: Apache-2.0
// The host scene file reader over the scene files of assimp's test models: positions at frames as
// the files' keys give them (every shape, the pre and post behaviours), the older formats against
// the current one, lights and cameras, parenting and pivots, refusals of damaged files, and a
// render of a moving cube with the skin shader.
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "host/render/renderer.h"
#include "host/scene/lws_scene.h"

namespace {

const std::string kModels = "/usr/share/assimp/models/LWS";

bool haveModels() {
    struct stat st;
    return ::stat((kModels + "/move_x.lws").c_str(), &st) == 0;
}

#define NEED_MODELS() \
    if (!haveModels()) GTEST_SKIP() << kModels << " is absent (the assimp-testmodels package)"

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::unique_ptr<host::scene::Scene> load(const std::string &file) {
    host::scene::LoadResult r = host::scene::loadLwsFile(kModels + "/" + file);
    EXPECT_TRUE(r.scene) << r.error;
    return std::move(r.scene);
}

// The text of a test model with `from` replaced by `to`, read as if it were the model itself.
host::scene::LoadResult loadEdited(const std::string &file, const std::string &from, const std::string &to) {
    std::string text = slurp(kModels + "/" + file);
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return host::scene::loadLwsText(text, "shot.lws", kModels);
}

// Channel c (0..8: position, heading pitch bank, scale) of the cube at a frame.
double channelAt(const host::scene::Scene &s, int c, double frame) {
    const host::scene::Item *cube = s.findItem("simple_cube");
    if (!cube) {
        ADD_FAILURE() << "no item simple_cube";
        return NAN;
    }
    const host::scene::Channel3 &g = c < 3   ? cube->motion.position
                                     : c < 6 ? cube->motion.rotation
                                             : cube->motion.scale;
    return g.c[c % 3].at(frame / s.render.fps);
}

double hermite(double a, double m0, double b, double m1, double s) {
    return (2 * s * s * s - 3 * s * s + 1) * a + (s * s * s - 2 * s * s + s) * m0 +
           (-2 * s * s * s + 3 * s * s) * b + (s * s * s - s * s) * m1;
}

double cubic(double p0, double p1, double p2, double p3, double u) {
    return (1 - u) * (1 - u) * (1 - u) * p0 + 3 * (1 - u) * (1 - u) * u * p1 + 3 * (1 - u) * u * u * p2 +
           u * u * u * p3;
}

// Key values of the files (x keys at frames 0, 20, 60 and z keys at 0, 40, 89 in the move_xz
// files; x keys at 0, 20, 39 in the post-behaviour files; y keys at 0, 30, 51 in the pre/post one).
constexpr double kX1 = 1.924918483918713, kX2 = -0.52300345897674561;
constexpr double kZ1 = -2.6561167240142822, kZ2 = -0.095800442759067794;
constexpr double kP1 = 2.1381859973436792, kP2 = -1.6381832361221313;
constexpr double kY2 = 0.98909872770309448;

TEST(LwsScene, PositionsAtFramesFollowTheKeys) {
    NEED_MODELS();
    const double slope = (kP2 - kP1) / (1.3 - 2.0 / 3);  // the last span's chord: linear post behaviour
    struct Case {
        const char *file;
        int channel;
        double frame, want, tolerance;
    } cases[] = {
        // Keys themselves, whatever the shape.
        {"move_x.lws", 0, 0, 0, 0},
        {"move_x.lws", 0, 20, 2.0691125392913818, 0},
        {"move_x.lws", 0, 40, -2.3748657703399658, 0},
        {"move_x.lws", 1, 33, -0.040000002831220627, 0},
        {"move_x.lws", 6, 7, 0.97975808382034302, 0},
        {"move_xz_spline.lws", 0, 20, 2.0153336524963379, 0},
        {"move_xz_spline.lws", 2, 89, -0.11403416842222214, 0},
        {"move_xz_hermite.lws", 0, 20, kX1, 0},
        {"move_xz_hermite.lws", 2, 40, kZ1, 0},
        {"move_xz_bezier.lws", 0, 20, kX1, 0},
        {"move_xz_bezier.lws", 2, 40, kZ1, 0},
        {"move_xz_bezier.lws", 2, 89, kZ2, 0},
        // Linear and stepped spans.
        {"move_xz_linear.lws", 0, 10, kX1 / 2, 1e-12},
        {"move_xz_linear.lws", 0, 40, (kX1 + kX2) / 2, 1e-12},
        {"move_xz_linear.lws", 2, 20, kZ1 / 2, 1e-12},
        {"move_xz_stepped.lws", 0, 19, 0, 0},
        {"move_xz_stepped.lws", 0, 59, kX1, 0},
        {"move_xz_stepped.lws", 2, 88, kZ1, 0},
        // After the last key (frame 39) and before the first.
        {"move_x_post_constant.lws", 0, 100, kP2, 0},
        {"move_x_post_reset.lws", 0, 60, 0, 0},
        {"move_x_post_linear.lws", 0, 60, kP2 + slope * (2 - 1.3), 1e-9},
        {"move_x_post_repeat.lws", 0, 59, kP1, 1e-9},
        {"move_x_post_repeat.lws", 0, 78, 0, 1e-9},
        {"move_x_post_offset_repeat.lws", 0, 59, kP1 + kP2, 1e-9},
        {"move_x_post_offset_repeat.lws", 0, 78, 2 * kP2, 1e-9},
        {"move_y_pre_ofrep_post_osc.lws", 1, -21, -kY2, 1e-9},
        {"move_y_pre_ofrep_post_osc.lws", 1, -51, -kY2, 1e-9},
        {"move_y_pre_ofrep_post_osc.lws", 1, -72, -2 * kY2, 1e-9},
        {"move_y_pre_ofrep_post_osc.lws", 1, 72, 0, 1e-9},
        {"move_y_pre_ofrep_post_osc.lws", 1, 153, kY2, 1e-9},
        {"move_y_pre_ofrep_post_osc.lws", 0, 200, 0, 0},
    };
    std::string loaded;
    std::unique_ptr<host::scene::Scene> scene;
    for (const Case &c : cases) {
        if (loaded != c.file) scene = load(loaded = c.file);
        if (!scene) continue;
        EXPECT_NEAR(channelAt(*scene, c.channel, c.frame), c.want, c.tolerance)
            << c.file << " channel " << c.channel << " frame " << c.frame;
    }
    // Oscillation runs the keys backwards after the last: mirrored about it.
    scene = load("move_y_pre_ofrep_post_osc.lws");
    ASSERT_TRUE(scene);
    EXPECT_NEAR(channelAt(*scene, 1, 60), channelAt(*scene, 1, 42), 1e-9);
}

// Between keys, each curve against the same curve worked out here from the file's own numbers.
TEST(LwsScene, CurvesBetweenKeys) {
    NEED_MODELS();
    // Hermite: the tangents written in the keys (value change over the span).
    auto herm = load("move_xz_hermite.lws");
    ASSERT_TRUE(herm);
    EXPECT_NEAR(channelAt(*herm, 0, 10), hermite(0, 2.0144942798797212, kX1, -0.17433448632558185, 0.5), 1e-12);
    EXPECT_NEAR(channelAt(*herm, 2, 76), hermite(kZ1, -0.062782856771785217, kZ2, 2.5416503021393155, 36.0 / 49),
                1e-12);
    // 2-D Bezier: the handles sit a third of the span in time, so the curve parameter is the time
    // fraction and the value is the cubic through the key values and the handles' values.
    auto bez = load("move_xz_bezier.lws");
    ASSERT_TRUE(bez);
    EXPECT_NEAR(channelAt(*bez, 0, 10), cubic(0, 0.64163307824462457, kX1 + 0.012913536517090266, kX1, 0.5), 1e-4);
    EXPECT_NEAR(channelAt(*bez, 0, 50),
                cubic(kX1, kX1 - 0.10330829213672213, kX2 + 0.81596582122534322, kX2, 0.75), 1e-4);
    // TCB: the file also writes each key's tangents as the host computed them; a Hermite through
    // those must match (closely at the ends, whose tangents the file rounds differently).
    auto tcb = load("move_xz_spline.lws");
    ASSERT_TRUE(tcb);
    EXPECT_NEAR(channelAt(*tcb, 0, 40),
                hermite(2.0153336524963379, -0.3486689726511637, kX2, -2.5378084013894608, 0.5), 1e-3);
    EXPECT_NEAR(channelAt(*tcb, 2, 20), hermite(0, -2.6555634816222775, kZ1, -0.051251311650436913, 0.5), 1e-3);
}

// The same motion saved in the older formats: version 2 (its own motion layout, angles in degrees,
// colours in 0..255, numbers to seven digits) and version 3 (no item ids).
TEST(LwsScene, OlderFormatsGiveTheSameScene) {
    NEED_MODELS();
    auto now = load("move_x.lws");
    ASSERT_TRUE(now);
    // Also the current file with Windows line ends.
    std::string crlf;
    for (char c : slurp(kModels + "/move_x.lws")) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    for (const char *file : {"move_x_oldformat_56.lws", "move_x_oldformat_6.lws", "CRLF"}) {
        auto old =
            std::string(file) == "CRLF" ? host::scene::loadLwsText(crlf, "crlf.lws", kModels).scene : load(file);
        ASSERT_TRUE(old) << file;
        for (int c = 0; c < 9; ++c)
            for (double f = -10; f <= 70; f += 5)
                EXPECT_NEAR(channelAt(*old, c, f), channelAt(*now, c, f), 1e-5)
                    << file << " channel " << c << " frame " << f;
        ASSERT_EQ(old->lights.size(), 1u);
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(old->lights[0]->motion.rotation.at(0)[i], now->lights[0]->motion.rotation.at(0)[i], 1e-6);
            EXPECT_NEAR(old->lights[0]->color[i], 1.0, 1e-12) << file;
            EXPECT_NEAR(old->ambientColor[i], 1.0, 1e-12) << file;
        }
        EXPECT_NEAR(old->ambientIntensity, 0.05, 1e-12);
        EXPECT_EQ(old->render.frameStart, 1);
        EXPECT_EQ(old->render.frameEnd, 60);
    }
}

TEST(LwsScene, LightsCameraAndSceneSettings) {
    NEED_MODELS();
    auto s = load("move_x.lws");
    ASSERT_TRUE(s);
    ASSERT_EQ(s->lights.size(), 1u);
    const host::scene::LightItem &sun = *s->lights[0];
    EXPECT_EQ(sun.name, "Light");
    EXPECT_EQ(sun.type, host::scene::LightType::Distant);
    EXPECT_EQ(sun.shadow, host::scene::ShadowType::RayTrace);
    EXPECT_DOUBLE_EQ(sun.intensity.at(0), 1.0);
    EXPECT_NEAR(sun.motion.rotation.at(0)[0], 0.78539814, 1e-9);
    ASSERT_TRUE(s->camera);
    EXPECT_EQ(s->camera->name, "Camera");
    EXPECT_DOUBLE_EQ(s->camera->zoom.at(0), 3.2);
    EXPECT_NEAR(s->camera->motion.position.at(1)[2], -6.384000301361084, 0);
    EXPECT_EQ(s->render.width, 640);
    EXPECT_EQ(s->render.height, 480);
    EXPECT_EQ(s->render.fps, 30);
    EXPECT_NEAR(s->ambientIntensity, 0.05, 0);
    EXPECT_EQ(s->objects.size(), 1u);
    EXPECT_EQ(s->objects[0]->numPolygons(), 6);

    // A spot light with an enveloped intensity, and two lights of one name kept apart.
    const std::string spot =
        "LWSC\n3\nFramesPerSecond 24\n"
        "AddLight\nLightName key\nLightColor 1 0.5 0.25\nLightIntensity (envelope)\n"
        "{ Envelope\n  2\n  Key 0 0 3 0 0 0 0 0 0\n  Key 2 1 3 0 0 0 0 0 0\n  Behaviors 1 1\n}\n"
        "LightType 2\nLightConeAngle 30\nLightEdgeAngle 5\nLightFalloffType 3\nLightRange 4\n"
        "ShadowType 0\n"
        "AddLight\nLightName key\nLightType 1\n"
        "AddCamera\nCameraName cam\nZoomFactor 2\nFrameSize 320 200\n";
    host::scene::LoadResult r = host::scene::loadLwsText(spot, "spot.lws", ".");
    ASSERT_TRUE(r.scene) << r.error;
    ASSERT_EQ(r.scene->lights.size(), 2u);
    const host::scene::LightItem &key = *r.scene->lights[0];
    EXPECT_EQ(key.type, host::scene::LightType::Spot);
    EXPECT_EQ(key.color, (host::scene::Vec3{1, 0.5, 0.25}));
    EXPECT_DOUBLE_EQ(key.intensity.at(0.5), 1.0);
    EXPECT_NEAR(key.coneAngle.at(0), 30 * M_PI / 180, 1e-15);
    EXPECT_NEAR(key.coneEdge.at(0), 5 * M_PI / 180, 1e-15);
    EXPECT_EQ(key.falloff, host::scene::Falloff::InverseSquare);
    EXPECT_EQ(key.shadow, host::scene::ShadowType::Off);
    EXPECT_EQ(r.scene->lights[1]->name, "key (2)") << "names stay unique and keep their prefix";
    EXPECT_EQ(r.scene->render.width, 320);
    EXPECT_DOUBLE_EQ(r.scene->camera->zoom.at(0), 2.0);
}

// Parenting by item id and the transform order: scale, then bank, pitch, heading, then move, the
// pivot taken off first; a child's motion is in its parent's frame.
TEST(LwsScene, ParentsPivotsAndTransformOrder) {
    const std::string text =
        "LWSC\n5\n"
        "AddNullObject 10000000 base\nObjectMotion\n"
        "Channel 0\n{ Envelope\n  1\n  Key 10 0 0 0 0 0 0 0 0\n  Behaviors 1 1\n}\n"
        "Channel 3\n{ Envelope\n  1\n  Key 1.5707963267948966 0 0 0 0 0 0 0 0\n  Behaviors 1 1\n}\n"
        "Channel 6\n{ Envelope\n  1\n  Key 2 0 0 0 0 0 0 0 0\n  Behaviors 1 1\n}\n"
        "AddNullObject 10000001 arm\nNumChannels 0\nPivotPosition 0 1 0\nParentItem 10000000\n"
        "AddBone 40000000\nBoneName shoulder\nBoneRestLength 0.5\n"
        "AddCamera 30000000\nParentItem 40000000\n";
    host::scene::LoadResult r = host::scene::loadLwsText(text, "rig.lws", ".");
    ASSERT_TRUE(r.scene) << r.error;
    const host::scene::Item *base = r.scene->findItem("base"), *arm = r.scene->findItem("arm");
    ASSERT_TRUE(base && arm);
    EXPECT_EQ(arm->parent, base);
    ASSERT_EQ(r.scene->bones.size(), 1u);
    const host::scene::BoneItem &bone = *r.scene->bones[0];
    EXPECT_EQ(bone.name, "shoulder");
    EXPECT_EQ(bone.object, arm) << "a bone belongs to the object before it";
    EXPECT_EQ(bone.parent, arm);
    EXPECT_EQ(bone.restLength, 0.5);
    EXPECT_EQ(r.scene->camera->parent, &bone);
    // (1, 1, 0) in the arm: less its pivot (0, 1, 0) is (1, 0, 0); in the base, scaled by 2 to
    // (2, 0, 0), turned 90 degrees in heading (+X towards -Z) to (0, 0, -2), moved to (10, 0, -2).
    host::scene::Vec3 p = host::scene::Vec3(1, 1, 0) * host::scene::worldTransform(*arm, 0);
    EXPECT_NEAR(p[0], 10, 1e-12);
    EXPECT_NEAR(p[1], 0, 1e-12);
    EXPECT_NEAR(p[2], -2, 1e-12);
}

// The centre of the lit pixels' columns, or -1 when none is lit.
double litCentreX(const host::render::Frame &f) {
    double sum = 0, n = 0;
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x) {
            const float *p = &f.rgb[(static_cast<size_t>(y) * f.width + x) * 3];
            if (std::max({p[0], p[1], p[2]}) > 0.01f) {
                sum += x;
                ++n;
            }
        }
    return n ? sum / n : -1;
}

// move_x.lws with the skin shader given to the cube's surface by an overlay: the cube's image
// follows its x keys, right of its start at frame 20 (x 2.07) and left of it at frame 40 (x -2.37).
TEST(LwsScene, RenderedCubeFollowsItsKeys) {
    NEED_MODELS();
    std::string overlay = ::testing::TempDir() + "/velmora_lws_skin.json";
    std::ofstream(overlay) << R"({"surfaces": [
      {"name": "Default", "shaders": [{"server": "QZ_velmora", "settings": {"Ksub": 0.5}}]}]})";
    auto scene = load("move_x.lws");
    ASSERT_TRUE(scene);
    std::string error;
    ASSERT_TRUE(host::scene::applyOverlay(*scene, overlay, error)) << error;
    double centre[3];
    const int frames[3] = {1, 20, 40};
    for (int k = 0; k < 3; ++k) {
        host::render::RenderSettings s;
        s.pluginPath = VELMORA_SKIN_PLUGIN;
        s.width = 64;
        s.height = 48;
        s.threads = 2;
        s.frameStart = s.frameEnd = frames[k];
        host::render::Frame frame;
        host::render::RenderOutcome out = host::render::renderScene(*scene, s, [&](const host::render::Frame &f) {
            frame = f;
            return std::string();
        });
        ASSERT_EQ(out.status, 0) << out.message;
        centre[k] = litCentreX(frame);
        ASSERT_GE(centre[k], 0) << "frame " << frames[k] << " shows no cube";
    }
    EXPECT_GT(centre[1], centre[0] + 8) << "frame 20 against frame 1";
    EXPECT_LT(centre[2], centre[0] - 8) << "frame 40 against frame 1";
}

// Damaged files are refused at the line that is wrong.
TEST(LwsScene, DamagedFilesRefusedAtTheirLine) {
    NEED_MODELS();
    std::string text = slurp(kModels + "/move_x.lws");
    struct Case {
        const char *what;
        std::string from, to, message;
    } cases[] = {
        {"key with missing numbers", "  Key 0 0 0 0 0 0 0 2.0682507681379909 0", "  Key 0 0 0",
         "line 26: \"  Key 0 0 0\": a key needs"},
        {"key count not matching", "  3\n  Key 0 0 0 0 0 0 0 2.068", "  4\n  Key 0 0 0 0 0 0 0 2.068",
         "line 30: the envelope opened on line 24 declares 4 keys but has 3"},
        {"huge key count", "  3\n  Key 0 0 0 0 0 0 0 2.068", "  3000000000\n  Key 0 0 0 0 0 0 0 2.068",
         "line 25: \"  3000000000\": the number of keys 3000000000 is out of range"},
        {"channel count not matching", "NumChannels 9\nChannel 0", "NumChannels 10\nChannel 0",
         "line 22: NumChannels declares 10 channels but 9 follow"},
        {"keys out of order", "1.3333333333333333 0 0 0 0 -4.44", "0.5 0 0 0 0 -4.44", "line 28: "},
        {"missing object", "10000000 simple_cube.lwo", "10000000 no_such_cube.lwo",
         "line 17: \"LoadObjectLayer 1 10000000 no_such_cube....\": object file \"no_such_cube.lwo\" not found"},
        {"unknown parent", "ShowObject 7 -1", "ParentItem 10000009\nShowObject 7 -1",
         "line 19: the parent 10000009 is no item of the scene"},
        {"truncated in an envelope", text.substr(text.find("  Key 2.06911")), "",
         "line 26: the file ends inside the envelope opened on line 24"},
        {"not a scene file", "LWSC\n5", "LWOB\n5", "line 1: \"LWOB\": not a host scene file"},
        {"channel given twice", "Channel 1\n", "Channel 0\n",
         "line 31: \"Channel 0\": channel 0 is given twice (first on line 23)"},
        {"number overflowing a double", "Key 0 0 0 0 0 0 0 2.0682507681379909 0",
         "Key 1e400 0 0 0 0 0 0 2.0682507681379909 0",
         "line 26: \"  Key 1e400 0 0 0 0 0 0 2.06825076813799...\": the key's value \"1e400\" is too large for a "
         "number"},
        {"number out of range", "Key 0 0 0 0 0 0 0 2.0682507681379909 0",
         "Key 1e10 0 0 0 0 0 0 2.0682507681379909 0",
         "line 26: \"  Key 1e10 0 0 0 0 0 0 2.068250768137990...\": the key's value 1e+10 is out of range"},
        {"not a number", "Key 0 0 0 0 0 0 0 2.0682507681379909 0", "Key 0x10 0 0 0 0 0 0 2.0682507681379909 0",
         "line 26: \"  Key 0x10 0 0 0 0 0 0 2.068250768137990...\": the key's value must be a number, not "
         "\"0x10\""},
    };
    for (const Case &c : cases) {
        host::scene::LoadResult r = loadEdited("move_x.lws", c.from, c.to);
        EXPECT_FALSE(r.scene) << c.what;
        EXPECT_NE(r.error.find("shot.lws, " + c.message), std::string::npos) << c.what << ": " << r.error;
    }
}

// Numbers are read as strtod reads them: long decimals rounded, tiny ones to zero or a denormal.
TEST(LwsScene, NumbersReadToTheNearestDouble) {
    NEED_MODELS();
    const std::string key = "Key 0 0 0 0 0 0 0 2.0682507681379909 0";
    for (const char *value : {"1e-400", "4.9406564584124654e-320", "-0.0000000000000000000000000000000000000001",
                              "1.00000000000000000000000000000000000000000000000000000000000000001",
                              "123456789.123456789123456789123456789123456789123456789123456789123"}) {
        std::string edited = key;
        edited.replace(4, 1, value);
        host::scene::LoadResult r = loadEdited("move_x.lws", key, edited);
        ASSERT_TRUE(r.scene) << value << ": " << r.error;
        EXPECT_EQ(channelAt(*r.scene, 0, 0), std::strtod(value, nullptr)) << value;
    }
}

// A chain of parents deeper than a transform walks is refused at the line of the item too deep,
// as JSON scenes refuse it; one item less deep loads.
TEST(LwsScene, ParentChainsDeeperThanTheLimitRefused) {
    auto chain = [](int nulls) {
        std::string text = "LWSC\n5\n";
        char line[64];
        for (int i = 0; i < nulls; ++i) {
            std::snprintf(line, sizeof line, "AddNullObject %X n%d\n", 0x10000000 + i, i);
            text += line;
            if (i > 0) {
                std::snprintf(line, sizeof line, "ParentItem %X\n", 0x10000000 + i - 1);
                text += line;
            }
        }
        return text + "AddCamera 30000000\n";
    };
    host::scene::LoadResult ok = host::scene::loadLwsText(chain(257), "deep.lws", ".");
    EXPECT_TRUE(ok.scene) << ok.error;
    host::scene::LoadResult deep = host::scene::loadLwsText(chain(258), "deep.lws", ".");
    EXPECT_FALSE(deep.scene);
    // The 258th null (n257) has 257 ancestors; its ParentItem is line 2 + 1 + 2 * 257.
    EXPECT_EQ(deep.error, "deep.lws, line 517: the parent chain is deeper than 256");
}

}  // namespace
