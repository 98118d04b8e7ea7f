// SPDX-License-Identifier: Apache-2.0
#include "tests/support/fake_host.h"

#include <algorithm>
#include <cstring>

#include "base/host_globals.h"
#include "entry/servers.h"

namespace testhost {

namespace {

FakeHost *host = nullptr;
char contextToken;  // the gradient context handed out

template <typename T>
T *as(void *id) {
    return static_cast<T *>(id);
}

void copy3(double *out, const double *in) {
    for (int i = 0; i < 3; ++i) out[i] = in[i];
}

// --- Item info ------------------------------------------------------------------------------------
LWItemID itemFirst(LWItemType type, LWItemID parent) {
    if (host->keepRecords) ++host->firstCalls;
    for (FakeItem &item : host->items)
        if (item.type == type && item.parent == parent) return item.id;
    return nullptr;
}
LWItemID itemNext(LWItemID id) {
    auto &items = host->items;
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].id != id) continue;
        for (size_t k = i + 1; k < items.size(); ++k)
            if (items[k].type == items[i].type && items[k].parent == items[i].parent) return items[k].id;
        return nullptr;
    }
    return nullptr;
}
LWItemID itemParent(LWItemID id) {
    FakeItem *it = host->find(id);
    return it ? it->parent : nullptr;
}
LWItemType itemType(LWItemID id) {
    if (FakeItem *it = host->find(id)) return it->type;
    return id == host->object ? LWI_OBJECT : LWI_NONE;
}
const char *itemName(LWItemID id) {
    FakeItem *it = host->find(id);
    return it ? it->name.c_str() : nullptr;
}
void itemParam(LWItemID id, LWItemParam p, LWTime time, LWDVector vec) {
    if (host->keepRecords) ++host->paramCalls;
    vec[0] = vec[1] = vec[2] = 0.0;
    FakeItem *it = host->find(id);
    if (!it || p < 1 || p > 12) return;
    for (int c = 0; c < 3; ++c) vec[c] = it->param[p - 1][c] + time * it->slope[p - 1][c];
}
const char *itemTag(LWItemID id, int n) {
    FakeItem *it = host->find(id);
    if (!it || n < 1 || n > static_cast<int>(it->tags.size())) return nullptr;
    return it->tags[static_cast<size_t>(n - 1)].c_str();
}

// --- Light info -----------------------------------------------------------------------------------
void lightAmbient(LWTime time, LWDVector color) {
    if (host->keepRecords) {
        ++host->ambientCalls;
        host->ambientTime = time;
    }
    copy3(color, host->ambient);
}
int lightType(LWItemID light) {
    FakeItem *it = host->find(light);
    return it ? it->lightType : -1;
}
void lightColor(LWItemID light, LWTime, LWDVector color) {
    FakeItem *it = host->find(light);
    for (int k = 0; k < 3; ++k) color[k] = it ? it->color[k] : 0.0;
}
int lightShadowType(LWItemID light) {
    FakeItem *it = host->find(light);
    return it ? it->shadowType : LWSHAD_OFF;
}
void lightCone(LWItemID light, LWTime, double *radius, double *edge) {
    FakeItem *it = host->find(light);
    *radius = it ? it->coneRadius : 0.0;
    *edge = it ? it->coneEdge : 0.0;
}
unsigned int lightFlags(LWItemID light) {
    if (host->keepRecords) {
        std::lock_guard<std::mutex> hold(host->recordLock);
        ++host->flagsCalls;
        host->flagsOf.push_back(light);
    }
    FakeItem *it = host->find(light);
    return it ? it->flags : 0;
}
double lightRange(LWItemID light, LWTime) {
    FakeItem *it = host->find(light);
    return it ? it->range : 0.0;
}
int lightFalloff(LWItemID light) {
    FakeItem *it = host->find(light);
    return it ? it->falloff : LWLFALL_OFF;
}
LWImageID lightProjImage(LWItemID light) {
    FakeItem *it = host->find(light);
    return it ? it->projImage : nullptr;
}
void lightShadowColor(LWItemID light, LWTime, LWDVector color) {
    FakeItem *it = host->find(light);
    for (int k = 0; k < 3; ++k) color[k] = it ? it->shadowColor[k] : 0.0;
}

