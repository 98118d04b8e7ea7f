// Per-time snapshot of the twelve item parameters of every light, camera, object and bone.
// One shared cache (rebuilt at new-time) and private ones; all guarded by itemCacheLock.
#pragma once

#include "sdk/sdk.h"

namespace velmora {

class ItemParamCache;

void itemParamsNewTime(LWTime time, LWFrame frame);                // rebuilds the shared cache
void itemParamGet(LWItemID item, LWItemParam param, double out[3]);  // out unchanged when missing

ItemParamCache *itemParamCacheCreate();  // null when memory is exhausted
void itemParamCacheRefresh(ItemParamCache *cache, LWTime time, LWFrame frame);
void itemParamCacheGet(ItemParamCache *cache, LWItemID item, LWItemParam param, double out[3]);
void itemParamCacheDestroy(ItemParamCache *cache);

}  // namespace velmora
