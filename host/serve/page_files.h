// SPDX-License-Identifier: Apache-2.0
// The look-development page's files, built into the program (see embed_page.cmake).
#pragma once

#include <cstddef>
#include <vector>

namespace host::serve {

struct PageFile {
    const char *path;  // "/index.html"
    const char *type;  // its content type
    const char *data;
    size_t size;
};

const std::vector<PageFile> &pageFiles();

}  // namespace host::serve
