// SPDX-License-Identifier: Apache-2.0
#include "tests/support/fake_mesh.h"

namespace testhost {

namespace {

FakeMesh &of(LWMeshInfo *m) { return *static_cast<FakeMesh *>(m->priv); }
size_t index(void *id) { return reinterpret_cast<uintptr_t>(id) - 1; }

void destroy(LWMeshInfo *m) { ++of(m).destroyed; }
int numPoints(LWMeshInfo *m) { return static_cast<int>(of(m).base.size()); }
int numPolygons(LWMeshInfo *m) { return static_cast<int>(of(m).polygons.size()); }

int scanPoints(LWMeshInfo *m, LWPntScanFunc *func, void *data) {
    for (size_t i = 0; i < of(m).base.size(); ++i)
        if (int r = func(data, FakeMesh::point(static_cast<int>(i)))) return r;
    return 0;
}

int scanPolys(LWMeshInfo *m, LWPolScanFunc *func, void *data) {
    ++of(m).scans;
    for (size_t i = 0; i < of(m).polygons.size(); ++i)
        if (int r = func(data, FakeMesh::polygon(static_cast<int>(i)))) return r;
    return 0;
}

void copyPos(const std::vector<std::array<float, 3>> &from, LWPntID pnt, LWFVector pos) {
    const size_t i = index(pnt);
    if (!pnt || i >= from.size()) return;
    for (int k = 0; k < 3; ++k) pos[k] = from[i][k];
}

void pntBasePos(LWMeshInfo *m, LWPntID pnt, LWFVector pos) { copyPos(of(m).base, pnt, pos); }
void pntOtherPos(LWMeshInfo *m, LWPntID pnt, LWFVector pos) { copyPos(of(m).current, pnt, pos); }

int polSize(LWMeshInfo *m, LWPolID pol) {
    const size_t i = index(pol);
    return pol && i < of(m).polygons.size() ? static_cast<int>(of(m).polygons[i].size()) : 0;
}

LWPntID polVertex(LWMeshInfo *m, LWPolID pol, int vertex) {
    const size_t i = index(pol);
    if (!pol || i >= of(m).polygons.size() || vertex < 0 || vertex >= static_cast<int>(of(m).polygons[i].size()))
        return nullptr;
    return FakeMesh::point(of(m).polygons[i][static_cast<size_t>(vertex)]);
}

const char *polTag(LWMeshInfo *m, LWPolID pol, LWID type) {
    const size_t i = index(pol);
    return type == LWPTAG_SURF && pol && i < of(m).surfaces.size() ? of(m).surfaces[i] : nullptr;
}

}  // namespace

FakeMesh::FakeMesh() {
    info = {this,        destroy, numPoints, numPolygons, scanPoints, scanPolys, pntBasePos,
            pntOtherPos, nullptr, nullptr,   nullptr,     polSize,    polVertex, polTag};
}

int FakeMesh::addPoint(float x, float y, float z) {
    base.push_back({x, y, z});
    current.push_back({x, y, z});
    return static_cast<int>(base.size()) - 1;
}

int FakeMesh::addPolygon(std::vector<int> corners, const char *surface) {
    polygons.push_back(std::move(corners));
    surfaces.push_back(surface);
    return static_cast<int>(polygons.size()) - 1;
}

}  // namespace testhost
