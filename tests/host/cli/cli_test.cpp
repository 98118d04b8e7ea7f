// SPDX-License-Identifier: Apache-2.0
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include "host/image/image.h"

namespace {

const std::string kProgram = VELMORA_RENDER_PROGRAM;
const std::string kPlugin = VELMORA_RECORDING_PLUGIN;

struct Outcome {
    int status = -1;
    std::string err;
};

Outcome run(const std::string &args, const std::string &program = kProgram) {
    // Named per process: CTest may run these tests side by side.
    std::string errFile = ::testing::TempDir() + "/velmora_cli_err_" + std::to_string(::getpid()) + ".txt";
    std::string cmd = program + " " + args + " </dev/null >/dev/null 2>" + errFile;
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

// One run of the program on bad or unusual input: its arguments and expected message, with {good},
// {bad}, {unknown}, {badDisplay}, {shot}, {badShot} (scene files written for the run), {out} and
// {plugin} filled in; its exit status, and whether it leaves an output.
struct ExitCase {
    const char *what;
    const char *args;
    int status;
    bool output;
    const char *message;
};

// Replaces each {name} in `text` with its file, writing the scene files into the test's folder.
std::string expand(std::string text) {
    const std::string out = ::testing::TempDir() + "/velmora_cli_out.png";
    const std::pair<const char *, std::string> names[] = {
        {"{good}", writeFile("velmora_good.json", kTiny)},
        {"{bad}", writeFile("velmora_bad.json", "{\"items\": [}")},
        {"{unknown}", writeFile("velmora_unknown.json", std::string(kTiny).replace(1, 0, "\"colour\": 1, "))},
        {"{badDisplay}",
         writeFile("velmora_bad_display.json", std::string(kTiny).replace(12, 0, "\"display\": \"log\", "))},
        {"{shot}", writeFile("velmora_shot.LWS", "LWSC\n3\nAddCamera\nFrameSize 8 6\n")},
        {"{badShot}", writeFile("velmora_bad.lws",
                                "LWSC\n3\nAddCamera\nCameraMotion\nNumChannels 1\nChannel 0\n{ Envelope\n"
                                "  1\n  Key 0 0\n}\n")},
        {"{overlayShader}",
         writeFile("velmora_overlay_shader.json",
                   R"({"surfaces": [{"name": "Default", "shaders": [{"server": "QZ_none"}]}]})")},
        {"{overlaySettings}",
         writeFile(
             "velmora_overlay_settings.json",
             R"({"surfaces": [{"name": "Default", "shaders": [{"server": "QZ_record", "settings": {"a": 1}}]}]})")},
        {"{overlayTexture}",
         writeFile("velmora_overlay_texture.json",
                   R"({"surfaces": [{"name": "Default", "textures": {"color": {"layers": [)"
                   R"({"type": "gradient", "input": "Nowhere", "keys": [[0, [1, 1, 1]]]}]}}}]})")},
        {"{out}", out},
        {"{plugin}", kPlugin},
    };
    for (const auto &[name, value] : names)
        for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + value.size()))
            text.replace(at, std::strlen(name), value);
    return text;
}