// --- Object info and scene objects ----------------------------------------------------------------
LWMeshInfo *objectMeshInfo(LWItemID object, int) {
    for (auto &om : host->objectMeshes)
        if (om.first == object) return &om.second->info;
    return nullptr;
}
int objectExcluded(LWItemID, LWItemID light) {
    if (light == LWITEM_RADIOSITY) return host->excludeRadiosity;
    if (light == LWITEM_CAUSTICS) return host->excludeCaustics;
    FakeItem *it = host->find(light);
    return it && it->excluded;
}
int obNumObjects() { return static_cast<int>(host->objects.size()); }
const char *obFilename(int obj) { return host->objects[static_cast<size_t>(obj)].file; }
int obMaxLayers(int obj) { return static_cast<int>(host->objects[static_cast<size_t>(obj)].layers.size()); }
int obLayerExists(int obj, int layer) {
    return host->objects[static_cast<size_t>(obj)].layers[static_cast<size_t>(layer)] != nullptr;
}
LWMeshInfo *obLayerMesh(int obj, int layer) {
    return &host->objects[static_cast<size_t>(obj)].layers[static_cast<size_t>(layer)]->info;
}

// --- Render memory: dirty memory, so that the module must clear it --------------------------------
LWMemChunk poolFind(const char *name) {
    std::lock_guard<std::mutex> hold(host->pool.mutex);
    host->pool.found.push_back(name);
    auto found = host->pool.chunks.find(name);
    return found == host->pool.chunks.end() ? nullptr : found->second.data();
}
LWMemChunk poolCreate(const char *name, int size) {
    std::lock_guard<std::mutex> hold(host->pool.mutex);
    host->pool.created.push_back(name);
    if (host->pool.failCreate) return nullptr;
    auto &chunk = host->pool.chunks[name];
    chunk.assign(static_cast<size_t>(size), 0xAB);
    return chunk.data();
}

// --- Images ---------------------------------------------------------------------------------------
FakeImage *imageOf(LWImageID img) {
    for (auto &i : host->images)
        if (i.get() == img) return i.get();
    return nullptr;
}
LWImageID imFirst() { return host->images.empty() ? nullptr : host->images[0].get(); }
LWImageID imNext(LWImageID img) {
    auto &v = host->images;
    auto it =
        std::find_if(v.begin(), v.end(), [&](const std::unique_ptr<FakeImage> &p) { return p.get() == img; });
    return it == v.end() || it + 1 == v.end() ? nullptr : (it + 1)->get();
}
const char *imName(LWImageID img) { return as<FakeImage>(img)->name.c_str(); }
void imNeedAA(LWImageID img) {
    if (!host->keepRecords) return;
    std::lock_guard<std::mutex> hold(host->recordLock);
    ++host->needAACalls;
    host->needAA.push_back(img);
}
void imSize(LWImageID img, int *w, int *h) {
    const FakeImage *i = imageOf(img);
    *w = i ? i->width : 0;
    *h = i ? i->height : 0;
}
void imRGBSpot(LWImageID img, double u, double v, double size, int blend, LWDVector rgb) {
    const FakeImage *i = imageOf(img);
    if (host->keepRecords) {
        std::lock_guard<std::mutex> hold(host->recordLock);
        ++host->coloredSpots;
        host->lastSpot = {u, v, size, blend};
    }
    for (int k = 0; k < 3; ++k) rgb[k] = i ? i->rgb[k] : 0.0;
}
LWImageID imSceneLoad(const LWLoadState *load) {
    char file[256];
    if (load->readStr(load->readData, file, sizeof file) < 0) return nullptr;
    ++host->imagesLoaded;
    return host->image((std::string("loaded ") + file).c_str(), file);
}
void imSceneSave(const LWSaveState *save, LWImageID img) {
    save->writeStr(save->writeData, as<FakeImage>(img)->file.c_str());
}

