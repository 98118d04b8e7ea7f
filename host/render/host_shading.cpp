// SPDX-License-Identifier: Apache-2.0
// The host's own shading model (Lambert diffuse, Blinn-Phong highlight, translucency, ambient or
// radiosity, reflection and refraction) and the surface's channel textures.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/render/shading_pvt.h"
#include "host/texture/texture_system.h"

namespace host::render {

// The host's own shading of a filled access record.
void builtinShading(ThreadState &ts, const LWShaderAccess &sa, const scene::Surface &surf, const double dir[3],
                    double out[3]) {
    const RenderContext &rc = *ts.rc;
    const double *cs = sa.color;
    Vec3 n = unitOf(vec(sa.wNorm)), d = vec(dir);
    bool back = n.dot(d) > 0;
    Vec3 nf = back ? -n : n;  // facing the viewer
    Vec3 v = -d;
    double diff[3] = {0, 0, 0}, spec[3] = {0, 0, 0};
    double exponent = std::pow(2.0, 2.0 + 10.0 * std::min(1.0, std::max(0.0, 1.0 - sa.roughness)));
    const scene::ObjectItem *obj =
        static_cast<const scene::ObjectItem *>(static_cast<const scene::Item *>(sa.objID));
    for (const LightState &l : rc.lights) {
        if (excluded(obj, l.item)) continue;
        // Each sample of a sized light with its own direction, so that the cosines are exact.
        sampleLight(ts, l, sa.wPos, [&](const double ldir[3], const double lc[3]) {
            Vec3 toLight = -vec(ldir);
            double ndl = nf.dot(toLight);
            if (!l.item->noDiffuse) {
                double k = sa.diffuse * std::max(0.0, ndl) + sa.translucency * std::max(0.0, -ndl);
                for (int c = 0; c < 3; ++c) diff[c] += k * lc[c];
            }
            if (!l.item->noSpecular && sa.specular > 0 && ndl > 0) {
                Vec3 h = toLight + v, hn;
                if (normalize(h, hn.getValue())) {
                    double k = sa.specular * std::pow(std::max(0.0, nf.dot(hn)), exponent);
                    for (int c = 0; c < 3; ++c) spec[c] += k * lc[c] * ((1 - sa.colorHL) + sa.colorHL * cs[c]);
                }
            }
        });
    }
    // Ambient light, plus radiosity when there is any here.
    double amb[3];
    double reflectance = sa.diffuse * std::max(cs[0], std::max(cs[1], cs[2]));
    if (!(obj && obj->excludeRadiosity) && radiosity(ts, sa.wPos, nf.getValue(), reflectance, amb)) {
        scene::Vec3 a = rc.scene->ambient();
        for (int c = 0; c < 3; ++c) amb[c] += a[c];
    } else {
        scene::Vec3 a = rc.scene->ambient();
        for (int c = 0; c < 3; ++c) amb[c] = a[c];
    }
    for (int c = 0; c < 3; ++c) out[c] = cs[c] * (diff[c] + sa.diffuse * amb[c] + sa.luminous) + spec[c];

    double pathLength = sa.rayLength;
    if (sa.mirror > 0) {
        Vec3 r = d - nf * (2 * d.dot(nf));
        double rc3[3];
        environment(ts, surf.reflection, (rc.renderOpts & 2) != 0, sa.wPos, r.getValue(), LWRT_REFLECTION,
                    pathLength, ts.weight * sa.mirror, rc3);
        for (int c = 0; c < 3; ++c) out[c] = out[c] * (1 - sa.mirror) + sa.mirror * rc3[c];
    }
    if (sa.transparency > 0) {
        // Entering when the ray meets the front of the polygon.
        double eta = back ? sa.eta : 1.0 / std::max(1e-3, sa.eta);
        double ci = -d.dot(nf), k = 1 - eta * eta * (1 - ci * ci);
        Vec3 t = k < 0 ? d + nf * (2 * ci)  // total internal reflection
                       : d * eta + nf * (eta * ci - std::sqrt(k));
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

}  // namespace host::render