const ExitCase kExitCases[] = {
    {"help", "--help", 0, false, ""},
    {"version", "--version", 0, false, ""},
    {"unknown option", "--bogus", 2, false, ""},
    {"syntax error", "{bad} -o {out}", 2, false, "{bad}: line 1, column 12"},
    {"unknown field", "{unknown} -o {out}", 2, false, "{unknown}: /colour: unknown field"},
    {"missing scene", "/nonexistent.json -o {out}", 2, false, "/nonexistent.json: cannot open"},
    {"bad output kind", "{good} -o out.gif", 2, false, "must end in .png, .exr"},
    {"frame and frames", "{good} --frame 1 --frames 1-2 -o {out}", 2, false, ""},
    {"pixel outside", "{good} --plugin {plugin} --pixel 99,0", 2, false, "outside"},
    {"missing plug-in", "{good} --plugin /nonexistent.so -o {out}", 2, false,
     "/nonexistent.so: the shader plug-in cannot be read: No such file or directory"},
    {"plug-in not a file", "{good} --plugin / -o {out}", 2, false, "/: the shader plug-in cannot be read"},
    {"host shading without plug-in", "{good} --host-shading --plugin /nonexistent.so -q -o {out}", 0, true, ""},
    {"with the test plug-in", "{good} --plugin {plugin} -q -o {out}", 0, true, ""},
    {"one pixel writes no image", "{good} --plugin {plugin} --pixel 4,3 -o {out}", 0, false, ""},
    {"pixel not X,Y", "{good} --pixel 4 -o {out}", 2, false, "--pixel wants X,Y"},
    {"frames backwards", "{good} --frames 5-2 -o {out}", 2, false, "--frames wants A-B"},
    {"host scene file", "{shot} --host-shading -q -o {out}", 0, true, ""},
    {"host scene file, bad key", "{badShot} -o {out}", 2, false, "{badShot}, line 9: \"  Key 0 0\": a key"},
    {"host scene file saved", "{shot} --save {out}.json", 2, false, "is not written back"},
    {"missing overlay", "{good} --overlay /nonexistent.json -o {out}", 2, false, "/nonexistent.json"},
    {"empty overlay", "{good} --overlay '' -o {out}", 2, false, "--overlay needs a value, not an empty one"},
    {"empty preset", "{good} --preset '' -o {out}", 2, false, "--preset needs a value, not an empty one"},
    {"empty scene name", "'' -o {out}", 2, false, "the scene file needs a value, not an empty one"},
    {"unknown preset", "{good} --preset nope -o {out}", 2, false, "the presets are: dark_skin, light_skin"},
    {"display of a float output", "{good} --display film -o {out}.pfm", 2, false, "--display applies"},
    {"unknown display", "{good} --display log -o {out}", 2, false, "--display"},
    {"exposure out of range", "{good} --exposure 21 -o {out}", 2, false, "--exposure"},
    {"scene's display unknown", "{badDisplay} -o {out}", 2, false, "{badDisplay}: /render/display"},
    // What an overlay gives is refused in the overlay, also when it is checked only at render.
    {"overlay's unknown shader", "{shot} --plugin {plugin} --overlay {overlayShader} -o {out}", 2, false,
     "{overlayShader}: /surfaces/0/shaders/0/server: "},
    {"overlay's settings", "{shot} --plugin {plugin} --overlay {overlaySettings} -o {out}", 2, false,
     "{overlaySettings}: /surfaces/0/shaders/0/settings: shader \"QZ_record\" has no options panel"},
    {"overlay's texture", "{shot} --plugin {plugin} --overlay {overlayTexture} -o {out}", 2, false,
     "{overlayTexture}: /surfaces/0/textures/color/layers/0/input: unknown gradient input \"Nowhere\""},
};

// A test name from a case's description: its letters and digits, the rest as underscores.
std::string caseName(const char *what) {
    std::string n;
    for (const char *c = what; *c; ++c) n += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return n;
}

class ExitCodes : public ::testing::TestWithParam<ExitCase> {};

TEST_P(ExitCodes, AndNoOutputOnBadInput) {
    const ExitCase &c = GetParam();
    const std::string out = expand("{out}");
    std::remove(out.c_str());
    Outcome r = run(expand(c.args));
    EXPECT_EQ(r.status, c.status) << c.what << ": " << r.err;
    EXPECT_EQ(exists(out), c.output) << c.what;
    const std::string message = expand(c.message);
    if (!message.empty()) {
        EXPECT_NE(r.err.find(message), std::string::npos) << c.what << ": " << r.err;
    }
}

INSTANTIATE_TEST_SUITE_P(Cli, ExitCodes, ::testing::ValuesIn(kExitCases),
                         [](const auto &info) { return caseName(info.param.what); });

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

