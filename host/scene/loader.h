// SPDX-License-Identifier: Apache-2.0
// Reads a scene from its JSON text (format: docs/scene-format.md). Every field is checked: a
// syntax error, an unknown or misspelt field, a wrong type, an out-of-range value or a missing
// mesh or image file refuses the whole scene with one message naming the file and the place
// (line and column for syntax errors, the JSON path otherwise). Nothing here exits the process.
//
// Hostile input is refused the same way: files that are not regular files or pass their size
// limit (host/io/file_io.h), JSON nested deeper than 128 levels, and anything that would take
// more memory than the scene's budget, which is checked before the memory is taken. Messages
// quote at most a short excerpt of the input, with control characters escaped.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/scene/scene.h"
#include "host/util/diagnostic.h"

namespace host::scene {

struct LoadResult {
    std::unique_ptr<Scene> scene;  // null on failure
    util::Diagnostic diagnostic;   // on failure: the file, the place and what is wrong
    std::string error;             // on failure: the diagnostic's text, "FILE: PLACE: what is wrong"
};

// Loads a scene file; relative mesh and image paths are taken from the file's folder.
LoadResult loadSceneFile(const std::string &path);

// Reads a scene file of any kind (bounded, a regular file) and hands its text, its path as the
// label and its folder to `fromText`; the scene lists the file first among its inputs.
LoadResult loadFileWith(const std::string &path,
                        LoadResult (*fromText)(const std::string &text, const std::string &label,
                                               const std::string &folder));

// Loads a scene from text; `label` names it in messages, `baseDir` resolves relative paths.
// The scene may take at most `memoryLimit` bytes (0: half the memory free when loading starts);
// a scene that would need more is refused before the memory is taken.
LoadResult loadSceneText(const std::string &text, const std::string &label, const std::string &baseDir,
                         uint64_t memoryLimit = 0);

// Parses OBJ text (no material files are read, no file is opened) into the points and polygons of
// one layer, every polygon on surface 0; finishLayer() completes it. The text is checked first:
// points need three finite numbers within 1e9 (optionally a weight or an RGB colour after them),
// texture coordinates and normals numbers, and faces three or more references to existing points
// (and texture coordinates and normals), from 1 or negative from the last. On refusal returns
// false with "LABEL, line N: what is wrong" (or "LABEL ...", for the file as a whole) in `error`.
// Never throws; on success every polygon index names a point and every coordinate is finite.
bool parseObjText(const std::string &text, const std::string &label, MeshLayer &out, std::string &error);

// Applies an overlay file (docs/scene-format.md, "Overlays") to a loaded scene: surfaces by name
// (the overlay's fields over the surface's values, as a scene file's surface over a mesh file's),
// render options, and tag lines added to items by name. The file is read and checked as scene
// files are (size, nesting, duplicate keys, every field); a name the scene lacks is refused.
// Nothing changes unless the whole overlay is sound. On refusal returns false with
// "OVERLAY: line L, column C: ..." or "OVERLAY: PATH: ..." in `error`. The scene's document
// (Scene::sourceText) takes the overlay's fields too, so a scene saved from it keeps them.
bool applyOverlay(Scene &scene, const std::string &overlayPath, std::string &error);

// A shader setting's value as a scene file, an overlay, a preset or a look-development request gives
// it in JSON (host/scene/setting.h): a texture in it is read now, its image names against `scene`'s
// images; what a control would refuse is kept for the panel's code to report.
SettingValue readSettingValue(const nlohmann::json &j, const Scene &scene);
// The settings of an object of them by data name, in the order they are applied (by name). An
// argument that is not an object gives none.
std::vector<ShaderSetting> readSettings(const nlohmann::json &object, const Scene &scene);

}  // namespace host::scene
