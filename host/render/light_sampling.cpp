// SPDX-License-Identifier: Apache-2.0
// Light arriving at a spot: falloff, cones, shadow rays through transparent surfaces, and the
// samples of area and linear lights.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/render/shading_pvt.h"

namespace host::render {

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
        normalize(l.forward, dir);
        for (int c = 0; c < 3; ++c) col[c] = l.color[c];
        return kFar;
    }
    Vec3 q = vec(p) - l.pos;
    double d = q.length();
    if (!(d > 0.0)) {
        dir[0] = dir[1] = dir[2] = 0.0;
        return -1.0;
    }
    (q / d).getValue(dir[0], dir[1], dir[2]);
    double f = falloffAt(l, d);
    if (li.type == scene::LightType::Spot) {
        double qa = q.dot(unitOf(l.forward));
        if (li.projectionImage >= 0) {
            // Projection: the image spans the cone's square of half-angle `cone` around the axis.
            double t = std::tan(l.cone);
            if (!(l.cone < kPi / 2) || qa <= 0) return -1.0;
            double x = q.dot(l.right) / (qa * t), y = q.dot(l.up) / (qa * t);
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
                        bool passNear) {
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
Vec3 lightSamplePoint(const LightState &l, int k, int n, double ju, double jv) {
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
    return l.pos + l.right * x + l.up * y;
}

}  // namespace host::render
