// SPDX-License-Identifier: Apache-2.0
#include "host/scene/saver.h"

#include <filesystem>

#include "host/scene/loader_pvt.h"

namespace host::scene {

namespace {

// Whether text is well-formed UTF-8 (no overlong forms, surrogates or values beyond U+10FFFF).
bool validUtf8(const std::string &text) {
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    const auto *end = p + text.size();
    while (p < end) {
        unsigned c = *p++;
        if (c < 0x80) continue;
        int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 ? 1 : -1;
        if (more < 0 || c > 0xF4 || end - p < more) return false;
        unsigned second = p[0];
        if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second > 0x9F) || (c == 0xF0 && second < 0x90) ||
            (c == 0xF4 && second > 0x8F))
            return false;
        for (int k = 0; k < more; ++k)
            if ((*p++ & 0xC0) != 0x80) return false;
    }
    return true;
}

// A file name of the scene made absolute, so the scene written elsewhere still finds it. Returns
// false when the absolute name is not UTF-8, which a scene file cannot hold.
bool anchorFile(json &holder, const std::string &folder) {
    if (!holder.is_object() || !holder.contains("file") || !holder["file"].is_string()) return true;
    std::string file = holder["file"].get<std::string>();
    if (file.empty() || file[0] == '/') return true;
    std::error_code ec;
    std::filesystem::path p =
        std::filesystem::absolute(std::filesystem::path(folder.empty() ? "." : folder) / file, ec);
    if (ec) return true;
    std::string anchored = p.lexically_normal().string();
    if (!validUtf8(anchored)) return false;
    holder["file"] = anchored;
    return true;
}

// Anchors every file name; the JSON path of the first that cannot be written as UTF-8, or "".
std::string anchorFiles(json &root, const std::string &folder) {
    if (root.contains("images") && root["images"].is_array())
        for (size_t i = 0; i < root["images"].size(); ++i)
            if (!anchorFile(root["images"][i], folder)) return "/images/" + std::to_string(i) + "/file";
    if (root.contains("items") && root["items"].is_array())
        for (size_t i = 0; i < root["items"].size(); ++i) {
            json &item = root["items"][i];
            std::string at = "/items/" + std::to_string(i);
            if (!item.is_object()) continue;
            if (item.contains("mesh") && !anchorFile(item["mesh"], folder)) return at + "/mesh/file";
            if (item.contains("layers") && item["layers"].is_array())
                for (size_t k = 0; k < item["layers"].size(); ++k)
                    if (!anchorFile(item["layers"][k], folder))
                        return at + "/layers/" + std::to_string(k) + "/file";
        }
    return {};
}

}  // namespace

int writeSceneStates(const Scene &scene, const std::vector<SavedShader> &shaders, std::string &out,
                     std::string &message) {
    json root = sourceDocument(scene);
    std::string unwritable = anchorFiles(root, scene.folder);
    if (!unwritable.empty()) {
        message = scene.filename + ": " + unwritable +
                  ": the file's absolute name is not valid UTF-8 (nor is its folder's), so a saved scene "
                  "could not name it; save from a folder whose name is UTF-8";
        return 2;
    }
    static const char digits[] = "0123456789abcdef";
    for (const SavedShader &s : shaders) {
        std::string data;
        if (!s.binary) {
            data.assign(s.data.begin(), s.data.end());
        } else {
            for (uint8_t b : s.data) {
                data += digits[b >> 4];
                data += digits[b & 15];
            }
        }
        const std::string &name = scene.surfaces[static_cast<size_t>(s.surface)]->name;
        json &surfaces = root["surfaces"];
        if (!surfaces.is_array()) surfaces = json::array();
        json *surface = nullptr;
        for (json &e : surfaces)
            if (!surface && e.is_object() && e.value("name", std::string()) == name) surface = &e;
        if (!surface) {
            surfaces.push_back({{"name", name}});
            surface = &surfaces.back();
        }
        json &entry = (*surface)["shaders"][static_cast<size_t>(s.index)];
        entry.erase("settings");
        entry["state"] = {{"format", s.binary ? "binary" : "text"}, {"data", data}};
    }
    try {
        out = root.dump(2) + "\n";
    } catch (const json::exception &) {
        message = scene.filename + ": a shader's saved data is not valid UTF-8 and cannot be written as a scene";
        return 2;
    }
    return 0;
}

}  // namespace host::scene
