// SPDX-License-Identifier: Apache-2.0
#include "host/presets/presets.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/io/file_io.h"
#include "host/util/diagnostic.h"
#include "host/util/text.h"
#include "host/util/paths.h"

namespace host::presets {

namespace {

namespace fs = std::filesystem;

constexpr uint64_t kMaxPresetBytes = 1u << 20;
constexpr int kMaxNesting = 128;

// One preset file; an empty `error` on success.
Preset readPreset(const fs::path &file, util::Diagnostic &error) {
    Preset p;
    const std::string where = file.string();
    auto refuse = [&](const std::string &path, const std::string &message) {
        error = path.empty() ? util::Diagnostic::at(util::FileLoc::ofFile(where), message)
                             : util::Diagnostic::at(util::FileLoc::atPath(where, path), message);
        return p;
    };
    // Read as scene files are: a regular file within a cap (never blocking on a FIFO or reading a
    // device without end), and nested no deeper than scene files may be.
    std::string text, why;
    if (!io::readFile(where, kMaxPresetBytes, "preset file", text, why)) return refuse("", why);
    if (size_t at = util::jsonNestingPast(text, kMaxNesting)) return refuse("", "byte " + std::to_string(at) + ": arrays and objects nest deeper than " +
                                                         std::to_string(kMaxNesting) + " levels");
    nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    if (j.is_discarded()) return refuse("", "not valid JSON");
    if (!j.is_object()) return refuse("/", "a preset is a JSON object");
    for (const char *key : {"name", "source"})
        if (!j.contains(key) || !j[key].is_string() || j[key].get<std::string>().empty())
            return refuse(std::string("/") + key, "wants a non-empty string");
    if (!j.contains("settings") || !j["settings"].is_object() || j["settings"].empty())
        return refuse("/settings", "wants an object of shader settings by data name");
    for (auto it = j.begin(); it != j.end(); ++it)
        if (it.key() != "name" && it.key() != "source" && it.key() != "settings")
            return refuse("/" + it.key(), "unknown field");
    p.name = j["name"].get<std::string>();
    if (p.name != file.stem().string()) return refuse("/name", "\"" + p.name + "\" differs from the file's name");
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
        error =
            util::Diagnostic::at(util::FileLoc::ofFile(folder), "cannot list the presets folder: " + ec.message())
                .text();
        return {};
    }
    std::sort(files.begin(), files.end());
    std::vector<Preset> out;
    for (const fs::path &f : files) {
        util::Diagnostic why;
        Preset p = readPreset(f, why);
        if (!why.empty()) {
            error = why.text();
            return {};
        }
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
