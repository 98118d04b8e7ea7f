// SPDX-License-Identifier: Apache-2.0
// The mesh neighbourhood cache over a grid of about a million triangles: building an object's
// entry, and one smoothed-normal query against a built entry.
#include <benchmark/benchmark.h>

#include <cmath>
#include <mutex>

#include "base/host_globals.h"
#include "mesh/mesh_cache.h"
#include "tests/support/fake_mesh.h"

using namespace velmora;
using testhost::FakeMesh;

namespace {

constexpr int kSide = 708;  // points per side: 2 * 707 * 707 = 999,698 triangles
LWItemID kObject = reinterpret_cast<LWItemID>(0x10);

FakeMesh &gridMesh() {
    static FakeMesh *mesh = [] {
        FakeMesh *m = new FakeMesh;
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x)
                m->addPoint(float(x), float(y), 0.1f * std::sin(0.05f * float(x)) * std::cos(0.07f * float(y)));
        for (int y = 0; y + 1 < kSide; ++y)
            for (int x = 0; x + 1 < kSide; ++x) {
                const int p = y * kSide + x;
                m->addPolygon({p, p + 1, p + kSide + 1});
                m->addPolygon({p, p + kSide + 1, p + kSide});
            }
        return m;
    }();
    return *mesh;
}

LWMeshInfo *meshInfo(LWItemID, int) { return &gridMesh().info; }
LWObjectInfo objectInfo = {nullptr, nullptr, nullptr, meshInfo, nullptr};

// A spot on a triangle in the middle of the grid.
LWShaderAccess middleSpot() {
    const int p = (kSide / 2) * kSide + kSide / 2;
    const int triangle = 2 * ((kSide / 2) * (kSide - 1) + kSide / 2);
    LWShaderAccess sa = {};
    sa.objID = kObject;
    sa.polygon = FakeMesh::polygon(triangle);
    sa.verts[0] = FakeMesh::point(p);
    sa.verts[1] = FakeMesh::point(p + 1);
    sa.verts[2] = FakeMesh::point(p + kSide + 1);
    sa.weights[0] = 0.5f;
    sa.weights[1] = 0.3f;
    sa.weights[2] = 0.2f;
    return sa;
}

void BM_BuildMillionTriangleEntry(benchmark::State &state) {
    shaderGlobals.objectInfo = &objectInfo;
    const LWShaderAccess sa = middleSpot();
    state.counters["triangles"] = double(gridMesh().polygons.size());
    for (auto _ : state) {
        meshCacheClear();
        Vector3d n;
        benchmark::DoNotOptimize(smoothedNormal(&sa, 3.141592653589793, 1, n));
    }
    meshCacheClear();
}
BENCHMARK(BM_BuildMillionTriangleEntry)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_SmoothedNormal(benchmark::State &state) {
    shaderGlobals.objectInfo = &objectInfo;
    const LWShaderAccess sa = middleSpot();
    Vector3d n;
    meshCacheClear();
    smoothedNormal(&sa, 3.141592653589793, 1, n);  // builds the entry
    for (auto _ : state) {
        std::lock_guard<PlatformLock> hold(meshCacheLock);
        benchmark::DoNotOptimize(smoothedNormal(&sa, 3.141592653589793, 1, n));
    }
    meshCacheClear();
}
BENCHMARK(BM_SmoothedNormal);

}  // namespace

BENCHMARK_MAIN();
