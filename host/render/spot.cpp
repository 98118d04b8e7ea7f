// SPDX-License-Identifier: Apache-2.0
// The spot being shaded: its smooth surface point (the shadow-terminator offset), and where rays
// leaving it start.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/render/shading_pvt.h"

namespace host::render {

// The smoothed normal at corner k of a triangle: its corner normal where the layer has them (a
// surface smoothing within an angle), else its point's.
const float *cornerNormal(const trace::TracedMesh &m, int triangle, const int *tri, int k) {
    return m.worldCornerNormal.empty() ? &m.worldNormal[tri[k] * 3] : &m.worldCornerNormal[(triangle * 3 + k) * 3];
}

// The shadow-terminator offset of Hanika ("Hacking the shadow terminator", 2021): the spot p is
// projected onto the tangent plane of each corner (only when it lies below that plane) and the
// projections are blended by the spot's barycentric weights. On convex parts this lands on a
// smooth surface through the corners with their normals, just above the flat facet, so rays
// leaving it do not catch the neighbouring facets the flat point sits beneath. Corners whose
// normal is the facet's add nothing, and the offset is bounded by a quarter of the longest edge
// so that wild normals cannot carry rays far off. Returns false when no corner bends away from
// the facet (a flat facet: out is p).
bool smoothSurfacePoint(const double v[3][3], const double n[3][3], const double g[3], const double w[3],
                        const double p[3], double out[3]) {
    Vec3 off{0, 0, 0};
    bool bent = false;
    for (int k = 0; k < 3; ++k) {
        Vec3 nk = vec(n[k]);
        if (nk.dot(vec(g)) >= 1.0 - 1e-6) continue;
        bent = true;
        double d = std::min(0.0, (vec(p) - vec(v[k])).dot(nk));
        off -= nk * (w[k] * d);
    }
    double edge = 0;
    for (int k = 0; k < 3; ++k) edge = std::max(edge, (vec(v[(k + 1) % 3]) - vec(v[k])).length2());
    double len2 = off.length2(), limit = 0.0625 * edge;  // (edge / 4)^2
    double k = len2 > limit ? std::sqrt(limit / len2) : 1.0;
    (vec(p) + off * k).getValue(out[0], out[1], out[2]);
    return bent;
}

// Records the spot about to be shaded as the thread's current one. `side` is 1 when the ray met
// the facet's front, -1 the back of a double-sided surface (normals turned), 0 the back of a
// single-sided one (no smooth surface to leave from there).
void setSpot(ThreadState &ts, const trace::TracedMesh &m, int triangle, const int *tri, const double w[3],
             const LWShaderAccess &sa, bool smooth, int side) {
    ThreadState::Spot &s = ts.spot;
    s.set = true;
    std::memcpy(s.pos, sa.wPos, sizeof s.pos);
    std::memcpy(s.lifted, sa.wPos, sizeof s.lifted);
    std::memcpy(s.beneath, sa.wPos, sizeof s.beneath);
    std::memcpy(s.geometric, sa.gNorm, sizeof s.geometric);
    std::memcpy(s.shading, sa.wNorm0, sizeof s.shading);
    s.smooth = false;
    if (!smooth || side == 0 || !ts.rc->smoothOrigins) return;
    double v[3][3], n[3][3];
    for (int k = 0; k < 3; ++k)
        for (int c = 0; c < 3; ++c) {
            v[k][c] = m.worldPos[tri[k] * 3 + c];
            n[k][c] = side * cornerNormal(m, triangle, tri, k)[c];
        }
    if (!smoothSurfacePoint(v, n, sa.gNorm, w, sa.wPos, s.lifted)) return;
    s.smooth = true;
    s.mesh = static_cast<int>(&m - ts.rc->tracer->meshes().data());
    for (int k = 0; k < 3; ++k) {
        s.corners[k] = tri[k];
        for (int c = 0; c < 3; ++c) s.facet[c] = side * sa.gNorm[c];
    }
    // Twice the ray offset: a ray from here back up through the facet meets it beyond tnear.
    for (int c = 0; c < 3; ++c) s.beneath[c] = sa.wPos[c] - 2.0 * ts.rc->eps * sa.gNorm[c];
}

// Where a ray from pos along d starts. Only rays from exactly the current spot move: one that
// leaves above the smooth surface starts on it; a shadow ray (a visibility query) that leaves
// below the smooth surface but above the facet starts beneath the facet, since the smooth
// surface would stop it at once; any other ray (into the surface: refraction, a trace through
// the object) keeps pos. Shadow rays leaving above a smooth surface also pass the facets around
// the spot: where the mesh's facets stand out of the smooth surface its normals describe, they
// would cut its shading off along their edges.
RayStart rayStart(const ThreadState &ts, const double pos[3], const double d[3], RayUse use) {
    const ThreadState::Spot &s = ts.spot;
    if (!s.set || pos[0] != s.pos[0] || pos[1] != s.pos[1] || pos[2] != s.pos[2]) return {pos, false};
    if (vec(d).dot(vec(s.shading)) >= 0) return {s.lifted, s.smooth && use == RayUse::Shadow};
    if (use == RayUse::Shadow && vec(d).dot(vec(s.geometric)) >= 0) return {s.beneath, false};
    return {pos, false};
}

// Whether a hit lies on a facet around the current spot: one sharing a point with its triangle
// (the triangle itself included) and bending less than 60 degrees from it, so that a real fold or
// crease still casts its shadow.
bool nearSpot(const ThreadState &ts, const trace::Hit &hit) {
    const ThreadState::Spot &s = ts.spot;
    if (hit.mesh != s.mesh) return false;
    const trace::TracedMesh &m = ts.rc->tracer->meshes()[hit.mesh];
    const int *t = &m.layer->triangles[hit.triangle * 3];
    bool shares = false;
    for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b) shares = shares || t[a] == s.corners[b];
    if (!shares) return false;
    const float *p0 = &m.worldPos[t[0] * 3], *p1 = &m.worldPos[t[1] * 3], *p2 = &m.worldPos[t[2] * 3];
    Vec3 g = (vec(p1) - vec(p0)) % (vec(p2) - vec(p0));
    double len = g.length();
    return len > 0 && g.dot(vec(s.facet)) >= 0.5 * len;
}

}  // namespace host::render
