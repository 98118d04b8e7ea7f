#include "fake_host.h"

#include <algorithm>
#include <cstring>

#include "base/host_globals.h"
#include "entry/servers.h"

namespace skintest {

namespace {

FakeHost *host = nullptr;

FakeLight *lightOf(LWItemID id) {
    for (auto &l : host->lights)
        if (l.get() == id) return l.get();
    return nullptr;
}

void copy3(double *out, const double *in) {
    for (int i = 0; i < 3; ++i) out[i] = in[i];
}

// --- LW Item Info -----------------------------------------------------------------------------
LWItemID itemFirst(LWItemType type, LWItemID parent) {
    if (host->keepRecords) ++host->firstCalls;
    if (type != LWI_LIGHT || parent || host->lights.empty()) return nullptr;
    return host->lights.front().get();
}
LWItemID itemNext(LWItemID item) {
    for (size_t i = 0; i + 1 < host->lights.size(); ++i)
        if (host->lights[i].get() == item) return host->lights[i + 1].get();
    return nullptr;
}
LWItemID itemParent(LWItemID) { return nullptr; }
LWItemType itemType(LWItemID item) {
    return lightOf(item) ? LWI_LIGHT : (item == host->object ? LWI_OBJECT : LWI_NONE);
}
const char *itemName(LWItemID item) {
    FakeLight *l = lightOf(item);
    return l ? l->name.c_str() : nullptr;
}
void itemParam(LWItemID item, LWItemParam param, LWTime, LWDVector vec) {
    vec[0] = vec[1] = vec[2] = 0.0;
    FakeLight *l = lightOf(item);
    if (!l) return;
    if (param == LWIP_POSITION || param == LWIP_W_POSITION) copy3(vec, l->position);
    if (param == LWIP_FORWARD || param == LWIP_W_FORWARD) copy3(vec, l->forward);
}
const char *itemTag(LWItemID, int) { return nullptr; }

LWItemInfo itemInfo = {
    itemFirst,   // first
    itemNext,    // next
    itemParent,  // parent
    itemType,    // type
    itemName,    // name
    itemParam,   // param
    itemTag,     // getTag
};

// --- LW Light Info ----------------------------------------------------------------------------
void lightAmbient(LWTime time, LWDVector color) {
    if (host->keepRecords) {
        ++host->ambientCalls;
        host->ambientTime = time;
    }
    copy3(color, host->ambient);
}
int lightType(LWItemID light) {
    FakeLight *l = lightOf(light);
    return l ? l->type : -1;
}
void lightColor(LWItemID light, LWTime, LWDVector color) {
    FakeLight *l = lightOf(light);
    if (l) copy3(color, l->color);
}
int lightShadowType(LWItemID light) {
    FakeLight *l = lightOf(light);
    return l ? l->shadowType : 0;
}
void lightCone(LWItemID, LWTime, double *radius, double *edge) { *radius = *edge = 0.5; }
unsigned int lightFlags(LWItemID light) {
    if (host->keepRecords) {
        ++host->flagsCalls;
        host->flagsOf.push_back(light);
    }
    FakeLight *l = lightOf(light);
    return l ? l->flags : 0;
}
double lightRange(LWItemID, LWTime) { return 1.0; }
int lightFalloff(LWItemID) { return LWLFALL_OFF; }
LWImageID lightProjImage(LWItemID) { return nullptr; }
void lightShadowColor(LWItemID light, LWTime, LWDVector color) {
    FakeLight *l = lightOf(light);
    if (l) copy3(color, l->shadowColor);
}

LWLightInfo lightInfo = {
    lightAmbient,      // ambient
    lightType,         // type
    lightColor,        // color
    lightShadowType,   // shadowType
    lightCone,         // coneAngles
    lightFlags,        // flags
    lightRange,        // range
    lightFalloff,      // falloff
    lightProjImage,    // projImage
    lightShadowColor,  // shadowColor
};

// --- LW Object Info ---------------------------------------------------------------------------
int objectExcluded(LWItemID, LWItemID light) {
    if (light == LWITEM_RADIOSITY) return host->excludeRadiosity;
    if (light == LWITEM_CAUSTICS) return host->excludeCaustics;
    FakeLight *l = lightOf(light);
    return l && l->excluded;
}

LWObjectInfo objectInfo = {
    nullptr,         // filename
    nullptr,         // numPoints
    nullptr,         // numPolygons
    nullptr,         // meshInfo
    objectExcluded,  // excluded
};

LWSceneInfo sceneInfo = {};

// --- Global Render Memory ---------------------------------------------------------------------
LWMemChunk poolFind(const char *name) {
    for (int i = 0; i < host->chunkCount; ++i)
        if (std::strcmp(host->chunks[i].name, name) == 0) return host->chunks[i].bytes;
    return nullptr;
}
LWMemChunk poolCreate(const char *name, int size) {
    if (host->chunkCount >= 16 || size > 16 || std::strlen(name) >= 64) return nullptr;
    FakeHost::Chunk &c = host->chunks[host->chunkCount++];
    std::strcpy(c.name, name);
    std::memset(c.bytes, 0xab, sizeof c.bytes);  // the pool hands out dirty memory
    return c.bytes;
}

LWGlobalPool globalPool = {
    nullptr,     // first
    nullptr,     // next
    nullptr,     // ID
    nullptr,     // size
    poolFind,    // find
    poolCreate,  // create
};

// --- Surface Functions, backdrop, image list --------------------------------------------------
int surfaceInt(LWSurfaceID, const char *) {
    if (host->keepRecords) ++host->surfaceReads;
    return 0;  // backdrop only, for reflection and refraction alike
}
double *surfaceFlt(LWSurfaceID, const char *) { return nullptr; }
LWImageID surfaceImg(LWSurfaceID, const char *) {
    if (host->keepRecords) ++host->surfaceReads;
    return nullptr;
}
const char *surfaceName(LWSurfaceID) { return "skin"; }
LWChanGroupID surfaceChanGrp(LWSurfaceID) { return host->surfaceGroup; }

LWSurfaceFuncs surfaceFuncs = {
    nullptr,         // first
    nullptr,         // next
    nullptr,         // byName
    nullptr,         // byObject
    surfaceName,     // name
    surfaceInt,      // getInt
    surfaceFlt,      // getFlt
    surfaceImg,      // getImg
    surfaceChanGrp,  // chanGrp
};

void backdropColor(LWTime, const double ray[3], LWDVector color) {
    if (host->keepRecords) {
        ++host->backdropCalls;
        host->backdropRays.push_back({ray[0], ray[1], ray[2]});
    }
    copy3(color, host->backdrop);
}

LWBackdropInfo backdropInfo = {
    backdropColor,  // backdrop
    LWBACK_SOLID,   // type
    nullptr,        // color
};

void imageNeedAA(LWImageID) {}

LWImageList imageList = {
    nullptr,      // first
    nullptr,      // next
    nullptr,      // load
    nullptr,      // name
    nullptr,      // filename
    nullptr,      // isColor
    imageNeedAA,  // needAA
    nullptr,      // size
    nullptr,      // luma
    nullptr,      // RGB
    nullptr,      // RGBSpot
    nullptr,      // sceneLoad
    nullptr,      // sceneSave
};

// --- Variant parameters and envelopes ---------------------------------------------------------
LWVParmID parmCreate(int envType, int texType) {
    host->parms.emplace_back(new FakeParm);
    host->parms.back()->envType = envType;
    host->parms.back()->texType = texType;
    return host->parms.back().get();
}
void parmDestroy(LWVParmID parm) {
    if (parm) static_cast<FakeParm *>(parm)->destroyed = true;
}
int parmSetup(LWVParmID parm, const char *channel, LWChanGroupID group, LWTxtrContextID, LWVP_EventFunc *,
              const char *, void *) {
    FakeParm *p = static_cast<FakeParm *>(parm);
    p->channel = channel ? channel : "";
    p->group = group;
    return 1;
}
LWError parmCopy(LWVParmID to, LWVParmID from) {
    host->copyCalls.emplace_back(to, from);
    if (to && from) copy3(static_cast<FakeParm *>(to)->value, static_cast<FakeParm *>(from)->value);
    return nullptr;
}
// A parameter saves its three components as 24 bytes.
LWError parmSave(LWVParmID parm, const LWSaveState *save) {
    unsigned char bytes[24];
    std::memcpy(bytes, static_cast<FakeParm *>(parm)->value, sizeof bytes);
    save->writeU1(save->writeData, bytes, 24);
    return nullptr;
}
LWError parmLoad(LWVParmID parm, const LWLoadState *load) {
    unsigned char bytes[24];
    if (load->readU1(load->readData, bytes, 24) == 24)
        std::memcpy(static_cast<FakeParm *>(parm)->value, bytes, sizeof bytes);
    return nullptr;
}
double parmGetVal(LWVParmID parm, LWTime, LWMicropol *, double *result) {
    if (host->keepRecords) host->getValOrder.push_back(parm);
    const FakeParm *p = static_cast<const FakeParm *>(parm);
    if (!p) return 0.0;
    if (p->envType == LWVP_COLOR)
        copy3(result, p->value);
    else
        result[0] = p->value[0];
    return 0.0;
}
int parmSetVal(LWVParmID parm, double *value) {
    SetValCall call = {parm, {value[0], value[1], value[2]}};
    host->setValCalls.push_back(call);
    if (parm) copy3(static_cast<FakeParm *>(parm)->value, value);
    return 1;
}
int parmGetState(LWVParmID) { return 0; }
void parmInitMP(LWMicropol *mp) { std::memset(mp, 0, sizeof *mp); }
void parmGetEnv(LWVParmID, LWEnvelopeID envs[3]) { envs[0] = envs[1] = envs[2] = nullptr; }
LWTextureID parmGetTex(LWVParmID) { return nullptr; }

LWVParmFuncs vparmFuncs = {
    parmCreate,    // create
    parmDestroy,   // destroy
    parmSetup,     // setup
    parmCopy,      // copy
    parmLoad,      // load
    parmSave,      // save
    parmGetVal,    // getVal
    parmSetVal,    // setVal
    parmGetState,  // getState
    parmInitMP,    // initMP
    parmGetEnv,    // getEnv
    parmGetTex,    // getTex
};

LWChanGroupID envCreateGroup(LWChanGroupID parent, const char *name) {
    host->groups.emplace_back(new FakeGroup{parent, name ? name : ""});
    host->groupsMade.push_back(host->groups.back().get());
    return host->groups.back().get();
}

LWEnvelopeFuncs envelopeFuncs = {
    nullptr,         // create
    nullptr,         // destroy
    envCreateGroup,  // createGroup
    nullptr,         // destroyGroup
    nullptr,         // copy
    nullptr,         // load
    nullptr,         // save
    nullptr,         // value
    nullptr,         // createKey
    nullptr,         // destroyKey
    nullptr,         // nextKey
    nullptr,         // keySet
};

LWTextureFuncs textureFuncs = {};
LWChannelInfo channelInfo = {};
LWObjectFuncs objectFuncs = {};

// --- LWXPanel ---------------------------------------------------------------------------------
LWXPanelID xpCreate(int type, LWXPanelControl *controls) {
    host->panelCalls.push_back({"create", nullptr, static_cast<unsigned int>(type), controls});
    return host->panelAnswer;
}
void xpDescribe(LWXPanelID panel, LWXPanelDataDesc *data, LWXPanelGetFunc *, LWXPanelSetFunc *) {
    host->panelCalls.push_back({"describe", panel, 0, data});
}
void xpHint(LWXPanelID panel, unsigned int id, LWXPanelHint *hints) {
    host->panelCalls.push_back({"hint", panel, id, hints});
}
void xpSetData(LWXPanelID panel, unsigned int id, void *data) {
    host->panelCalls.push_back({"setData", panel, id, data});
}
void xpViewInst(LWXPanelID panel, void *inst) { host->panelCalls.push_back({"viewInst", panel, 0, inst}); }

LWXPanelFuncs panelFuncs = {
    1,           // version
    xpCreate,    // create
    nullptr,     // destroy
    xpDescribe,  // describe
    xpHint,      // hint
    nullptr,     // getData
    xpSetData,   // setData
    xpViewInst,  // viewInst
};

// --- The access record's functions ------------------------------------------------------------
bool atSpot(const double *p) { return p[0] == host->spot[0] && p[1] == host->spot[1] && p[2] == host->spot[2]; }

int accessIlluminate(LWItemID light, const LWDVector position, LWDVector dir, LWDVector color) {
    if (host->keepRecords) {
        host->illuminatedLights.push_back(light);
        host->illuminatePositions.push_back({position[0], position[1], position[2]});
    }
    if (light == LWITEM_RADIOSITY) {
        copy3(color, host->radiosity);
        return host->radiosityLit;
    }
    if (light == LWITEM_CAUSTICS) {
        copy3(color, host->caustics);
        return host->causticsLit;
    }
    FakeLight *l = lightOf(light);
    if (!l) return 0;
    if (l->type == LWLIGHT_DISTANT) {
        copy3(dir, l->forward);
    } else {
        for (int i = 0; i < 3; ++i) dir[i] = position[i] - l->position[i];
    }
    if (atSpot(position)) {
        copy3(color, l->shadowed);
        return l->lit;
    }
    copy3(color, l->exitColor);
    return l->exitLit;
}

double accessRayCast(const LWDVector position, const LWDVector direction) {
    if (host->keepRecords) {
        host->rayCastStarts.push_back({position[0], position[1], position[2]});
        host->rayCastDirections.push_back({direction[0], direction[1], direction[2]});
    }
    return host->rayCastDistance;
}

double accessRayTrace(const LWDVector, const LWDVector, LWDVector color) {
    color[0] = color[1] = color[2] = 0.0;
    return -1.0;
}

}  // namespace

FakeHost *current() { return host; }

FakeHost::FakeHost() { host = this; }

FakeHost::~FakeHost() {
    if (host == this) host = nullptr;
}

void FakeHost::install() {
    host = this;
    sceneInfo.renderOpts = renderOpts;
    velmora::resetHostGlobals();
    LWInstanceFuncs inst = {};
    LWItemFuncs item = {};
    LWRenderFuncs rend = {};
    LWShaderHandler handler = {&inst, &item, &rend, nullptr, nullptr};
    velmora::shaderHandlerActivate(LWSHADER_VERSION, lookup, &handler, nullptr);
}

void *FakeHost::lookup(const char *name, int) {
    if (!host) return nullptr;
    if (std::find(host->missing.begin(), host->missing.end(), name) != host->missing.end()) return nullptr;
    const std::string n = name;
    if (n == LWITEMINFO_GLOBAL) return &itemInfo;
    if (n == LWLIGHTINFO_GLOBAL) return &lightInfo;
    if (n == LWOBJECTINFO_GLOBAL) return &objectInfo;
    if (n == LWSCENEINFO_GLOBAL) return &sceneInfo;
    if (n == LWGLOBALPOOL_RENDER_GLOBAL) return &globalPool;
    if (n == LWIMAGELIST_GLOBAL) return &imageList;
    if (n == LWSURFACEFUNCS_GLOBAL) return &surfaceFuncs;
    if (n == LWBACKDROPINFO_GLOBAL) return &backdropInfo;
    if (n == LWVPARMFUNCS_GLOBAL) return &vparmFuncs;
    if (n == LWENVELOPEFUNCS_GLOBAL) return &envelopeFuncs;
    if (n == LWTEXTUREFUNCS_GLOBAL) return &textureFuncs;
    if (n == LWCHANNELINFO_GLOBAL) return &channelInfo;
    if (n == LWOBJECTFUNCS_GLOBAL) return &objectFuncs;
    if (n == LWXPANELFUNCS_GLOBAL) return &panelFuncs;
    return nullptr;
}

FakeLight &FakeHost::addLight(const std::string &name) {
    lights.emplace_back(new FakeLight);
    lights.back()->name = name;
    return *lights.back();
}

LWVParmID FakeHost::makeParm(int envType, double a, double b, double c) {
    parms.emplace_back(new FakeParm);
    FakeParm &p = *parms.back();
    p.envType = envType;
    p.value[0] = a;
    p.value[1] = b;
    p.value[2] = c;
    return &p;
}

void FakeHost::fillAccess(LWShaderAccess &sa) const {
    sa.illuminate = accessIlluminate;
    sa.rayCast = accessRayCast;
    sa.rayTrace = accessRayTrace;
    sa.rayShade = nullptr;
    sa.objID = object;
}

}  // namespace skintest
