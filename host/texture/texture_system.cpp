// SPDX-License-Identifier: Apache-2.0
#include "host/texture/texture_system.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "host/animation/envelopes.h"
#include "host/state/memory_state.h"
#include "host/texture/texture_pvt.h"
#include "host/util/handle_registry.h"

namespace host::texture {

const char *const kHostInputs[] = {kPreviousLayer,
                                   "X Coordinate",
                                   "Y Coordinate",
                                   "Z Coordinate",
                                   "World X Coordinate",
                                   "World Y Coordinate",
                                   "World Z Coordinate",
                                   "Distance to Center",
                                   "Slope",
                                   "Incidence Angle",
                                   nullptr};

namespace {

constexpr int kFormatVersion = 1;
constexpr int kMaxLayers = 4096;
constexpr int kMaxKeys = 65536;

const LWBlockIdent kTextureBlock[] = {{LWID_('T', 'X', 'T', 'R'), "Texture"}, {0, nullptr}};
const LWBlockIdent kLayerBlock[] = {{LWID_('T', 'L', 'Y', 'R'), "Layer"}, {0, nullptr}};

// Render threads re-enter evaluate (a plug-in input may trace rays that shade other textured
// surfaces): a thread that already holds the lock shared does not take it again.
class ReentrantReads {
public:
    void lock() { m_.lock(); }
    void unlock() { m_.unlock(); }
    void lock_shared() {
        if (tDepth++ == 0) m_.lock_shared();
    }
    void unlock_shared() {
        if (--tDepth == 0) m_.unlock_shared();
    }

private:
    static thread_local int tDepth;  // shared holds of the calling thread (the registry has one lock)
    std::shared_mutex m_;
};

thread_local int ReentrantReads::tDepth = 0;

// Gradient contexts (shared with the textures made in them, which outlive a destroyed context),
// textures, and the layers of live textures (owned by their texture).
using Registry = util::HandleRegistry<ReentrantReads, Context, Texture, Layer>;

// Never destroyed: a plug-in's static tear-down may destroy its gradient context after this
// file's statics would be gone.
Registry &reg() {
    static Registry *r = new Registry;
    return *r;
}

std::atomic<const ImageSource *> gImages{nullptr};

const LWEnvelopeFuncs &env() { return *animation::envelopeFuncs(); }

LWEnvelopeID opacityChannel(const Layer &l) {
    return l.group && l.opacityEnvelope ? animation::findChannel(l.group, "Opacity") : nullptr;
}

// Gives a layer its channel group (and opacity channel) under the texture's envelope group.
void attachGroup(Texture &t, Layer &l, size_t index) {
    if (!t.envGroup || l.group) return;
    std::string name = "Layer" + std::to_string(index + 1);
    l.group = env().createGroup(t.envGroup, name.c_str());
    if (l.group && l.opacityEnvelope) {
        LWEnvelopeID e = env().create(l.group, "Opacity", 0);
        if (e) env().createKey(e, 0, l.s.opacity);
    }
}

void detachGroup(Layer &l) {
    if (l.group) env().destroyGroup(l.group);
    l.group = nullptr;
}

void cleanupLocked(Texture &t) {
    if (t.context && t.context->alive && t.context->funcs.paramCleanup) {
        for (auto &[nb, data] : t.timeData) {
            size_t i = static_cast<size_t>(nb - 1);
            if (i < t.context->inputs.size()) {
                LWTxtrParamDesc d = t.context->inputs[i].desc;
                t.context->funcs.paramCleanup(&d, nb, data);
            }
        }
    }
    t.timeData.clear();
    t.timed = false;
}

void resolveInput(const Texture &t, Layer &l) {
    l.pluginInput = 0;
    l.hostInput = -1;
    if (l.type != TLT_GRAD) return;
    if (t.context && t.context->alive) {
        for (size_t i = 0; i < t.context->inputs.size(); ++i)
            if (t.context->inputs[i].name == l.s.input) {
                l.pluginInput = static_cast<int>(i + 1);
                return;
            }
    }
    for (int i = 0; kHostInputs[i]; ++i)
        if (l.s.input == kHostInputs[i]) l.hostInput = i;
}

void destroyLayerLocked(Registry::Writer &r, Layer *l) {
    detachGroup(*l);
    r.remove<Layer>(l);
}

void destroyTextureLocked(Registry::Writer &r, Texture *t) {
    cleanupLocked(*t);
    for (auto &l : t->layers) destroyLayerLocked(r, l.get());
    r.remove<Texture>(t);
}

// ---- Persistence -------------------------------------------------------------------------------

void saveLayer(const LWSaveState *save, const Layer &l) {
    void *wd = save->writeData;
    save->beginBlk(wd, kLayerBlock, 0);
    int head[6] = {l.type,   static_cast<int>(l.s.blend), static_cast<int>(l.s.projection),
                   l.s.axis, l.s.worldCoords ? 1 : 0,     l.opacityEnvelope ? 1 : 0};
    save->writeI4(wd, head, 6);
    state::writeDouble(save, l.s.opacity);
    for (double c : l.s.center) state::writeDouble(save, c);
    for (double c : l.s.size) state::writeDouble(save, c);
    for (double c : l.s.color) state::writeDouble(save, c);
    state::writeDouble(save, l.s.value);
    save->writeI4(wd, &l.s.octaves, 1);
    save->writeStr(wd, l.s.input.c_str());
    int n = static_cast<int>(l.s.keys.size());
    save->writeI4(wd, &n, 1);
    for (const GradientKey &k : l.s.keys) {
        state::writeDouble(save, k.position);
        for (double c : k.value) state::writeDouble(save, c);
        state::writeDouble(save, k.alpha);
    }
    save->endBlk(wd);
}

bool readDoubles(const LWLoadState *load, double *v, int n) {
    for (int i = 0; i < n; ++i)
        if (!state::readDouble(load, v[i]) || !std::isfinite(v[i])) return false;
    return true;
}

bool validSettings(int type, const LayerSettings &s) {
    if (type < TLT_IMAGE || type > TLT_GRAD) return false;
    if (static_cast<int>(s.blend) < 0 || static_cast<int>(s.blend) > 3) return false;
    if (static_cast<int>(s.projection) < 0 || static_cast<int>(s.projection) > 1) return false;
    if (s.axis < 0 || s.axis > 2 || s.octaves < 1 || s.octaves > kMaxOctaves) return false;
    if (!std::isfinite(s.opacity) || !std::isfinite(s.value)) return false;
    for (int a = 0; a < 3; ++a)
        if (!std::isfinite(s.center[a]) || !std::isfinite(s.size[a]) || !std::isfinite(s.color[a])) return false;
    for (size_t i = 0; i < s.keys.size(); ++i) {
        const GradientKey &k = s.keys[i];
        if (!std::isfinite(k.position) || !std::isfinite(k.alpha)) return false;
        if (i && k.position < s.keys[i - 1].position) return false;
        for (double c : k.value)
            if (!std::isfinite(c)) return false;
    }
    return true;
}

bool loadLayer(const LWLoadState *load, Layer &l) {
    void *rd = load->readData;
    bool ok = load->findBlk(rd, kLayerBlock) == kLayerBlock[0].id;
    int head[6] = {0, 0, 0, 0, 0, 0};
    char input[512];
    int n = 0;
    ok = ok && load->readI4(rd, head, 6) == 6 && readDoubles(load, &l.s.opacity, 1) &&
         readDoubles(load, l.s.center, 3) && readDoubles(load, l.s.size, 3) && readDoubles(load, l.s.color, 3) &&
         readDoubles(load, &l.s.value, 1) && load->readI4(rd, &l.s.octaves, 1) == 1 &&
         load->readStr(rd, input, sizeof input) >= 0 && load->readI4(rd, &n, 1) == 1 && n >= 0 && n <= kMaxKeys;
    for (int i = 0; ok && i < n; ++i) {
        GradientKey k;
        ok = readDoubles(load, &k.position, 1) && readDoubles(load, k.value, 3) && readDoubles(load, &k.alpha, 1);
        if (ok) l.s.keys.push_back(k);
    }
    load->endBlk(rd);
    if (!ok) return false;
    l.type = head[0];
    l.s.blend = static_cast<Blend>(head[1]);
    l.s.projection = static_cast<Projection>(head[2]);
    l.s.axis = head[3];
    l.s.worldCoords = head[4] != 0;
    l.opacityEnvelope = head[5] != 0;
    l.s.input = input;
    return validSettings(l.type, l.s);
}

// ---- LWTextureFuncs ----------------------------------------------------------------------------

LWTxtrContextID txContextCreate(LWTxtrParamFuncs funcs) {
    try {
        auto r = reg().write();
        auto c = std::make_shared<Context>();
        c->funcs = funcs;
        return r.add(std::move(c));
    } catch (...) {
        return nullptr;
    }
}

void txContextDestroy(LWTxtrContextID ctx) {
    auto r = reg().write();
    std::shared_ptr<Context> c = r.share<Context>(ctx);
    if (!c) return;
    // Release the plug-in's per-time data while its callbacks can still be called.
    r.each<Texture>([&](Texture &t) {
        if (t.context == c) cleanupLocked(t);
    });
    c->alive = false;
    r.each<Texture>([&](Texture &t) {
        if (t.context == c)
            for (auto &l : t.layers) resolveInput(t, *l);
    });
    r.remove<Context>(ctx);
}

int txContextAddParam(LWTxtrContextID ctx, LWTxtrParamDesc desc) {
    try {
        auto r = reg().write();
        Context *found = r.find<Context>(ctx);
        if (!found || !desc.name) return 0;
        Context &c = *found;
        c.inputs.push_back(InputDesc{desc, desc.name, desc.itemName ? desc.itemName : ""});
        // The copies own their texts; the descriptor handed back points at them.
        for (InputDesc &in : c.inputs) {
            in.desc.name = in.name.c_str();
            in.desc.itemName = in.itemName.empty() ? nullptr : in.itemName.c_str();
        }
        return static_cast<int>(c.inputs.size());
    } catch (...) {
        return 0;
    }
}

LWTextureID txCreate(int returnType, const char *name, LWTxtrContextID ctx, void *userData) {
    try {
        auto r = reg().write();
        auto t = std::make_unique<Texture>();
        t->returnType = returnType;
        t->name = name ? name : "";
        t->context = r.share<Context>(ctx);
        t->userData = userData;
        return r.add(std::move(t));
    } catch (...) {
        return nullptr;
    }
}

void txDestroy(LWTextureID tex) {
    auto r = reg().write();
    if (Texture *t = r.find<Texture>(tex)) destroyTextureLocked(r, t);
}

// Replaces t's layers with copies of `layers` (settings, images and opacity envelopes).
void replaceLayersLocked(Registry::Writer &r, Texture &t, std::vector<std::unique_ptr<Layer>> fresh,
                         const std::vector<LWEnvelopeID> &opacityFrom) {
    cleanupLocked(t);
    for (auto &l : t.layers) destroyLayerLocked(r, l.get());
    t.layers = std::move(fresh);
    for (size_t i = 0; i < t.layers.size(); ++i) {
        Layer &l = *t.layers[i];
        l.owner = &t;
        l.group = nullptr;
        r.track(&l);
        attachGroup(t, l, i);
        if (i < opacityFrom.size() && opacityFrom[i])
            if (LWEnvelopeID e = opacityChannel(l)) env().copy(e, opacityFrom[i]);
        resolveInput(t, l);
        l.opacityNow = l.s.opacity;
    }
}

void txCopy(LWTextureID to, LWTextureID from) {
    try {
        auto r = reg().write();
        Texture *dst = r.find<Texture>(to), *src = r.find<Texture>(from);
        if (!dst || !src || dst == src) return;
        std::vector<std::unique_ptr<Layer>> fresh;
        std::vector<LWEnvelopeID> envs;
        for (const auto &l : src->layers) {
            auto c = std::make_unique<Layer>(*l);
            fresh.push_back(std::move(c));
            envs.push_back(opacityChannel(*l));
        }
        replaceLayersLocked(r, *dst, std::move(fresh), envs);
    } catch (...) {
    }
}

void txNewtime(LWTextureID tex, LWTime time, LWFrame frame) {
    auto r = reg().write();
    Texture *t = r.find<Texture>(tex);
    if (!t || (t->timed && t->time == time)) return;
    cleanupLocked(*t);
    t->timed = true;
    t->time = time;
    try {
        for (auto &lp : t->layers) {
            Layer &l = *lp;
            resolveInput(*t, l);
            LWEnvelopeID e = opacityChannel(l);
            l.opacityNow = e ? env().value(e, time) : l.s.opacity;
            if (l.pluginInput <= 0 || timeDataFor(*t, l.pluginInput) || !t->context->funcs.paramTime) continue;
            LWTxtrParamDesc d = t->context->inputs[static_cast<size_t>(l.pluginInput - 1)].desc;
            d.itemID = l.s.pickedItem;
            gParamData data = t->context->funcs.paramTime(t->userData, &d, l.pluginInput, time, frame);
            t->timeData.emplace_back(l.pluginInput, data);
        }
    } catch (...) {
    }
}

void txCleanup(LWTextureID tex) {
    auto r = reg().write();
    if (Texture *t = r.find<Texture>(tex)) cleanupLocked(*t);
}

void txLoad(LWTextureID tex, const LWLoadState *load) {
    if (!load || !load->findBlk) return;
    try {
        std::vector<std::unique_ptr<Layer>> fresh;
        void *rd = load->readData;
        bool ok = load->findBlk(rd, kTextureBlock) == kTextureBlock[0].id;
        int head[3] = {0, 0, 0};  // version, return type, layer count
        ok = ok && load->readI4(rd, head, 3) == 3 && head[0] == kFormatVersion && head[2] >= 0 &&
             head[2] <= kMaxLayers;
        for (int i = 0; ok && i < head[2]; ++i) {
            auto l = std::make_unique<Layer>();
            ok = loadLayer(load, *l);
            fresh.push_back(std::move(l));
        }
        load->endBlk(rd);
        if (!ok) return;
        auto r = reg().write();
        if (Texture *t = r.find<Texture>(tex)) replaceLayersLocked(r, *t, std::move(fresh), {});
    } catch (...) {
    }
}

void txSave(LWTextureID tex, const LWSaveState *save) {
    if (!save || !save->beginBlk) return;
    auto r = reg().read();
    Texture *t = r.find<Texture>(tex);
    if (!t) return;
    void *wd = save->writeData;
    save->beginBlk(wd, kTextureBlock, 0);
    int head[3] = {kFormatVersion, t->returnType, static_cast<int>(t->layers.size())};
    save->writeI4(wd, head, 3);
    for (const auto &l : t->layers) saveLayer(save, *l);
    save->endBlk(wd);
}

double txEvaluate(LWTextureID tex, LWMicropol *mp, double *value) {
    if (!mp || !value) return 0;
    auto r = reg().read();
    Texture *t = r.find<Texture>(tex);
    return t ? evaluateLocked(*t, *mp, value, gImages.load()) : 0;
}

void txSetEnvGroup(LWTextureID tex, LWChanGroupID group) {
    auto r = reg().write();
    Texture *t = r.find<Texture>(tex);
    if (!t || t->envGroup == group || (group && !animation::isGroup(group))) return;
    // Layer groups move under the new group; opacity keys go with them.
    std::vector<std::vector<animation::Key>> kept;
    for (auto &l : t->layers) {
        kept.push_back(animation::keys(opacityChannel(*l)));
        detachGroup(*l);
    }
    t->envGroup = group;
    for (size_t i = 0; i < t->layers.size(); ++i) {
        attachGroup(*t, *t->layers[i], i);
        if (LWEnvelopeID e = opacityChannel(*t->layers[i]))
            if (!kept[i].empty()) animation::setKeys(e, kept[i]);
    }
}

LWTLayerID txFirstLayer(LWTextureID tex) {
    auto r = reg().read();
    Texture *t = r.find<Texture>(tex);
    return t && !t->layers.empty() ? t->layers.front().get() : nullptr;
}

LWTLayerID txNextLayer(LWTextureID tex, LWTLayerID layer) {
    auto r = reg().read();
    Texture *t = r.find<Texture>(tex);
    if (!t) return nullptr;
    for (size_t i = 0; i + 1 < t->layers.size(); ++i)
        if (t->layers[i].get() == layer) return t->layers[i + 1].get();
    return nullptr;
}

int txLayerType(LWTLayerID layer) {
    auto r = reg().read();
    Layer *l = r.find<Layer>(layer);
    return l ? l->type : -1;
}

LWChanGroupID txLayerEnvGroup(LWTLayerID layer) {
    auto r = reg().read();
    Layer *l = r.find<Layer>(layer);
    return l ? l->group : nullptr;
}

int txGetParam(LWTLayerID layer, unsigned int tag, void *data) {
    auto r = reg().read();
    Layer *l = r.find<Layer>(layer);
    if (!l || !data || tag != TXTAG_IMAGE || l->type != TLT_IMAGE) return 0;
    *static_cast<LWImageID *>(data) = l->image;
    return 1;
}

int txSetParam(LWTLayerID layer, unsigned int tag, void *data) {
    auto r = reg().write();
    Layer *l = r.find<Layer>(layer);
    if (!l || !data || tag != TXTAG_IMAGE || l->type != TLT_IMAGE) return 0;
    l->image = *static_cast<LWImageID *>(data);
    return 1;
}

const LWTextureFuncs kTextureFuncs = {
    txContextCreate,    // contextCreate
    txContextDestroy,   // contextDestroy
    txContextAddParam,  // contextAddParam
    txCreate,           // create
    txDestroy,          // destroy
    txCopy,             // copy
    txNewtime,          // newtime
    txCleanup,          // cleanup
    txLoad,             // load
    txSave,             // save
    txEvaluate,         // evaluate
    txSetEnvGroup,      // setEnvGroup
    txFirstLayer,       // firstLayer
    txNextLayer,        // nextLayer
    txLayerType,        // layerType
    txLayerEnvGroup,    // layerEnvGroup
    txGetParam,         // getParam
    txSetParam,         // setParam
};

}  // namespace

const LWTextureFuncs *textureFuncs() { return &kTextureFuncs; }

bool isTexture(LWTextureID tex) {
    auto r = reg().read();
    return r.find<Texture>(tex) != nullptr;
}

LWTLayerID addLayer(LWTextureID tex, int layerType) {
    if (layerType < TLT_IMAGE || layerType > TLT_GRAD) return nullptr;
    try {
        auto r = reg().write();
        Texture *t = r.find<Texture>(tex);
        if (!t || t->layers.size() >= static_cast<size_t>(kMaxLayers)) return nullptr;
        auto l = std::make_unique<Layer>();
        l->owner = t;
        l->type = layerType;
        Layer *raw = l.get();
        t->layers.insert(t->layers.begin(), std::move(l));
        r.track(raw);
        attachGroup(*t, *raw, t->layers.size() - 1);
        return raw;
    } catch (...) {
        return nullptr;
    }
}

bool removeLayer(LWTextureID tex, LWTLayerID layer) {
    auto r = reg().write();
    Texture *t = r.find<Texture>(tex);
    Layer *l = r.find<Layer>(layer);
    if (!t || !l || l->owner != t) return false;
    cleanupLocked(*t);
    destroyLayerLocked(r, l);
    t->layers.erase(std::find_if(t->layers.begin(), t->layers.end(), [&](auto &p) { return p.get() == l; }));
    return true;
}

bool getLayer(LWTLayerID layer, LayerSettings &out) {
    auto r = reg().read();
    Layer *l = r.find<Layer>(layer);
    if (!l) return false;
    out = l->s;
    return true;
}

bool setLayer(LWTLayerID layer, const LayerSettings &in) {
    auto r = reg().write();
    Layer *l = r.find<Layer>(layer);
    if (!l || !validSettings(l->type, in)) return false;
    l->s = in;
    l->opacityNow = in.opacity;
    resolveInput(*l->owner, *l);
    // A new input or item needs fresh per-time data at the next newtime.
    cleanupLocked(*l->owner);
    return true;
}

int layerCount(LWTextureID tex) {
    auto r = reg().read();
    Texture *t = r.find<Texture>(tex);
    return t ? static_cast<int>(t->layers.size()) : 0;
}

LWEnvelopeID envelopeOpacity(LWTLayerID layer, bool on) {
    auto r = reg().write();
    Layer *l = r.find<Layer>(layer);
    if (!l || !l->group) return nullptr;
    LWEnvelopeID e = opacityChannel(*l);
    if (!on) {
        if (e) env().destroy(e);
        l->opacityEnvelope = false;
        return nullptr;
    }
    if (e) return e;
    e = env().create(l->group, "Opacity", 0);
    if (e) env().createKey(e, 0, l->s.opacity);
    l->opacityEnvelope = e != nullptr;
    return e;
}

LWTxtrContextID textureContext(LWTextureID tex) {
    auto r = reg().read();
    Texture *t = r.find<Texture>(tex);
    return t && t->context && t->context->alive ? t->context.get() : nullptr;
}

std::vector<std::string> contextInputs(LWTxtrContextID ctx) {
    auto r = reg().read();
    std::vector<std::string> names;
    if (Context *c = r.find<Context>(ctx))
        for (const InputDesc &in : c->inputs) names.push_back(in.name);
    return names;
}

void setImageSource(const ImageSource *source) { gImages.store(source); }

void clearAll() {
    auto r = reg().write();
    std::vector<Texture *> textures;
    r.each<Texture>([&](Texture &t) { textures.push_back(&t); });
    for (Texture *t : textures) destroyTextureLocked(r, t);
    r.each<Context>([](Context &c) { c.alive = false; });
    r.clear<Context>();
}

}  // namespace host::texture