// --- Surfaces and the backdrop: reflection and refraction see the backdrop only -------------------
LWSurfaceID *sfByObject(const char *file) {
    for (FakeObject &o : host->objects)
        if (o.file && std::string(o.file) == file) return o.surfaces.data();
    return nullptr;
}
const char *sfName(LWSurfaceID surf) {
    const size_t i = reinterpret_cast<uintptr_t>(surf) - 1;
    return i < host->surfaceNames.size() ? host->surfaceNames[i].c_str() : nullptr;
}
int sfInt(LWSurfaceID, const char *) {
    if (host->keepRecords) ++host->surfaceReads;
    return 0;
}
double *sfFlt(LWSurfaceID, const char *) { return nullptr; }
LWImageID sfImg(LWSurfaceID, const char *) {
    if (host->keepRecords) ++host->surfaceReads;
    return nullptr;
}
LWChanGroupID sfChanGrp(LWSurfaceID) { return host->surfaceGroup; }

void backdropColor(LWTime, const double ray[3], LWDVector color) {
    if (host->keepRecords) {
        std::lock_guard<std::mutex> hold(host->recordLock);
        ++host->backdropCalls;
        host->backdropRays.push_back({ray[0], ray[1], ray[2]});
    }
    copy3(color, host->backdrop);
}

// --- Variant parameters ---------------------------------------------------------------------------
LWVParmID vpCreate(int envType, int texType) {
    host->params.emplace_back(new FakeParam);
    FakeParam *p = host->params.back().get();
    p->envType = envType;
    p->texType = texType;
    return p;
}
void vpDestroy(LWVParmID parm) {
    if (!parm) return;
    as<FakeParam>(parm)->destroyed = true;
    host->destroyedParams.push_back(as<FakeParam>(parm));
}
int vpSetup(LWVParmID parm, const char *channel, LWChanGroupID group, LWTxtrContextID gc, LWVP_EventFunc *event,
            const char *plugin, void *userData) {
    FakeParam *p = as<FakeParam>(parm);
    p->channel = channel ? channel : "";
    p->group = group;
    p->context = gc;
    p->event = event;
    p->plugin = plugin ? plugin : "";
    p->userData = userData;
    return 1;
}
LWError vpCopy(LWVParmID to, LWVParmID from) {
    host->copyCalls.emplace_back(to, from);
    if (to && from) copy3(as<FakeParam>(to)->value, as<FakeParam>(from)->value);
    return nullptr;
}
LWError vpLoad(LWVParmID parm, const LWLoadState *load) {
    FakeParam *p = as<FakeParam>(parm);
    if (!host->parmSavesValues) {
        load->readI4(load->readData, &p->data, 1);
        return nullptr;
    }
    unsigned char bytes[24];
    if (load->readU1(load->readData, bytes, 24) == 24) std::memcpy(p->value, bytes, sizeof bytes);
    return nullptr;
}
LWError vpSave(LWVParmID parm, const LWSaveState *save) {
    FakeParam *p = as<FakeParam>(parm);
    if (!host->parmSavesValues) {
        save->writeI4(save->writeData, &p->data, 1);
        return nullptr;
    }
    unsigned char bytes[24];
    std::memcpy(bytes, p->value, sizeof bytes);
    save->writeU1(save->writeData, bytes, 24);
    return nullptr;
}
// A colour answers its three components, any other type its first.
double vpGetVal(LWVParmID parm, LWTime, LWMicropol *, double *result) {
    if (host->keepRecords) {
        std::lock_guard<std::mutex> hold(host->recordLock);
        host->getValOrder.push_back(parm);
    }
    const FakeParam *p = as<FakeParam>(parm);
    if (!p) return 0.0;
    if (p->envType == LWVP_COLOR)
        copy3(result, p->value);
    else
        result[0] = p->value[0];
    return result[0];
}
int vpSetVal(LWVParmID parm, double *value) {
    SetValCall call = {parm, {value[0], value[1], value[2]}};
    host->setValCalls.push_back(call);
    if (parm) copy3(as<FakeParam>(parm)->value, value);
    return 1;
}
int vpGetState(LWVParmID parm) {
    const FakeParam *p = as<FakeParam>(parm);
    const bool enveloped = p->envs[0] || p->envs[1] || p->envs[2];
    return (enveloped ? LWVPSF_ENV : 0) | (p->texture ? LWVPSF_TEX : 0);
}
void vpInitMP(LWMicropol *mp) {
    *mp = LWMicropol{};
    mp->txVal = 0.25;
}
void vpGetEnv(LWVParmID parm, LWEnvelopeID envs[3]) {
    for (int i = 0; i < 3; ++i) envs[i] = as<FakeParam>(parm)->envs[i];
}
LWTextureID vpGetTex(LWVParmID parm) { return as<FakeParam>(parm)->texture; }

