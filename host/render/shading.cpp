// SPDX-License-Identifier: Apache-2.0
// The host's shading of one spot: the access record filled from a hit, the surface's shaders run
// over it, the host's own shading otherwise; the frame's context; rays traced and shaded.
#include "host/render/shading.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/render/shading_pvt.h"
#include "host/services/scene_services.h"
#include "sdk/item_info.h"

namespace host::render {

const scene::Surface &surfaceOf(const RenderContext &rc, const trace::TracedMesh &m, int triangle) {
    int poly = m.layer->triPolygon[triangle];
    return *rc.scene->surfaces[m.layer->polygons[poly].surface];
}

// A hit distance from a ray's actual origin, measured instead from the position it was asked
// from (along the unit direction d).
double distanceFrom(const double pos[3], const double origin[3], const double d[3], double t) {
    if (origin == pos || t < 0) return t;
    double back[3] = {origin[0] - pos[0], origin[1] - pos[1], origin[2] - pos[2]};
    double u = t + vec(back).dot(vec(d));
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
    (vec(sa.wPos) * m.toObject).getValue(sa.oPos[0], sa.oPos[1], sa.oPos[2]);
    // Geometric normal from the world-space triangle; smoothed normal from the points.
    const float *p0 = &m.worldPos[tri[0] * 3], *p1 = &m.worldPos[tri[1] * 3], *p2 = &m.worldPos[tri[2] * 3];
    normalize((vec(p1) - vec(p0)) % (vec(p2) - vec(p0)), sa.gNorm);
    double s[3] = {0, 0, 0};
    if (surf.smoothing) {
        for (int k = 0; k < 3; ++k)
            for (int c = 0; c < 3; ++c) s[c] += w[k] * cornerNormal(m, hit.triangle, tri, k)[c];
    }
    if (!normalize(vec(s), sa.wNorm0)) std::memcpy(sa.wNorm0, sa.gNorm, sizeof sa.gNorm);
    bool back = vec(sa.gNorm).dot(vec(dir)) > 0;
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
    sa.cosine = -vec(dir).dot(vec(sa.gNorm));
    sa.spotSize = rc.pixelSpread * (pathLength + hit.t);
    // The record's matrices act on column vectors, row after row: Imath's transposed.
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            sa.oXfrm[i * 3 + j] = m.toWorld[j][i];
            sa.wXfrm[i * 3 + j] = m.toObject[j][i];
        }
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
    double dn[3];
    normalize(rc.cameraRight * px + rc.cameraUp * py + rc.cameraForward * rc.zoom, dn);
    return traceAndShade(ts, rc.cameraPos.getValue(), dn, LWRT_CAMERA, scene::itemID(rc.scene->camera), 0.0,
                         color) >= 0;
}

}  // namespace host::render
