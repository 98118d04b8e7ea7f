// Placeholder: does nothing until this subsystem lands.
#include "lights/item_cache.h"

namespace velmora {

void itemParamsNewTime(LWTime, LWFrame) {}
void itemParamGet(LWItemID, LWItemParam, double *) {}
ItemParamCache *itemParamCacheCreate() { return nullptr; }
void itemParamCacheRefresh(ItemParamCache *, LWTime, LWFrame) {}
void itemParamCacheGet(ItemParamCache *, LWItemID, LWItemParam, double *) {}
void itemParamCacheDestroy(ItemParamCache *) {}

}  // namespace velmora
