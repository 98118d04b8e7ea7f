// SPDX-License-Identifier: Apache-2.0
#include "lights/item_cache.h"

#include <mutex>
#include <new>

#include "base/host_globals.h"

namespace velmora {

PlatformLock itemCacheLock;

namespace {

ItemParamCache sharedCache;

// Snapshots one item, re-using its record if it already has one. An item whose record cannot be
// allocated is left out of the snapshot, so that reads of it fall back as for a missing item.
void snapshotItem(ItemParamCache &cache, const LWItemInfo &info, LWItemID item, LWTime time) {
    if (!item) return;
    const uintptr_t key = reinterpret_cast<uintptr_t>(item);
    auto found = cache.records.find(key);
    ItemParamRecord *record;
    if (found != cache.records.end()) {
        record = found->second.get();
    } else {
        std::unique_ptr<ItemParamRecord> fresh(new (std::nothrow) ItemParamRecord);
        if (!fresh) return;
        record = fresh.get();
        cache.records.emplace(key, std::move(fresh));  // may throw: caught by rebuild
    }
    for (int p = LWIP_POSITION; p <= LWIP_PIVOT_ROT; ++p) info.param(item, p, time, record->vec[p - 1]);
}

void walk(ItemParamCache &cache, const LWItemInfo &info, LWItemType type, LWTime time) {
    for (LWItemID item = info.first(type, LWITEM_NULL); item; item = info.next(item)) {
        snapshotItem(cache, info, item, time);
        if (type != LWI_OBJECT) continue;
        for (LWItemID bone = info.first(LWI_BONE, item); bone; bone = info.next(bone))
            snapshotItem(cache, info, bone, time);
    }
}

// Lights, cameras, then objects each followed by its bones; the lock is held throughout, so that
// readers never see a half-built snapshot. Running out of memory part-way keeps what was taken.
void rebuild(ItemParamCache &cache, LWTime time) {
    const LWItemInfo *info = shaderGlobals.itemInfo;
    if (!info) return;
    std::lock_guard<PlatformLock> hold(itemCacheLock);
    cache.records.clear();
    try {
        walk(cache, *info, LWI_LIGHT, time);
        walk(cache, *info, LWI_CAMERA, time);
        walk(cache, *info, LWI_OBJECT, time);
    } catch (...) {
    }
}

void read(const ItemParamCache &cache, LWItemID item, LWItemParam param, double out[3]) {
    if (!out || param < LWIP_POSITION || param > LWIP_PIVOT_ROT) return;
    std::lock_guard<PlatformLock> hold(itemCacheLock);
    auto found = cache.records.find(reinterpret_cast<uintptr_t>(item));
    if (found == cache.records.end()) return;
    const double *v = found->second->vec[param - 1];
    out[0] = v[0];
    out[1] = v[1];
    out[2] = v[2];
}

}  // namespace

void itemParamsNewTime(LWTime time, LWFrame) { rebuild(sharedCache, time); }

void itemParamGet(LWItemID item, LWItemParam param, double out[3]) { read(sharedCache, item, param, out); }

ItemParamCache *itemParamCacheCreate() { return new (std::nothrow) ItemParamCache; }

void itemParamCacheRefresh(ItemParamCache *cache, LWTime time, LWFrame) {
    if (cache) rebuild(*cache, time);
}

void itemParamCacheGet(ItemParamCache *cache, LWItemID item, LWItemParam param, double out[3]) {
    if (cache) read(*cache, item, param, out);
}

void itemParamCacheDestroy(ItemParamCache *cache) {
    if (!cache) return;
    std::lock_guard<PlatformLock> hold(itemCacheLock);
    delete cache;
}

}  // namespace velmora
