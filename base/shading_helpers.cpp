// SPDX-License-Identifier: Apache-2.0
#include "base/shading_helpers.h"

#include <cstring>

#include "base/host_globals.h"

namespace velmora {

int prefixMatch(const char *prefix, const char *name) {
    if (!prefix || !name) return 0;
    const size_t prefixLen = std::strlen(prefix);
    const size_t nameLen = std::strlen(name);

    size_t i = 0;
    while (i < prefixLen && prefix[i] == ' ') ++i;

    int count = 0;
    size_t j = 0;
    while (i < prefixLen && j < nameLen) {
        if (prefix[i] != name[j]) return 0;
        ++count;
        ++i;
        ++j;
    }
    return i < prefixLen ? 0 : count;
}

bool hostGlobalsReady() {
    const ShaderGlobals &g = shaderGlobals;
    return g.itemInfo && g.lightInfo && g.objectInfo && g.sceneInfo && g.globalPool;
}

}  // namespace velmora
