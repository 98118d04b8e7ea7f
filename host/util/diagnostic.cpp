// SPDX-License-Identifier: Apache-2.0
#include "host/util/diagnostic.h"

namespace host::util {

std::string Diagnostic::text() const {
    const std::string &file = loc.file;
    if (!loc.path.empty()) return file + ": " + loc.path + ": " + message;
    if (loc.line >= 0 && loc.column >= 0)
        return file + ": line " + std::to_string(loc.line) + ", column " + std::to_string(loc.column) + ": " +
               message;
    if (loc.line >= 0) return file + ", line " + std::to_string(loc.line) + ": " + message;
    if (file.empty()) return message;
    return file + (sentence ? " " : ": ") + message;
}

}  // namespace host::util
