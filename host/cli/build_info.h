// SPDX-License-Identifier: Apache-2.0
// What the program is: its version, the commit it was built from, and the libraries it runs on.
#pragma once

#include <string>

namespace host::cli {

extern const char *const kVersion;  // "0.33"
extern const char *const kCommit;   // a short commit hash, "+changes" after it for a changed tree, or "unknown"

// "velmora-render 0.33", as output files record the software that wrote them.
std::string programVersion();
// What --version prints: the program, its commit, and the versions of Embree, OpenImageIO and
// assimp it runs with (asked of the libraries themselves, so OpenImageIO's is loaded for it).
std::string versionReport();

}  // namespace host::cli
