#include "tests/vparam/fake_host.h"

#include <algorithm>

namespace testhost {

namespace {

FakeHost *host = nullptr;
char contextToken;  // the gradient context handed out

template <typename T>
T *as(void *id) {
    return static_cast<T *>(id);
}

// Variant parameters.
LWVParmID vpCreate(int envType, int texType) {
    host->params.emplace_back(new FakeParam);
    FakeParam *p = host->params.back().get();
    p->envType = envType;
    p->texType = texType;
    return p;
}
void vpDestroy(LWVParmID parm) { host->destroyedParams.push_back(as<FakeParam>(parm)); }
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
LWError vpCopy(LWVParmID, LWVParmID) { return nullptr; }
LWError vpLoad(LWVParmID parm, const LWLoadState *load) {
    load->readI4(load->readData, &as<FakeParam>(parm)->data, 1);
    return nullptr;
}
LWError vpSave(LWVParmID parm, const LWSaveState *save) {
    save->writeI4(save->writeData, &as<FakeParam>(parm)->data, 1);
    return nullptr;
}
double vpGetVal(LWVParmID parm, LWTime, LWMicropol *, double *result) {
    std::copy(as<FakeParam>(parm)->value, as<FakeParam>(parm)->value + 3, result);
    return result[0];
}
int vpSetVal(LWVParmID parm, double *value) {
    std::copy(value, value + 3, as<FakeParam>(parm)->value);
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

// Envelopes and channel groups.
LWChanGroupID envCreateGroup(LWChanGroupID parent, const char *name) {
    FakeGroup *g = host->group(name);
    g->parent = parent;
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

// Textures and their layers.
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

// Channels.
LWChannelID chNextChannel(LWChanGroupID group, LWChannelID chan) {
    FakeGroup *g = as<FakeGroup>(group);
    const size_t next = chan ? static_cast<size_t>(as<FakeChannel>(chan) - g->channels.data()) + 1 : 0;
    return next < g->channels.size() ? &g->channels[next] : nullptr;
}
LWEnvelopeID chChannelEnvelope(LWChannelID chan) { return as<FakeChannel>(chan)->envelope; }

// The scene's images.
LWImageID imFirst() { return host->images.empty() ? nullptr : host->images[0].get(); }
LWImageID imNext(LWImageID img) {
    auto &v = host->images;
    auto it =
        std::find_if(v.begin(), v.end(), [&](const std::unique_ptr<FakeImage> &p) { return p.get() == img; });
    return it == v.end() || it + 1 == v.end() ? nullptr : (it + 1)->get();
}
const char *imName(LWImageID img) { return as<FakeImage>(img)->name.c_str(); }
LWImageID imSceneLoad(const LWLoadState *load) {
    char file[256];
    if (load->readStr(load->readData, file, sizeof file) < 0) return nullptr;
    ++host->imagesLoaded;
    return host->image((std::string("loaded ") + file).c_str(), file);
}
void imSceneSave(const LWSaveState *save, LWImageID img) {
    save->writeStr(save->writeData, as<FakeImage>(img)->file.c_str());
}

// Surfaces and scene objects.
LWSurfaceID *sfByObject(const char *file) {
    for (FakeObject &o : host->objects)
        if (o.file && std::string(o.file) == file) return o.surfaces.data();
    return nullptr;
}
const char *sfName(LWSurfaceID surf) {
    const size_t i = reinterpret_cast<uintptr_t>(surf) - 1;
    return i < host->surfaceNames.size() ? host->surfaceNames[i].c_str() : nullptr;
}
LWChanGroupID sfChanGrp(LWSurfaceID) { return host->surfaceGroup; }
int obNumObjects() { return static_cast<int>(host->objects.size()); }
const char *obFilename(int obj) { return host->objects[static_cast<size_t>(obj)].file; }
int obMaxLayers(int obj) { return static_cast<int>(host->objects[static_cast<size_t>(obj)].layers.size()); }
int obLayerExists(int obj, int layer) {
    return host->objects[static_cast<size_t>(obj)].layers[static_cast<size_t>(layer)] != nullptr;
}
LWMeshInfo *obLayerMesh(int obj, int layer) {
    return &host->objects[static_cast<size_t>(obj)].layers[static_cast<size_t>(layer)]->info;
}
LWMeshInfo *oiMeshInfo(LWItemID object, int) {
    for (auto &om : host->objectMeshes)
        if (om.first == object) return &om.second->info;
    return nullptr;
}

}  // namespace

FakeHost::FakeHost() {
    vparmFuncs = {vpCreate, vpDestroy, vpSetup,    vpCopy,   vpLoad,   vpSave,
                  vpGetVal, vpSetVal,  vpGetState, vpInitMP, vpGetEnv, vpGetTex};
    envelopeFuncs = {nullptr, nullptr, envCreateGroup, nullptr, nullptr, envLoad,
                     envSave, nullptr, nullptr,        nullptr, nullptr, nullptr};
    textureFuncs = {txContextCreate, txContextDestroy, txContextAddParam, nullptr,     nullptr,
                    nullptr,         txNewTime,        txCleanup,         txLoad,      txSave,
                    nullptr,         txSetEnvGroup,    txFirstLayer,      txNextLayer, nullptr,
                    txLayerEnvGroup, txGetParam,       txSetParam};
    channelInfo = {nullptr, chNextChannel, nullptr, nullptr, nullptr, nullptr, chChannelEnvelope};
    imageList = {imFirst, imNext,  nullptr, imName,  nullptr,     nullptr,    nullptr,
                 nullptr, nullptr, nullptr, nullptr, imSceneLoad, imSceneSave};
    surfaceFuncs = {nullptr, nullptr, nullptr, sfByObject, sfName, nullptr, nullptr, nullptr, sfChanGrp};
    objectFuncs = {obNumObjects, obFilename, obMaxLayers, obLayerExists, obLayerMesh};
    objectInfo = {nullptr, nullptr, nullptr, oiMeshInfo, nullptr};

    lookup.tables = {{LWVPARMFUNCS_GLOBAL, &vparmFuncs},     {LWENVELOPEFUNCS_GLOBAL, &envelopeFuncs},
                     {LWTEXTUREFUNCS_GLOBAL, &textureFuncs}, {LWCHANNELINFO_GLOBAL, &channelInfo},
                     {LWIMAGELIST_GLOBAL, &imageList},       {LWSURFACEFUNCS_GLOBAL, &surfaceFuncs},
                     {LWOBJECTFUNCS_GLOBAL, &objectFuncs},   {LWOBJECTINFO_GLOBAL, &objectInfo}};
    lookup.install();
    host = this;
}

FakeHost::~FakeHost() {
    if (host == this) host = nullptr;
}

FakeGroup *FakeHost::group(const char *name, std::vector<FakeEnvelope *> envs) {
    groups.emplace_back(new FakeGroup);
    FakeGroup *g = groups.back().get();
    g->name = name ? name : "";
    for (FakeEnvelope *e : envs) g->channels.push_back({e});
    return g;
}

FakeImage *FakeHost::image(const char *name, const char *file) {
    images.emplace_back(new FakeImage{name, file});
    return images.back().get();
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

}  // namespace testhost
