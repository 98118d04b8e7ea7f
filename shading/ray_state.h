// Per-thread ray-state flags in named blocks of the host's render memory pool, shared by name with
// other plug-ins of the same shading library.
#pragma once

namespace velmora {

extern const char kIsShadowRayKey[];  // "QZ's Lumakit:IsShadowRay"
extern const char kIsRayShadeKey[];   // "QZ's Lumakit:IsRayShade"

// The calling thread's block "<key> <thread id as %08x>", created zeroed on first use; null
// without the render memory pool.
void *rayStateBlock(const char *key, int size);

}  // namespace velmora
