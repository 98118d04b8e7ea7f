// Names of files: case folding, extensions, and where the running program lives.
#pragma once

#include <string>

namespace host::util {

// `s` with ASCII capitals made small; other bytes as they are (no locale).
std::string lower(std::string s);

// The extension of the path's last component, lower case, without the dot; "" when it has none.
std::string extensionOf(const std::string &path);

// The folder holding the running program ("." when it cannot be told). Linux host only.
std::string programFolder();

}  // namespace host::util
