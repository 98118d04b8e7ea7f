// SPDX-License-Identifier: Apache-2.0
// The shipped presets: every one reads, names its source and applies through the skin shader's
// panel without a refusal; bad preset files are refused naming the file and the place.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "host/presets/presets.h"

namespace {

const std::string kProgram = VELMORA_RENDER_PROGRAM;
const std::string kSkin = VELMORA_SKIN_PLUGIN;
const std::string kShipped = VELMORA_SOURCE_PRESETS;

TEST(Presets, ShippedLooksApplyToEverySkinInstance) {
    std::string error;
    std::vector<host::presets::Preset> presets = host::presets::loadPresets(kShipped, error);
    ASSERT_TRUE(error.empty()) << error;
    EXPECT_EQ(host::presets::presetNames(presets), "dark_skin, light_skin, marble, medium_skin, wax");
    std::string out = ::testing::TempDir() + "/velmora_presets_" + std::to_string(::getpid()) + ".txt";
    for (const host::presets::Preset &p : presets) {
        SCOPED_TRACE(p.name);
        EXPECT_EQ(host::presets::findPreset(presets, p.name), &p);
        EXPECT_GT(p.source.size(), 20u);
        EXPECT_EQ(p.settings.size(), 13u) << "every setting of the panel";
        // The default scene's skin, described after the preset: its colour is the preset's.
        std::string cmd = "VELMORA_PRESETS=" + kShipped + " " + kProgram + " --plugin " + kSkin +
                          " --describe-panel --preset " + p.name + " >" + out + " 2>&1";
        int raw = std::system(cmd.c_str());
        std::ifstream in(out);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << text;
        const nlohmann::json &c = p.settings["skin_color"];
        char want[96];
        std::snprintf(want, sizeof want, "\"Skin color:\" color-env = %g %g %g", c[0].get<double>(),
                      c[1].get<double>(), c[2].get<double>());
        EXPECT_NE(text.find(want), std::string::npos) << want << "\n" << text;
    }
    std::remove(out.c_str());
    EXPECT_EQ(host::presets::findPreset(presets, "nope"), nullptr);
}

// A value the shader refuses is named in the preset's file, at its setting.
TEST(Presets, BadValueRefusedInThePresetFile) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(::testing::TempDir()) / ("velmora_value_presets_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "waxy.json") << R"({"name": "waxy", "source": "a test", "settings": {"Ksub": 50}})";
    std::string err = (dir / "err.txt").string();
    std::string cmd = "VELMORA_PRESETS=" + dir.string() + " " + kProgram + " --plugin " + kSkin +
                      " --describe-panel --preset waxy >/dev/null 2>" + err;
    int raw = std::system(cmd.c_str());
    std::ifstream in(err);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 2) << text;
    EXPECT_EQ(text, "velmora-render: " + (dir / "waxy.json").string() +
                        ": /settings/Ksub: value 50 is out of range [0, 10]\n");
    fs::remove_all(dir);
}

TEST(Presets, BadFilesRefusedNamingFileAndPlace) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(::testing::TempDir()) / ("velmora_bad_presets_" + std::to_string(::getpid()));
    enum Kind { File, Fifo, Folder, Device };
    const std::string deep = std::string(1000000, '[');
    struct Case {
        const char *file, *text, *message;
        Kind kind = File;
    } cases[] = {
        {"a.json", "{", "a.json: not valid JSON"},
        {"a.json", deep.c_str(), "a.json: byte 129: arrays and objects nest deeper than 128 levels"},
        {"fifo.json", "", "fifo.json: is a pipe, not a regular file", Fifo},
        {"sub.json", "", "sub.json: is a folder, not a file", Folder},
        {"zero.json", "", "zero.json: is a device", Device},
        {"a.json", R"({"name": "a", "settings": {"Ksub": 1}})", "a.json: /source: wants a non-empty string"},
        {"a.json", R"({"name": "b", "source": "x", "settings": {"Ksub": 1}})", "a.json: /name: \"b\" differs"},
        {"a.json", R"({"name": "a", "source": "x", "settings": [1]})", "a.json: /settings: wants an object"},
        {"a.json", R"({"name": "a", "source": "x", "settings": {"Ksub": 1}, "extra": 1})", "a.json: /extra"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        fs::remove_all(dir);
        fs::create_directories(dir);
        if (c.kind == File) std::ofstream(dir / c.file) << c.text;
        if (c.kind == Fifo) {
            ASSERT_EQ(::mkfifo((dir / c.file).c_str(), 0600), 0);
        }
        if (c.kind == Folder) fs::create_directory(dir / c.file);
        if (c.kind == Device) fs::create_symlink("/dev/zero", dir / c.file);
        std::string error;
        EXPECT_TRUE(host::presets::loadPresets(dir.string(), error).empty());
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
    fs::remove_all(dir);
    std::string error;
    EXPECT_TRUE(host::presets::loadPresets(dir.string(), error).empty());
    EXPECT_NE(error.find("cannot list"), std::string::npos) << error;
}

}  // namespace
