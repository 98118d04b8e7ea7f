// SPDX-License-Identifier: Apache-2.0
// Shared by the files of the host's shading (shading.cpp, light_sampling.cpp, radiosity.cpp,
// environment.cpp, host_shading.cpp, spot.cpp, ray_functions.cpp); not for use outside
// host/render.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "host/render/shading.h"

namespace host::render {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFar = 1e30;
constexpr int kMaxShadowHits = 32;

using scene::Vec3;

// Three numbers of a record, a mesh or a local array as a vector.
inline Vec3 vec(const double *p) { return {p[0], p[1], p[2]}; }
inline Vec3 vec(const float *p) { return {p[0], p[1], p[2]}; }

// The unit vector along v into out; false, and out zero, where v has no finite, non-zero length.
inline bool normalize(const Vec3 &v, double *out) {
    double l = v.length();
    bool ok = l > 0.0 && std::isfinite(l);
    (ok ? v / l : Vec3(0, 0, 0)).getValue(out[0], out[1], out[2]);
    return ok;
}

// The unit vector along v, zero where it has no finite, non-zero length.
inline Vec3 unitOf(const Vec3 &v) {
    Vec3 u{0, 0, 0};
    normalize(v, u.getValue());
    return u;
}

inline double frac(double x) { return x - std::floor(x); }

inline uint32_t hash32(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

inline double nextRandom(ThreadState &ts) {
    ts.rng = ts.rng * 1664525u + 1013904223u;
    return hash32(ts.rng) * (1.0 / 4294967296.0);
}

enum class RayUse { Shadow, Trace };
// Where a ray from a position starts, and whether it passes the facets around the current spot.
struct RayStart {
    const double *org;
    bool passNear;
};

// shading.cpp
const scene::Surface &surfaceOf(const RenderContext &rc, const trace::TracedMesh &m, int triangle);
double distanceFrom(const double pos[3], const double origin[3], const double d[3], double t);
bool fillAccess(ThreadState &ts, const trace::Hit &hit, const double org[3], const double dir[3], int flags,
                LWItemID source, double pathLength, LWShaderAccess &sa, bool currentSpot = false);
void shadeAccess(ThreadState &ts, LWShaderAccess &sa, const scene::Surface &surf,
                 const std::vector<plugin::ShaderSlot> *slots, const double dir[3], double out[3]);
double traceFrom(ThreadState &ts, const double org[3], const double asked[3], const double dir[3], int flags,
                 LWItemID source, double pathLength, double color[3]);

// light_sampling.cpp
const LightState *findLight(const RenderContext &rc, LWItemID id);
bool excluded(const scene::ObjectItem *obj, const scene::LightItem *light);
double falloffAt(const LightState &l, double d);
double lightArriving(const RenderContext &rc, const LightState &l, const double p[3], double dir[3],
                     double col[3]);
bool onlyNearHits(ThreadState &ts, const double p[3], const double dir[3], double tfar);
void shadowTransmission(ThreadState &ts, const double p[3], const double dir[3], double dist, double trans[3],
                        bool passNear = false);
int lightSampleCount(const LightState &l);
uint32_t sampleSeed(const ThreadState &ts, const double p[3], uint32_t salt);
Vec3 lightSamplePoint(const LightState &l, int k, int n, double ju, double jv);

// radiosity.cpp
void tangentFrame(const double n[3], double t1[3], double t2[3]);
void hemisphereDirection(const double n[3], const double t1[3], const double t2[3], double r1, double r2,
                         double d[3]);
void backdropRadiosity(ThreadState &ts, const double p[3], const double n[3], double col[3]);
bool radiosity(ThreadState &ts, const double p[3], const double nIn[3], double reflectance, double col[3]);

// environment.cpp
void sphericalColor(const image::Image &img, const double d[3], double seam, double out[3]);
void environment(ThreadState &ts, const scene::EnvironmentOptions &env, bool traced, const double p[3],
                 const double d[3], int flags, double pathLength, double weight, double out[3]);

// host_shading.cpp
void builtinShading(ThreadState &ts, const LWShaderAccess &sa, const scene::Surface &surf, const double dir[3],
                    double out[3]);
void applyChannelTextures(const RenderContext &rc, int surface, const scene::Surface &surf, LWShaderAccess &sa);

// spot.cpp
const float *cornerNormal(const trace::TracedMesh &m, int triangle, const int *tri, int k);
bool smoothSurfacePoint(const double v[3][3], const double n[3][3], const double g[3], const double w[3],
                        const double p[3], double out[3]);
void setSpot(ThreadState &ts, const trace::TracedMesh &m, int triangle, const int *tri, const double w[3],
             const LWShaderAccess &sa, bool smooth, int side);
RayStart rayStart(const ThreadState &ts, const double pos[3], const double d[3], RayUse use);
bool nearSpot(const ThreadState &ts, const trace::Hit &hit);

// The light arriving at p from a light, with ray-traced shadows when the scene and the light
// have them. visit(dir, colour) is called for each sample that brings light: the unit direction
// from the light (or that point of it) towards p and the colour it brings, a sized light's
// samples each bringing their share. Shadow rays from the spot being shaded leave from the
// smooth surface (rayStart).
template <class Visit>
void sampleLight(ThreadState &ts, const LightState &l, const double p[3], Visit &&visit) {
    const RenderContext &rc = *ts.rc;
    if (ts.probe && ts.depth == 0) return;  // the cache fill's camera spot needs no direct light
    bool shadows = (rc.renderOpts & 1) && l.item->shadow != scene::ShadowType::Off;
    double dir[3], col[3], trans[3];
    int n = lightSampleCount(l);
    if (n == 1) {
        double d = lightArriving(rc, l, p, dir, col);
        if (d < 0 || (col[0] <= 0 && col[1] <= 0 && col[2] <= 0)) return;
        if (shadows) {
            Vec3 back = -vec(dir);
            RayStart start = rayStart(ts, p, back.getValue(), RayUse::Shadow);
            const double *from = start.org;
            if (from != p && d < kFar) {
                // Aim from the moved origin at the light itself.
                Vec3 to = vec(p) + back * d - vec(from);
                d = to.length();
                if (!normalize(to, back.getValue())) return;
            }
            shadowTransmission(ts, from, back.getValue(), d, trans, start.passNear);
            for (int c = 0; c < 3; ++c) col[c] *= trans[c];
            if (col[0] <= 0 && col[1] <= 0 && col[2] <= 0) return;
        }
        visit(dir, col);
        return;
    }
    const bool area = l.item->type == scene::LightType::Area;
    Vec3 forward = unitOf(l.forward);
    uint32_t rng = sampleSeed(ts, p, static_cast<uint32_t>(&l - rc.lights.data()));
    auto next = [&rng]() {
        rng = rng * 1664525u + 1013904223u;
        return hash32(rng) * (1.0 / 4294967296.0);
    };
    for (int k = 0; k < n; ++k) {
        double ju = next(), jv = next();
        Vec3 s = lightSamplePoint(l, k, n, ju, jv), q = vec(p) - s;
        double d = q.length();
        if (!(d > 0.0)) continue;
        (q / d).getValue(dir[0], dir[1], dir[2]);
        // An area light shines from its front as a Lambertian panel.
        double f = falloffAt(l, d) * (area ? std::max(0.0, vec(dir).dot(forward)) : 1.0) / n;
        for (int c = 0; c < 3; ++c) col[c] = l.color[c] * f;
        if (col[0] <= 0 && col[1] <= 0 && col[2] <= 0) continue;
        if (shadows) {
            Vec3 back = -vec(dir);
            RayStart start = rayStart(ts, p, back.getValue(), RayUse::Shadow);
            const double *from = start.org;
            if (from != p) {
                Vec3 to = s - vec(from);
                d = to.length();
                if (!normalize(to, back.getValue())) continue;
            }
            shadowTransmission(ts, from, back.getValue(), d, trans, start.passNear);
            for (int c = 0; c < 3; ++c) col[c] *= trans[c];
            if (col[0] <= 0 && col[1] <= 0 && col[2] <= 0) continue;
        }
        visit(dir, col);
    }
}

}  // namespace host::render
