// SPDX-License-Identifier: Apache-2.0
// velmora-render with the skin shader: --describe-panel, --save and loading what it wrote in both
// state formats, --sweep's contact sheet, and a refused setting leaving no image.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

namespace {

const std::string kProgram = VELMORA_RENDER_PROGRAM;
const std::string kSkin = VELMORA_SKIN_PLUGIN;

struct Outcome {
    int status = -1;
    std::string out, err;
};

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Outcome run(const std::string &args) {
    // Named per process: CTest may run these tests side by side.
    const std::string pid = std::to_string(::getpid());
    std::string outFile = ::testing::TempDir() + "/velmora_skin_out_" + pid + ".txt",
                errFile = ::testing::TempDir() + "/velmora_skin_err_" + pid + ".txt";
    std::string cmd =
        kProgram + " --plugin " + kSkin + " -q " + args + " </dev/null >" + outFile + " 2>" + errFile;
    Outcome r;
    int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = slurp(outFile);
    r.err = slurp(errFile);
    return r;
}

std::string writeFile(const std::string &name, const std::string &text) {
    std::string path = ::testing::TempDir() + "/" + name;
    std::ofstream(path) << text;
    return path;
}

std::string scene(const std::string &settings) {
    return R"({"render": {"width": 12, "height": 10},
      "surfaces": [{"name": "Skin", "shaders": [{"server": "QZ_velmora", "settings": {)" +
           settings + R"(}}]}],
      "items": [{"type": "camera", "name": "cam", "position": [0, 0, -5]},
                {"type": "light", "name": "key", "position": [0, 3, -3]},
                {"type": "object", "name": "o", "mesh": {"primitive": "sphere", "surface": "Skin"}}]})";
}

const char *kEvery = R"("skin_color": [0.7, {"keys": [[0, 0.1], [2, 0.3]]}, 0.05], "Ksheen": 0.3,
  "Ksub": {"value": 0.5, "texture": {"layers": [{"type": "gradient", "input": "Slope", "keys": [[0, 1], [1, 0]]}]}},
  "skin_prefix": "key", "sheen_prefix": "rim", "sheen_trace": true, "trace_eps": 0.0021, "sheen_decay": 0.3)";

// Width and height from a PNG's header.
bool pngSize(const std::string &path, int &w, int &h) {
    std::string d = slurp(path);
    if (d.size() < 24 || d.compare(1, 3, "PNG") != 0) return false;
    auto be = [&](size_t at) {
        return (static_cast<unsigned char>(d[at]) << 24) | (static_cast<unsigned char>(d[at + 1]) << 16) |
               (static_cast<unsigned char>(d[at + 2]) << 8) | static_cast<unsigned char>(d[at + 3]);
    };
    w = static_cast<int>(be(16));
    h = static_cast<int>(be(20));
    return true;
}

TEST(SkinCli, DescribePanelPrintsEachInstance) {
    Outcome r = run("--describe-panel " + writeFile("velmora_skin_describe.json", scene(kEvery)));
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char *want : {"Surface \"Skin\", shader 1: QZ_velmora", "Tab \"Standard\"", "Tab \"Experimental\"",
                             "0x8001 \"Ksub:\" percent-env = 0.5 [tex]", "0x8009 \"Prefix:\" string = \"key\"",
                             "0x800c \"Sheen trace eps:\" distance = 0.0021\n", "Dependency: 0x800b"})
        EXPECT_NE(r.out.find(want), std::string::npos) << want << "\n" << r.out;
    Outcome d = run("--describe-panel");
    EXPECT_EQ(d.status, 0) << d.err;
    EXPECT_NE(d.out.find("Surface \"Skin\""), std::string::npos) << "the default scene's skin";
}

class SavedScene : public ::testing::TestWithParam<const char *> {};

TEST_P(SavedScene, LoadsBack) {
    std::string src = writeFile("velmora_skin_src.json", scene(kEvery));
    std::string want = run("--describe-panel " + src).out;
    const char *format = GetParam();
    std::string saved = ::testing::TempDir() + "/velmora_skin_saved_" + format + ".json";
    std::string again = ::testing::TempDir() + "/velmora_skin_again_" + format + ".json";
    std::remove(saved.c_str());
    Outcome s = run(src + " --save " + saved + " --state-format " + format);
    ASSERT_EQ(s.status, 0) << s.err;
    std::string text = slurp(saved);
    EXPECT_NE(text.find(std::string("\"format\": \"") + format + "\""), std::string::npos) << text;
    EXPECT_EQ(text.find("\"settings\""), std::string::npos) << format;
    Outcome d = run("--describe-panel " + saved);
    ASSERT_EQ(d.status, 0) << d.err;
    EXPECT_EQ(d.out, want) << format;
    ASSERT_EQ(run(saved + " --save " + again + " --state-format " + format).status, 0);
    EXPECT_EQ(slurp(again), text) << format << ": saving the loaded scene changes nothing";
    std::string png = ::testing::TempDir() + "/velmora_skin_saved.png";
    std::remove(png.c_str());
    EXPECT_EQ(run(saved + " -o " + png).status, 0);
    int w = 0, h = 0;
    EXPECT_TRUE(pngSize(png, w, h) && w == 12 && h == 10) << format;
}

INSTANTIATE_TEST_SUITE_P(SkinCli, SavedScene, ::testing::Values("text", "binary"),
                         [](const auto &info) { return std::string(info.param); });

// A scene saved into another folder still finds the images and meshes it named relative to its
// own folder.
TEST(SkinCli, SavedSceneElsewhereKeepsItsFiles) {
    std::string from = ::testing::TempDir() + "/velmora_skin_from", to = ::testing::TempDir() + "/velmora_skin_to";
    ASSERT_EQ(std::system(("mkdir -p " + from + " " + to).c_str()), 0);
    std::ofstream(from + "/pic.png", std::ios::binary)
        << slurp(std::string(VELMORA_HOST_TEST_DATA) + "/red_blue.png");
    std::ofstream(from + "/tri.obj", std::ios::binary)
        << slurp(std::string(VELMORA_HOST_TEST_DATA) + "/two_triangles.obj");
    std::string text = scene(R"("Ksub": 0.5)");
    text.replace(text.find("\"items\": ["), 10,
                 R"("images": [{"name": "pic", "file": "pic.png"}], "items": [{"type": "object", "name": "t",
                    "mesh": {"file": "tri.obj", "surface": "Skin"}},)");
    std::ofstream(from + "/scene.json") << text;
    ASSERT_EQ(run(from + "/scene.json --save " + to + "/scene.json").status, 0);
    Outcome r = run(to + "/scene.json -o " + to + "/scene.png");
    EXPECT_EQ(r.status, 0) << r.err;
    std::string saved = slurp(to + "/scene.json");
    EXPECT_NE(saved.find("velmora_skin_from/pic.png\""), std::string::npos) << saved;
    EXPECT_EQ(saved.find("\"file\": \"pic.png\""), std::string::npos) << saved;
}

