// SPDX-License-Identifier: Apache-2.0
// Per-object cache of which polygons use each point, and the smoothed normal computed from it.
// Not locked inside: callers hold meshCacheLock around every smoothedNormal.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "base/platform.h"
#include "base/vector3d.h"
#include "sdk/sdk.h"

namespace velmora {

extern PlatformLock meshCacheLock;

// The polygons that use one point: `count` corners found by the counting scan (a polygon listing
// the point twice counts twice), `filled` of them recorded in `polygons` by the filling scan.
struct PointPolygons {
    int count;
    LWPolID *polygons;  // room for `count` entries, in the owning entry's storage; null when 0
    int filled;
};

// The neighbourhood of one object: each point of its mesh to the polygons that use it.
class ObjectAdjacency {
public:
    explicit ObjectAdjacency(LWItemID object) : objectID(object) {}
    virtual ~ObjectAdjacency() = default;

    // The point's polygons, or null when no polygon uses it.
    const PointPolygons *find(LWPntID point) const;

    LWItemID objectID;
    std::unordered_map<uintptr_t, PointPolygons> pointPolygons;
    std::vector<LWPolID> storage;  // every point's `polygons`, one run after another
};

// Every object met since the last clear, searched front to back; new entries are appended.
class MeshNeighbourhoodCache {
public:
    MeshNeighbourhoodCache() = default;
    virtual ~MeshNeighbourhoodCache() = default;

    ObjectAdjacency *find(LWItemID object) const;
    // Scans the mesh twice and appends the object's entry; null (nothing appended) when memory
    // runs out.
    ObjectAdjacency *build(LWItemID object, LWMeshInfo *mesh) noexcept;
    void clear() noexcept { entries.clear(); }
    size_t size() const { return entries.size(); }

    std::vector<std::unique_ptr<ObjectAdjacency>> entries;
};

extern MeshNeighbourhoodCache meshCache;

// Unit geometric normal of a polygon (corners 0, 1 and the last); zero under 3 corners or area 0.
Vector3d polygonNormal(LWMeshInfo *mesh, LWPolID polygon, int useCurrentPositions);
// Vertex-weighted average of the normals around the spot, over the polygons whose normals lie
// within maxAngle of the spot polygon's; false (out untouched) when the spot has no polygon, the
// host gives no mesh, or the object's entry cannot be built.
bool smoothedNormal(const LWShaderAccess *sa, double maxAngle, int useCurrentPositions, Vector3d &out);
void meshCacheClear();

}  // namespace velmora
