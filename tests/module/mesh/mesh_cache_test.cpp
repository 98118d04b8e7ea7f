// SPDX-License-Identifier: Apache-2.0
// The mesh neighbourhood cache and the smoothed normal it gives.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "base/host_globals.h"
#include "mesh/mesh_cache.h"
#include "tests/support/fake_mesh.h"

using namespace velmora;
using testhost::FakeMesh;

namespace {

constexpr double kPi = 3.141592653589793;

std::map<LWItemID, FakeMesh *> objectMeshes;
int meshRequests = 0;

LWMeshInfo *meshInfo(LWItemID object, int) {
    ++meshRequests;
    auto it = objectMeshes.find(object);
    return it == objectMeshes.end() ? nullptr : &it->second->info;
}

LWObjectInfo objectInfo = {nullptr, nullptr, nullptr, meshInfo, nullptr};

LWItemID objectA = reinterpret_cast<LWItemID>(0x100);
LWItemID objectB = reinterpret_cast<LWItemID>(0x200);

// Cube of side 2 about the origin, faces wound outward. Point i has x = bit 2, y = bit 1, z = bit 0.
void buildCube(FakeMesh &m) {
    for (int i = 0; i < 8; ++i) m.addPoint(i & 4 ? 1.f : -1.f, i & 2 ? 1.f : -1.f, i & 1 ? 1.f : -1.f);
    m.addPolygon({1, 5, 7, 3});  // 0: +z
    m.addPolygon({0, 2, 6, 4});  // 1: -z
    m.addPolygon({4, 6, 7, 5});  // 2: +x
    m.addPolygon({0, 1, 3, 2});  // 3: -x
    m.addPolygon({2, 3, 7, 6});  // 4: +y
    m.addPolygon({0, 4, 5, 1});  // 5: -y
    m.addPoint(5.f, 5.f, 5.f);   // 8: used by no polygon
}

// 3 x 3 points on z = 0, four quads facing +z.
void buildGrid(FakeMesh &m) {
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) m.addPoint(float(x), float(y), 0.f);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) {
            const int p = y * 3 + x;
            m.addPolygon({p, p + 1, p + 4, p + 3});
        }
}

LWShaderAccess spot(LWItemID object, int polygon, std::array<int, 4> verts, std::array<float, 4> weights) {
    LWShaderAccess sa = {};
    sa.objID = object;
    sa.polygon = FakeMesh::polygon(polygon);
    for (int k = 0; k < 4; ++k) {
        sa.verts[k] = verts[k] < 0 ? nullptr : FakeMesh::point(verts[k]);
        sa.weights[k] = weights[k];
    }
    return sa;
}

class MeshCache : public ::testing::Test {
protected:
    void SetUp() override {
        resetHostGlobals();
        shaderGlobals.objectInfo = &objectInfo;
        buildCube(cube);
        buildGrid(grid);
        objectMeshes = {{objectA, &cube}, {objectB, &grid}};
        meshRequests = 0;
        meshCacheClear();
    }
    void TearDown() override {
        meshCacheClear();
        objectMeshes.clear();
        resetHostGlobals();
    }

    FakeMesh cube, grid;
};

void expectNear(const Vector3d &got, const Vector3d &want) {
    EXPECT_NEAR(got.x, want.x, 1e-12) << "x";
    EXPECT_NEAR(got.y, want.y, 1e-12) << "y";
    EXPECT_NEAR(got.z, want.z, 1e-12) << "z";
}

}  // namespace

