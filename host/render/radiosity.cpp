// SPDX-License-Identifier: Apache-2.0
// Radiosity: light gathered over the hemisphere from the backdrop or, in Monte Carlo mode, from
// the spots gathering rays meet.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/render/shading_pvt.h"

namespace host::render {

// Two unit vectors completing a unit normal n to a frame.
void tangentFrame(const double n[3], double t1[3], double t2[3]) {
    Vec3 helper = std::fabs(n[0]) < 0.9 ? Vec3(1, 0, 0) : Vec3(0, 1, 0);
    normalize(helper % vec(n), t1);
    (vec(n) % vec(t1)).getValue(t2[0], t2[1], t2[2]);
}

// The direction over the hemisphere around n (with its frame t1, t2) of a point (r1, r2) of the
// unit square, cosine-weighted.
void hemisphereDirection(const double n[3], const double t1[3], const double t2[3], double r1, double r2,
                         double d[3]) {
    double sr = std::sqrt(r1), phi = 2 * kPi * r2;
    double a = sr * std::cos(phi), b = sr * std::sin(phi), h = std::sqrt(std::max(0.0, 1 - r1));
    for (int c = 0; c < 3; ++c) d[c] = t1[c] * a + t2[c] * b + n[c] * h;
}

// Backdrop radiosity: the backdrop seen over the hemisphere around n, cosine-weighted; rays that
// meet geometry bring nothing.
void backdropRadiosity(ThreadState &ts, const double p[3], const double n[3], double col[3]) {
    const RenderContext &rc = *ts.rc;
    double t1[3], t2[3];
    tangentFrame(n, t1, t2);
    int rays = rc.scene->render.radiosityRays;
    uint32_t saved = ts.rng;
    ts.rng = hash32(static_cast<uint32_t>(ts.sx * 7919.0) ^ hash32(static_cast<uint32_t>(ts.sy * 104729.0)));
    for (int i = 0; i < rays; ++i) {
        double r1 = (i + nextRandom(ts)) / rays, r2 = nextRandom(ts), d[3];
        hemisphereDirection(n, t1, t2, r1, r2, d);
        ++ts.rays;
        if (rc.tracer->occluded(rayStart(ts, p, d, RayUse::Trace).org, d, rc.eps, kFar)) continue;
        double bc[3];
        backdropColor(*rc.scene, d, bc);
        for (int c = 0; c < 3; ++c) col[c] += bc[c];
    }
    ts.rng = saved;
    for (int c = 0; c < 3; ++c) col[c] /= rays;
}

// Radiosity at p around the normal nIn: the light arriving over the hemisphere, cosine-weighted.
// Backdrop mode sees the backdrop alone. Monte Carlo mode traces gathering rays (jittered over
// a x b strata of the disc, seeded per pixel sample and spot): one that meets nothing brings the
// backdrop, one that meets geometry brings that spot's shaded light (its shaders run with
// LWRT_RADIOSITY), and that spot gathers in turn, with the secondary ray count, until the
// scene's bounce count: the last bounce takes no radiosity (its ambient light instead).
// `reflectance` is the share of the answer the spot passes on, which weighs the gathering rays
// for the ray cutoff. False when there is no radiosity here: none in the scene, bounces used up,
// at the recursion limit, or gathering rays below the ray cutoff.
bool radiosity(ThreadState &ts, const double p[3], const double nIn[3], double reflectance, double col[3]) {
    const RenderContext &rc = *ts.rc;
    const scene::RenderOptions &ro = rc.scene->render;
    col[0] = col[1] = col[2] = 0.0;
    double n[3];
    if (ro.radiosity == scene::Radiosity::Off || !normalize(vec(nIn), n)) return false;
    if (ro.radiosity == scene::Radiosity::Backdrop) {
        backdropRadiosity(ts, p, n, col);
        return true;
    }
    if (ts.bounce >= ro.radiosityBounces || ts.depth >= rc.recursionLimit) return false;
    int rays = ts.bounce == 0 ? ro.radiosityRays : ro.radiositySecondaryRays;
    double weight = ts.weight * std::min(1.0, std::max(0.0, reflectance));
    if (!(weight >= rc.rayCutoff)) {
        ts.cutRays += static_cast<uint64_t>(rays);
        return false;
    }
    int a = static_cast<int>(std::sqrt(static_cast<double>(rays)));
    while (rays % a) --a;
    const int b = rays / a;
    double t1[3], t2[3];
    tangentFrame(n, t1, t2);
    // A copy: the answer may be written over the position.
    const double pos[3] = {p[0], p[1], p[2]};
    uint32_t rng = sampleSeed(ts, pos, 0x52414400u + static_cast<uint32_t>(ts.bounce));
    auto next = [&rng]() {
        rng = rng * 1664525u + 1013904223u;
        return hash32(rng) * (1.0 / 4294967296.0);
    };
    double savedWeight = ts.weight;
    ts.weight = weight;
    ++ts.depth;
    ++ts.bounce;
    double sum[3] = {0, 0, 0};
    for (int i = 0; i < rays; ++i) {
        double r1 = (i % a + next()) / a, r2 = (i / a + next()) / b, d[3], c[3];
        hemisphereDirection(n, t1, t2, r1, r2, d);
        traceFrom(ts, rayStart(ts, pos, d, RayUse::Trace).org, pos, d, LWRT_RADIOSITY, nullptr, 0.0, c);
        for (int k = 0; k < 3; ++k) sum[k] += c[k];
    }
    --ts.bounce;
    --ts.depth;
    ts.weight = savedWeight;
    for (int k = 0; k < 3; ++k) col[k] = sum[k] / rays;
    return true;
}

}  // namespace host::render
