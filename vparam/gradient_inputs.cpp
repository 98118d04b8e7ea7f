// SPDX-License-Identifier: Apache-2.0
#include "vparam/gradient_inputs.h"

#include <cmath>
#include <new>

#include "base/host_globals.h"
#include "base/vector3d.h"
#include "lights/item_cache.h"
#include "vparam/occlusion.h"

namespace velmora {

namespace {

constexpr double kHalfPi = 1.5707963267948966;
constexpr double kThird = 0.3333333333333333;  // the three-way average factor

// Item pick kinds of the host's gradient editor.
constexpr int kPickNone = -1, kPickObject = 0, kPickLight = 1, kPickCamera = 2, kPickWeightMap = 4;
// Value kinds: plain number, distance, percentage, angle.
constexpr int kNumber = 2, kDistance = 3, kPercent = 4, kAngle = 5;

}  // namespace

// name, start, end, type, flags, itemType, itemID, itemName
const LWTxtrParamDesc gradientInputs[kGradientInputCount + 1] = {
    {"Bump", 0.0, 1.0, kNumber, 4, kPickNone, nullptr, nullptr},
    {"Slope", 0.0, 1.0, kNumber, 12, kPickNone, nullptr, nullptr},
    {"Incidence Angle", 0.0, kHalfPi, kAngle, 12, kPickNone, nullptr, nullptr},
    {"Light Incidence", 0.0, kHalfPi, kAngle, 12, kPickLight, nullptr, nullptr},
    {"Distance to Camera", 0.0, 10.0, kDistance, 4, kPickCamera, nullptr, nullptr},
    {"Distance to Object", 0.0, 10.0, kDistance, 4, kPickObject, nullptr, nullptr},
    {"X Distance to Object", 0.0, 10.0, kDistance, 4, kPickObject, nullptr, nullptr},
    {"Y Distance to Object", 0.0, 10.0, kDistance, 4, kPickObject, nullptr, nullptr},
    {"Z Distance to Object", 0.0, 10.0, kDistance, 4, kPickObject, nullptr, nullptr},
    {"Weight Map", -1.0, 1.0, kPercent, 4, kPickWeightMap, nullptr, nullptr},
    {"Surface Thickness", 0.0, 1.0, kDistance, 4, kPickNone, nullptr, nullptr},
    {"Object X Axis", -kHalfPi, kHalfPi, kAngle, 12, kPickObject, nullptr, nullptr},
    {"Object Y Axis", -kHalfPi, kHalfPi, kAngle, 12, kPickObject, nullptr, nullptr},
    {"Object Z Axis", -kHalfPi, kHalfPi, kAngle, 12, kPickObject, nullptr, nullptr},
    {"World X Axis", -kHalfPi, kHalfPi, kAngle, 12, kPickNone, nullptr, nullptr},
    {"World Y Axis", -kHalfPi, kHalfPi, kAngle, 12, kPickNone, nullptr, nullptr},
    {"World Z Axis", -kHalfPi, kHalfPi, kAngle, 12, kPickNone, nullptr, nullptr},
    {"XY Distance to Object", 0.0, 10.0, kDistance, 4, kPickObject, nullptr, nullptr},
    {"YZ Distance to Object", 0.0, 10.0, kDistance, 4, kPickObject, nullptr, nullptr},
    {"ZX Distance to Object", 0.0, 10.0, kDistance, 4, kPickObject, nullptr, nullptr},
    {"Light Specular Incidence", 0.0, 1.0, kNumber, 12, kPickLight, nullptr, nullptr},
    {"Light Phong Incidence", 0.0, 1.0, kNumber, 12, kPickLight, nullptr, nullptr},
    {"Gradient Ambient", 0.0, 1.0, kNumber, 4, kPickNone, nullptr, nullptr},
    {"Gradient Diffuse", 0.0, 1.0, kNumber, 4, kPickNone, nullptr, nullptr},
    {"Gradient Specular", 0.0, 1.0, kNumber, 4, kPickNone, nullptr, nullptr},
    {"Gradient Phong", 0.0, 1.0, kNumber, 4, kPickNone, nullptr, nullptr},
    {"Ambient Occlusion (Preview)", 0.0, 1.0, kNumber, 12, kPickNone, nullptr, nullptr},
    {"Ambient Occlusion (Low)", 0.0, 1.0, kNumber, 12, kPickNone, nullptr, nullptr},
    {"Ambient Occlusion (Medium)", 0.0, 1.0, kNumber, 12, kPickNone, nullptr, nullptr},
    {"Ambient Occlusion (High)", 0.0, 1.0, kNumber, 12, kPickNone, nullptr, nullptr},
    {"Ambient Occlusion (Very High)", 0.0, 1.0, kNumber, 12, kPickNone, nullptr, nullptr},
    {"Half Occlusion (Preview)", 0.0, 1.0, kNumber, 12, kPickNone, nullptr, nullptr},
    {"Half Occlusion (Low)", 0.0, 1.0, kNumber, 12, kPickNone, nullptr, nullptr},
    {"Half Occlusion (Medium)", 0.0, 1.0, kNumber, 12, kPickNone, nullptr, nullptr},
    {"Half Occlusion (High)", 0.0, 1.0, kNumber, 12, kPickNone, nullptr, nullptr},
    {"Half Occlusion (Very High)", 0.0, 1.0, kNumber, 12, kPickNone, nullptr, nullptr},
    {nullptr, 0.0, 0.0, 0, 0, 0, nullptr, nullptr},
};

LWTxtrContextID gradientContext = nullptr;

namespace {

// Static tear-down at module unload.
struct GradientContextTearDown {
    ~GradientContextTearDown() { gradientContextDestroy(); }
} gradientContextTearDown;

// The callbacks handed to contextCreate, in slot order.
const LWTxtrParamFuncs kGradientCallbacks = {
    gradientEvaluate,  // paramEvaluate
    gradientTime,      // paramTime
    gradientCleanup,   // paramCleanup
};

// Rings and directions per ring of the five occlusion qualities, Preview to Very High.
const int kOcclusionLevels[5][2] = {{3, 9}, {6, 18}, {8, 24}, {10, 30}, {12, 36}};

bool lightInfoUsable() {
    const LWLightInfo *li = libraryGlobals.lightInfo;
    return li && li->type && li->flags && li->ambient;
}

// True without the item service, or when item is not among the scene's objects (lights and
// cameras count as missing).
bool objectMissing(LWItemID item) {
    const LWItemInfo *info = libraryGlobals.itemInfo;
    if (!info || !info->first || !info->next) return true;
    for (LWItemID o = info->first(LWI_OBJECT, LWITEM_NULL); o; o = info->next(o))
        if (o == item) return false;
    return true;
}

// What one value request works with.
struct Spot {
    const LWMicropol &mp;
    const GradientTimeData *data;
    LWItemID picked;  // the user's pick, or null
    Vector3d P, N, R;

