// SPDX-License-Identifier: Apache-2.0
// Fuzzes overlays and presets. An input starting with 'p' is the rest taken as a preset file
// (presets/p.json), read with the folder's other presets and its settings read as a scene's; any
// other input is an overlay file applied to a small JSON scene and to a small host scene. Each
// must end in a refusal that names its file and stays short, or in a scene the renderer can take
// (for an overlay: its camera, surfaces and render options sound) and settings that can be read.
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/presets/presets.h"
#include "host/scene/loader.h"
#include "host/scene/lws_scene.h"

namespace {

const char kJsonScene[] = R"({"surfaces": [{"name": "Skin", "color": [1, 0.5, 0.5]}],
  "items": [{"type": "camera", "name": "cam", "position": [0, 0, -5]},
            {"type": "light", "name": "key", "position": [0, 3, -3]},
            {"type": "object", "name": "ball", "mesh": {"primitive": "box", "surface": "Skin"}}]})";
const char kHostScene[] = "LWSC\n3\nAddNullObject ball\nAddLight\nLightName key\nAddCamera\n";

std::string folder;

void write(const std::string &path, const uint8_t *data, size_t size) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
}

bool named(const std::string &error, const std::string &file) {
    return error.compare(0, file.size(), file) == 0 && error.size() <= 1024 + file.size();
}

void check(const host::scene::Scene &scene) {
    if (!scene.camera || scene.surfaces.empty()) std::abort();
    const host::scene::RenderOptions &r = scene.render;
    if (r.width < 1 || r.height < 1 || r.samples < 1 || !std::isfinite(r.exposure)) std::abort();
    // What an overlay gives keeps its file, for refusals when the shaders are made.
    for (const auto &s : scene.surfaces)
        for (const host::scene::ShaderRef &ref : s->shaders)
            if (ref.givenIn.empty() != ref.givenAt.empty()) std::abort();
}

void overlay(const std::string &file, host::scene::LoadResult loaded) {
    if (!loaded.scene) std::abort();
    std::string error;
    if (host::scene::applyOverlay(*loaded.scene, file, error)) {
        if (!error.empty()) std::abort();
        check(*loaded.scene);
    } else if (!named(error, file)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    setenv("VELMORA_MEMORY_LIMIT", "1G", 1);
    char pattern[] = "/tmp/velmora-fuzz-overlay-XXXXXX";
    if (!::mkdtemp(pattern)) std::abort();
    folder = pattern;
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    });
    if (::mkdir((folder + "/presets").c_str(), 0700) != 0) std::abort();
    // A sound preset beside the fuzzed one, read with it.
    std::ofstream(folder + "/presets/a.json") << R"({"name": "a", "source": "s", "settings": {"Ksub": 0.5}})";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 0 && data[0] == 'p') {
        const std::string file = folder + "/presets/p.json";
        write(file, data + 1, size - 1);
        std::string error;
        std::vector<host::presets::Preset> presets = host::presets::loadPresets(folder + "/presets", error);
        if (!error.empty()) {
            if (!presets.empty() || !named(error, file)) std::abort();
            return 0;
        }
        const host::presets::Preset *p = host::presets::findPreset(presets, "p");
        if (presets.size() != 2 || !p || !p->settings.is_object()) std::abort();
        host::scene::LoadResult scene = host::scene::loadSceneText(kJsonScene, "scene.json", folder);
        if (!scene.scene) std::abort();
        // Read as the command line reads them; values the shader refuses are found when applied.
        if (host::scene::readSettings(p->settings, *scene.scene).size() != p->settings.size()) std::abort();
        return 0;
    }
    const std::string file = folder + "/overlay.json";
    write(file, data, size);
    overlay(file, host::scene::loadSceneText(kJsonScene, "scene.json", folder));
    overlay(file, host::scene::loadLwsText(kHostScene, "shot.lws", folder));
    return 0;
}
