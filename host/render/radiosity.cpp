// SPDX-License-Identifier: Apache-2.0
// Radiosity: light gathered over the hemisphere from the backdrop or, in Monte Carlo mode, from
// the spots gathering rays meet.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

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

namespace {

// The world length one pixel spans at p: the unit of the cache's spacings, so that records are as
// dense on screen near the camera as far from it.
double pixelLength(const RenderContext &rc, const double p[3]) {
    return rc.pixelSpread * (vec(p) - rc.cameraPos).length();
}

// A record of the light gathered at pos around the unit normal n with `rays` rays, jittered over
// a x b strata of the disc (a strata of sin^2 of the polar angle, b of the azimuth) as in Monte
// Carlo gathering, and seeded the same way. Besides the mean, the strata give the record its
// gradients (Ward and Heckbert) and the harmonic mean distance of what the rays met, which with
// the tolerance sets its sphere of influence, within the spacings (in pixels, growing twofold
// per bounce).
void gatherRecord(ThreadState &ts, const double pos[3], const double n[3], int rays, double weight,
                  IrradianceRecord &r) {
    const RenderContext &rc = *ts.rc;
    const scene::RenderOptions &ro = rc.scene->render;
    const int level = ts.bounce;
    int a = static_cast<int>(std::sqrt(static_cast<double>(rays)));
    while (rays % a) --a;
    const int b = rays / a;
    double t1[3], t2[3];
    tangentFrame(n, t1, t2);
    std::vector<double> &ray = ts.gatherScratch[level];  // per ray: colour and distance
    if (ray.size() < static_cast<size_t>(rays) * 4) ray.resize(static_cast<size_t>(rays) * 4);
    uint32_t rng = sampleSeed(ts, pos, 0x49524300u + static_cast<uint32_t>(level));
    auto next = [&rng]() {
        rng = rng * 1664525u + 1013904223u;
        return hash32(rng) * (1.0 / 4294967296.0);
    };
    const double savedWeight = ts.weight;
    ts.weight = weight;
    ++ts.depth;
    ++ts.bounce;
    for (int i = 0; i < rays; ++i) {
        double *s = &ray[static_cast<size_t>(i) * 4];
        double r1 = (i % a + next()) / a, r2 = (i / a + next()) / b, d[3];
        hemisphereDirection(n, t1, t2, r1, r2, d);
        double t = traceFrom(ts, rayStart(ts, pos, d, RayUse::Trace).org, pos, d, LWRT_RADIOSITY, nullptr, 0.0, s);
        s[3] = t > 0 ? t : HUGE_VAL;
    }
    --ts.bounce;
    --ts.depth;
    ts.weight = savedWeight;

    std::copy(pos, pos + 3, r.pos);
    std::copy(n, n + 3, r.normal);
    double inverse = 0.0;
    for (int i = 0; i < rays; ++i) {
        const double *s = &ray[static_cast<size_t>(i) * 4];
        // Rotation: each ray's light moves with the tangent of its polar angle as the normal turns.
        // The strata's centres, not the jittered directions: light the same everywhere then
        // gives no gradient at all.
        double sin2 = (i % a + 0.5) / a, phi = 2 * kPi * (i / a + 0.5) / b;
        double tanT = b > 1 ? std::sqrt(sin2 / (1.0 - sin2)) : 0.0;
        double v[3];
        for (int k = 0; k < 3; ++k) v[k] = t2[k] * std::cos(phi) - t1[k] * std::sin(phi);
        for (int c = 0; c < 3; ++c) {
            r.value[c] += s[c] / rays;
            for (int k = 0; k < 3; ++k) r.rotation[c][k] -= v[k] * tanT * s[c] / rays;
        }
        inverse += 1.0 / s[3];
    }
    // Translation: the change across the borders between neighbouring strata, each weighed by the
    // nearer of the two distances.
    auto at = [&](int j, int k) { return &ray[static_cast<size_t>(k * a + j) * 4]; };
    for (int k = 0; k < b; ++k) {
        double phi = 2 * kPi * (k + 0.5) / b, phiEdge = 2 * kPi * k / b, u[3], v[3];
        for (int x = 0; x < 3; ++x) {
            u[x] = t1[x] * std::cos(phi) + t2[x] * std::sin(phi);
            v[x] = t2[x] * std::cos(phiEdge) - t1[x] * std::sin(phiEdge);
        }
        for (int j = 0; j < a; ++j) {
            const double *here = at(j, k), *side = at(j, (k + b - 1) % b);
            double sinLo = std::sqrt(static_cast<double>(j) / a),
                   sinHi = std::sqrt(static_cast<double>(j + 1) / a);
            double across = (sinHi - sinLo) / std::min(here[3], side[3]);
            double down = 0.0;
            const double *below = j > 0 ? at(j - 1, k) : nullptr;
            if (below) down = 2 * kPi / b * sinLo * (1.0 - sinLo * sinLo) / std::min(here[3], below[3]);
            for (int c = 0; c < 3; ++c)
                for (int x = 0; x < 3; ++x) {
                    double g = v[x] * across * (here[c] - side[c]);
                    if (below) g += u[x] * down * (here[c] - below[c]);
                    r.translation[c][x] += g / kPi;
                }
        }
    }
    // The sphere of influence: the tolerance times the harmonic mean distance, no further than
    // the value's own gradient allows, within the spacings.
    double harmonic = inverse > 0 ? rays / inverse : HUGE_VAL;
    for (int c = 0; c < 3; ++c) {
        double g = std::sqrt(vec(r.translation[c]).length2());
        if (g > 0 && r.value[c] > 0) harmonic = std::min(harmonic, r.value[c] / g);
    }
    const double grow = static_cast<double>(1 << level), unit = pixelLength(rc, pos) * grow;
    const double lo = ro.radiosityMinSpacing * unit, hi = std::max(lo, ro.radiosityMaxSpacing * unit);
    r.radius = std::min(hi, std::max(lo, std::min(1.0, ro.radiosityTolerance * grow) * harmonic));
    if (!(r.radius > 0)) r.radius = 0;  // a spot at the camera: a record that covers nothing
}

// Interpolated radiosity: the cache's records around the spot (and those this fill task added),
// else a new record, which joins the cache while it is being filled.
bool interpolatedRadiosity(ThreadState &ts, const double p[3], const double n[3], int rays, double weight,
                           double col[3]) {
    const RenderContext &rc = *ts.rc;
    const int level = ts.bounce;
    IrradianceSum sum;
    if (rc.irradiance) rc.irradiance->gather(level, p, n, sum);
    if (ts.cacheWriter)
        for (const IrradianceRecord &r : ts.cacheWriter->added[level]) sum.add(r, p, n);
    if (sum.covered()) {
        sum.result(col);
        return true;
    }
    if (!(weight >= rc.rayCutoff)) {
        ts.cutRays += static_cast<uint64_t>(rays);
        return false;
    }
    // A copy: the answer may be written over the position.
    const double pos[3] = {p[0], p[1], p[2]};
    IrradianceRecord r;
    gatherRecord(ts, pos, n, rays, weight, r);
    std::copy(r.value, r.value + 3, col);
    if (ts.cacheWriter)
        ts.cacheWriter->added[level].push_back(r);
    else
        ++ts.cacheMisses;
    return true;
}

}  // namespace

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
    if (ro.radiosity == scene::Radiosity::Interpolated) return interpolatedRadiosity(ts, p, n, rays, weight, col);
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
