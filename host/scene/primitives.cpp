// SPDX-License-Identifier: Apache-2.0
#include "host/scene/primitives.h"

#include <cmath>

namespace host::scene {

namespace {

int addPoint(MeshLayer &layer, double x, double y, double z) {
    MeshPoint p;
    p.pos[0] = static_cast<float>(x);
    p.pos[1] = static_cast<float>(y);
    p.pos[2] = static_cast<float>(z);
    layer.points.push_back(p);
    return static_cast<int>(layer.points.size() - 1);
}

void addPolygon(MeshLayer &layer, std::vector<int> pts, int surface) {
    MeshPolygon poly;
    poly.points = std::move(pts);
    poly.surface = surface;
    layer.polygons.push_back(std::move(poly));
}

}  // namespace

void makeSphere(MeshLayer &layer, double radius, int segments, int rings, int surface) {
    const double pi = 3.14159265358979323846;
    int top = addPoint(layer, 0, radius, 0);
    int first = static_cast<int>(layer.points.size());
    for (int r = 1; r < rings; ++r) {
        double theta = pi * r / rings;
        for (int s = 0; s < segments; ++s) {
            double phi = 2 * pi * s / segments;
            addPoint(layer, radius * std::sin(theta) * std::sin(phi), radius * std::cos(theta),
                     radius * std::sin(theta) * std::cos(phi));
        }
    }
    int bottom = addPoint(layer, 0, -radius, 0);
    auto at = [&](int ring, int seg) { return first + (ring - 1) * segments + (seg % segments); };
    for (int s = 0; s < segments; ++s) {
        addPolygon(layer, {top, at(1, s), at(1, s + 1)}, surface);
        for (int r = 1; r + 1 < rings; ++r)
            addPolygon(layer, {at(r, s), at(r + 1, s), at(r + 1, s + 1), at(r, s + 1)}, surface);
        addPolygon(layer, {bottom, at(rings - 1, s + 1), at(rings - 1, s)}, surface);
    }
}

void makeBox(MeshLayer &layer, const Vec3 &size, int surface) {
    double hx = size[0] / 2, hy = size[1] / 2, hz = size[2] / 2;
    int p[8];
    for (int i = 0; i < 8; ++i) p[i] = addPoint(layer, (i & 1) ? hx : -hx, (i & 2) ? hy : -hy, (i & 4) ? hz : -hz);
    addPolygon(layer, {p[0], p[2], p[3], p[1]}, surface);  // -Z
    addPolygon(layer, {p[4], p[5], p[7], p[6]}, surface);  // +Z
    addPolygon(layer, {p[0], p[4], p[6], p[2]}, surface);  // -X
    addPolygon(layer, {p[1], p[3], p[7], p[5]}, surface);  // +X
    addPolygon(layer, {p[0], p[1], p[5], p[4]}, surface);  // -Y
    addPolygon(layer, {p[2], p[6], p[7], p[3]}, surface);  // +Y
}

void makeGrid(MeshLayer &layer, double sizeX, double sizeZ, int nx, int nz, int surface) {
    int first = static_cast<int>(layer.points.size());
    for (int j = 0; j <= nz; ++j)
        for (int i = 0; i <= nx; ++i)
            addPoint(layer, sizeX * (double(i) / nx - 0.5), 0, sizeZ * (double(j) / nz - 0.5));
    auto at = [&](int i, int j) { return first + j * (nx + 1) + i; };
    for (int j = 0; j < nz; ++j)
        for (int i = 0; i < nx; ++i)
            addPolygon(layer, {at(i, j), at(i, j + 1), at(i + 1, j + 1), at(i + 1, j)}, surface);
}

void makeDisc(MeshLayer &layer, double radius, int segments, int surface) {
    const double pi = 3.14159265358979323846;
    std::vector<int> ring;
    for (int s = 0; s < segments; ++s) {
        double phi = 2 * pi * s / segments;
        ring.push_back(addPoint(layer, radius * std::sin(phi), 0, radius * std::cos(phi)));
    }
    addPolygon(layer, ring, surface);
}

}  // namespace host::scene
