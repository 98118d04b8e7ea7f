// SPDX-License-Identifier: Apache-2.0
// Where the running program lives, and where it finds what was built or installed with it.
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "host/util/paths.h"

namespace host::util {

std::string programFolder() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string path(buf, static_cast<size_t>(n));
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::vector<std::string> companionFolders(Companion kind) {
    const std::string here = programFolder();
    const bool libraries = kind == Companion::Libraries;
    std::vector<std::string> folders = {here, here + "/" + (libraries ? VELMORA_INSTALLED_LIBRARIES
                                                                      : VELMORA_INSTALLED_DATA)};
    const std::string build = VELMORA_BUILD_DIR;
    if (here.compare(0, build.size() + 1, build + "/") == 0 || here == build)
        folders.push_back(libraries ? build : VELMORA_SOURCE_DIR);
    return folders;
}

std::string folderList(const std::vector<std::string> &folders) {
    std::string list;
    for (const std::string &f : folders) list += (list.empty() ? "" : ", ") + f;
    return list;
}

}  // namespace host::util
