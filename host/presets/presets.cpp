#include "host/presets/presets.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/util/paths.h"

namespace host::presets {

namespace {

namespace fs = std::filesystem;

// One preset file; empty `error` on success.
Preset readPreset(const fs::path &file, std::string &error) {
    Preset p;
    const std::string where = file.string();
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) {
        error = where + ": cannot be read";
        return p;
    }
    nlohmann::json j = nlohmann::json::parse(text.str(), nullptr, false);
    if (j.is_discarded()) {
        error = where + ": not valid JSON";
        return p;
    }
    if (!j.is_object()) {
        error = where + ": /: a preset is a JSON object";
        return p;
    }
    for (const char *key : {"name", "source"})
        if (!j.contains(key) || !j[key].is_string() || j[key].get<std::string>().empty()) {
            error = where + ": /" + key + ": wants a non-empty string";
            return p;
        }
    if (!j.contains("settings") || !j["settings"].is_object() || j["settings"].empty()) {
        error = where + ": /settings: wants an object of shader settings by data name";
        return p;
    }
    for (auto it = j.begin(); it != j.end(); ++it)
        if (it.key() != "name" && it.key() != "source" && it.key() != "settings") {
            error = where + ": /" + it.key() + ": unknown field";
            return p;
        }
    p.name = j["name"].get<std::string>();
    if (p.name != file.stem().string()) {
        error = where + ": /name: \"" + p.name + "\" differs from the file's name";
        return p;
    }
    p.source = j["source"].get<std::string>();
    p.settings = j["settings"];
    return p;
}

}  // namespace

std::string presetsFolder() {
    if (const char *env = std::getenv("VELMORA_PRESETS"); env && *env) return env;
    std::error_code ec;
    for (const std::string &folder : util::companionFolders(util::Companion::Data))
        if (fs::is_directory(folder + "/presets", ec)) return folder + "/presets";
    return {};
}

std::vector<Preset> loadPresets(std::string &error) {
    const std::string folder = presetsFolder();
    if (folder.empty()) {
        error = "no presets folder: looked for presets/ in " +
                util::folderList(util::companionFolders(util::Companion::Data));
        return {};
    }
    return loadPresets(folder, error);
}

std::vector<Preset> loadPresets(const std::string &folder, std::string &error) {
    error.clear();
    std::error_code ec;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().extension() == ".json") files.push_back(it->path());
    if (ec) {
        error = folder + ": cannot list the presets folder: " + ec.message();
        return {};
    }
    std::sort(files.begin(), files.end());
    std::vector<Preset> out;
    for (const fs::path &f : files) {
        Preset p = readPreset(f, error);
        if (!error.empty()) return {};
        out.push_back(std::move(p));
    }
    return out;
}

const Preset *findPreset(const std::vector<Preset> &presets, const std::string &name) {
    for (const Preset &p : presets)
        if (p.name == name) return &p;
    return nullptr;
}

std::string presetNames(const std::vector<Preset> &presets) {
    std::string out;
    for (const Preset &p : presets) out += (out.empty() ? "" : ", ") + p.name;
    return out;
}

}  // namespace host::presets
