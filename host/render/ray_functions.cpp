// SPDX-License-Identifier: Apache-2.0
// The functions shaders get in the access record, acting for the calling render thread.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/render/shading_pvt.h"
#include "sdk/item_info.h"

namespace host::render {

namespace {

thread_local ThreadState *tBound = nullptr;

}  // namespace

void bindThread(ThreadState *state) { tBound = state; }
ThreadState *boundThread() { return tBound; }

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
    if (lit > 1) normalize(vec(towards), dir);
    std::memcpy(color, sum, sizeof sum);
    return 1;
}

double hostRayCast(const LWDVector position, const LWDVector direction) {
    ThreadState *ts = tBound;
    double d[3];
    if (!ts || !position || !direction || !normalize(vec(direction), d)) return -1.0;
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
    if (!ts || !position || !direction || !normalize(vec(direction), d)) return -1.0;
    if (ts->depth >= ts->rc->recursionLimit) return -1.0;
    if (ts->probe && ts->depth == 0) return -1.0;  // the cache fill looks for radiosity alone
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
    if (!ts || !position || !direction || !sa || !normalize(vec(direction), d)) return -1.0;
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
