// SPDX-License-Identifier: Apache-2.0
// Reads the host's scene files (.lws, a line-based text format) into the scene model: objects
// (their meshes read from the host's object files), null objects, lights and cameras, with their
// parenting, pivots and keyframed motion (every envelope shape and pre and post behaviour), the
// frame range and rate, ambient light and the backdrop. Versions 2 and later are read: version 2
// keeps its motion in the older block layout, angles in degrees and colours in 0..255.
//
// Lines the model has no place for are skipped. A line that matters and cannot be read (a key
// with missing numbers, a count that does not match what follows, an unknown parent, a missing
// object file, a block left open) refuses the scene with "FILE, line N: what is wrong"; counts
// are capped, so no file can make the reader take memory it does not hold in its text.
#pragma once

#include <string>

#include "host/scene/loader.h"

namespace host::scene {

// Whether a scene path names a host scene file: it ends in ".lws", case ignored.
bool isLwsPath(const std::string &path);

// Loads a host scene file; object files are looked for relative to its folder.
LoadResult loadLwsFile(const std::string &path);

// Loads a host scene from its text; `label` names it in messages, `folder` is where object files
// are looked for.
LoadResult loadLwsText(const std::string &text, const std::string &label, const std::string &folder);

}  // namespace host::scene