// Outputs that cannot be written, or that are the scene's own files, are refused before anything
// is rendered; frames at the ends of int's range render and are numbered.
TEST(Cli, OutputsCheckedBeforeRendering) {
    std::string dir = ::testing::TempDir() + "/velmora_cli_outputs_" + std::to_string(::getpid());
    std::system(("rm -rf " + dir + " && mkdir -p " + dir).c_str());
    std::string good = writeFile("velmora_good.json", kTiny);
    std::string full = dir + "/full.png";
    ASSERT_EQ(::symlink("/dev/full", full.c_str()), 0);
    std::string sceneCopy = dir + "/scene.json";
    std::ofstream(sceneCopy) << kTiny;
    std::string alias = dir + "/alias.png";
    ASSERT_EQ(::symlink(sceneCopy.c_str(), alias.c_str()), 0);
    std::string quiet = " --host-shading -q ";
    struct Case {
        const char *what;
        std::string args, message;
    } cases[] = {
        {"full disk", good + quiet + "-o " + full, "full.png"},
        {"missing folder", good + quiet + "-o " + dir + "/none/out.png", "does not exist"},
        {"numbered frame into a folder", good + quiet + "--frames 1-2 -o " + dir + "/f.png", "f_0002.png"},
        {"the scene itself", sceneCopy + quiet + "-o " + alias, "the scene is read from"},
        {"save over the scene", sceneCopy + " --save " + sceneCopy, "the scene is read from"},
        {"save to a full disk", good + " --save " + dir + "/full.png", "full.png"},
        {"a name with no room for its temporary",
         good + quiet + "-o " + dir + "/" + std::string(240, 'n') + ".png",
         "the file name is too long: 244 bytes, and the temporary file it is written through adds 18"},
        {"more memory than there is",
         good + quiet + "--width 16384 --height 16384 --sweep Ksub=" +
             [] {
                 std::string v = "0";
                 for (int i = 1; i < 64; ++i) v += "," + std::to_string(i);
                 return v;
             }() +
             " -o " + dir + "/sheet.png",
         "of memory"},
    };
    ::mkdir((dir + "/f_0002.png").c_str(), 0700);
    for (const Case &c : cases) {
        Outcome r = run(c.args);
        EXPECT_EQ(r.status, 2) << c.what << ": " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << ": " << r.err;
        EXPECT_FALSE(exists(dir + "/f_0001.png")) << c.what;
        EXPECT_FALSE(exists(dir + "/sheet.png")) << c.what;
    }
    std::ifstream in(sceneCopy);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), kTiny);
    // The preset being applied is one of the scene's files too (a copy, in a presets folder here).
    const std::string presets = dir + "/presets", wax = presets + "/wax.json";
    ASSERT_EQ(std::system(("mkdir -p " + presets + " && cp " VELMORA_SOURCE_PRESETS "/wax.json " + wax).c_str()),
              0);
    std::ifstream waxIn(wax);
    const std::string waxText{std::istreambuf_iterator<char>(waxIn), std::istreambuf_iterator<char>()};
    Outcome r = run(good + " --preset wax --save " + wax, "VELMORA_PRESETS=" + presets + " " + kProgram);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("wax.json: is a file the scene is read from"), std::string::npos) << r.err;
    std::ifstream waxAfter(wax);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(waxAfter), std::istreambuf_iterator<char>()), waxText);
    std::system(("rm -rf " + dir).c_str());
}

// A copy of the program moved out of its build, with nothing beside it or in its installed
// folders, refuses what needs a missing companion before rendering, saying what it looked for
// and where; what needs none still works.
// A child of the program with `args`, its standard output through a pipe (its standard error to
// `errFile`); the pid, and the pipe's reading end in `out`.
pid_t spawn(const std::vector<std::string> &args, const std::string &errFile, int &out) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(err, 2);
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(kProgram.c_str()));
        for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(kProgram.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    out = fds[0];
    return pid;
}