TEST(SkinCli, SweepWritesOneSheetOfEveryValue) {
    std::string src = writeFile("velmora_skin_sweep.json", scene(kEvery));
    struct Case {
        std::string sweep;
        int status, width;
    } cases[] = {
        {"Ksub=0,0.5,1", 0, 36},    {"\"skin_color=1 0 0,0 1 0\"", 0, 24},
        {"skin_prefix=key", 0, 12}, {"Kbogus=0,1", 2, 0},
        {"Ksub=0,20", 2, 0},        {"Ksub=", 2, 0},
        {"Ksub=0,,1", 2, 0},
    };
    for (const Case &c : cases) {
        std::string png = ::testing::TempDir() + "/velmora_skin_sheet.png";
        std::remove(png.c_str());
        Outcome r = run(src + " --sweep " + c.sweep + " -o " + png);
        EXPECT_EQ(r.status, c.status) << c.sweep << ": " << r.err;
        int w = 0, h = 0;
        bool written = pngSize(png, w, h);
        EXPECT_EQ(written, c.status == 0) << c.sweep;
        if (written) {
            EXPECT_EQ(w, c.width) << c.sweep;
            EXPECT_EQ(h, 10) << c.sweep;
        }
    }
}

TEST(SkinCli, RefusedSettingExitsTwoWithoutOutput) {
    std::string png = ::testing::TempDir() + "/velmora_skin_refused.png";
    std::string saved = ::testing::TempDir() + "/velmora_skin_refused.json";
    std::string src = writeFile("velmora_skin_bad.json", scene(R"("Ksub": 12)"));
    std::remove(png.c_str());
    std::remove(saved.c_str());
    for (const std::string &args : {src + " -o " + png, src + " --save " + saved, "--describe-panel " + src}) {
        Outcome r = run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.err, "velmora-render: " + src +
                             ": /surfaces/0/shaders/0/settings/Ksub: value 12 is out of range [0, 10]\n");
    }
    EXPECT_FALSE(std::ifstream(png).good());
    EXPECT_FALSE(std::ifstream(saved).good());
}

}  // namespace
