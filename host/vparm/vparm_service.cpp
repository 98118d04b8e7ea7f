// SPDX-License-Identifier: Apache-2.0
#include "host/vparm/vparm_service.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>

#include "host/animation/envelopes.h"
#include "host/state/memory_state.h"
#include "host/texture/texture_system.h"
#include "host/util/handle_registry.h"

namespace host::vparm {

namespace {

constexpr int kFormatVersion = 1;
constexpr int kTexturedBit = 1 << 3;
const LWBlockIdent kVParmBlock[] = {{LWID_('V', 'P', 'A', 'R'), "VParm"}, {0, nullptr}};

struct VParm {
    int envType = LWVP_FLOAT;
    int texType = LWVPDT_NOTXTR;
    double value[3] = {0, 0, 0};
    LWEnvelopeID envs[3] = {nullptr, nullptr, nullptr};
    LWTextureID tex = nullptr;
    std::string channel;
    LWChanGroupID group = nullptr;
    LWTxtrContextID context = nullptr;
    LWVP_EventFunc *event = nullptr;
    std::string plugin;
    void *userData = nullptr;
    int comps() const { return envType == LWVP_COLOR ? 3 : 1; }
};

// The registry's reader-writer lock. getVal runs on every render thread several times per
// shaded spot, so a reader only touches a counter on a cache line of its own (one of kSlots,
// picked per thread); a writer raises a flag and waits until every counter is back to zero.
// Readers back off while the flag is up, so writers are not starved. getVal re-enters through
// textures whose plug-in inputs trace rays: only a thread's outermost shared hold counts.
class SpreadLock {
public:
    void lock_shared() {
        if (tDepth++ > 0) return;
        std::atomic<int> &count = slots_[slotOfThread()].count;
        for (;;) {
            count.fetch_add(1, std::memory_order_seq_cst);
            if (!writer_.load(std::memory_order_seq_cst)) return;
            count.fetch_sub(1, std::memory_order_release);
            while (writer_.load(std::memory_order_acquire)) std::this_thread::yield();
        }
    }
    void unlock_shared() {
        if (--tDepth > 0) return;
        slots_[slotOfThread()].count.fetch_sub(1, std::memory_order_release);
    }
    void lock() {
        writers_.lock();
        writer_.store(true, std::memory_order_seq_cst);
        for (Slot &s : slots_)
            while (s.count.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
    }
    void unlock() {
        writer_.store(false, std::memory_order_release);
        writers_.unlock();
    }

private:
    static constexpr size_t kSlots = 32;
    struct alignas(64) Slot {
        std::atomic<int> count{0};
    };
    static size_t slotOfThread() {
        static std::atomic<size_t> next{0};
        thread_local const size_t slot = next.fetch_add(1, std::memory_order_relaxed) % kSlots;
        return slot;
    }
    static thread_local int tDepth;  // shared holds of the calling thread (the registry has one lock)

    Slot slots_[kSlots];
    std::atomic<bool> writer_{false};
    std::mutex writers_;
};

thread_local int SpreadLock::tDepth = 0;

using Registry = util::HandleRegistry<SpreadLock, VParm>;

Registry &reg() {
    static Registry *r = new Registry;
    return *r;
}

// A snapshot of what an operation needs, taken under the lock; calls into the envelope and
// texture services and into the plug-in's event function happen outside it.
bool snapshot(LWVParmID id, VParm &out) {
    auto r = reg().read();
    VParm *p = r.find<VParm>(id);
    if (!p) return false;
    out = *p;
    return true;
}

template <typename F>
bool update(LWVParmID id, F &&f) {
    auto w = reg().write();
    VParm *p = w.find<VParm>(id);
    if (!p) return false;
    f(*p);
    return true;
}

const LWEnvelopeFuncs &env() { return *animation::envelopeFuncs(); }
const LWTextureFuncs &tex() { return *texture::textureFuncs(); }

std::string componentName(const VParm &p, int c) {
    static const char *const suffix[3] = {".R", ".G", ".B"};
    return p.comps() == 3 ? p.channel + suffix[c] : p.channel;
}

int textureReturnType(int texType) {
    switch (texType) {
        case LWVPDT_VECTOR:
            return TRT_VECTOR;
        case LWVPDT_COLOR:
            return TRT_COLOR;
        case LWVPDT_PERCENT:
            return TRT_PERCENT;
        case LWVPDT_DISPLACEMENT:
            return TRT_DISPLACEMENT;
        default:
            return TRT_SCALAR;
    }
}

void sendEvent(const VParm &p, LWVParmID id, int code, void *data, int *result = nullptr) {
    int r = p.event ? p.event(id, p.userData, code, data) : 0;
    if (result) *result = r;
}

// Makes the parameter's envelope of component c exist or not; a new one holds `value` at 0.
void envelopeState(LWVParmID id, int c, bool on) {
    VParm p;
    if (!snapshot(id, p) || c < 0 || c >= p.comps()) return;
    bool has = p.envs[c] && animation::isEnvelope(p.envs[c]);
    if (on && !has) {
        LWEnvelopeID e = env().create(p.group, componentName(p, c).c_str(), 0);
        if (e) env().createKey(e, 0, p.value[c]);
        update(id, [&](VParm &q) { q.envs[c] = e; });
    } else if (!on && p.envs[c]) {
        env().destroy(p.envs[c]);
        update(id, [&](VParm &q) { q.envs[c] = nullptr; });
    }
}

// Makes the parameter's texture exist or not; a new texture is announced to the event function.
LWTextureID textureState(LWVParmID id, bool on) {
    VParm p;
    if (!snapshot(id, p)) return nullptr;
    bool has = p.tex && texture::isTexture(p.tex);
    if (!on) {
        if (p.tex) tex().destroy(p.tex);
        update(id, [&](VParm &q) { q.tex = nullptr; });
        return nullptr;
    }
    if (has) return p.tex;
    if (p.texType == LWVPDT_NOTXTR) return nullptr;
    LWTextureID t = tex().create(textureReturnType(p.texType), p.channel.c_str(), p.context, p.userData);
    if (!t) return nullptr;
    update(id, [&](VParm &q) { q.tex = t; });
    sendEvent(p, id, LWVPE_ENVGROUP, nullptr);
    return t;
}

// ---- LWVParmFuncs ------------------------------------------------------------------------------

LWVParmID vpCreate(int envType, int texType) {
    try {
        auto p = std::make_unique<VParm>();
        p->envType = envType;
        p->texType = texType;
        return reg().write().add(std::move(p));
    } catch (...) {
        return nullptr;
    }
}

void vpDestroy(LWVParmID id) {
    VParm p;
    if (!snapshot(id, p)) return;
    for (LWEnvelopeID e : p.envs)
        if (e) env().destroy(e);
    if (p.tex) tex().destroy(p.tex);
    reg().write().remove<VParm>(id);
}

int vpSetup(LWVParmID id, const char *channelName, LWChanGroupID group, LWTxtrContextID gc,
            LWVP_EventFunc *eventFunc, const char *pluginName, void *userData) {
    try {
        return update(id,
                      [&](VParm &p) {
                          p.channel = channelName ? channelName : "";
                          p.group = group;
                          p.context = gc;
                          p.event = eventFunc;
                          p.plugin = pluginName ? pluginName : "";
                          p.userData = userData;
                      })
                   ? 1
                   : 0;
    } catch (...) {
        return 0;
    }
}

LWError vpCopy(LWVParmID to, LWVParmID from) {
    VParm src, dst;
    if (!snapshot(to, dst) || !snapshot(from, src)) return "Unknown variant parameter";
    if (to == from) return nullptr;
    if (src.envType != dst.envType) return "Variant parameters of different types";
    update(to, [&](VParm &q) { std::memcpy(q.value, src.value, sizeof q.value); });
    for (int c = 0; c < dst.comps(); ++c) {
        bool on = src.envs[c] && animation::isEnvelope(src.envs[c]);
        envelopeState(to, c, on);
        VParm now;
        if (on && snapshot(to, now) && now.envs[c]) env().copy(now.envs[c], src.envs[c]);
    }
    bool textured = src.tex && texture::isTexture(src.tex);
    LWTextureID t = textureState(to, textured);
    if (t) tex().copy(t, src.tex);
    return nullptr;
}

LWError vpLoad(LWVParmID id, const LWLoadState *load) {
    if (!load || !load->findBlk) return "No load state";
    VParm p;
    if (!snapshot(id, p)) return "Unknown variant parameter";
    void *rd = load->readData;
    LWError err = nullptr;
    if (load->findBlk(rd, kVParmBlock) != kVParmBlock[0].id) {
        err = "Variant parameter block not found";
    } else {
        int head[4] = {0, 0, 0, 0};  // version, value type, texture kind, mask
        double v[3] = {p.value[0], p.value[1], p.value[2]};
        bool ok = load->readI4(rd, head, 4) == 4 && head[0] == kFormatVersion && head[1] == p.envType;
        for (int c = 0; ok && c < p.comps(); ++c) ok = state::readDouble(load, v[c]) && std::isfinite(v[c]);
        if (!ok) {
            err = "Bad variant parameter data";
        } else {
            update(id, [&](VParm &q) { std::memcpy(q.value, v, sizeof v); });
            for (int c = 0; c < p.comps(); ++c) envelopeState(id, c, (head[3] >> c) & 1);
            // The texture reads its own block, which follows inside this one.
            if (LWTextureID t = textureState(id, (head[3] & kTexturedBit) != 0)) tex().load(t, load);
        }
    }
    load->endBlk(rd);
    return err;
}

LWError vpSave(LWVParmID id, const LWSaveState *save) {
    if (!save || !save->beginBlk) return "No save state";
    VParm p;
    if (!snapshot(id, p)) return "Unknown variant parameter";
    bool textured = p.tex && texture::isTexture(p.tex);
    int mask = textured ? kTexturedBit : 0;
    for (int c = 0; c < p.comps(); ++c)
        if (p.envs[c] && animation::isEnvelope(p.envs[c])) mask |= 1 << c;
    void *wd = save->writeData;
    save->beginBlk(wd, kVParmBlock, 0);
    int head[4] = {kFormatVersion, p.envType, p.texType, mask};
    save->writeI4(wd, head, 4);
    for (int c = 0; c < p.comps(); ++c) state::writeDouble(save, p.value[c]);
    if (textured) tex().save(p.tex, save);
    save->endBlk(wd);
    return nullptr;
}

double vpGetVal(LWVParmID id, LWTime time, LWMicropol *mp, double *result) {
    if (!result) return 0;
    auto r = reg().read();
    VParm *p = r.find<VParm>(id);
    if (!p) return 0;
    double v[3] = {p->value[0], p->value[1], p->value[2]};
    for (int c = 0; c < p->comps(); ++c)
        if (p->envs[c]) animation::valueAt(p->envs[c], time, v[c]);  // a lost envelope: the constant
    if (p->tex && mp) tex().evaluate(p->tex, mp, v);
    for (int c = 0; c < p->comps(); ++c) result[c] = v[c];
    return v[0];
}

int vpSetVal(LWVParmID id, double *value) {
    if (!value) return 0;
    int n = 0;
    update(id, [&](VParm &p) {
        n = p.comps();
        for (int c = 0; c < n; ++c) p.value[c] = value[c];
    });
    return n;
}

int vpGetState(LWVParmID id) {
    VParm p;
    if (!snapshot(id, p)) return 0;
    int state = 0;
    for (int c = 0; c < p.comps(); ++c)
        if (p.envs[c] && animation::isEnvelope(p.envs[c])) state |= LWVPSF_ENV;
    if (p.tex && texture::isTexture(p.tex)) state |= LWVPSF_TEX;
    return state;
}

void vpInitMP(LWMicropol *mp) {
    if (!mp) return;
    std::memset(mp, 0, sizeof *mp);
    for (int a = 0; a < 3; ++a) {
        mp->oScl[a] = 1;
        mp->oXfrm[a * 4] = 1;
        mp->wXfrm[a * 4] = 1;
    }
    mp->cosine = 1;
}

void vpGetEnv(LWVParmID id, LWEnvelopeID envs[3]) {
    if (!envs) return;
    envs[0] = envs[1] = envs[2] = nullptr;
    VParm p;
    if (!snapshot(id, p)) return;
    for (int c = 0; c < p.comps(); ++c)
        if (p.envs[c] && animation::isEnvelope(p.envs[c])) envs[c] = p.envs[c];
}

LWTextureID vpGetTex(LWVParmID id) {
    VParm p;
    if (!snapshot(id, p)) return nullptr;
    return p.tex && texture::isTexture(p.tex) ? p.tex : nullptr;
}

const LWVParmFuncs kVParmFuncs = {
    vpCreate,    // create
    vpDestroy,   // destroy
    vpSetup,     // setup
    vpCopy,      // copy
    vpLoad,      // load
    vpSave,      // save
    vpGetVal,    // getVal
    vpSetVal,    // setVal
    vpGetState,  // getState
    vpInitMP,    // initMP
    vpGetEnv,    // getEnv
    vpGetTex,    // getTex
};

}  // namespace

const LWVParmFuncs *vparmFuncs() { return &kVParmFuncs; }

bool isVParm(LWVParmID parm) {
    VParm p;
    return snapshot(parm, p);
}

int components(LWVParmID parm) {
    VParm p;
    return snapshot(parm, p) ? p.comps() : 0;
}

bool setEnveloped(LWVParmID parm, int component, bool on) {
    try {
        envelopeState(parm, component, on);
    } catch (...) {
        return false;
    }
    LWEnvelopeID envs[3];
    vpGetEnv(parm, envs);
    return component >= 0 && component < 3 && (envs[component] != nullptr) == on;
}

LWTextureID setTextured(LWVParmID parm, bool on) {
    try {
        return textureState(parm, on);
    } catch (...) {
        return nullptr;
    }
}

int autoSize(LWVParmID parm, LWTLayerID layer) {
    VParm p;
    texture::LayerSettings s;
    if (!snapshot(parm, p) || !p.event || !p.tex || !texture::getLayer(layer, s)) return 0;
    double box[6] = {-0.5, 0.5, -0.5, 0.5, -0.5, 0.5};
    int result = 0;
    sendEvent(p, parm, LWVPE_AUTOSIZE, box, &result);
    for (int a = 0; a < 3; ++a) {
        double lo = box[2 * a], hi = box[2 * a + 1];
        if (!std::isfinite(lo) || !std::isfinite(hi) || lo > hi) return result;
    }
    for (int a = 0; a < 3; ++a) {
        s.center[a] = (box[2 * a] + box[2 * a + 1]) / 2;
        double size = box[2 * a + 1] - box[2 * a];
        if (size > 0) s.size[a] = size;
    }
    texture::setLayer(layer, s);
    return result;
}

const char *channelName(LWVParmID parm) {
    VParm *p = reg().read().find<VParm>(parm);
    return p ? p->channel.c_str() : nullptr;
}

void clearAll() { reg().write().clear<VParm>(); }

}  // namespace host::vparm
