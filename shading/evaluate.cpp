// SPDX-License-Identifier: Apache-2.0
#include "shading/evaluate.h"

#include <cmath>

#include "base/host_globals.h"
#include "base/ray_state.h"
#include "base/shading_helpers.h"
#include "base/vector3d.h"
#include "instance/skin_instance.h"
#include "lights/environment.h"
#include "lights/light_model.h"
#include "shading/gateway.h"
#include "vparam/vparam.h"

namespace velmora {

namespace {

constexpr double kNoHit = 1e17;              // a trace that hits nothing
constexpr double kDistantTraceLimit = 1e16;  // a distant light's trace counts below this

double max0(double x) { return x > 0.0 ? x : 0.0; }
double clamp01(double x) { return x < 0.0 ? 0.0 : (x > 1.0 ? 1.0 : x); }
// acos of a cosine that rounding may have pushed just past ±1.
double acosClamped(double c) { return std::acos(c < -1.0 ? -1.0 : (c > 1.0 ? 1.0 : c)); }

// a += s·b, component by component.
void addScaled(Vector3d &a, double s, const Vector3d &b) {
    a.x += s * b.x;
    a.y += s * b.y;
    a.z += s * b.z;
}

// The parameters read once per spot, before the light loop.
struct SpotParams {
    double skinColor[3], Ksub[3], sheenColor[3], Ksheen[3], diffRough[3], shadowAmount[3], scatterWrap[3], Ka[3];
};

void readParam(LWVParmFuncs *funcs, const Vparam *vp, LWMicropol *mp, double out[3]) {
    if (vp) funcs->getVal(vp->parameter, renderTime, mp, out);
}

// The view-side constants of the Oren–Nayar diffuse, computed once per spot.
struct ViewFrame {
    Vector3d N, V, Vt;
    double A, B, thetaR;
};

// One light's direction towards the light and its angles against the view.
struct LightFrame {
    Vector3d L;
    double ci, cphi, alpha, beta;
};

// dir is the light's travel direction (from the light towards the spot).
void lightFrame(const double dir[3], const ViewFrame &view, LightFrame &f) {
    Vector3d d;
    vecNormalized(d, asVector(dir));
    const Vector3d towards = {-d.x, -d.y, -d.z};
    vecNormalized(f.L, towards);
    f.ci = max0(vecDot(f.L, view.N));
    const Vector3d tangent = {f.L.x - f.ci * view.N.x, f.L.y - f.ci * view.N.y, f.L.z - f.ci * view.N.z};
    Vector3d Lt;
    vecNormalized(Lt, tangent);
    f.cphi = vecDot(Lt, view.Vt);
    const double thetaI = acosClamped(f.ci);
    f.alpha = thetaI > view.thetaR ? thetaI : view.thetaR;
    f.beta = thetaI < view.thetaR ? thetaI : view.thetaR;
}

double orenNayar(const ViewFrame &view, const LightFrame &f) {
    return view.A + view.B * max0(f.cphi) * std::sin(f.alpha) * std::tan(f.beta);
}

bool prefixAdmits(const char *prefix, LWItemInfo *items, LWItemID light) {
    return prefix[0] == '\0' || prefixMatch(prefix, items->name(light)) != 0;
}

void shade(const SkinInstance *skin, LWShaderAccess *sa, LWVParmFuncs *vparm) {
    const ShaderGlobals &g = shaderGlobals;

    // Ray state: make sure the thread's ray-shade block exists; keep the shadow-ray flag.
    rayStateBlock(kIsRayShadeKey, 4);
    int *flag = static_cast<int *>(rayStateBlock(kIsShadowRayKey, 4));

    // Spot geometry.
    ViewFrame view;
    vecNormalized(view.N, asVector(sa->wNorm));
    const double *P = sa->wPos;
    const Vector3d &Cs = asVector(sa->color);
    const Vector3d D = {sa->wPos[0] - sa->raySource[0], sa->wPos[1] - sa->raySource[1],
                        sa->wPos[2] - sa->raySource[2]};
    const Vector3d negD = {-D.x, -D.y, -D.z};
    vecNormalized(view.V, negD);
    const Vector3d &N = view.N;
    const Vector3d &V = view.V;
    const Vector3d negN = {-N.x, -N.y, -N.z};
    const Vector3d negV = {-V.x, -V.y, -V.z};

    // Parameters at the spot, in the host's order of evaluation.
    LWMicropol mp = {};
    micropolFromAccess(&mp, sa, skin->surface);
    SpotParams p = {};
    readParam(vparm, skin->skin_color, &mp, p.skinColor);
    readParam(vparm, skin->Ksub, &mp, p.Ksub);
    readParam(vparm, skin->sheen_color, &mp, p.sheenColor);
    readParam(vparm, skin->Ksheen, &mp, p.Ksheen);
    readParam(vparm, skin->diff_rough, &mp, p.diffRough);
    readParam(vparm, skin->shadow_amount, &mp, p.shadowAmount);
    readParam(vparm, skin->scatter_wrap, &mp, p.scatterWrap);
    readParam(vparm, skin->Ka, &mp, p.Ka);
    const double shadowAmount = p.shadowAmount[0];
    const double wrap = p.scatterWrap[0];

    // Oren–Nayar constants and the view angle.
    const double sigma = p.diffRough[0];
    const double s = sigma * sigma;
    view.A = 1.0 - (0.5 * s) / (s + 0.33);
    view.B = (0.45 * s) / (s + 0.09);
    const double VN = vecDot(V, N);
    view.thetaR = acosClamped(VN);
    const Vector3d vTangent = {V.x - VN * N.x, V.y - VN * N.y, V.z - VN * N.z};
    vecNormalized(view.Vt, vTangent);

    Vector3d Diff = {0.0, 0.0, 0.0}, Spec = {0.0, 0.0, 0.0}, Sub = {0.0, 0.0, 0.0}, Sheen = {0.0, 0.0, 0.0};
    double Ls[3] = {0.0, 0.0, 0.0};  // the last shadowed colour; not reset between lights

    for (LWItemID light = g.itemInfo->first(LWI_LIGHT, nullptr); light; light = g.itemInfo->next(light)) {
        if (g.objectInfo->excluded(sa->objID, light)) continue;
        const unsigned int lightFlags = g.lightInfo->flags(light);
        const bool diffuseOn = !(lightFlags & LWLFL_NO_DIFFUSE);
        LightFrame f;

        // Shadowed pass: diffuse, translucency and highlight from the gateway's colour.
        double dir[3] = {0.0, 0.0, 0.0};
        if (illuminationGateway(flag, sa, light, P, dir, Ls)) {
            lightFrame(dir, view, f);
            const Vector3d &lit = asVector(Ls);
            if (diffuseOn) {
                addScaled(Diff, shadowAmount * orenNayar(view, f) * f.ci, lit);
                addScaled(Diff, shadowAmount * sa->translucency * max0(vecDot(negN, f.L)), lit);
            }
            if (!(lightFlags & LWLFL_NO_SPECULAR)) {
                const Vector3d half = {f.L.x + V.x, f.L.y + V.y, f.L.z + V.z};
                Vector3d H;
                vecNormalized(H, half);
                addScaled(Spec, std::pow(max0(vecDot(N, H)), 1.0 / sa->roughness), lit);
            }
        }

        // Unshadowed pass, for every light not excluded.
        double dirU[3] = {0.0, 0.0, 0.0}, Lu[3] = {0.0, 0.0, 0.0};
        lightUnshadowed(light, P, dirU, Lu);
        const double dLight = vecLength(asVector(dirU));
        lightFrame(dirU, view, f);
        const Vector3d &L = f.L;
        const Vector3d &unlit = asVector(Lu);
        if (diffuseOn) {
            addScaled(Diff, (1.0 - shadowAmount) * orenNayar(view, f) * f.ci, unlit);
            addScaled(Diff, shadowAmount * sa->translucency * max0(vecDot(negN, L)), unlit);
        }

        // Sub-surface wrap: largest where the light grazes the surface. A wrap of -1 gives none.
        const double u = std::fabs(vecDot(N, L));
        const double scatter = (wrap + 1.0 == 0.0) ? 0.0 : (u + wrap) / (wrap + 1.0) - u;

        // Rim and back-scatter.
        const double b = max0(vecDot(negV, L));
        const double nv = max0(vecDot(N, V));
        const Vector3d negL = {-L.x, -L.y, -L.z};
        Vector3d R;
        vecReflect(R, negL, N);
        const double edge = (1.0 - nv) * b;
        const double rim = max0(vecDot(R, V)) * (edge * edge);

        if (prefixAdmits(skin->skin_prefix, g.itemInfo, light)) addScaled(Sub, scatter, unlit);

        // Sheen light: unshadowed, or with sheen tracing the shadowed colour, traced through the
        // object when the light is behind the geometric surface.
        Vector3d S = unlit;
        if (skin->sheen_trace && g.lightInfo->shadowType(light)) {
            S = asVector(Ls);
            Vector3d G;
            vecNormalized(G, asVector(sa->gNorm));
            if (vecDot(G, L) <= 0.0) {
                const double eps = skin->trace_eps;
                const double start[3] = {P[0] - eps * G.x, P[1] - eps * G.y, P[2] - eps * G.z};
                const double towards[3] = {L.x, L.y, L.z};
                double h = sa->rayCast ? sa->rayCast(start, towards) : -1.0;
                if (h < 0.0) h = kNoHit;
                const bool counts =
                    g.lightInfo->type(light) == LWLIGHT_DISTANT ? h < kDistantTraceLimit : h < dLight;
                if (counts) {
                    const double exitPos[3] = {P[0] + h * L.x, P[1] + h * L.y, P[2] + h * L.z};
                    double dirT[3] = {0.0, 0.0, 0.0}, colT[3] = {0.0, 0.0, 0.0};
                    const int reached = sa->illuminate ? sa->illuminate(light, exitPos, dirT, colT) : 0;
                    S = reached ? asVector(colT) : Vector3d{0.0, 0.0, 0.0};
                    const double k = skin->sheen_decay > 0.0 ? 1.0 / skin->sheen_decay : 0.0;
                    const double fade = std::exp(-k * h);
                    vecSet(S, fade * S.x, fade * S.y, fade * S.z);
                }
            }
        }
        if (prefixAdmits(skin->sheen_prefix, g.itemInfo, light)) addScaled(Sheen, rim, S);
    }

    // Body colour: diffuse, sub-surface and sheen layers.
    const double Ksub = p.Ksub[0], Ksheen = p.Ksheen[0];
    const Vector3d &skinColor = asVector(p.skinColor);
    const Vector3d &sheenColor = asVector(p.sheenColor);
    const double diffuse = sa->diffuse;
    Vector3d Out = {
        diffuse * (Diff.x * Cs.x) + Ksub * (Sub.x * skinColor.x) + Ksheen * (Sheen.x * sheenColor.x),
        diffuse * (Diff.y * Cs.y) + Ksub * (Sub.y * skinColor.y) + Ksheen * (Sheen.y * sheenColor.y),
        diffuse * (Diff.z * Cs.z) + Ksub * (Sub.z * skinColor.z) + Ksheen * (Sheen.z * sheenColor.z),
    };

    // Ambient: the host's radiosity, or the scene's ambient colour when there is none.
    double ambient[3] = {0.0, 0.0, 0.0};
    double normalDir[3] = {N.x, N.y, N.z};
    if (g.objectInfo->excluded(sa->objID, LWITEM_RADIOSITY) ||
        !illuminationGateway(flag, sa, LWITEM_RADIOSITY, P, normalDir, ambient))
        g.lightInfo->ambient(renderTime, ambient);
    const double KaDiffuse = p.Ka[0] * diffuse;
    Out.x += KaDiffuse * (Cs.x * ambient[0]);
    Out.y += KaDiffuse * (Cs.y * ambient[1]);
    Out.z += KaDiffuse * (Cs.z * ambient[2]);

    // Caustics, untinted.
    double caustics[3] = {0.0, 0.0, 0.0};
    vecSet(asVector(normalDir), N.x, N.y, N.z);
    if (!g.objectInfo->excluded(sa->objID, LWITEM_CAUSTICS) &&
        illuminationGateway(flag, sa, LWITEM_CAUSTICS, P, normalDir, caustics))
        vecAddTo(Out, asVector(caustics));

    addScaled(Out, sa->luminous, Cs);

    // Refraction: the body fades with the clamped transparency; the refracted colour comes in
    // with the unclamped one.
    Vector3d nD;
    vecNormalized(nD, D);
    const double transparency = sa->transparency;
    Vector3d Tr = {0.0, 0.0, 0.0};
    if (transparency > 0.0) {
        Vector3d refracted, Td;
        vecRefract(refracted, nD, N, 1.0 / sa->eta);
        vecNormalized(Td, refracted);
        surfaceEnvironment(sa, skin->surface, P, &Td.x, 1, &Tr.x);
    }
    const double keep = 1.0 - clamp01(transparency);
    vecSet(Out, keep * Out.x, keep * Out.y, keep * Out.z);
    const double fl = sa->colorFL;
    const Vector3d filter = {fl * Cs.x + (1.0 - fl), fl * Cs.y + (1.0 - fl), fl * Cs.z + (1.0 - fl)};
    Out.x += transparency * (filter.x * Tr.x);
    Out.y += transparency * (filter.y * Tr.y);
    Out.z += transparency * (filter.z * Tr.z);

    // Reflection.
    Vector3d Rf = {0.0, 0.0, 0.0};
    if (sa->mirror > 0.0) {
        Vector3d reflected, Rd;
        vecReflect(reflected, nD, N);
        vecNormalized(Rd, reflected);
        surfaceEnvironment(sa, skin->surface, P, &Rd.x, 0, &Rf.x);
    }

    // Highlights, the sheen layer once more (not faded by transparency), and the reflection.
    const double hlt = sa->colorHL;
    const Vector3d hl = {hlt * Cs.x + (1.0 - hlt), hlt * Cs.y + (1.0 - hlt), hlt * Cs.z + (1.0 - hlt)};
    const double specular = sa->specular;
    Out.x += Ksheen * (sheenColor.x * Sheen.x) + specular * (hl.x * Spec.x);
    Out.y += Ksheen * (sheenColor.y * Sheen.y) + specular * (hl.y * Spec.y);
    Out.z += Ksheen * (sheenColor.z * Sheen.z) + specular * (hl.z * Spec.z);
    const double mirror = sa->mirror;
    Out.x += mirror * (Rf.x * hl.x);
    Out.y += mirror * (Rf.y * hl.y);
    Out.z += mirror * (Rf.z * hl.z);

    sa->replacement_percentage = 1.0;
    sa->replacement_color[0] = Out.x;
    sa->replacement_color[1] = Out.y;
    sa->replacement_color[2] = Out.z;
}

}  // namespace

void evaluate(LWInstance instance, LWShaderAccess *sa) noexcept {
    if (!hostGlobalsReady()) return;
    // Without the variant-parameter service there is nothing to shade with: the host's own
    // shading stays.
    LWVParmFuncs *vparm = vparamGlobals.vparmFuncs;
    if (!vparm || !vparm->getVal) return;
    const SkinInstance *skin = static_cast<const SkinInstance *>(instance);
    if (!skin || !sa) return;
    try {
        shade(skin, sa, vparm);
    } catch (...) {
        // Nothing was written yet: the spot keeps the host's shading.
    }
}

}  // namespace velmora
