// SPDX-License-Identifier: Apache-2.0
#include "vparam/vparam.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>

#include "base/host_globals.h"
#include "vparam/gradient_inputs.h"
#include "vparam/image_refs.h"

namespace velmora {

namespace {

const LWBlockIdent kVparamBlocks[] = {{kBlockVPRM, "Vparam"}, {kBlockVENV, "VparamEnv"}, {0, nullptr}};
const LWBlockIdent kTextureBlocks[] = {{kBlockPTEX, "Texture"}, {0, nullptr}};

// Channel-name tags in use on targets whose addresses do not fit eight hexadecimal digits. Touched
// only from the main thread (construction and destruction).
std::set<uint32_t> liveChannelTags;
uint32_t nextChannelTag = 1;

// The value printed after the parameter's name in its channel name: the address where it fits in
// 32 bits, otherwise the next tag that no live parameter holds.
uint32_t claimChannelTag(const Vparam *vp) noexcept {
    if (sizeof(void *) <= sizeof(uint32_t)) return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(vp));
    for (;;) {
        const uint32_t tag = nextChannelTag++;
        if (tag == 0) continue;
        try {
            if (liveChannelTags.insert(tag).second) return tag;
        } catch (...) {
            return tag;  // unregistered: unique unless the counter has wrapped round
        }
    }
}

void releaseChannelTag(uint32_t tag) noexcept {
    if (sizeof(void *) > sizeof(uint32_t)) liveChannelTags.erase(tag);
}

LWTextureID textureOf(const Vparam *vp) {
    const LWVParmFuncs *vf = vparamGlobals.vparmFuncs;
    if (!vp || !vp->parameter || !vf || !vf->getTex) return nullptr;
    return vf->getTex(vp->parameter);
}

void setUnitBox(double box[6]) {
    for (int axis = 0; axis < 3; ++axis) {
        box[2 * axis] = -0.5;
        box[2 * axis + 1] = 0.5;
    }
}

// The VENV block of one envelope, entered by a find over the parameter's list.
void loadEnvelopeBlock(const LWLoadState *load, LWEnvelopeID env) {
    const LWEnvelopeFuncs *ef = vparamGlobals.envelopeFuncs;
    if (load->findBlk(load->readData, kVparamBlocks) == kBlockVENV && ef && ef->load) ef->load(env, load);
    load->endBlk(load->readData);
}

void saveEnvelopeBlock(const LWSaveState *save, LWEnvelopeID env) {
    const LWEnvelopeFuncs *ef = vparamGlobals.envelopeFuncs;
    save->beginBlk(save->writeData, &kVparamBlocks[1], 0);
    if (ef && ef->save) ef->save(env, save);
    save->endBlk(save->writeData);
}

// Dominant axis of n against u[0..2]; ties go to the lower axis.
int dominantAxis(const Vector3d &n, const Vector3d u[3]) {
    const double p = std::fabs(vecDot(n, u[0]));
    const double q = std::fabs(vecDot(n, u[1]));
    const double r = std::fabs(vecDot(n, u[2]));
    if (r > p && r > q) return 2;
    return q > p ? 1 : 0;
}

struct BoundsScan {
    const char *surfaceName;
    LWMeshInfo *mesh;
    double *box;
};

bool sameSurfaceName(const char *a, const char *b) {
    if (!a || !b) return a == b;
    return std::strcmp(a, b) == 0;
}

bool listHolds(LWSurfaceID *list, LWSurfaceID surface) {
    if (!list) return false;
    for (; *list; ++list)
        if (*list == surface) return true;
    return false;
}

}  // namespace