std::string slurp(const std::string &path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A render stopped by SIGTERM or SIGINT while it writes its output leaves no temporary file and
// no output: a large float EXR takes seconds to write, and the signal comes once its temporary
// file appears.
TEST(Cli, SignalDuringAWriteLeavesNoTemporaryFile) {
    const std::string dir = ::testing::TempDir() + "/velmora_cli_signal_" + std::to_string(::getpid());
    const std::string shot = writeFile("velmora_signal_shot.lws", "LWSC\n3\nAddCamera\n");
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        std::system(("rm -rf " + dir + " && mkdir -p " + dir).c_str());
        int out = -1;
        pid_t pid = spawn({shot, "--host-shading", "-q", "--width", "4096", "--height", "4096", "--exr-type",
                           "float", "-o", dir + "/big.exr"},
                          dir + "/../velmora_signal_err.txt", out);
        ASSERT_GT(pid, 0);
        auto listing = [&] {
            std::vector<std::string> names;
            if (DIR *d = ::opendir(dir.c_str())) {
                while (dirent *e = ::readdir(d))
                    if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
                ::closedir(d);
            }
            return names;
        };
        bool writing = false;
        int status = 0;
        for (int k = 0; k < 60000 && !writing; ++k) {
            writing = !listing().empty();
            if (!writing && ::waitpid(pid, &status, WNOHANG) == pid) break;
            if (!writing) ::usleep(1000);
        }
        ASSERT_TRUE(writing) << "the output's temporary file never appeared";
        ::kill(pid, sig);
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ::close(out);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "status " << status;
        std::vector<std::string> left = listing();
        EXPECT_TRUE(left.empty()) << left.front();
    }
    std::system(("rm -rf " + dir).c_str());
}

// The look-development server started from the command line stops cleanly on SIGINT.
TEST(Cli, ServerStopsCleanlyOnSigint) {
    const std::string err = ::testing::TempDir() + "/velmora_cli_serve_err_" + std::to_string(::getpid()) + ".txt";
    int out = -1;
    pid_t pid =
        spawn({writeFile("velmora_good.json", kTiny), "--plugin", kPlugin, "--serve", "--port", "0"}, err, out);
    ASSERT_GT(pid, 0);
    std::string line;
    char c;
    while (line.find('\n') == std::string::npos && ::read(out, &c, 1) == 1) line += c;
    ASSERT_NE(line.find("serving http://127.0.0.1:"), std::string::npos) << line << slurp(err);
    ::kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ::close(out);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status << ": " << slurp(err);
    EXPECT_NE(slurp(err).find("velmora-render: stopped"), std::string::npos) << slurp(err);
    std::remove(err.c_str());
}

TEST(Cli, MovedProgramNamesWhatItMisses) {
    const std::string moved = "velmora_cli_moved_" + std::to_string(::getpid());
    const std::string dir = ::testing::TempDir() + "/" + moved, copy = dir + "/velmora-render";
    const std::string good = writeFile("velmora_good.json", kTiny), quiet = " --host-shading -q -o " + dir;
    ASSERT_EQ(std::system(("rm -rf " + dir + " && mkdir -p " + dir + " && cp " + kProgram + " " + copy).c_str()),
              0);
    const std::string where = moved + ", ", installed = moved + "/../lib/velmora";
    struct Case {
        std::string args, output;
        int status;
        std::vector<std::string> messages;
    } cases[] = {
        {good + quiet + "/out.png",
         "out.png",
         2,
         {"out.png: cannot be written: the image codecs library libvelmora-codecs.so is in none of ", where,
          installed}},
        {good + " -q -o " + dir + "/out.pfm",
         "out.pfm",
         2,
         {"velmora.so: no readable shader plug-in in ", where, installed, "--host-shading"}},
        {good + " --preset light_skin" + quiet + "/out.pfm",
         "out.pfm",
         2,
         {"no presets folder: looked for presets/ in ", where, moved + "/../share/velmora"}},
        {good + quiet + "/out.pfm", "out.pfm", 0, {}},
    };
    for (const Case &c : cases) {
        Outcome r = run(c.args, copy);
        EXPECT_EQ(r.status, c.status) << c.args << ": " << r.err;
        for (const std::string &m : c.messages) EXPECT_NE(r.err.find(m), std::string::npos) << m << ": " << r.err;
        EXPECT_EQ(exists(dir + "/" + c.output), c.status == 0) << c.args;
    }
    std::system(("rm -rf " + dir).c_str());
}

