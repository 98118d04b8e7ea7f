// Placeholder operations: each does nothing until the instance lands.
#include "instance/skin_instance.h"

namespace velmora {

const char kShaderDescription[] = "QZ's Velmora Shader version 0.33e";

LWInstance skinCreate(void *, void *, LWError *) { return nullptr; }
void skinDestroy(LWInstance) {}
LWError skinCopy(LWInstance, LWInstance) { return nullptr; }
LWError skinLoad(LWInstance, const LWLoadState *) { return nullptr; }
LWError skinSave(LWInstance, const LWSaveState *) { return nullptr; }
const char *skinDescribe(LWInstance) { return nullptr; }
unsigned int skinFlags(LWInstance) { return 0; }
const LWItemID *skinUseItems(LWInstance) { return nullptr; }
void skinChangeID(LWInstance, const LWItemID *) {}
LWError skinRenderInit(LWInstance, int) { return nullptr; }
void skinRenderCleanup(LWInstance) {}
LWError skinNewTime(LWInstance, LWFrame, LWTime) { return nullptr; }

}  // namespace velmora
