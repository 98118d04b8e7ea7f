// SPDX-License-Identifier: Apache-2.0
// Generated meshes: sphere, box, plane, grid and disc, built as mesh layers with outward-facing
// polygons (a polygon faces where (v1 - v0) x (v2 - v0) points).
#pragma once

#include "host/scene/scene.h"

namespace host::scene {

void makeSphere(MeshLayer &layer, double radius, int segments, int rings, int surface);
void makeBox(MeshLayer &layer, const Vec3 &size, int surface);
// A flat rectangle in the XZ plane facing +Y, divided into nx by nz quads.
void makeGrid(MeshLayer &layer, double sizeX, double sizeZ, int nx, int nz, int surface);
void makeDisc(MeshLayer &layer, double radius, int segments, int surface);

}  // namespace host::scene
