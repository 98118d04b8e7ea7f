// SPDX-License-Identifier: Apache-2.0
#include "lights/light_model.h"

#include <cmath>
#include <cstdint>

#include "base/host_globals.h"
#include "base/vector3d.h"
#include "lights/item_cache.h"

namespace velmora {

namespace {

Vector3d cached(LWItemID item, LWItemParam param) {
    Vector3d v = {0.0, 0.0, 0.0};
    itemParamGet(item, param, &v.x);
    return v;
}

Vector3d sub(const Vector3d &a, const Vector3d &b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }

int hostIlluminate(LWShaderAccess *sa, LWItemID light, const double position[3], double dir[3], double color[3]) {
    return sa && sa->illuminate ? sa->illuminate(light, position, dir, color) : 0;
}

// Falloff factor at distance d for range r. At the light's own position (d = 0) every kind gives
// 1, the light's nominal colour, instead of dividing by zero; linear falloff with range 0 thus
// lights only that position.
double falloffFactor(int kind, double d, double r) {
    switch (kind) {
        case LWLFALL_LINEAR:
            if (d > r) return 0.0;
            return d == 0.0 ? 1.0 : 1.0 - d / r;
        case LWLFALL_INV_DIST:
            return d == 0.0 ? 1.0 : r / d;
        case LWLFALL_INV_DIST_2:
            return d == 0.0 ? 1.0 : (r * r) / (d * d);
        default:
            return 1.0;
    }
}

// Soft cone edge: 1 inside r - g, 0 at r and beyond, smooth-step in between.
double coneFactor(double ca, double r, double g) {
    const double ci = std::cos(r - g), co = std::cos(r);
    if (ca >= ci) return 1.0;
    if (ca <= co) return 0.0;
    const double t = (ca - co) / (ci - co);
    return 3.0 * t * t - 2.0 * t * t * t;
}

// The integer part of a pixel coordinate, modulo 2^32; 0 for a value that is not finite.
uint32_t pixelIndex(double v) {
    if (!std::isfinite(v)) return 0;
    double t = std::fmod(std::trunc(v), 4294967296.0);
    if (t < 0.0) t += 4294967296.0;
    return static_cast<uint32_t>(t);
}

}  // namespace

void lightUnshadowed(LWItemID light, const double position[3], double dir[3], double color[3]) {
    Vector3d &outDir = asVector(dir), &outColor = asVector(color);
    const LWLightInfo *info = shaderGlobals.lightInfo;
    if (!info) {
        vecSet(outDir, 0.0, 0.0, 0.0);
        vecSet(outColor, 0.0, 0.0, 0.0);
        return;
    }
    const Vector3d &p = asVector(position);
    const int type = info->type(light);
    Vector3d k = {0.0, 0.0, 0.0};
    info->color(light, renderTime, &k.x);

    const Vector3d lightPos = cached(light, LWIP_W_POSITION);
    Vector3d axis = cached(light, LWIP_FORWARD), unused;
    vecNormalize(axis, unused);
    const Vector3d toSpot = sub(p, lightPos);

    double f = 1.0;
    if (type != LWLIGHT_DISTANT)
        f = falloffFactor(info->falloff(light), vecLength(toSpot), info->range(light, renderTime));

    double e = f;
    if (type == LWLIGHT_SPOT) {
        const LWImageID image = info->projImage(light);
        if (image) {
            double uv[2];
            if (projectionUV(light, position, uv)) {
                Vector3d tint;
                imageSpotRGB(image, uv[0], uv[1], &tint.x);
                vecMul(k, k, tint);
            } else {
                e = 0.0;
            }
        } else {
            double r = 0.0, g = 0.0;
            info->coneAngles(light, renderTime, &r, &g);
            Vector3d unit;
            vecNormalized(unit, toSpot);
            e = coneFactor(vecDot(unit, axis), r, g) * f;
        }
    }

    // outDir may alias position: the colour and every use of p come first.
    vecScale(outColor, k, e);
    if (type == LWLIGHT_DISTANT)
        outDir = axis;
    else
        outDir = toSpot;
}

int projectionUV(LWItemID light, const double position[3], double uv[2]) {
    const LWLightInfo *info = shaderGlobals.lightInfo;
    if (!shaderGlobals.itemInfo || !info) return 0;
    const Vector3d rt = cached(light, LWIP_RIGHT), up = cached(light, LWIP_UP), a = cached(light, LWIP_FORWARD),
                   l = cached(light, LWIP_W_POSITION);

    double r = 0.0, g = 0.0;
    info->coneAngles(light, renderTime, &r, &g);
    if (r >= 1.5707963267948966) return 0;

    // The projection's frustum: x' = q·Rt, y' = q·Up, z' = q·A + k, w = (q·A)·tan(r), q = p - L.
    const double k = -1.0 / std::tan(r);
    const double la = vecDot(l, a);
    const double m[4][4] = {
        {rt.x, up.x, a.x, -a.x / k},
        {rt.y, up.y, a.y, -a.y / k},
        {rt.z, up.z, a.z, -a.z / k},
        {-vecDot(l, rt), -vecDot(l, up), k - la, 1.0 - (k - la) / k},
    };
    double out[3];
    const double w = transformPoint(position, m, out);

    // In front of the plane at cot(r) along the axis, and inside the square.
    if (!(out[2] * w > 0.0)) return 0;
    if (std::fabs(out[1]) > 1.0 || std::fabs(out[0]) > 1.0) return 0;
    uv[0] = (out[0] + 1.0) * 0.5;
    uv[1] = 1.0 - (out[1] + 1.0) * 0.5;
    return 1;
}

double transformPoint(const double point[3], const double matrix[4][4], double out[3]) {
    const double x = point[0], y = point[1], z = point[2];
    double o[3];
    for (int c = 0; c < 3; ++c) o[c] = matrix[0][c] * x + matrix[1][c] * y + matrix[2][c] * z + matrix[3][c];
    const double w = matrix[0][3] * x + matrix[1][3] * y + matrix[2][3] * z + matrix[3][3];
    for (int c = 0; c < 3; ++c) out[c] = w != 0.0 ? o[c] / w : o[c];
    return w;
}

void imageSpotRGB(LWImageID image, double u, double v, double rgb[3]) {
    rgb[0] = rgb[1] = rgb[2] = 0.0;
    const LWImageList *images = shaderGlobals.imageList;
    if (!images) return;
    int w = 0, h = 0;
    images->size(image, &w, &h);
    if (w <= 0 || h <= 0) return;  // no pixels: an infinite spot size would mean nothing
    const double sw = 1.0 / w, sh = 1.0 / h;
    images->RGBSpot(image, u, v, sw < sh ? sw : sh, 1, rgb);
}

int illuminateAreaShadow(LWShaderAccess *sa, LWItemID light, const double position[3], double dir[3],
                         double color[3], double size, double samples) {
    const LWLightInfo *info = shaderGlobals.lightInfo;
    if (!info || !sa || info->shadowType(light) != LWSHAD_RAYTRACE)
        return hostIlluminate(sa, light, position, dir, color);

    const Vector3d p = asVector(position);  // a copy: the outputs may alias the position
    const Vector3d l = cached(light, LWIP_W_POSITION);
    Vector3d v, k;
    lightUnshadowed(light, &p.x, &v.x, &k.x);
    Vector3d unit;
    vecNormalize(v, unit);

    // Each sample's share of the unshadowed colour. The count per side is bounded so that a tag
    // asking for billions of rays per spot cannot stall the render.
    const double n = samples > kMaxAreaSamplesPerSide ? kMaxAreaSamplesPerSide : samples;
    const double n2 = n * n;
    Vector3d ks = {0.0, 0.0, 0.0};
    if (n2 != 0.0) ks = {k.x / n2, k.y / n2, k.z / n2};

    // A square of side `size` across the light direction, centred on the light.
    const Vector3d across = {v.z - v.y, v.x - v.z, v.y - v.x};
    Vector3d u1, u2, c;
    vecNormalized(u1, across);
    vecNormalized(u2, vecCross(c, v, u1));
    const double h = size * 0.5;
    vecScale(u1, u1, h);
    vecScale(u2, u2, h);

    // Jitter from a 32-bit generator seeded by the pixel, so every sample of a pixel (and every
    // light) sees the same pattern.
    uint32_t x = pixelIndex(sa->sx) * pixelIndex(sa->sy) * 0x8DE30791u;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            const uint32_t r1 = x * 0x5D588B65u + 1u;
            const uint32_t r2 = r1 * 0x5D588B65u + 1u;
            x = r2;
            const double b = 2.0 * (i + r1 / 4294967296.0) / n - 1.0;
            const double a = 2.0 * (j + r2 / 4294967296.0) / n - 1.0;
            const Vector3d s = {l.x + b * u1.x + a * u2.x, l.y + b * u1.y + a * u2.y, l.z + b * u1.z + a * u2.z};
            const Vector3d t = sub(s, p);
            const double dist = vecLength(t);
            Vector3d ray;
            vecNormalized(ray, t);
            const double hit = sa->rayCast ? sa->rayCast(&p.x, &ray.x) : -1.0;
            if (hit >= 0.0 && hit < dist) k = sub(k, ks);
        }
    }

    asVector(dir) = v;
    asVector(color) = k;
    return 1;
}

void prepareProjectionImages() {
    const ShaderGlobals &g = shaderGlobals;
    if (!g.itemInfo || !g.lightInfo || !g.imageList) return;
    for (LWItemID light = g.itemInfo->first(LWI_LIGHT, LWITEM_NULL); light; light = g.itemInfo->next(light)) {
        if (g.lightInfo->type(light) != LWLIGHT_SPOT) continue;
        const LWImageID image = g.lightInfo->projImage(light);
        if (image) g.imageList->needAA(image);
    }
}

}  // namespace velmora
