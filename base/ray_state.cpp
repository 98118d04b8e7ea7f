// SPDX-License-Identifier: Apache-2.0
#include "base/ray_state.h"

#include <cstring>

#include "base/host_globals.h"
#include "base/platform.h"

namespace velmora {

const char kIsShadowRayKey[] = "QZ's Lumakit:IsShadowRay";
const char kIsRayShadeKey[] = "QZ's Lumakit:IsRayShade";

// The bytes of "%s %08x", written by hand: this runs twice per shaded spot, and the formatted
// printing functions cost more than the rest of the look-up together.
bool rayStateBlockName(char (&name)[kRayStateNameSize], const char *key, uint32_t threadId) {
    if (!key) return false;
    constexpr size_t kSuffix = 1 + 8;  // blank and eight hexadecimal digits
    const size_t keyLen = std::strlen(key);
    if (keyLen + kSuffix >= sizeof name) return false;
    std::memcpy(name, key, keyLen);
    char *out = name + keyLen;
    *out++ = ' ';
    static const char kHex[] = "0123456789abcdef";
    for (int shift = 28; shift >= 0; shift -= 4) *out++ = kHex[(threadId >> shift) & 0xFu];
    *out = '\0';
    return true;
}

void *rayStateBlock(const char *key, int size) {
    const LWGlobalPool *pool = shaderGlobals.globalPool;
    if (!pool || size < 0) return nullptr;
    char name[kRayStateNameSize];
    if (!rayStateBlockName(name, key, currentThreadId())) return nullptr;

    // The thread id in the name keeps other threads from creating this chunk between the two
    // calls, so find-then-create needs no lock.
    if (void *found = pool->find(name)) return found;
    void *created = pool->create(name, size);
    if (created) std::memset(created, 0, static_cast<size_t>(size));
    return created;
}

}  // namespace velmora
