#include "shading/ray_state.h"

#include <cstdio>
#include <cstring>

#include "module/host_globals.h"
#include "module/platform.h"

namespace velmora {

const char kIsShadowRayKey[] = "QZ's Lumakit:IsShadowRay";
const char kIsRayShadeKey[] = "QZ's Lumakit:IsRayShade";

bool rayStateBlockName(char (&name)[kRayStateNameSize], const char *key, uint32_t threadId) {
    if (!key) return false;
    const int written = std::snprintf(name, sizeof name, "%s %08x", key, static_cast<unsigned>(threadId));
    return written > 0 && static_cast<size_t>(written) < sizeof name;
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