Vparam::Vparam(const char *name, int valueType_, int textureKind_, LWChanGroupID group_, const char *pluginName,
               LWSurfaceID surface_)
    : valueType(valueType_), textureKind(textureKind_), group(group_), surface(surface_), parameter(nullptr) {
    acquireVparamGlobals();
    channelTag = claimChannelTag(this);
    const LWVParmFuncs *vf = vparamGlobals.vparmFuncs;
    if (!vf || !vf->create) return;
    parameter = vf->create(valueType, textureKind);
    if (!parameter) return;

    LWTxtrContextID gc = textureKind == LWVPDT_NOTXTR ? nullptr : gradientContextGet();
    if (!name) name = "";
    if (vf->setup) {
        if (valueType == LWVP_COLOR) {
            // A colour gets a group of its own, so that its three channels stay apart from the
            // owner's other parameters.
            char channel[256];
            std::snprintf(channel, sizeof channel, "%s_%08x", name, static_cast<unsigned>(channelTag));
            const LWEnvelopeFuncs *ef = vparamGlobals.envelopeFuncs;
            LWChanGroupID own = ef && ef->createGroup ? ef->createGroup(group, channel) : nullptr;
            vf->setup(parameter, channel, own, gc, vparamEvent, pluginName, this);
        } else {
            vf->setup(parameter, name, group, gc, vparamEvent, pluginName, this);
        }
    }
    double zero[3] = {0.0, 0.0, 0.0};
    if (vf->setVal) vf->setVal(parameter, zero);
}

Vparam::~Vparam() {
    const LWVParmFuncs *vf = vparamGlobals.vparmFuncs;
    if (parameter && vf && vf->destroy) vf->destroy(parameter);
    releaseChannelTag(channelTag);
}

void vparamNewTime(Vparam *vp, LWTime time, LWFrame frame) {
    const LWTextureFuncs *tf = vparamGlobals.textureFuncs;
    LWTextureID tex = textureOf(vp);
    if (tex && tf && tf->newtime) tf->newtime(tex, time, frame);
}

void vparamCleanup(Vparam *vp) {
    const LWTextureFuncs *tf = vparamGlobals.textureFuncs;
    LWTextureID tex = textureOf(vp);
    if (tex && tf && tf->cleanup) tf->cleanup(tex);
}

void vparamSave(Vparam *vp, const LWSaveState *save) {
    if (!vp || !save) return;
    const LWVParmFuncs *vf = vparamGlobals.vparmFuncs;
    save->beginBlk(save->writeData, &kVparamBlocks[0], 0);
    const int version = kSavedVersion;
    save->writeI4(save->writeData, &version, 1);
    if (vp->parameter && vf) {
        if (vf->save) vf->save(vp->parameter, save);
        // Every enveloped component gets its own block, in component order.
        LWEnvelopeID envs[3] = {nullptr, nullptr, nullptr};
        if (vf->getEnv) vf->getEnv(vp->parameter, envs);
        for (LWEnvelopeID env : envs)
            if (env) saveEnvelopeBlock(save, env);
        if (vf->getState && (vf->getState(vp->parameter) & LWVPSF_TEX)) {
            LWTextureID tex = textureOf(vp);
            imageEnvSave(save, tex);
            imageRefSave(save, tex);
        }
    }
    save->endBlk(save->writeData);
}

void vparamLoad(Vparam *vp, const LWLoadState *load) {
    if (!vp || !load) return;
    const LWVParmFuncs *vf = vparamGlobals.vparmFuncs;
    if (load->findBlk(load->readData, kVparamBlocks) == kBlockVPRM) {
        int version = 0;
        load->readI4(load->readData, &version, 1);
        if (version == kSavedVersion && vp->parameter && vf) {
            if (vf->load) vf->load(vp->parameter, load);
            LWEnvelopeID envs[3] = {nullptr, nullptr, nullptr};
            if (vf->getEnv) vf->getEnv(vp->parameter, envs);
            for (LWEnvelopeID env : envs)
                if (env) loadEnvelopeBlock(load, env);
            if (vf->getState && (vf->getState(vp->parameter) & LWVPSF_TEX)) {
                LWTextureID tex = textureOf(vp);
                imageEnvLoad(load, tex);
                imageRefLoad(load, tex);
            }
        }
    }
    load->endBlk(load->readData);
}

int vparamEvent(LWVParmID, void *userData, int eventCode, void *eventData) {
    Vparam *vp = static_cast<Vparam *>(userData);
    if (eventCode == LWVPE_AUTOSIZE) {
        double *box = static_cast<double *>(eventData);
        if (!box) return 1;
        if (vp && vp->surface)
            surfaceBounds(vp->surface, box);
        else
            setUnitBox(box);
    } else if (eventCode == LWVPE_ENVGROUP) {
        const LWTextureFuncs *tf = vparamGlobals.textureFuncs;
        LWTextureID tex = vp && vp->group ? textureOf(vp) : nullptr;
        if (tex && tf && tf->setEnvGroup) tf->setEnvGroup(tex, vp->group);
    }
    return 1;
}

