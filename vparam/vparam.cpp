// Placeholder: does nothing until this subsystem lands.
#include "vparam/vparam.h"

namespace velmora {

Vparam::Vparam(const char *, int valueType_, int textureKind_, LWChanGroupID group_, const char *, LWSurfaceID surface_)
    : valueType(valueType_), textureKind(textureKind_), group(group_), surface(surface_), parameter(nullptr) {}
Vparam::~Vparam() = default;

void vparamNewTime(Vparam *, LWTime, LWFrame) {}
void vparamCleanup(Vparam *) {}
void vparamSave(Vparam *, const LWSaveState *) {}
void vparamLoad(Vparam *, const LWLoadState *) {}
int vparamEvent(LWVParmID, void *, int, void *) { return 1; }
LWChanGroupID createShaderGroup(const char *, LWSurfaceID) { return nullptr; }
bool surfaceBounds(LWSurfaceID, double *) { return false; }
int boundsScanPoly(void *, LWPolID) { return 0; }
void micropolFromAccess(LWMicropol *, const LWShaderAccess *, LWSurfaceID) {}
bool basePolygonNormal(LWMeshInfo *, LWPolID, Vector3d &) { return false; }
void textureParamSave(TextureParam *, const LWSaveState *) {}
void textureParamLoad(TextureParam *, const LWLoadState *) {}

}  // namespace velmora
