// SPDX-License-Identifier: Apache-2.0
// Names of files: case folding, extensions, and where the running program lives.
#pragma once

#include <string>
#include <vector>

namespace host::util {

// `s` with ASCII capitals made small; other bytes as they are (no locale).
std::string lower(std::string s);

// The extension of the path's last component, lower case, without the dot; "" when it has none.
std::string extensionOf(const std::string &path);

// The folder holding the running program ("." when it cannot be told). Linux host only.
std::string programFolder();

// What the program finds beside it: the libraries it loads (the shader plug-in, the image codecs)
// or its data (presets).
enum class Companion { Libraries, Data };
// The folders the program looks in for its companions, in order: its own folder (the build tree's
// layout, or a flat copy); the installed tree's folder for them (lib/velmora or share/velmora),
// found from the program's folder so that a relocated install works; and, only for a program
// still inside the build tree it was built in (test programs in its sub-folders), the build tree
// (libraries) or the source tree (data). A copy installed or moved elsewhere never looks there.
// Linux host only.
std::vector<std::string> companionFolders(Companion kind);
// The folders as a message lists them: "A, B, C".
std::string folderList(const std::vector<std::string> &folders);

}  // namespace host::util
