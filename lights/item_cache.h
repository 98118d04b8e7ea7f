// SPDX-License-Identifier: Apache-2.0
// Per-time snapshot of the twelve item parameters of every light, camera, object and bone.
// One shared cache (rebuilt at new-time) and private ones; all guarded by itemCacheLock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "base/platform.h"
#include "sdk/sdk.h"

namespace velmora {

// One item's twelve parameter vectors, indexed by LWItemParam - 1, exactly as the host gave them.
struct ItemParamRecord {
    virtual ~ItemParamRecord() = default;
    double vec[12][3] = {};
};

// Item ID (as an unsigned machine word) to its owned record. Rebuilding or destroying the cache
// destroys its records.
class ItemParamCache {
public:
    virtual ~ItemParamCache() = default;
    std::map<uintptr_t, std::unique_ptr<ItemParamRecord>> records;
};

// Guards every cache, the shared one and all private ones: held for a whole rebuild and for each
// single read. No other module lock is taken while it is held.
extern PlatformLock itemCacheLock;

// Rebuilds the shared cache for time (frame is accepted, the snapshot depends on time alone).
// Main thread. Without the host's item information the cache keeps what it held.
void itemParamsNewTime(LWTime time, LWFrame frame);
// Copies the item's vector for param (1 to 12) from the shared cache; out is left unchanged for
// an item not in the snapshot or a parameter out of range. Any thread.
void itemParamGet(LWItemID item, LWItemParam param, double out[3]);

// A new empty private cache, or null when memory is exhausted. Every operation below accepts null
// and then does nothing.
ItemParamCache *itemParamCacheCreate();
void itemParamCacheRefresh(ItemParamCache *cache, LWTime time, LWFrame frame);
void itemParamCacheGet(ItemParamCache *cache, LWItemID item, LWItemParam param, double out[3]);
void itemParamCacheDestroy(ItemParamCache *cache);

}  // namespace velmora