TEST_F(MeshCache, SmoothedNormalAveragesTheFacesAroundEachVertex) {
    const double r3 = 1.0 / std::sqrt(3.0), r2 = 1.0 / std::sqrt(2.0);
    struct Case {
        const char *what;
        LWItemID object;
        LWShaderAccess sa;
        double maxAngle;
        Vector3d want;
    } cases[] = {
        {"flat grid, centre quad corner",
         objectB,
         spot(objectB, 0, {0, 1, 4, 3}, {.25f, .25f, .25f, .25f}),
         kPi,
         {0, 0, 1}},
        {"cube corner at pi", objectA, spot(objectA, 0, {7, 5, 3, 1}, {1, 0, 0, 0}), kPi, {r3, r3, r3}},
        {"cube, halfway along an edge",
         objectA,
         spot(objectA, 0, {7, 5, 3, 1}, {.5f, .5f, 0, 0}),
         kPi,
         {r2, 0, r2}},
        {"cube face, small angle", objectA, spot(objectA, 0, {7, 5, 3, 1}, {.4f, .3f, .2f, .1f}), 0.1, {0, 0, 1}},
        {"fourth vertex none, weight 0",
         objectA,
         spot(objectA, 0, {7, 5, 3, -1}, {.5f, .5f, 0, 0}),
         kPi,
         {r2, 0, r2}},
        {"point in no polygon gives the spot's own normal",
         objectA,
         spot(objectA, 0, {8, -1, -1, -1}, {1, 0, 0, 0}),
         kPi,
         {0, 0, 1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Vector3d out = {9, 9, 9};
        ASSERT_TRUE(smoothedNormal(&c.sa, c.maxAngle, 1, out));
        expectNear(out, c.want);
    }
    EXPECT_EQ(cube.destroyed + grid.destroyed, 6) << "one release per call";
}

TEST_F(MeshCache, EachObjectIsScannedOncePerClear) {
    const LWShaderAccess onA = spot(objectA, 0, {7, 5, 3, 1}, {1, 0, 0, 0});
    const LWShaderAccess onB = spot(objectB, 0, {0, 1, 4, 3}, {1, 0, 0, 0});
    Vector3d out;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(smoothedNormal(&onA, kPi, 1, out));
        ASSERT_TRUE(smoothedNormal(&onB, kPi, 1, out));
    }
    EXPECT_EQ(meshCache.size(), 2u);
    EXPECT_EQ(cube.scans, 2) << "count, then record";
    EXPECT_EQ(grid.scans, 2);

    meshCacheClear();
    EXPECT_EQ(meshCache.size(), 0u);
    ASSERT_TRUE(smoothedNormal(&onB, kPi, 1, out));
    ASSERT_TRUE(smoothedNormal(&onA, kPi, 1, out));
    EXPECT_EQ(cube.scans, 4);
    EXPECT_EQ(grid.scans, 4);
    ASSERT_EQ(meshCache.size(), 2u);
    EXPECT_EQ(meshCache.entries[0]->objectID, objectB) << "appended in the order met";

    // Corner 7 of the cube is used by three faces, each listed once.
    const PointPolygons *pp = meshCache.find(objectA)->find(FakeMesh::point(7));
    ASSERT_NE(pp, nullptr);
    EXPECT_EQ(pp->count, 3);
    EXPECT_EQ(pp->filled, 3);
}

TEST_F(MeshCache, FailsWithoutPolygonOrMeshAndLeavesTheOutput) {
    const LWShaderAccess noPolygon0 = spot(objectA, 0, {7, 5, 3, 1}, {1, 0, 0, 0});
    LWShaderAccess noPolygon = noPolygon0;
    noPolygon.polygon = nullptr;
    const LWShaderAccess noMesh = spot(reinterpret_cast<LWItemID>(0x300), 0, {0, 1, 2, 3}, {1, 0, 0, 0});
    for (const LWShaderAccess *sa : {static_cast<const LWShaderAccess *>(&noPolygon), &noMesh}) {
        Vector3d out = {7, 8, 9};
        EXPECT_FALSE(smoothedNormal(sa, kPi, 1, out));
        EXPECT_EQ(out.x, 7);
        EXPECT_EQ(out.z, 9);
    }
    EXPECT_EQ(meshCache.size(), 0u);
    EXPECT_EQ(meshRequests, 1) << "no mesh is asked for a spot without a polygon";
}

TEST_F(MeshCache, PolygonNormalReadsTheChosenPositions) {
    FakeMesh m;
    m.addPoint(0, 0, 0);
    m.addPoint(2, 0, 0);
    m.addPoint(0, 3, 0);
    m.addPoint(4, 0, 0);
    const int triangle = m.addPolygon({0, 1, 2});
    const int edge = m.addPolygon({0, 1});
    const int collinear = m.addPolygon({0, 1, 3});
    m.current[2] = {0, 0, 3};  // the current position tilts the triangle to face -y

    struct Case {
        int polygon, useCurrent;
        Vector3d want;
    } cases[] = {
        {triangle, 0, {0, 0, 1}}, {triangle, 1, {0, -1, 0}}, {edge, 0, {0, 0, 0}}, {collinear, 1, {0, 0, 0}}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "polygon " << c.polygon << " current " << c.useCurrent);
        expectNear(polygonNormal(&m.info, FakeMesh::polygon(c.polygon), c.useCurrent), c.want);
    }
}