// --- Envelopes and channel groups -----------------------------------------------------------------
LWChanGroupID envCreateGroup(LWChanGroupID parent, const char *name) {
    FakeGroup *g = host->group(name);
    g->parent = parent;
    host->groupsMade.push_back(g);
    return g;
}
LWError envLoad(LWEnvelopeID env, const LWLoadState *load) {
    load->readFP(load->readData, &as<FakeEnvelope>(env)->value, 1);
    return nullptr;
}
LWError envSave(LWEnvelopeID env, const LWSaveState *save) {
    save->writeFP(save->writeData, &as<FakeEnvelope>(env)->value, 1);
    return nullptr;
}

// --- Textures and their layers --------------------------------------------------------------------
LWTxtrContextID txContextCreate(LWTxtrParamFuncs) { return &contextToken; }
void txContextDestroy(LWTxtrContextID) {}
int txContextAddParam(LWTxtrContextID, LWTxtrParamDesc) { return 1; }
void txNewTime(LWTextureID tex, LWTime, LWFrame) { ++as<FakeTexture>(tex)->newTimes; }
void txCleanup(LWTextureID tex) { ++as<FakeTexture>(tex)->cleanups; }
void txLoad(LWTextureID tex, const LWLoadState *load) {
    load->readI4(load->readData, &as<FakeTexture>(tex)->data, 1);
}
void txSave(LWTextureID tex, const LWSaveState *save) {
    save->writeI4(save->writeData, &as<FakeTexture>(tex)->data, 1);
}
void txSetEnvGroup(LWTextureID tex, LWChanGroupID group) { as<FakeTexture>(tex)->envGroup = group; }
LWTLayerID txFirstLayer(LWTextureID tex) {
    FakeTexture *t = as<FakeTexture>(tex);
    return t->layers.empty() ? nullptr : &t->layers[0];
}
LWTLayerID txNextLayer(LWTextureID tex, LWTLayerID layer) {
    FakeTexture *t = as<FakeTexture>(tex);
    const size_t next = static_cast<size_t>(as<FakeLayer>(layer) - t->layers.data()) + 1;
    return next < t->layers.size() ? &t->layers[next] : nullptr;
}
LWChanGroupID txLayerEnvGroup(LWTLayerID layer) { return as<FakeLayer>(layer)->group; }
int txGetParam(LWTLayerID layer, unsigned int tag, void *data) {
    FakeLayer *l = as<FakeLayer>(layer);
    if (tag != TXTAG_IMAGE || !l->imageParam) return 0;
    *static_cast<LWImageID *>(data) = l->image;
    return 1;
}
int txSetParam(LWTLayerID layer, unsigned int tag, void *data) {
    FakeLayer *l = as<FakeLayer>(layer);
    if (tag != TXTAG_IMAGE || !l->imageParam) return 0;
    l->image = as<FakeImage>(*static_cast<LWImageID *>(data));
    return 1;
}

// --- Channels -------------------------------------------------------------------------------------
LWChannelID chNextChannel(LWChanGroupID group, LWChannelID chan) {
    FakeGroup *g = as<FakeGroup>(group);
    const size_t next = chan ? static_cast<size_t>(as<FakeChannel>(chan) - g->channels.data()) + 1 : 0;
    return next < g->channels.size() ? &g->channels[next] : nullptr;
}
LWEnvelopeID chChannelEnvelope(LWChannelID chan) { return as<FakeChannel>(chan)->envelope; }

