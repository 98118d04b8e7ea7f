#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace {

const std::string kProgram = VELMORA_RENDER_PROGRAM;
const std::string kPlugin = VELMORA_RECORDING_PLUGIN;

struct Outcome {
    int status = -1;
    std::string err;
};

Outcome run(const std::string &args) {
    // Named per process: CTest may run these tests side by side.
    std::string errFile = ::testing::TempDir() + "/velmora_cli_err_" + std::to_string(::getpid()) + ".txt";
    std::string cmd = kProgram + " " + args + " </dev/null >/dev/null 2>" + errFile;
    Outcome r;
    int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream in(errFile);
    r.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return r;
}

std::string writeFile(const std::string &name, const std::string &text) {
    std::string path = ::testing::TempDir() + "/" + name;
    std::ofstream(path) << text;
    return path;
}

bool exists(const std::string &path) { return std::ifstream(path).good(); }

const char *kTiny = R"({"render": {"width": 8, "height": 6},
  "surfaces": [{"name": "S", "shaders": [{"server": "QZ_record"}]}],
  "items": [{"type": "camera", "name": "cam", "position": [0, 0, -5]},
            {"type": "light", "name": "l", "position": [0, 3, -3]},
            {"type": "object", "name": "o", "mesh": {"primitive": "sphere", "surface": "S"}}]})";

TEST(Cli, ExitCodesAndNoOutputOnBadInput) {
    std::string out = ::testing::TempDir() + "/velmora_cli_out.png";
    std::string good = writeFile("velmora_good.json", kTiny);
    std::string bad = writeFile("velmora_bad.json", "{\"items\": [}");
    std::string unknown = writeFile("velmora_unknown.json", std::string(kTiny).replace(1, 0, "\"colour\": 1, "));
    struct Case {
        const char *what;
        std::string args;
        int status;
        bool output;
        std::string message;
    } cases[] = {
        {"help", "--help", 0, false, ""},
        {"version", "--version", 0, false, ""},
        {"unknown option", "--bogus", 2, false, ""},
        {"syntax error", bad + " -o " + out, 2, false, bad + ": line 1, column 12"},
        {"unknown field", unknown + " -o " + out, 2, false, unknown + ": /colour: unknown field"},
        {"missing scene", "/nonexistent.json -o " + out, 2, false, "/nonexistent.json: cannot open"},
        {"bad output kind", good + " -o out.tiff", 2, false, "must end in .png or .pfm"},
        {"frame and frames", good + " --frame 1 --frames 1-2 -o " + out, 2, false, ""},
        {"pixel outside", good + " --plugin " + kPlugin + " --pixel 99,0", 2, false, "outside"},
        {"missing plug-in", good + " --plugin /nonexistent.so -o " + out, 1, false, "/nonexistent.so"},
        {"host shading without plug-in", good + " --host-shading --plugin /nonexistent.so -q -o " + out, 0, true,
         ""},
        {"with the test plug-in", good + " --plugin " + kPlugin + " -q -o " + out, 0, true, ""},
        {"one pixel writes no image", good + " --plugin " + kPlugin + " --pixel 4,3 -o " + out, 0, false, ""},
        {"pixel not X,Y", good + " --pixel 4 -o " + out, 2, false, "--pixel wants X,Y"},
        {"frames backwards", good + " --frames 5-2 -o " + out, 2, false, "--frames wants A-B"},
    };
    for (const Case &c : cases) {
        std::remove(out.c_str());
        Outcome r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.what << ": " << r.err;
        EXPECT_EQ(exists(out), c.output) << c.what;
        if (!c.message.empty()) {
            EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << ": " << r.err;
        }
    }
}

TEST(Cli, FrameRangeWritesNumberedFiles) {
    std::string good = writeFile("velmora_good.json", kTiny);
    std::string out = ::testing::TempDir() + "/velmora_seq.pfm";
    Outcome r = run(good + " --host-shading -q --frames 3-4 -o " + out);
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char *name : {"/velmora_seq_0003.pfm", "/velmora_seq_0004.pfm"}) {
        std::string f = ::testing::TempDir() + name;
        EXPECT_TRUE(exists(f)) << f;
        std::remove(f.c_str());
    }
}

}  // namespace
