#include "host/render/shading.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/services/scene_services.h"
#include "host/texture/texture_system.h"
#include "sdk/item_info.h"

namespace host::render {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFar = 1e30;
constexpr int kMaxShadowHits = 32;

thread_local ThreadState *tBound = nullptr;

inline double dot(const double *a, const double *b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

inline bool normalize(const double *in, double *out) {
    double l = std::sqrt(dot(in, in));
    if (!(l > 0.0) || !std::isfinite(l)) {
        out[0] = out[1] = out[2] = 0.0;
        return false;
    }
    out[0] = in[0] / l;
    out[1] = in[1] / l;
    out[2] = in[2] / l;
    return true;
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

scene::Vec3 unitOf(const scene::Vec3 &v) {
    double o[3];
    normalize(v.data(), o);
    return {o[0], o[1], o[2]};
}

// Spherical mapping shared by backdrop and environment images: heading and pitch of the
// direction give u (with the seam) and v.
void sphericalColor(const image::Image &img, const double d[3], double seam, double out[3]) {
    double x = d[0], y = d[1], z = d[2];
    double heading = (x == 0 && z == 0) ? 0.0 : -std::atan2(x, z);
    double pitch = std::atan2(y, std::sqrt(x * x + z * z));
    double u = frac(1.0 - (heading + seam) / (2 * kPi));
    double v = std::min(1.0, std::max(0.0, 0.5 - pitch / kPi));
    img.sample(u, v, true, out);
}

const scene::Surface &surfaceOf(const RenderContext &rc, const trace::TracedMesh &m, int triangle) {
    int poly = m.layer->triPolygon[triangle];
    return *rc.scene->surfaces[m.layer->polygons[poly].surface];
}

const LightState *findLight(const RenderContext &rc, LWItemID id) {
    for (const LightState &l : rc.lights)
        if (scene::itemID(l.item) == id) return &l;
    return nullptr;
}

bool excluded(const scene::ObjectItem *obj, const scene::LightItem *light) {
    if (!obj) return false;
    for (const scene::Item *e : obj->excludedLights)
        if (e == light) return true;
    return false;
}

// A light's falloff at a distance d from it.
double falloffAt(const LightState &l, double d) {
    switch (l.item->falloff) {
        case scene::Falloff::Linear:
            return d <= l.range ? 1.0 - d / l.range : 0.0;
        case scene::Falloff::InverseDistance:
            return l.range / d;
        case scene::Falloff::InverseSquare:
            return (l.range * l.range) / (d * d);
        default:
            return 1.0;
    }
}

// Unshadowed light from a light at p: colour and direction from the light towards p (unit).
// Returns the distance to the light (kFar for distant lights), negative when no light arrives.
double lightArriving(const RenderContext &rc, const LightState &l, const double p[3], double dir[3],
                     double col[3]) {
    col[0] = col[1] = col[2] = 0.0;
    const scene::LightItem &li = *l.item;
    if (li.type == scene::LightType::Distant) {
        normalize(l.forward.data(), dir);
        for (int c = 0; c < 3; ++c) col[c] = l.color[c];
        return kFar;
    }
    double q[3] = {p[0] - l.pos[0], p[1] - l.pos[1], p[2] - l.pos[2]};
    double d = std::sqrt(dot(q, q));
    if (!(d > 0.0)) {
        dir[0] = dir[1] = dir[2] = 0.0;
        return -1.0;
    }
    for (int c = 0; c < 3; ++c) dir[c] = q[c] / d;
    double f = falloffAt(l, d);
    if (li.type == scene::LightType::Spot) {
        double a[3];
        normalize(l.forward.data(), a);
        double qa = dot(q, a);
        if (li.projectionImage >= 0) {
            // Projection: the image spans the cone's square of half-angle `cone` around the axis.
            double t = std::tan(l.cone);
            if (!(l.cone < kPi / 2) || qa <= 0) return -1.0;
            double x = dot(q, l.right.data()) / (qa * t), y = dot(q, l.up.data()) / (qa * t);
            if (std::fabs(x) > 1 || std::fabs(y) > 1) return -1.0;
            double pc[3];
            rc.scene->images[li.projectionImage]->sample((x + 1) * 0.5, 1 - (y + 1) * 0.5, true, pc);
            for (int c = 0; c < 3; ++c) col[c] = l.color[c] * pc[c] * f;
            return d;
        }
        double ca = qa / d, ci = std::cos(l.cone - l.edge), co = std::cos(l.cone);
        double s;
        if (ca >= ci)
            s = 1.0;
        else if (ca <= co)
            s = 0.0;
        else {
            double t = (ca - co) / (ci - co);
            s = t * t * (3 - 2 * t);
        }
        f *= s;
    }
    for (int c = 0; c < 3; ++c) col[c] = l.color[c] * f;
    return d;
}

bool fillAccess(ThreadState &ts, const trace::Hit &hit, const double org[3], const double dir[3], int flags,
                LWItemID source, double pathLength, LWShaderAccess &sa, bool currentSpot = false);
enum class RayUse { Shadow, Trace };
// Where a ray from a position starts, and whether it passes the facets around the current spot.
struct RayStart {
    const double *org;
    bool passNear;
};
RayStart rayStart(const ThreadState &ts, const double pos[3], const double d[3], RayUse use);
bool nearSpot(const ThreadState &ts, const trace::Hit &hit);

double traceFrom(ThreadState &ts, const double org[3], const double asked[3], const double dir[3], int flags,
                 LWItemID source, double pathLength, double color[3]);

// Whether everything a ray meets up to tfar lies on the facets around the current spot.
bool onlyNearHits(ThreadState &ts, const double p[3], const double dir[3], double tfar) {
    const RenderContext &rc = *ts.rc;
    double tnear = rc.eps;
    for (int k = 0; k < kMaxShadowHits; ++k) {
        ++ts.rays;
        trace::Hit hit = rc.tracer->intersect(p, dir, tnear, tfar);
        if (hit.t < 0) return true;
        if (!nearSpot(ts, hit)) return false;
        tnear = hit.t + rc.eps;
    }
    return false;
}

// Light passing from p along a unit direction over a distance: 1 where nothing is in the way,
// reduced by every transparent surface passed (shaded, so its shaders may change it), zero when
// an opaque surface blocks it. With passNear the facets around the current spot are passed.
void shadowTransmission(ThreadState &ts, const double p[3], const double dir[3], double dist, double trans[3],
                        bool passNear = false) {
    const RenderContext &rc = *ts.rc;
    trans[0] = trans[1] = trans[2] = 1.0;
    double tfar = dist >= kFar ? kFar : dist - rc.eps;
    if (tfar <= rc.eps) return;
    if (rc.simpleShadows) {
        ++ts.rays;
        if (rc.tracer->occluded(p, dir, rc.eps, tfar) && !(passNear && onlyNearHits(ts, p, dir, tfar)))
            trans[0] = trans[1] = trans[2] = 0.0;
        return;
    }
    double tnear = rc.eps;
    for (int k = 0; k < kMaxShadowHits; ++k) {
        ++ts.rays;
        trace::Hit hit = rc.tracer->intersect(p, dir, tnear, tfar);
        if (hit.t < 0) return;
        tnear = hit.t + rc.eps;
        const trace::TracedMesh &m = rc.tracer->meshes()[hit.mesh];
        if (!m.object->castShadows || (passNear && nearSpot(ts, hit))) continue;
        const scene::Surface &surf = surfaceOf(rc, m, hit.triangle);
        if (!(surf.transparency > 0.0)) {
            trans[0] = trans[1] = trans[2] = 0.0;
            return;
        }
        double transparency = surf.transparency, filterColor[3] = {surf.color[0], surf.color[1], surf.color[2]};
        double filter = surf.colorFilter;
        const std::vector<plugin::ShaderSlot> *slots =
            rc.shaders.empty() ? nullptr
                               : &rc.shaders[m.layer->polygons[m.layer->triPolygon[hit.triangle]].surface];
        if (slots && !slots->empty() && ts.depth <= rc.recursionLimit) {
            // Shade the spot the shadow ray passes: its shaders may change how much light passes.
            LWShaderAccess sa;
            ++ts.depth;
            if (fillAccess(ts, hit, p, dir, LWRT_SHADOW, nullptr, 0.0, sa)) {
                const LWShaderAccess *saved = ts.spotAccess;
                ts.spotAccess = &sa;
                for (const plugin::ShaderSlot &s : *slots) s.handler->evaluate(s.instance, &sa);
                ts.spotAccess = saved;
                transparency = std::min(1.0, std::max(0.0, sa.transparency));
                filter = sa.colorFL;
                for (int c = 0; c < 3; ++c) filterColor[c] = sa.color[c];
            }
            --ts.depth;
        }
        for (int c = 0; c < 3; ++c) trans[c] *= transparency * ((1 - filter) + filter * filterColor[c]);
        if (trans[0] <= 0 && trans[1] <= 0 && trans[2] <= 0) return;
    }
}

// Shadow samples a light takes: its sample count when it is an area or linear light with a size,
// else 1 (a point, spot or distant light, or a sized light of size zero).
int lightSampleCount(const LightState &l) {
    const scene::LightItem &li = *l.item;
    if (li.type == scene::LightType::Area && (li.size[0] > 0 || li.size[1] > 0)) return li.samples;
    if (li.type == scene::LightType::Linear && li.size[0] > 0) return li.samples;
    return 1;
}

// A seed for the samples one spot takes of one light: the same for the same pixel sample, spot
// and light on every run and thread, and different from spot to spot.
uint32_t sampleSeed(const ThreadState &ts, const double p[3], uint32_t salt) {
    auto fold = [](double v) {
        uint64_t b;
        std::memcpy(&b, &v, sizeof b);
        return static_cast<uint32_t>(b) ^ static_cast<uint32_t>(b >> 32);
    };
    uint32_t h = hash32(salt * 0x9E3779B9u + 1u);
    for (double v : {ts.sx, ts.sy, p[0], p[1], p[2]}) h = hash32(h ^ fold(v));
    return h;
}

// Sample point k of n on an area or linear light, jittered by (ju, jv) in [0, 1) inside its
// stratum. An area light is cut into a x b strata (a b = n, a the divisor of n nearest its root,
// the larger count along the longer side); a linear light into n along its length.
void lightSamplePoint(const LightState &l, int k, int n, double ju, double jv, double out[3]) {
    const scene::LightItem &li = *l.item;
    double u, v = 0.5;
    if (li.type == scene::LightType::Area) {
        int a = static_cast<int>(std::sqrt(static_cast<double>(n)));
        while (n % a) --a;
        int cols = li.size[0] >= li.size[1] ? n / a : a, rows = n / cols;
        u = (k % cols + ju) / cols;
        v = (k / cols + jv) / rows;
    } else {
        u = (k + ju) / n;
    }
    double x = (u - 0.5) * li.size[0], y = (v - 0.5) * li.size[1];
    for (int c = 0; c < 3; ++c) out[c] = l.pos[c] + x * l.right[c] + y * l.up[c];
}

// The light arriving at p from a light, with ray-traced shadows when the scene and the light
// have them. visit(dir, colour) is called for each sample that brings light: the unit direction
// from the light (or that point of it) towards p and the colour it brings, a sized light's
// samples each bringing their share. Shadow rays from the spot being shaded leave from the
// smooth surface (rayStart).
template <class Visit>
void sampleLight(ThreadState &ts, const LightState &l, const double p[3], Visit &&visit) {
    const RenderContext &rc = *ts.rc;
    bool shadows = (rc.renderOpts & 1) && l.item->shadow != scene::ShadowType::Off;
    double dir[3], col[3], trans[3];
    int n = lightSampleCount(l);
    if (n == 1) {
        double d = lightArriving(rc, l, p, dir, col);
        if (d < 0 || (col[0] <= 0 && col[1] <= 0 && col[2] <= 0)) return;
        if (shadows) {
            double back[3] = {-dir[0], -dir[1], -dir[2]};
            RayStart start = rayStart(ts, p, back, RayUse::Shadow);
            const double *from = start.org;
            if (from != p && d < kFar) {
                // Aim from the moved origin at the light itself.
                double to[3] = {p[0] + back[0] * d - from[0], p[1] + back[1] * d - from[1],
                                p[2] + back[2] * d - from[2]};
                d = std::sqrt(dot(to, to));
                if (!normalize(to, back)) return;
            }
            shadowTransmission(ts, from, back, d, trans, start.passNear);
            for (int c = 0; c < 3; ++c) col[c] *= trans[c];
            if (col[0] <= 0 && col[1] <= 0 && col[2] <= 0) return;
        }
        visit(dir, col);
        return;
    }
    const bool area = l.item->type == scene::LightType::Area;
    double forward[3];
    normalize(l.forward.data(), forward);
    uint32_t rng = sampleSeed(ts, p, static_cast<uint32_t>(&l - rc.lights.data()));
    auto next = [&rng]() {
        rng = rng * 1664525u + 1013904223u;
        return hash32(rng) * (1.0 / 4294967296.0);
    };
    for (int k = 0; k < n; ++k) {
        double ju = next(), jv = next(), s[3];
        lightSamplePoint(l, k, n, ju, jv, s);
        double q[3] = {p[0] - s[0], p[1] - s[1], p[2] - s[2]};
        double d = std::sqrt(dot(q, q));
        if (!(d > 0.0)) continue;
        for (int c = 0; c < 3; ++c) dir[c] = q[c] / d;
        // An area light shines from its front as a Lambertian panel.
        double f = falloffAt(l, d) * (area ? std::max(0.0, dot(dir, forward)) : 1.0) / n;
        for (int c = 0; c < 3; ++c) col[c] = l.color[c] * f;
        if (col[0] <= 0 && col[1] <= 0 && col[2] <= 0) continue;
        if (shadows) {
            double back[3] = {-dir[0], -dir[1], -dir[2]};
            RayStart start = rayStart(ts, p, back, RayUse::Shadow);
            const double *from = start.org;
            if (from != p) {
                double to[3] = {s[0] - from[0], s[1] - from[1], s[2] - from[2]};
                d = std::sqrt(dot(to, to));
                if (!normalize(to, back)) continue;
            }
            shadowTransmission(ts, from, back, d, trans, start.passNear);
            for (int c = 0; c < 3; ++c) col[c] *= trans[c];
            if (col[0] <= 0 && col[1] <= 0 && col[2] <= 0) continue;
        }
        visit(dir, col);
    }
}

// Two unit vectors completing a unit normal n to a frame.
void tangentFrame(const double n[3], double t1[3], double t2[3]) {
    double helper[3] = {std::fabs(n[0]) < 0.9 ? 1.0 : 0.0, std::fabs(n[0]) < 0.9 ? 0.0 : 1.0, 0.0};
    double c1[3] = {helper[1] * n[2] - helper[2] * n[1], helper[2] * n[0] - helper[0] * n[2],
                    helper[0] * n[1] - helper[1] * n[0]};
    normalize(c1, t1);
    t2[0] = n[1] * t1[2] - n[2] * t1[1];
    t2[1] = n[2] * t1[0] - n[0] * t1[2];
    t2[2] = n[0] * t1[1] - n[1] * t1[0];
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
    if (ro.radiosity == scene::Radiosity::Off || !normalize(nIn, n)) return false;
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

// The colour along a reflected or refracted ray per a surface's environment options.
// `weight` is the traced ray's weight in the pixel: below the cutoff the ray falls back as one
// beyond the recursion limit does.
void environment(ThreadState &ts, const scene::EnvironmentOptions &env, bool traced, const double p[3],
                 const double d[3], int flags, double pathLength, double weight, double out[3]) {
    const RenderContext &rc = *ts.rc;
    out[0] = out[1] = out[2] = 0.0;
    int opt = env.option;
    if (opt == 0) {
        backdropColor(*rc.scene, d, out);
        return;
    }
    double t = -1.0;
    if (opt == 1 || opt == 3) {
        bool heavy = weight >= rc.rayCutoff;
        if (traced && ts.depth < rc.recursionLimit && heavy) {
            double saved = ts.weight;
            ts.weight = weight;
            ++ts.depth;
            t = traceAndShade(ts, p, d, flags, nullptr, pathLength, out);
            --ts.depth;
            ts.weight = saved;
        } else if (opt == 1) {
            if (traced && !heavy) ++ts.cutRays;
            backdropColor(*rc.scene, d, out);
            return;
        }
    }
    if ((opt == 2 || (opt == 3 && t < 0)) && env.image >= 0)
        sphericalColor(*rc.scene->images[env.image], d, env.seamAngle, out);
}

// The host's own shading of a filled access record.
void builtinShading(ThreadState &ts, const LWShaderAccess &sa, const scene::Surface &surf, const double dir[3],
                    double out[3]) {
    const RenderContext &rc = *ts.rc;
    const double *cs = sa.color;
    double n[3];
    normalize(sa.wNorm, n);
    bool back = dot(n, dir) > 0;
    double nf[3] = {back ? -n[0] : n[0], back ? -n[1] : n[1], back ? -n[2] : n[2]};  // facing the viewer
    double v[3] = {-dir[0], -dir[1], -dir[2]};
    double diff[3] = {0, 0, 0}, spec[3] = {0, 0, 0};
    double exponent = std::pow(2.0, 2.0 + 10.0 * std::min(1.0, std::max(0.0, 1.0 - sa.roughness)));
    const scene::ObjectItem *obj =
        static_cast<const scene::ObjectItem *>(static_cast<const scene::Item *>(sa.objID));
    for (const LightState &l : rc.lights) {
        if (excluded(obj, l.item)) continue;
        // Each sample of a sized light with its own direction, so that the cosines are exact.
        sampleLight(ts, l, sa.wPos, [&](const double ldir[3], const double lc[3]) {
            double toLight[3] = {-ldir[0], -ldir[1], -ldir[2]};
            double ndl = dot(nf, toLight);
            if (!l.item->noDiffuse) {
                double k = sa.diffuse * std::max(0.0, ndl) + sa.translucency * std::max(0.0, -ndl);
                for (int c = 0; c < 3; ++c) diff[c] += k * lc[c];
            }
            if (!l.item->noSpecular && sa.specular > 0 && ndl > 0) {
                double h[3] = {toLight[0] + v[0], toLight[1] + v[1], toLight[2] + v[2]}, hn[3];
                if (normalize(h, hn)) {
                    double k = sa.specular * std::pow(std::max(0.0, dot(nf, hn)), exponent);
                    for (int c = 0; c < 3; ++c) spec[c] += k * lc[c] * ((1 - sa.colorHL) + sa.colorHL * cs[c]);
                }
            }
        });
    }
    // Ambient light, plus radiosity when there is any here.
    double amb[3];
    double reflectance = sa.diffuse * std::max(cs[0], std::max(cs[1], cs[2]));
    if (!(obj && obj->excludeRadiosity) && radiosity(ts, sa.wPos, nf, reflectance, amb)) {
        scene::Vec3 a = rc.scene->ambient();
        for (int c = 0; c < 3; ++c) amb[c] += a[c];
    } else {
        scene::Vec3 a = rc.scene->ambient();
        for (int c = 0; c < 3; ++c) amb[c] = a[c];
    }
    for (int c = 0; c < 3; ++c) out[c] = cs[c] * (diff[c] + sa.diffuse * amb[c] + sa.luminous) + spec[c];

    double pathLength = sa.rayLength;
    if (sa.mirror > 0) {
        double r[3], dn = dot(dir, nf);
        for (int c = 0; c < 3; ++c) r[c] = dir[c] - 2 * dn * nf[c];
        double rc3[3];
        environment(ts, surf.reflection, (rc.renderOpts & 2) != 0, sa.wPos, r, LWRT_REFLECTION, pathLength,
                    ts.weight * sa.mirror, rc3);
        for (int c = 0; c < 3; ++c) out[c] = out[c] * (1 - sa.mirror) + sa.mirror * rc3[c];
    }
    if (sa.transparency > 0) {
        // Entering when the ray meets the front of the polygon.
        double eta = back ? sa.eta : 1.0 / std::max(1e-3, sa.eta);
        double ci = -dot(dir, nf), k = 1 - eta * eta * (1 - ci * ci);
        double t[3];
        if (k < 0) {
            for (int c = 0; c < 3; ++c) t[c] = dir[c] + 2 * ci * nf[c];  // total internal reflection
        } else {
            for (int c = 0; c < 3; ++c) t[c] = eta * dir[c] + (eta * ci - std::sqrt(k)) * nf[c];
        }
        double tn[3], tc[3];
        normalize(t, tn);
        double filter = 0.0;
        for (int c = 0; c < 3; ++c) filter = std::max(filter, (1 - sa.colorFL) + sa.colorFL * cs[c]);
        environment(ts, surf.refraction, (rc.renderOpts & 4) != 0, sa.wPos, tn, LWRT_REFRACTION, pathLength,
                    ts.weight * sa.transparency * filter, tc);
        for (int c = 0; c < 3; ++c) {
            double filt = (1 - sa.colorFL) + sa.colorFL * cs[c];
            out[c] = out[c] * (1 - sa.transparency) + sa.transparency * filt * tc[c];
        }
    }
}

// Evaluates the surface's channel textures at the spot over the channel values already in the
// access record; the colour, luminosity, diffuse, specular, reflection, transparency and
// translucency the shaders and the host's own shading then see.
void applyChannelTextures(const RenderContext &rc, int surface, const scene::Surface &surf, LWShaderAccess &sa) {
    const std::array<LWTextureID, scene::kSurfaceChannels> &row =
        (*rc.channelTextures)[static_cast<size_t>(surface)];
    LWMicropol mp;
    std::memset(&mp, 0, sizeof mp);
    std::memcpy(mp.oPos, sa.oPos, sizeof mp.oPos);
    std::memcpy(mp.wPos, sa.wPos, sizeof mp.wPos);
    std::memcpy(mp.gNorm, sa.gNorm, sizeof mp.gNorm);
    std::memcpy(mp.wNorm, sa.wNorm, sizeof mp.wNorm);
    for (int c = 0; c < 3; ++c) {
        mp.ray[c] = sa.wPos[c] - sa.raySource[c];
        mp.oScl[c] = 1;
    }
    std::memcpy(mp.raySource, sa.raySource, sizeof mp.raySource);
    std::memcpy(mp.oXfrm, sa.oXfrm, sizeof mp.oXfrm);
    std::memcpy(mp.wXfrm, sa.wXfrm, sizeof mp.wXfrm);
    std::memcpy(mp.verts, sa.verts, sizeof mp.verts);
    std::memcpy(mp.weights, sa.weights, sizeof mp.weights);
    std::memcpy(mp.vertsWPos, sa.vertsWPos, sizeof mp.vertsWPos);
    mp.spotSize = sa.spotSize;
    mp.rayLength = sa.rayLength;
    mp.cosine = sa.cosine;
    mp.objID = sa.objID;
    mp.srfID = const_cast<scene::Surface *>(&surf);
    mp.polNum = sa.polNum;
    mp.polygon = sa.polygon;
    mp.illuminate = sa.illuminate;
    mp.rayTrace = sa.rayTrace;
    mp.rayCast = sa.rayCast;
    mp.rayShade = sa.rayShade;
    double *channel[scene::kSurfaceChannels] = {sa.color,   &sa.luminous,     &sa.diffuse,     &sa.specular,
                                                &sa.mirror, &sa.transparency, &sa.translucency};
    const LWTextureFuncs &tf = *texture::textureFuncs();
    for (int c = 0; c < scene::kSurfaceChannels; ++c)
        if (row[static_cast<size_t>(c)]) tf.evaluate(row[static_cast<size_t>(c)], &mp, channel[c]);
}

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
    double off[3] = {0, 0, 0};
    bool bent = false;
    for (int k = 0; k < 3; ++k) {
        if (dot(n[k], g) >= 1.0 - 1e-6) continue;
        bent = true;
        double t[3] = {p[0] - v[k][0], p[1] - v[k][1], p[2] - v[k][2]};
        double d = std::min(0.0, dot(t, n[k]));
        for (int c = 0; c < 3; ++c) off[c] -= w[k] * d * n[k][c];
    }
    double edge = 0;
    for (int k = 0; k < 3; ++k) {
        const double *a = v[k], *b = v[(k + 1) % 3];
        double e[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
        edge = std::max(edge, dot(e, e));
    }
    double len2 = dot(off, off), limit = 0.0625 * edge;  // (edge / 4)^2
    double k = len2 > limit ? std::sqrt(limit / len2) : 1.0;
    for (int c = 0; c < 3; ++c) out[c] = p[c] + k * off[c];
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
    if (dot(d, s.shading) >= 0) return {s.lifted, s.smooth && use == RayUse::Shadow};
    if (use == RayUse::Shadow && dot(d, s.geometric) >= 0) return {s.beneath, false};
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
    double e1[3] = {double(p1[0]) - p0[0], double(p1[1]) - p0[1], double(p1[2]) - p0[2]};
    double e2[3] = {double(p2[0]) - p0[0], double(p2[1]) - p0[1], double(p2[2]) - p0[2]};
    double g[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
    double len = std::sqrt(dot(g, g));
    return len > 0 && dot(g, s.facet) >= 0.5 * len;
}

// A hit distance from a ray's actual origin, measured instead from the position it was asked
// from (along the unit direction d).
double distanceFrom(const double pos[3], const double origin[3], const double d[3], double t) {
    if (origin == pos || t < 0) return t;
    double back[3] = {origin[0] - pos[0], origin[1] - pos[1], origin[2] - pos[2]};
    double u = t + dot(back, d);
    return u > 0 ? u : t;
}

bool fillAccess(ThreadState &ts, const trace::Hit &hit, const double org[3], const double dir[3], int flags,
                LWItemID source, double pathLength, LWShaderAccess &sa, bool currentSpot) {
    const RenderContext &rc = *ts.rc;
    std::memset(&sa, 0, sizeof sa);
    if (hit.mesh < 0) return false;
    const trace::TracedMesh &m = rc.tracer->meshes()[hit.mesh];
    const scene::MeshLayer &layer = *m.layer;
    int polyIndex = layer.triPolygon[hit.triangle];
    const scene::MeshPolygon &poly = layer.polygons[polyIndex];
    const scene::Surface &surf = *rc.scene->surfaces[poly.surface];
    const int *tri = &layer.triangles[hit.triangle * 3];
    double w[3] = {1.0 - hit.u - hit.v, hit.u, hit.v};

    sa.sx = ts.sx;
    sa.sy = ts.sy;
    for (int c = 0; c < 3; ++c) {
        sa.wPos[c] = org[c] + dir[c] * hit.t;
        sa.raySource[c] = org[c];
    }
    scene::Vec3 op = m.toObject.point({sa.wPos[0], sa.wPos[1], sa.wPos[2]});
    for (int c = 0; c < 3; ++c) sa.oPos[c] = op[c];
    // Geometric normal from the world-space triangle; smoothed normal from the points.
    const float *p0 = &m.worldPos[tri[0] * 3], *p1 = &m.worldPos[tri[1] * 3], *p2 = &m.worldPos[tri[2] * 3];
    double e1[3] = {double(p1[0]) - p0[0], double(p1[1]) - p0[1], double(p1[2]) - p0[2]};
    double e2[3] = {double(p2[0]) - p0[0], double(p2[1]) - p0[1], double(p2[2]) - p0[2]};
    double g[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
    normalize(g, sa.gNorm);
    double s[3] = {0, 0, 0};
    if (surf.smoothing) {
        for (int k = 0; k < 3; ++k)
            for (int c = 0; c < 3; ++c) s[c] += w[k] * cornerNormal(m, hit.triangle, tri, k)[c];
    }
    if (!normalize(s, sa.wNorm0)) std::memcpy(sa.wNorm0, sa.gNorm, sizeof sa.gNorm);
    bool back = dot(sa.gNorm, dir) > 0;
    if (back && surf.doubleSided) {
        for (int c = 0; c < 3; ++c) {
            sa.gNorm[c] = -sa.gNorm[c];
            sa.wNorm0[c] = -sa.wNorm0[c];
        }
    } else if (back) {
        flags |= LWRT_POLYSIDE;
    }
    std::memcpy(sa.wNorm, sa.wNorm0, sizeof sa.wNorm);
    if (currentSpot)
        setSpot(ts, m, hit.triangle, tri, w, sa, surf.smoothing, !back ? 1 : surf.doubleSided ? -1 : 0);
    sa.rayLength = hit.t;
    sa.cosine = -dot(dir, sa.gNorm);
    sa.spotSize = rc.pixelSpread * (pathLength + hit.t);
    std::memcpy(sa.oXfrm, m.toWorld.m, sizeof sa.oXfrm);
    std::memcpy(sa.wXfrm, m.toObject.m, sizeof sa.wXfrm);
    sa.objID = scene::itemID(m.object);
    sa.polNum = polyIndex;
    sa.polygon = const_cast<scene::MeshPolygon *>(&poly);
    for (int k = 0; k < 3; ++k) {
        sa.verts[k] = const_cast<scene::MeshPoint *>(&layer.points[tri[k]]);
        sa.weights[k] = static_cast<float>(w[k]);
        for (int c = 0; c < 3; ++c) sa.vertsWPos[k][c] = m.worldPos[tri[k] * 3 + c];
    }
    for (int c = 0; c < 3; ++c) sa.color[c] = surf.color[c];
    sa.luminous = surf.luminosity;
    sa.diffuse = surf.diffuse;
    sa.specular = surf.specular;
    sa.mirror = surf.mirror;
    sa.transparency = surf.transparency;
    sa.eta = surf.eta;
    sa.roughness = surf.roughness();
    sa.translucency = surf.translucency;
    sa.colorHL = surf.colorHighlights;
    sa.colorFL = surf.colorFilter;
    sa.illuminate = &hostIlluminate;
    sa.rayTrace = &hostRayTrace;
    sa.rayCast = &hostRayCast;
    sa.rayShade = &hostRayShade;
    if (rc.channelTextures) applyChannelTextures(rc, poly.surface, surf, sa);
    sa.flags = flags;
    sa.bounces = ts.depth;
    sa.sourceID = source;
    return true;
}

void shadeAccess(ThreadState &ts, LWShaderAccess &sa, const scene::Surface &surf,
                 const std::vector<plugin::ShaderSlot> *slots, const double dir[3], double out[3]) {
    sa.replacement_percentage = 0.0;
    if (slots) {
        const LWShaderAccess *saved = ts.spotAccess;
        ts.spotAccess = &sa;
        for (const plugin::ShaderSlot &s : *slots) s.handler->evaluate(s.instance, &sa);
        ts.spotAccess = saved;
    }
    double p = sa.replacement_percentage;
    p = std::isfinite(p) ? std::min(1.0, std::max(0.0, p)) : 0.0;
    double own[3] = {0, 0, 0};
    if (p < 1.0) builtinShading(ts, sa, surf, dir, own);
    for (int c = 0; c < 3; ++c) {
        double r = std::isfinite(sa.replacement_color[c]) ? sa.replacement_color[c] : 0.0;
        out[c] = own[c] * (1 - p) + r * p;
    }
}

}  // namespace

void prepareContext(RenderContext &rc, const scene::Scene &scene, const trace::Tracer &tracer, double time,
                    int width, int height) {
    rc.scene = &scene;
    rc.tracer = &tracer;
    rc.time = time;
    rc.width = width;
    rc.height = height;
    rc.renderOpts = scene.render.renderOptsBits();
    rc.recursionLimit = scene.render.recursionLimit;
    rc.eps = 5e-5 * tracer.sceneExtent();
    const scene::CameraItem &cam = *scene.camera;
    rc.cameraPos = scene::itemParam(cam, LWIP_W_POSITION, time);
    rc.cameraRight = unitOf(scene::itemParam(cam, LWIP_W_RIGHT, time));
    rc.cameraUp = unitOf(scene::itemParam(cam, LWIP_W_UP, time));
    rc.cameraForward = unitOf(scene::itemParam(cam, LWIP_W_FORWARD, time));
    rc.zoom = std::max(1e-3, cam.zoom.at(time));
    rc.pixelSpread = 2.0 / (width * rc.zoom);
    rc.lights.clear();
    for (const scene::LightItem *l : scene.lights) {
        LightState s;
        s.item = l;
        s.pos = scene::itemParam(*l, LWIP_W_POSITION, time);
        s.right = unitOf(scene::itemParam(*l, LWIP_W_RIGHT, time));
        s.up = unitOf(scene::itemParam(*l, LWIP_W_UP, time));
        s.forward = unitOf(scene::itemParam(*l, LWIP_W_FORWARD, time));
        double k = l->intensity.at(time);
        s.color = {l->color[0] * k, l->color[1] * k, l->color[2] * k};
        s.range = std::max(1e-9, l->range.at(time));
        s.cone = l->coneAngle.at(time);
        s.edge = std::min(s.cone, l->coneEdge.at(time));
        rc.lights.push_back(s);
    }
    rc.simpleShadows = true;
    for (const auto &s : scene.surfaces)
        if (s->transparency > 0) rc.simpleShadows = false;
    for (const scene::ObjectItem *o : scene.objects)
        if (!o->castShadows) rc.simpleShadows = false;
}

void bindThread(ThreadState *state) { tBound = state; }
ThreadState *boundThread() { return tBound; }

// The colour of a ray that hits nothing: the same answer plug-ins get from the backdrop service.
void backdropColor(const scene::Scene &scene, const double dir[3], double out[3]) {
    services::backdropAlong(scene, dir, out);
}

namespace {

// traceAndShade, with the spot's source and ray length reported from `asked` when the ray was
// asked from there but starts elsewhere (a plug-in's ray lifted off the spot).
double traceFrom(ThreadState &ts, const double org[3], const double asked[3], const double dir[3], int flags,
                 LWItemID source, double pathLength, double color[3]) {
    const RenderContext &rc = *ts.rc;
    ++ts.rays;
    trace::Hit hit = rc.tracer->intersect(org, dir, rc.eps, kFar);
    if (hit.t < 0) {
        backdropColor(*rc.scene, dir, color);
        return -1.0;
    }
    LWShaderAccess sa;
    ThreadState::Spot saved = ts.spot;
    fillAccess(ts, hit, org, dir, flags, source, pathLength, sa, true);
    if (asked != org) {
        std::memcpy(sa.raySource, asked, sizeof sa.raySource);
        sa.rayLength = distanceFrom(asked, org, dir, hit.t);
    }
    const trace::TracedMesh &m = rc.tracer->meshes()[hit.mesh];
    int surfaceIndex = m.layer->polygons[m.layer->triPolygon[hit.triangle]].surface;
    const std::vector<plugin::ShaderSlot> *slots = rc.shaders.empty() ? nullptr : &rc.shaders[surfaceIndex];
    shadeAccess(ts, sa, *rc.scene->surfaces[surfaceIndex], slots, dir, color);
    ts.spot = saved;
    return hit.t;
}

}  // namespace

double traceAndShade(ThreadState &ts, const double org[3], const double dir[3], int flags, LWItemID source,
                     double pathLength, double color[3]) {
    return traceFrom(ts, org, org, dir, flags, source, pathLength, color);
}

bool shadeCameraSample(ThreadState &ts, double sx, double sy, double color[3]) {
    const RenderContext &rc = *ts.rc;
    ts.sx = sx;
    ts.sy = sy;
    ts.depth = 0;
    ts.weight = 1.0;
    ts.spotAccess = nullptr;
    ts.spot.set = false;
    ts.bounce = 0;
    double px = 2.0 * sx / rc.width - 1.0;
    double py = (1.0 - 2.0 * sy / rc.height) * rc.height / (rc.width * rc.scene->render.pixelAspect);
    double d[3], dn[3];
    for (int c = 0; c < 3; ++c)
        d[c] = rc.cameraRight[c] * px + rc.cameraUp[c] * py + rc.cameraForward[c] * rc.zoom;
    normalize(d, dn);
    return traceAndShade(ts, rc.cameraPos.data(), dn, LWRT_CAMERA, scene::itemID(rc.scene->camera), 0.0, color) >=
           0;
}

int hostIlluminate(LWItemID light, const LWDVector position, LWDVector dir, LWDVector color) {
    ThreadState *ts = tBound;
    if (!ts || !ts->rc || !position || !dir || !color) return 0;
    // The special identifiers come before any light look-up.
    if (light == LWITEM_CAUSTICS) {
        color[0] = color[1] = color[2] = 0.0;
        return 0;
    }
    if (light == LWITEM_RADIOSITY) {
        // The share a plug-in passes on is its own; the spot's diffuse colour stands for it.
        const LWShaderAccess *spot = ts->spotAccess;
        double reflectance =
            spot ? spot->diffuse * std::max(spot->color[0], std::max(spot->color[1], spot->color[2])) : 1.0;
        return radiosity(*ts, position, dir, reflectance, color) ? 1 : 0;
    }
    const LightState *l = findLight(*ts->rc, light);
    if (!l) return 0;
    // A copy: the outputs may alias the position.
    const double p[3] = {position[0], position[1], position[2]};
    double sum[3] = {0, 0, 0}, towards[3] = {0, 0, 0};
    int lit = 0;
    sampleLight(*ts, *l, p, [&](const double d[3], const double c[3]) {
        // A sized light's direction: the mean of its samples' directions, weighed by what each brings.
        double w = c[0] + c[1] + c[2];
        for (int k = 0; k < 3; ++k) {
            sum[k] += c[k];
            towards[k] += w * d[k];
        }
        if (!lit) std::memcpy(dir, d, sizeof sum);
        ++lit;
    });
    if (!lit) {
        // No light: still the direction from the light's position, and black.
        lightArriving(*ts->rc, *l, p, dir, color);
        color[0] = color[1] = color[2] = 0.0;
        return 0;
    }
    if (lit > 1) normalize(towards, dir);
    std::memcpy(color, sum, sizeof sum);
    return 1;
}

double hostRayCast(const LWDVector position, const LWDVector direction) {
    ThreadState *ts = tBound;
    double d[3];
    if (!ts || !position || !direction || !normalize(direction, d)) return -1.0;
    RayStart start = rayStart(*ts, position, d, RayUse::Shadow);
    double tnear = ts->rc->eps;
    for (int k = 0; k < kMaxShadowHits; ++k) {
        ++ts->rays;
        trace::Hit hit = ts->rc->tracer->intersect(start.org, d, tnear, kFar);
        if (hit.t < 0 || !start.passNear || !nearSpot(*ts, hit))
            return distanceFrom(position, start.org, d, hit.t);
        tnear = hit.t + ts->rc->eps;
    }
    return -1.0;
}

double hostRayTrace(const LWDVector position, const LWDVector direction, LWDVector color) {
    ThreadState *ts = tBound;
    if (!color) return -1.0;
    color[0] = color[1] = color[2] = 0.0;
    double d[3];
    if (!ts || !position || !direction || !normalize(direction, d)) return -1.0;
    if (ts->depth >= ts->rc->recursionLimit) return -1.0;
    // The ray's weight: the spot's own times the larger of its reflection and transparency as its
    // shaders have left them (a plug-in traces for those); a spot with neither traces for some
    // other purpose the host cannot weigh, so the ray keeps the spot's weight.
    double share = 1.0;
    if (const LWShaderAccess *spot = ts->spotAccess) {
        double m = std::isfinite(spot->mirror) ? spot->mirror : 0.0;
        double tr = std::isfinite(spot->transparency) ? spot->transparency : 0.0;
        if (m > 0.0 || tr > 0.0) share = std::min(1.0, std::max(m, tr));
    }
    double weight = ts->weight * share;
    if (weight < ts->rc->rayCutoff) {
        ++ts->cutRays;
        return -1.0;
    }
    double saved = ts->weight;
    ts->weight = weight;
    ++ts->depth;
    const double *org = rayStart(*ts, position, d, RayUse::Trace).org;
    double t = traceFrom(*ts, org, position, d, LWRT_SAMPLEDRAY, nullptr, 0.0, color);
    --ts->depth;
    ts->weight = saved;
    return distanceFrom(position, org, d, t);
}

double hostRayShade(const LWDVector position, const LWDVector direction, LWShaderAccess *sa) {
    ThreadState *ts = tBound;
    double d[3];
    if (!ts || !position || !direction || !sa || !normalize(direction, d)) return -1.0;
    ++ts->rays;
    const double *org = rayStart(*ts, position, d, RayUse::Trace).org;
    trace::Hit hit = ts->rc->tracer->intersect(org, d, ts->rc->eps, kFar);
    if (hit.t < 0) return -1.0;
    fillAccess(*ts, hit, org, d, LWRT_SAMPLEDRAY, nullptr, 0.0, *sa);
    double t = distanceFrom(position, org, d, hit.t);
    std::memcpy(sa->raySource, position, sizeof sa->raySource);
    sa->rayLength = t;
    return t;
}

}  // namespace host::render
