// Placeholder: does nothing until this subsystem lands.
#include "mesh/mesh_cache.h"

namespace velmora {

PlatformLock meshCacheLock;

Vector3d polygonNormal(LWMeshInfo *, LWPolID, int) { return {0.0, 0.0, 0.0}; }
bool smoothedNormal(const LWShaderAccess *, double, int, Vector3d &) { return false; }
void meshCacheClear() {}

}  // namespace velmora
