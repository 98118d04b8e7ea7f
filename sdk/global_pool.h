// SPDX-License-Identifier: Apache-2.0
// "Global Render Memory": named memory chunks that live as long as the host's render memory pool.
// Chunks belong to the pool and are never freed by a plug-in. find and create may be called from
// any render thread; a chunk's name is unique in the pool.
#pragma once

#include "host_types.h"

#define LWGLOBALPOOL_RENDER_GLOBAL "Global Render Memory"

struct LWGlobalPool {
    LWMemChunk (*first)(void);
    LWMemChunk (*next)(LWMemChunk chunk);
    const char *(*ID)(LWMemChunk chunk);
    int (*size)(LWMemChunk chunk);
    LWMemChunk (*find)(const char *name);              // the chunk of that name, or null
    LWMemChunk (*create)(const char *name, int size);  // a new chunk of size bytes, or null
};

// The host's 32-bit x86 layout of these records, as the Windows target lays them out (the 32-bit
// Linux build matches it with -malign-double).
#if defined(__i386__) || defined(_M_IX86)
#include <cstddef>
static_assert(sizeof(LWGlobalPool) == 24, "LWGlobalPool is 24 bytes");
#endif
