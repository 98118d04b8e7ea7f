// SPDX-License-Identifier: Apache-2.0
#include "mesh/mesh_cache.h"

#include <cmath>

#include "base/host_globals.h"

namespace velmora {

PlatformLock meshCacheLock;
MeshNeighbourhoodCache meshCache;

namespace {

struct CornerScan {
    LWMeshInfo *mesh;
    ObjectAdjacency *entry;
};

uintptr_t pointKey(LWPntID point) { return reinterpret_cast<uintptr_t>(point); }

int countCorners(void *data, LWPolID polygon) {
    CornerScan *scan = static_cast<CornerScan *>(data);
    LWMeshInfo *mesh = scan->mesh;
    const int size = mesh->polSize(mesh, polygon);
    for (int i = 0; i < size; ++i) {
        PointPolygons &pp = scan->entry->pointPolygons[pointKey(mesh->polVertex(mesh, polygon, i))];
        ++pp.count;
    }
    return 0;
}

int recordCorners(void *data, LWPolID polygon) {
    CornerScan *scan = static_cast<CornerScan *>(data);
    LWMeshInfo *mesh = scan->mesh;
    const int size = mesh->polSize(mesh, polygon);
    for (int i = 0; i < size; ++i) {
        PointPolygons &pp = scan->entry->pointPolygons[pointKey(mesh->polVertex(mesh, polygon, i))];
        // A host whose second scan finds more corners than its first cannot overrun the run.
        if (pp.filled < pp.count) pp.polygons[pp.filled++] = polygon;
    }
    return 0;
}

}  // namespace

const PointPolygons *ObjectAdjacency::find(LWPntID point) const {
    auto it = pointPolygons.find(pointKey(point));
    return it == pointPolygons.end() ? nullptr : &it->second;
}

ObjectAdjacency *MeshNeighbourhoodCache::find(LWItemID object) const {
    for (const auto &entry : entries)
        if (entry->objectID == object) return entry.get();
    return nullptr;
}

ObjectAdjacency *MeshNeighbourhoodCache::build(LWItemID object, LWMeshInfo *mesh) noexcept {
    try {
        std::unique_ptr<ObjectAdjacency> entry(new ObjectAdjacency(object));
        CornerScan scan = {mesh, entry.get()};
        if (mesh->scanPolys && mesh->polSize && mesh->polVertex) {
            // Count the corners at each point, give each point a run of that many slots, then
            // record the polygons into the runs.
            const int points = mesh->numPoints ? mesh->numPoints(mesh) : 0;
            if (points > 0) entry->pointPolygons.reserve(static_cast<size_t>(points));
            mesh->scanPolys(mesh, countCorners, &scan);
            size_t total = 0;
            for (const auto &kv : entry->pointPolygons) total += static_cast<size_t>(kv.second.count);
            entry->storage.assign(total, nullptr);
            size_t offset = 0;
            for (auto &kv : entry->pointPolygons) {
                PointPolygons &pp = kv.second;
                pp.polygons = pp.count > 0 ? entry->storage.data() + offset : nullptr;
                pp.filled = 0;
                offset += static_cast<size_t>(pp.count);
            }
            mesh->scanPolys(mesh, recordCorners, &scan);
        }
        entries.push_back(std::move(entry));
        return entries.back().get();
    } catch (...) {
        return nullptr;
    }
}

Vector3d polygonNormal(LWMeshInfo *mesh, LWPolID polygon, int useCurrentPositions) {
    Vector3d n = {0.0, 0.0, 0.0};
    if (!mesh || !mesh->polSize || !mesh->polVertex) return n;
    void (*position)(LWMeshInfo *, LWPntID, LWFVector) =
        useCurrentPositions ? mesh->pntOtherPos : mesh->pntBasePos;
    if (!position) return n;
    const int size = mesh->polSize(mesh, polygon);
    if (size < 3) return n;

    const int corners[3] = {0, 1, size - 1};
    Vector3d p[3];
    for (int i = 0; i < 3; ++i) {
        LWFVector f = {0.0f, 0.0f, 0.0f};
        position(mesh, mesh->polVertex(mesh, polygon, corners[i]), f);
        p[i] = {f[0], f[1], f[2]};
    }
    const Vector3d e1 = {p[1].x - p[0].x, p[1].y - p[0].y, p[1].z - p[0].z};
    const Vector3d e2 = {p[2].x - p[0].x, p[2].y - p[0].y, p[2].z - p[0].z};
    vecCross(n, e1, e2);
    return vecNormalized(n, n);
}

bool smoothedNormal(const LWShaderAccess *sa, double maxAngle, int useCurrentPositions, Vector3d &out) {
    if (!sa || !sa->polygon) return false;
    const LWObjectInfo *oi = shaderGlobals.objectInfo;
    if (!oi || !oi->meshInfo) return false;
    LWMeshInfo *mesh = oi->meshInfo(sa->objID, 1);
    if (!mesh) return false;

    ObjectAdjacency *entry = meshCache.find(sa->objID);
    if (!entry) entry = meshCache.build(sa->objID, mesh);
    if (!entry) {
        if (mesh->destroy) mesh->destroy(mesh);
        return false;
    }

    // Each vertex around the spot averages the normals of its polygons that lie within maxAngle
    // of the spot polygon's (strictly); the vertices are blended by their weights.
    const double minCosine = std::cos(maxAngle);
    Vector3d result = {0.0, 0.0, 0.0};
    for (int k = 0; k < 4; ++k) {
        const PointPolygons *pp = entry->find(sa->verts[k]);
        const Vector3d ns = polygonNormal(mesh, sa->polygon, useCurrentPositions);
        Vector3d sum = ns;
        const int count = pp ? pp->filled : 0;
        for (int i = 0; i < count; ++i) {
            LWPolID q = pp->polygons[i];
            if (q == sa->polygon) continue;
            const Vector3d nq = polygonNormal(mesh, q, useCurrentPositions);
            if (vecDot(ns, nq) > minCosine) vecAddTo(sum, nq);
        }
        Vector3d unit, weighted;
        vecNormalized(unit, sum);
        vecAddTo(result, vecScale(weighted, unit, static_cast<double>(sa->weights[k])));
    }

    if (mesh->destroy) mesh->destroy(mesh);
    vecNormalized(out, result);
    return true;
}

void meshCacheClear() { meshCache.clear(); }

}  // namespace velmora
