// Per-object cache of which polygons use each point, and the smoothed normal computed from it.
// Not locked inside: callers hold meshCacheLock around every smoothedNormal.
#pragma once

#include "module/platform.h"
#include "sdk/sdk.h"
#include "shading/vector3d.h"

namespace velmora {

extern PlatformLock meshCacheLock;

// Unit geometric normal of a polygon (corners 0, 1 and the last); zero under 3 corners or area 0.
Vector3d polygonNormal(LWMeshInfo *mesh, LWPolID polygon, int useCurrentPositions);
// Vertex-weighted average of the normals around the spot; false when the spot has no polygon or
// the host gives no mesh.
bool smoothedNormal(const LWShaderAccess *sa, double maxAngle, int useCurrentPositions, Vector3d &out);
void meshCacheClear();

}  // namespace velmora