LWChanGroupID createShaderGroup(const char *name, LWSurfaceID surface) {
    acquireLibraryGlobals();
    const LibraryGlobals &g = libraryGlobals;
    LWChanGroupID parent =
        surface && g.surfaceFuncs && g.surfaceFuncs->chanGrp ? g.surfaceFuncs->chanGrp(surface) : nullptr;
    if (!g.envelopeFuncs || !g.envelopeFuncs->createGroup) return nullptr;
    return g.envelopeFuncs->createGroup(parent, name);
}

bool surfaceBounds(LWSurfaceID surface, double box[6]) {
    acquireLibraryGlobals();
    if (!box) return false;
    for (int axis = 0; axis < 3; ++axis) {
        box[2 * axis] = 1e16;
        box[2 * axis + 1] = -1e16;
    }

    const LibraryGlobals &g = libraryGlobals;
    const LWObjectFuncs *of = g.objectFuncs;
    const LWSurfaceFuncs *sf = g.surfaceFuncs;
    if (surface && of && sf && of->numObjects && of->filename && of->maxLayers && of->layerExists &&
        of->layerMesh && sf->byObject) {
        BoundsScan scan = {sf->name ? sf->name(surface) : nullptr, nullptr, box};
        const int objects = of->numObjects();
        for (int obj = 0; obj < objects; ++obj) {
            const char *file = of->filename(obj);
            if (!file || !listHolds(sf->byObject(file), surface)) continue;
            const int layers = of->maxLayers(obj);
            for (int layer = 0; layer < layers; ++layer) {
                if (!of->layerExists(obj, layer)) continue;
                LWMeshInfo *mesh = of->layerMesh(obj, layer);
                if (!mesh) continue;
                scan.mesh = mesh;
                if (mesh->scanPolys) mesh->scanPolys(mesh, boundsScanPoly, &scan);
                if (mesh->destroy) mesh->destroy(mesh);
            }
        }
    }

    if (box[0] <= box[1] && box[2] <= box[3] && box[4] <= box[5]) return true;
    setUnitBox(box);
    return false;
}

int boundsScanPoly(void *data, LWPolID polygon) {
    BoundsScan *scan = static_cast<BoundsScan *>(data);
    LWMeshInfo *mesh = scan ? scan->mesh : nullptr;
    if (!mesh || !mesh->polTag || !mesh->polSize || !mesh->polVertex || !mesh->pntBasePos) return 0;
    if (!sameSurfaceName(mesh->polTag(mesh, polygon, LWPTAG_SURF), scan->surfaceName)) return 0;
    const int size = mesh->polSize(mesh, polygon);
    for (int i = 0; i < size; ++i) {
        LWFVector pos = {0.0f, 0.0f, 0.0f};
        mesh->pntBasePos(mesh, mesh->polVertex(mesh, polygon, i), pos);
        for (int axis = 0; axis < 3; ++axis) {
            const double c = pos[axis];
            if (c < scan->box[2 * axis]) scan->box[2 * axis] = c;
            if (c > scan->box[2 * axis + 1]) scan->box[2 * axis + 1] = c;
        }
    }
    return 0;
}