// --version names the build and the libraries the program runs with.
TEST(Cli, VersionNamesTheBuildAndItsLibraries) {
    std::FILE *out = ::popen((kProgram + " --version").c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string text;
    for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
    EXPECT_EQ(::pclose(out), 0);
    for (const char *part : {"velmora-render ", " (commit ", ")\nEmbree 3.", ", OpenImageIO 2.", ", assimp 5."})
        EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
}

// Frame numbers at both ends of their range name their outputs in full.
TEST(Cli, FramesAtTheEndsOfTheRange) {
    const std::string dir = ::testing::TempDir(), quiet = " --host-shading -q ";
    std::string good = writeFile("velmora_good.json", kTiny);
    Outcome last = run(good + quiet + "--frame 2147483647 -o " + dir + "/last.png");
    EXPECT_EQ(last.status, 0) << last.err;
    EXPECT_TRUE(exists(dir + "/last.png"));
    Outcome ends = run(good + quiet + "--frames 2147483646-2147483647 -o " + dir + "/end.pfm");
    EXPECT_EQ(ends.status, 0) << ends.err;
    EXPECT_TRUE(exists(dir + "/end_2147483646.pfm"));
    EXPECT_TRUE(exists(dir + "/end_2147483647.pfm"));
    Outcome starts = run(good + quiet + "--frames -2147483648--2147483647 -o " + dir + "/start.pfm");
    EXPECT_EQ(starts.status, 0) << starts.err;
    EXPECT_TRUE(exists(dir + "/start_-2147483648.pfm"));
}

// A saved scene names its files by absolute path; a folder whose name is not UTF-8 cannot be
// written into a scene file, so --save refuses rather than write one that cannot be loaded.
TEST(Cli, SaveRefusesFileNamesThatAreNotUtf8) {
    std::string dir = ::testing::TempDir() + "/velmora_cli_\xff\xfe_" + std::to_string(::getpid());
    std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
    std::ofstream(dir + "/tri.obj") << "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    std::string scene = dir + "/scene.json";
    std::ofstream(scene) << R"({"items": [{"type": "camera", "name": "c"},
        {"type": "object", "name": "o", "mesh": {"file": "tri.obj"}}]})";
    std::string saved = ::testing::TempDir() + "/velmora_cli_saved.json";
    std::remove(saved.c_str());
    Outcome r = run("'" + scene + "' --plugin " + kPlugin + " --save " + saved);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("/items/1/mesh/file"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("UTF-8"), std::string::npos) << r.err;
    EXPECT_FALSE(exists(saved));
    std::system(("rm -rf '" + dir + "'").c_str());
}

// Odd argument lists are refused with one message and status 2, never a crash.
class OddArguments : public ::testing::TestWithParam<const char *> {};

TEST_P(OddArguments, Refused) {
    std::string good = writeFile("velmora_good.json", kTiny);
    const char *args = GetParam();
    Outcome r = run(good + " -q " + args);
    EXPECT_EQ(r.status, 2) << args << ": " << r.err;
    EXPECT_NE(r.err.find("velmora-render: "), std::string::npos) << args << ": " << r.err;
}

INSTANTIATE_TEST_SUITE_P(Cli, OddArguments,
                         ::testing::Values("--frames 99999999999-1", "--frames 1-99999999999", "--frames -",
                                           "--frames 1-2-3", "--pixel ,", "--pixel 1,99999999999", "--sweep =",
                                           "--sweep Ksub=1,,2", "--ray-cutoff nan", "--ray-cutoff 2", "--width 0",
                                           "--frame 2147483648", "--threads -1", "-o", "--state-format binary"),
                         [](const auto &info) { return caseName(info.param); });

