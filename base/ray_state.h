// SPDX-License-Identifier: Apache-2.0
// Per-thread ray-state flags in named blocks of the host's render memory pool, shared by name with
// other plug-ins of the same shading library.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmora {

extern const char kIsShadowRayKey[];  // "QZ's Lumakit:IsShadowRay"
extern const char kIsRayShadeKey[];   // "QZ's Lumakit:IsRayShade"

// Capacity of a block name, terminating zero included.
constexpr size_t kRayStateNameSize = 512;

// Writes "<key> <thread id as %08x>" into name; false (name unusable) when it does not fit.
bool rayStateBlockName(char (&name)[kRayStateNameSize], const char *key, uint32_t threadId);

// The calling thread's block for key, created zeroed on first use and found unchanged afterwards;
// null without the render memory pool, when the pool cannot create it or the name does not fit.
// Any thread; the block belongs to the pool and is never freed by the module.
void *rayStateBlock(const char *key, int size);

}  // namespace velmora