    // The item's parameter from the per-time snapshot; zero when the snapshot lacks it.
    Vector3d itemVector(LWItemID item, LWItemParam param) const {
        Vector3d v = {0.0, 0.0, 0.0};
        itemParamCacheGet(data ? data->cache : nullptr, item, param, &v.x);
        return v;
    }
    LWItemID pickedObject() const { return picked ? picked : mp.objID; }
    LWTime time() const { return data ? data->time : renderTime; }

    // D = O - P, with O the object's world position (the origin for a missing object).
    Vector3d toObject() const {
        const LWItemID object = pickedObject();
        const Vector3d O = objectMissing(object) ? Vector3d{0.0, 0.0, 0.0} : itemVector(object, LWIP_W_POSITION);
        return {O.x - P.x, O.y - P.y, O.z - P.z};
    }
    // Unit direction from the spot towards the light.
    Vector3d towardsLight(LWItemID light) const {
        Vector3d d, n;
        if (libraryGlobals.lightInfo->type(light) == LWLIGHT_DISTANT) {
            d = itemVector(light, LWIP_FORWARD);
        } else {
            const Vector3d L = itemVector(light, LWIP_W_POSITION);
            d = {P.x - L.x, P.y - L.y, P.z - L.z};
        }
        vecNormalized(n, d);
        return {-n.x, -n.y, -n.z};
    }
    // Normalised mirror direction of the view ray.
    Vector3d reflected() const {
        Vector3d r, out;
        vecReflect(r, R, N);
        return vecNormalized(out, r);
    }
};

Vector3d minus(const Vector3d &a, const Vector3d &b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }

Vector3d normalised(const Vector3d &v) {
    Vector3d out;
    return vecNormalized(out, v);
}

// Input 10: the picked weight map's value at the spot, interpolated with the spot's weights.
double weightMapValue(const Spot &s) {
    const LWObjectInfo *oi = libraryGlobals.objectInfo;
    if (!oi || !oi->meshInfo || !s.picked) return 0.0;
    LWMeshInfo *mesh = oi->meshInfo(s.mp.objID, 1);
    if (!mesh) return 0.0;
    double sum = 0.0;
    if (mesh->pntVSelect && mesh->pntVGet) {
        // A vertex map wider than the buffer would be written past its end: such a map reads 0.
        float value[16] = {};
        const int dimension = mesh->pntVSelect(mesh, s.picked);
        if (dimension <= 16) {
            for (int k = 0; k < 4; ++k) {
                if (s.mp.verts[k] && mesh->pntVGet(mesh, s.mp.verts[k], value))
                    sum += static_cast<double>(value[0]) * static_cast<double>(s.mp.weights[k]);
            }
        }
    }
    if (mesh->destroy) mesh->destroy(mesh);
    return sum;
}

// Input 23: radiosity where the host gives it, else the scene's ambient light.
double ambientValue(const Spot &s) {
    if (!lightInfoUsable() || objectMissing(s.mp.objID)) return 0.0;
    const LWObjectInfo *oi = libraryGlobals.objectInfo;
    double col[3] = {0.0, 0.0, 0.0};
    bool lit = false;
    if (oi && s.mp.illuminate) {
        const bool excluded = oi->excluded && oi->excluded(s.mp.objID, LWITEM_RADIOSITY);
        if (!excluded) {
            double dir[3] = {s.N.x, s.N.y, s.N.z};
            lit = s.mp.illuminate(LWITEM_RADIOSITY, &s.P.x, dir, col) != 0;
        }
    }
    if (!lit) libraryGlobals.lightInfo->ambient(s.time(), col);
    return (col[0] + col[1] + col[2]) * kThird;
}

// Inputs 24 to 26: diffuse, specular and phong response summed over the lights that reach the spot.
double lightingSum(const Spot &s, int input) {
    const LWItemInfo *info = libraryGlobals.itemInfo;
    const LWLightInfo *li = libraryGlobals.lightInfo;
    if (!info || !info->first || !info->next || !s.mp.illuminate || !lightInfoUsable()) return 0.0;
    const unsigned int skipBit = input == 24 ? LWLFL_NO_DIFFUSE : LWLFL_NO_SPECULAR;
    const LWObjectInfo *oi = libraryGlobals.objectInfo;
    const bool checkExcluded = oi && oi->excluded && !objectMissing(s.mp.objID);
    const Vector3d Rf = s.reflected();

    double sum = 0.0;
    for (LWItemID light = info->first(LWI_LIGHT, LWITEM_NULL); light; light = info->next(light)) {
        if (li->flags(light) & skipBit) continue;
        if (checkExcluded && oi->excluded(s.mp.objID, light)) continue;
        double dir[3] = {0.0, 0.0, 0.0}, col[3] = {0.0, 0.0, 0.0};
        if (!s.mp.illuminate(light, &s.P.x, dir, col)) continue;
        const Vector3d n = normalised(asVector(dir));
        const Vector3d Lk = {-n.x, -n.y, -n.z};
        const double Ik = (col[0] + col[1] + col[2]) * kThird;
        if (input == 24) {
            sum += std::fmax(vecDot(s.N, Lk), 0.0) * Ik;
        } else if (input == 25) {
            const Vector3d H = normalised(minus(Lk, s.R));
            sum += std::pow(std::fmax(vecDot(s.N, H), 0.0), 4.0) * Ik;
        } else {
            sum += std::fmax(vecDot(Rf, Lk), 0.0) * Ik;
        }
    }
    return sum;
}

// Inputs 12 to 14: the angle to an axis of the picked object (world axes when it is
// missing).
double objectAxisValue(const Spot &s, LWItemParam axis, const Vector3d &worldAxis) {
    if (!libraryGlobals.itemInfo) return 0.0;
    const LWItemID object = s.pickedObject();
    const Vector3d A = normalised(objectMissing(object) ? worldAxis : s.itemVector(object, axis));
    return vecDot({-A.x, -A.y, -A.z}, s.N) * kHalfPi;
}

double inputValue(const Spot &s, int input) {
    const LWMicropol &mp = s.mp;
    switch (input) {
        case 1:
            return mp.bumpHeight;
        case 2: {
            Vector3d U = {0.0, 1.0, 0.0};
            if (libraryGlobals.itemInfo && mp.objID && !objectMissing(mp.objID))
                U = s.itemVector(mp.objID, LWIP_UP);
            return 1.0 - vecDot(normalised(U), s.N);
        }
        case 3:
            return mp.cosine * kHalfPi;
        case 4:
        case 21:
        case 22: {
            if (!libraryGlobals.itemInfo || !lightInfoUsable() || !s.picked) return 0.0;
            const Vector3d L = s.towardsLight(s.picked);
            double d;
            if (input == 4) {
                d = vecDot(s.N, L);
                return d > 0.0 ? d * kHalfPi : 0.0;
            }
            if (input == 21) {
                d = vecDot(s.N, normalised(minus(L, s.R)));
                return d > 0.0 ? std::pow(d, 4.0) : 0.0;
            }
            d = vecDot(s.reflected(), L);
            return d > 0.0 ? d : 0.0;
        }
        case 5:
            return mp.rayLength;
        case 6:
        case 7:
        case 8:
        case 9:
        case 18:
        case 19:
        case 20: {
            if (!libraryGlobals.itemInfo) return 0.0;
            Vector3d D = s.toObject();
            switch (input) {
                case 7:
                    return std::fabs(D.x);
                case 8:
                    return std::fabs(D.y);
                case 9:
                    return std::fabs(D.z);
                case 18:
                    D.z = 0.0;
                    break;
                case 19:
                    D.x = 0.0;
                    break;
                case 20:
                    D.y = 0.0;
                    break;
                default:
                    break;
            }
            return std::sqrt(D.x * D.x + D.y * D.y + D.z * D.z);
        }
        case 10:
            return weightMapValue(s);
        case 11: {
            if (!mp.rayCast) return 0.0;
            const double t = mp.rayCast(mp.wPos, mp.ray);
            return t >= 0.0 ? t : 0.0;
        }
        case 12:
            return objectAxisValue(s, LWIP_RIGHT, {1.0, 0.0, 0.0});
        case 13:
            return objectAxisValue(s, LWIP_UP, {0.0, 1.0, 0.0});
        case 14:
            return objectAxisValue(s, LWIP_FORWARD, {0.0, 0.0, 1.0});
        case 15:
            return -s.N.x * kHalfPi;
        case 16:
            return -s.N.y * kHalfPi;
        case 17:
            return -s.N.z * kHalfPi;
        case 23:
            return ambientValue(s);
        case 24:
        case 25:
        case 26:
            return lightingSum(s, input);
        default:
            break;
    }
    if (input >= 27 && input <= 36) {
        if (objectMissing(mp.objID)) return 0.0;
        const int level = (input - 27) % 5;
        const int half = input >= 32 ? 1 : 0;
        return occlusionFraction(&mp, mp.wPos, &s.N.x, kOcclusionLevels[level][0], kOcclusionLevels[level][1],
                                 half);
    }
    return 1.0;
}

}  // namespace

LWTxtrContextID gradientContextGet() {
    acquireLibraryGlobals();
    if (gradientContext) return gradientContext;
    const LWTextureFuncs *tf = libraryGlobals.textureFuncs;
    if (!tf || !tf->contextCreate) return nullptr;
    const LWTxtrContextID context = tf->contextCreate(kGradientCallbacks);
    if (!context) return nullptr;
    gradientContext = context;
    if (tf->contextAddParam) {
        for (const LWTxtrParamDesc *row = gradientInputs; row->name; ++row) tf->contextAddParam(context, *row);
    }
    return gradientContext;
}

void gradientContextDestroy() {
    if (!gradientContext) return;
    const LWTextureFuncs *tf =
        hostGlobal ? static_cast<LWTextureFuncs *>(hostGlobal(LWTEXTUREFUNCS_GLOBAL, GFUSE_TRANSIENT)) : nullptr;
    if (tf && tf->contextDestroy) tf->contextDestroy(gradientContext);
    gradientContext = nullptr;
}

double gradientEvaluate(LWTxtrParamDesc *desc, int paramNb, LWMicropol *mp, gParamData data) {
    if (paramNb < 1 || paramNb > kGradientInputCount) return 1.0;
    if (!mp) return 0.0;
    Spot s = {*mp, static_cast<const GradientTimeData *>(data), desc ? desc->itemID : nullptr, {}, {}, {}};
    s.P = asVector(mp->wPos);
    vecNormalized(s.N, asVector(mp->wNorm));
    vecNormalized(s.R, asVector(mp->ray));
    return inputValue(s, paramNb);
}

gParamData gradientTime(void *, LWTxtrParamDesc *desc, int, LWTime time, LWFrame frame) {
    if (!desc) return nullptr;
    GradientTimeData *data = new (std::nothrow) GradientTimeData{time, frame, nullptr};
    if (!data) return nullptr;
    data->cache = itemParamCacheCreate();
    itemParamCacheRefresh(data->cache, time, frame);
    return data;
}

void gradientCleanup(LWTxtrParamDesc *, int, gParamData data) {
    GradientTimeData *d = static_cast<GradientTimeData *>(data);
    if (!d) return;
    itemParamCacheDestroy(d->cache);
    delete d;
}

}  // namespace velmora