// EXR outputs: half floats unless --exr-type float, channel A, and the render's settings in the
// header; --exr-type suits only .exr outputs.
TEST(Cli, ExrTypeAndHeader) {
    std::string good = writeFile("velmora_good.json", kTiny);
    std::string out = ::testing::TempDir() + "/velmora_cli_header.EXR";
    struct Case {
        std::string args;
        OIIO::TypeDesc type;
    } cases[] = {{"", OIIO::TypeDesc::HALF},
                 {"--exr-type half", OIIO::TypeDesc::HALF},
                 {"--exr-type float", OIIO::TypeDesc::FLOAT}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args);
        Outcome r =
            run(good + " --host-shading -q --frame 3 --samples 2 --ray-cutoff 0.5 " + c.args + " -o " + out);
        ASSERT_EQ(r.status, 0) << r.err;
        auto in = OIIO::ImageInput::open(out);
        ASSERT_TRUE(in) << OIIO::geterror();
        const OIIO::ImageSpec &spec = in->spec();
        EXPECT_EQ(spec.format, c.type);
        EXPECT_EQ(spec.nchannels, 4);
        EXPECT_EQ(spec.alpha_channel, 3);
        EXPECT_EQ(spec.get_string_attribute("velmora:scene"), good);
        EXPECT_EQ(spec.get_int_attribute("velmora:frame"), 3);
        EXPECT_EQ(spec.get_int_attribute("velmora:samples"), 2);
        EXPECT_EQ(spec.get_float_attribute("velmora:ray_cutoff"), 0.5f);
        EXPECT_EQ(spec.get_string_attribute("velmora:resolution"), "8x6");
        EXPECT_EQ(spec.get_string_attribute("velmora:shading"), "host");
        EXPECT_EQ(spec.get_string_attribute("velmora:camera"), "cam");
        EXPECT_EQ(std::string(spec.get_string_attribute("Software")).rfind("velmora-render ", 0), 0u);
    }
    std::remove(out.c_str());
    for (const char *args : {"--exr-type float -o x.png", "--exr-type double -o x.exr"}) {
        Outcome r = run(good + " --host-shading -q " + args);
        EXPECT_EQ(r.status, 2) << args << ": " << r.err;
        EXPECT_NE(r.err.find("--exr-type"), std::string::npos) << args << ": " << r.err;
    }
}

// Reads a PFM file's values (bottom row first); empty when it cannot.
std::vector<float> pfmValues(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int w = 0, h = 0;
    double scale = 0;
    in >> magic >> w >> h >> scale;
    in.get();
    std::vector<float> v(static_cast<size_t>(w) * h * 3);
    in.read(reinterpret_cast<char *>(v.data()), static_cast<std::streamsize>(v.size() * sizeof(float)));
    return in && magic == "PF" ? v : std::vector<float>();
}