// --- The panel ------------------------------------------------------------------------------------
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

// --- The access record's functions ----------------------------------------------------------------
bool atSpot(const double *p) { return p[0] == host->spot[0] && p[1] == host->spot[1] && p[2] == host->spot[2]; }

int accessIlluminate(LWItemID light, const LWDVector position, LWDVector dir, LWDVector color) {
    if (host->keepRecords) {
        std::lock_guard<std::mutex> hold(host->recordLock);
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
    FakeItem *l = host->find(light);
    if (!l) return 0;
    if (l->lightType == LWLIGHT_DISTANT) {
        copy3(dir, l->param[LWIP_W_FORWARD - 1]);
    } else {
        for (int i = 0; i < 3; ++i) dir[i] = position[i] - l->param[LWIP_W_POSITION - 1][i];
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
        std::lock_guard<std::mutex> hold(host->recordLock);
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

FakeHost::FakeHost() {
    itemInfo = {itemFirst, itemNext, itemParent, itemType, itemName, itemParam, itemTag};
    lightInfo = {lightAmbient, lightType,  lightColor,   lightShadowType, lightCone,
                 lightFlags,   lightRange, lightFalloff, lightProjImage,  lightShadowColor};
    objectInfo = {nullptr, nullptr, nullptr, objectMeshInfo, objectExcluded};
    globalPool = {nullptr, nullptr, nullptr, nullptr, poolFind, poolCreate};
    imageList = {imFirst, imNext,  nullptr, imName,    nullptr,     nullptr,    imNeedAA,
                 imSize,  nullptr, nullptr, imRGBSpot, imSceneLoad, imSceneSave};
    surfaceFuncs = {nullptr, nullptr, nullptr, sfByObject, sfName, sfInt, sfFlt, sfImg, sfChanGrp};
    backdropInfo = {backdropColor, LWBACK_SOLID, nullptr};
    vparmFuncs = {vpCreate, vpDestroy, vpSetup,    vpCopy,   vpLoad,   vpSave,
                  vpGetVal, vpSetVal,  vpGetState, vpInitMP, vpGetEnv, vpGetTex};
    envelopeFuncs = {nullptr, nullptr, envCreateGroup, nullptr, nullptr, envLoad,
                     envSave, nullptr, nullptr,        nullptr, nullptr, nullptr};
    textureFuncs = {txContextCreate, txContextDestroy, txContextAddParam, nullptr,     nullptr,
                    nullptr,         txNewTime,        txCleanup,         txLoad,      txSave,
                    nullptr,         txSetEnvGroup,    txFirstLayer,      txNextLayer, nullptr,
                    txLayerEnvGroup, txGetParam,       txSetParam};
    channelInfo = {nullptr, chNextChannel, nullptr, nullptr, nullptr, nullptr, chChannelEnvelope};
    objectFuncs = {obNumObjects, obFilename, obMaxLayers, obLayerExists, obLayerMesh};
    panelFuncs = {1, xpCreate, nullptr, xpDescribe, xpHint, nullptr, xpSetData, xpViewInst};

    tables = {{LWITEMINFO_GLOBAL, &itemInfo},
              {LWLIGHTINFO_GLOBAL, &lightInfo},
              {LWOBJECTINFO_GLOBAL, &objectInfo},
              {LWSCENEINFO_GLOBAL, &sceneInfo},
              {LWGLOBALPOOL_RENDER_GLOBAL, &globalPool},
              {LWIMAGELIST_GLOBAL, &imageList},
              {LWSURFACEFUNCS_GLOBAL, &surfaceFuncs},
              {LWBACKDROPINFO_GLOBAL, &backdropInfo},
              {LWVPARMFUNCS_GLOBAL, &vparmFuncs},
              {LWENVELOPEFUNCS_GLOBAL, &envelopeFuncs},
              {LWTEXTUREFUNCS_GLOBAL, &textureFuncs},
              {LWCHANNELINFO_GLOBAL, &channelInfo},
              {LWOBJECTFUNCS_GLOBAL, &objectFuncs},
              {LWXPANELFUNCS_GLOBAL, &panelFuncs}};
    previous_ = host;
    host = this;
}

FakeHost::~FakeHost() {
    if (host == this) host = previous_;
}

void FakeHost::makeCurrent() { host = this; }

void *FakeHost::lookup(const char *name, int useMode) {
    if (!host) return nullptr;
    host->calls.emplace_back(name, useMode);
    auto it = host->tables.find(name);
    return it == host->tables.end() ? nullptr : it->second;
}

std::vector<std::string> FakeHost::names() const {
    std::vector<std::string> out;
    for (const auto &c : calls) out.push_back(c.first);
    return out;
}

void FakeHost::activate() {
    host = this;
    velmora::resetHostGlobals();
    LWInstanceFuncs inst = {};
    LWItemFuncs item = {};
    LWRenderFuncs rend = {};
    LWShaderHandler handler = {&inst, &item, &rend, nullptr, nullptr};
    velmora::shaderHandlerActivate(LWSHADER_VERSION, lookup, &handler, nullptr);
}

void FakeHost::setShaderGlobals() {
    host = this;
    velmora::resetHostGlobals();
    sceneInfo.renderOpts = LWROPT_SHADOWTRACE;
    velmora::shaderGlobals.itemInfo = &itemInfo;
    velmora::shaderGlobals.lightInfo = &lightInfo;
    velmora::shaderGlobals.sceneInfo = &sceneInfo;
    velmora::shaderGlobals.globalPool = &globalPool;
    velmora::shaderGlobals.imageList = &imageList;
}

void FakeHost::fillAccess(LWShaderAccess &sa) const {
    sa.illuminate = accessIlluminate;
    sa.rayCast = accessRayCast;
    sa.rayTrace = accessRayTrace;
    sa.rayShade = nullptr;
    sa.objID = object;
}

FakeItem &FakeHost::add(uintptr_t n, LWItemType type, LWItemID parent) {
    items.emplace_back();
    FakeItem &item = items.back();
    item.id = id(n);
    item.type = type;
    item.parent = parent;
    return item;
}

FakeItem &FakeHost::addLight(const std::string &name) {
    FakeItem &light = add(nextLight_++, LWI_LIGHT);
    light.name = name;
    light.lightType = LWLIGHT_DISTANT;
    light.shadowType = LWSHAD_OFF;
    light.coneRadius = light.coneEdge = 0.5;
    light.aim(0.0, 0.0, -1.0);
    return light;
}

FakeItem *FakeHost::find(LWItemID item) {
    for (FakeItem &it : items)
        if (it.id == item) return &it;
    return nullptr;
}

FakeImage *FakeHost::image(const char *name, const char *file) {
    images.emplace_back(new FakeImage{name, file});
    return images.back().get();
}

FakeGroup *FakeHost::group(const char *name, std::vector<FakeEnvelope *> envs) {
    groups.emplace_back(new FakeGroup);
    FakeGroup *g = groups.back().get();
    g->name = name ? name : "";
    for (FakeEnvelope *e : envs) g->channels.push_back({e});
    return g;
}

FakeTexture *FakeHost::texture(std::vector<FakeLayer> layers) {
    textures.emplace_back(new FakeTexture);
    textures.back()->layers = std::move(layers);
    return textures.back().get();
}

FakeEnvelope *FakeHost::envelope(float value) {
    envelopes.emplace_back(new FakeEnvelope{value});
    return envelopes.back().get();
}

LWVParmID FakeHost::makeParm(int envType, double a, double b, double c) {
    params.emplace_back(new FakeParam);
    FakeParam &p = *params.back();
    p.envType = envType;
    p.value[0] = a;
    p.value[1] = b;
    p.value[2] = c;
    return &p;
}

}  // namespace testhost