void micropolFromAccess(LWMicropol *mp, const LWShaderAccess *sa, LWSurfaceID surface) {
    if (!mp || !sa) return;
    acquireLibraryGlobals();
    const LibraryGlobals &g = libraryGlobals;
    if (g.vparmFuncs && g.vparmFuncs->initMP)
        g.vparmFuncs->initMP(mp);
    else
        *mp = LWMicropol{};

    // The spot, member by member.
    for (int i = 0; i < 3; ++i) {
        mp->oPos[i] = sa->oPos[i];
        mp->wPos[i] = sa->wPos[i];
        mp->gNorm[i] = sa->gNorm[i];
        mp->wNorm[i] = sa->wNorm[i];
        mp->oScl[i] = 1.0;
        mp->ray[i] = sa->wPos[i] - sa->raySource[i];
        mp->raySource[i] = sa->raySource[i];
    }
    mp->bumpHeight = sa->bumpHeight;
    mp->spotSize = sa->spotSize;
    mp->rayLength = sa->rayLength;
    mp->cosine = sa->cosine;
    for (int i = 0; i < 9; ++i) {
        mp->oXfrm[i] = sa->oXfrm[i];
        mp->wXfrm[i] = sa->wXfrm[i];
    }
    mp->objID = sa->objID;
    mp->srfID = surface;
    for (int k = 0; k < 4; ++k) {
        mp->verts[k] = sa->verts[k];
        mp->weights[k] = sa->weights[k];
        for (int i = 0; i < 3; ++i) mp->vertsWPos[k][i] = sa->vertsWPos[k][i];
    }
    mp->polNum = sa->polNum;

    // World axis: the geometric normal against the world axes.
    static const Vector3d unit[3] = {{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}};
    Vector3d n;
    vecNormalized(n, asVector(sa->gNorm));
    mp->wAxis = dominantAxis(n, unit);

    // Object axis: the polygon's own normal where the mesh gives one, else the geometric normal
    // against the object's axes as the world-to-object transform holds them.
    bool found = false;
    Vector3d polyNormal = {0.0, 0.0, 0.0};
    if (g.objectInfo && g.objectInfo->meshInfo && sa->polygon) {
        LWMeshInfo *mesh = g.objectInfo->meshInfo(sa->objID, 1);
        if (mesh) {
            found = basePolygonNormal(mesh, sa->polygon, polyNormal);
            if (mesh->destroy) mesh->destroy(mesh);
        }
    }
    if (found) {
        mp->oAxis = dominantAxis(polyNormal, unit);
    } else {
        const double *x = sa->wXfrm;
        Vector3d axes[3] = {{x[0], x[3], x[6]}, {x[1], x[4], x[7]}, {x[2], x[5], x[8]}};
        for (Vector3d &a : axes) vecNormalized(a, a);
        mp->oAxis = dominantAxis(n, axes);
    }

    mp->context = 0;
    mp->illuminate = sa->illuminate;
    mp->rayTrace = sa->rayTrace;
    mp->rayCast = sa->rayCast;
    mp->rayShade = sa->rayShade;
    mp->userData = nullptr;
    mp->polygon = sa->polygon;
}

bool basePolygonNormal(LWMeshInfo *mesh, LWPolID polygon, Vector3d &normal) {
    if (!mesh || !polygon || !mesh->polSize || !mesh->polVertex || !mesh->pntBasePos) return false;
    const int size = mesh->polSize(mesh, polygon);
    if (size < 3) return false;
    LWFVector p0 = {0, 0, 0}, p1 = {0, 0, 0}, pl = {0, 0, 0};
    mesh->pntBasePos(mesh, mesh->polVertex(mesh, polygon, 0), p0);
    mesh->pntBasePos(mesh, mesh->polVertex(mesh, polygon, 1), p1);
    mesh->pntBasePos(mesh, mesh->polVertex(mesh, polygon, size - 1), pl);
    Vector3d e1 = {double(p1[0]) - p0[0], double(p1[1]) - p0[1], double(p1[2]) - p0[2]};
    Vector3d e2 = {double(pl[0]) - p0[0], double(pl[1]) - p0[1], double(pl[2]) - p0[2]};
    vecNormalized(e1, e1);
    vecNormalized(e2, e2);
    vecCross(normal, e1, e2);
    return true;
}

void textureParamSave(TextureParam *tp, const LWSaveState *save) {
    if (!tp || !save) return;
    acquireVparamGlobals();
    const LWTextureFuncs *tf = vparamGlobals.textureFuncs;
    save->beginBlk(save->writeData, &kTextureBlocks[0], 0);
    const int version = kSavedVersion;
    save->writeI4(save->writeData, &version, 1);
    if (tp->texture && tf && tf->save) tf->save(tp->texture, save);
    imageEnvSave(save, tp->texture);
    imageRefSave(save, tp->texture);
    save->endBlk(save->writeData);
}

void textureParamLoad(TextureParam *tp, const LWLoadState *load) {
    if (!tp || !load) return;
    acquireVparamGlobals();
    const LWTextureFuncs *tf = vparamGlobals.textureFuncs;
    if (load->findBlk(load->readData, kTextureBlocks) == kBlockPTEX) {
        int version = 0;
        load->readI4(load->readData, &version, 1);
        if (version == kSavedVersion) {
            if (tp->texture && tf && tf->load) tf->load(tp->texture, load);
            imageEnvLoad(load, tp->texture);
            imageRefLoad(load, tp->texture);
        }
    }
    load->endBlk(load->readData);
}

}  // namespace velmora
