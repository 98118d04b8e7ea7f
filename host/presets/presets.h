// SPDX-License-Identifier: Apache-2.0
// Named looks for the skin shader: each a file presets/<name>.json holding the shader's panel
// settings by data name, and where its values come from:
//   {"name": "light_skin", "source": "...", "settings": {"skin_color": [r, g, b], "Ksub": 0.8, ...}}
// A preset is applied like a scene's shader settings, to every skin shader instance.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace host::presets {

struct Preset {
    std::string name, source;
    nlohmann::json settings;  // an object: data name -> value
};

// The folder presets are read from: $VELMORA_PRESETS when set, else the first presets/ folder of
// the program's data folders (util::companionFolders): beside the program, the installed
// share/velmora, or for a program in its build tree the source tree. Empty when there is none.
std::string presetsFolder();

// Every preset of presetsFolder(), sorted by name: every entry named *.json is a preset. On a bad
// one (not a regular file: a folder named sub.json is refused as a folder, never skipped, so a
// look is not silently missing; not JSON, a field missing or of the wrong type, a name that is
// not its file's) returns nothing and sets `error` to one line naming the file and the place; a
// missing folder is an error too, naming where it was looked for. A value the shader refuses is
// found when the preset is applied: the command line names the preset's file and /settings/NAME.
std::vector<Preset> loadPresets(std::string &error);
// The same for a given folder.
std::vector<Preset> loadPresets(const std::string &folder, std::string &error);

// The preset called `name`, or null.
const Preset *findPreset(const std::vector<Preset> &presets, const std::string &name);

// The presets' names, comma-separated, for messages.
std::string presetNames(const std::vector<Preset> &presets);

}  // namespace host::presets