// Exposure scales float outputs exactly (the command line's replacing the scene's); the film
// curve shapes only the PNG, after the exposure.
TEST(Cli, ExposureAndDisplay) {
    std::string plain = writeFile("velmora_expose0.json", kTiny);
    std::string bright = writeFile("velmora_expose1.json", std::string(kTiny).replace(12, 0, "\"exposure\": 1, "));
    std::string pfm = ::testing::TempDir() + "/velmora_cli_expose.pfm";
    std::string png = ::testing::TempDir() + "/velmora_cli_expose.png";
    auto render = [&](const std::string &args, const std::string &out) {
        Outcome r = run("--host-shading -q " + args + " -o " + out);
        EXPECT_EQ(r.status, 0) << args << ": " << r.err;
    };
    render(plain, pfm);
    std::vector<float> base = pfmValues(pfm);
    ASSERT_FALSE(base.empty());
    for (const std::string &args : {plain + " --exposure 1", bright, bright + " --exposure 1"}) {
        render(args, pfm);
        std::vector<float> got = pfmValues(pfm);
        ASSERT_EQ(got.size(), base.size()) << args;
        for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], 2 * base[i]) << args << " value " << i;
    }
    render(bright + " --exposure 0", pfm);
    EXPECT_EQ(pfmValues(pfm), base) << "--exposure 0 replaces the scene's";

    render(bright + " --display film", png);
    host::image::Image film;
    std::string why;
    ASSERT_TRUE(host::image::loadImage(png, film, why) && film.decode(why)) << why;
    ASSERT_EQ(film.rgb.size(), base.size());
    const int w = film.width, h = film.height;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                double want =
                    host::image::linearToSrgb(host::image::filmCurve(2 * base[((h - 1 - y) * w + x) * 3 + c]));
                double got = host::image::linearToSrgb(film.rgb[(y * w + x) * 3 + c]);
                ASSERT_NEAR(got, want, 0.5 / 255 + 1e-6) << x << "," << y;
            }
    std::remove(pfm.c_str());
    std::remove(png.c_str());
}

// A sweep's cells are labelled with the setting and value: cell 0 of a sheet differs from the
// same frame rendered alone only in its top left corner.
TEST(Cli, SweepCellsLabelled) {
    std::string good = writeFile("velmora_good.json", kTiny);
    std::string single = ::testing::TempDir() + "/velmora_cli_single.pfm";
    std::string sheet = ::testing::TempDir() + "/velmora_cli_sheet.pfm";
    std::string size = " --host-shading -q --width 160 --height 120 ";
    ASSERT_EQ(run(good + size + "-o " + single).status, 0);
    Outcome r = run(good + size + "--sweep Ksub=0,1 -o " + sheet);
    ASSERT_EQ(r.status, 0) << r.err;
    host::image::Image one, two;
    std::string why;
    ASSERT_TRUE(host::image::loadImage(single, one, why) && one.decode(why)) << why;
    ASSERT_TRUE(host::image::loadImage(sheet, two, why) && two.decode(why)) << why;
    ASSERT_EQ(two.width, 2 * one.width);
    int changed = 0, outside = 0;
    for (int y = 0; y < one.height; ++y)
        for (int x = 0; x < one.width; ++x)
            if (one.pixel(x, y)[0] != two.pixel(x, y)[0]) {
                ++changed;
                outside += x > one.width / 2 || y > one.height / 4;
            }
    EXPECT_GT(changed, 20) << "no label drawn";
    EXPECT_EQ(outside, 0) << "pixels changed beyond the label's corner";
    std::remove(single.c_str());
    std::remove(sheet.c_str());
}

// Before a render: the memory estimate, and a warning for a light asking many shadow rays per
// spot; after it, the summary with the count of non-finite samples. --quiet prints none of them.
TEST(Cli, EstimateWarningsAndSummary) {
    std::string scene = writeFile(
        "velmora_soft.json",
        std::string(kTiny).replace(
            std::string(kTiny).find(R"("position": [0, 3, -3]})"), 23,
            R"("position": [0, 3, -3], "tags": ["QZ_lightParam: areashadow = 1", "QZ_lightParam: areashadow_sample = 32"]})"));
    std::string out = ::testing::TempDir() + "/velmora_cli_soft.png";
    Outcome loud = run(scene + " --host-shading -o " + out);
    ASSERT_EQ(loud.status, 0) << loud.err;
    EXPECT_NE(loud.err.find("needs about"), std::string::npos) << loud.err;
    EXPECT_NE(loud.err.find("warning: light \"l\" asks for 1024 shadow rays per spot"), std::string::npos)
        << loud.err;
    EXPECT_NE(loud.err.find("0 samples not finite"), std::string::npos) << loud.err;
    Outcome quiet = run(scene + " --host-shading -q -o " + out);
    ASSERT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_EQ(quiet.err, "");
    std::remove(out.c_str());
}

}  // namespace
