#include "host/texture/texture_system.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>
#include <unordered_set>

#include "host/animation/envelopes.h"
#include "host/state/memory_state.h"

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

constexpr double kPi = 3.14159265358979323846;
constexpr int kFormatVersion = 1;
constexpr int kMaxLayers = 4096;
constexpr int kMaxKeys = 65536;
constexpr int kMaxOctaves = 16;

const LWBlockIdent kTextureBlock[] = {{LWID_('T', 'X', 'T', 'R'), "Texture"}, {0, nullptr}};
const LWBlockIdent kLayerBlock[] = {{LWID_('T', 'L', 'Y', 'R'), "Layer"}, {0, nullptr}};

struct InputDesc {
    LWTxtrParamDesc desc;
    std::string name, itemName;
};

struct Context {
    LWTxtrParamFuncs funcs;
    std::vector<InputDesc> inputs;
    bool alive = true;
};

struct Texture;

struct Layer {
    Texture *owner = nullptr;
    int type = TLT_PROC;
    LayerSettings s;
    LWImageID image = nullptr;
    LWChanGroupID group = nullptr;  // under the texture's envelope group, when it has one
    bool opacityEnvelope = false;   // an "Opacity" channel in the group drives the opacity
    // Resolved at newtime: plug-in input number (0 none) or host input index (-1 none).
    int pluginInput = 0;
    int hostInput = -1;
    double opacityNow = 1;  // the opacity at the texture's time
};

struct Texture {
    int returnType = TRT_COLOR;
    std::string name;
    std::shared_ptr<Context> context;
    void *userData = nullptr;
    LWChanGroupID envGroup = nullptr;
    std::vector<std::unique_ptr<Layer>> layers;  // [0] is the top
    bool timed = false;
    double time = 0;
    std::vector<std::pair<int, gParamData>> timeData;  // per plug-in input number
};

struct Registry {
    std::shared_mutex lock;
    std::unordered_map<Context *, std::shared_ptr<Context>> contexts;
    std::unordered_set<Texture *> textures;
    std::unordered_set<Layer *> layers;
    std::atomic<const ImageSource *> images{nullptr};
};

// Never destroyed: a plug-in's static tear-down may destroy its gradient context after this
// file's statics would be gone.
Registry &reg() {
    static Registry *r = new Registry;
    return *r;
}

// Render threads re-enter evaluate (a plug-in input may trace rays that shade other textured
// surfaces); a thread that already holds the shared lock does not take it again.
thread_local int tlsReadDepth = 0;

class ReadGuard {
public:
    explicit ReadGuard(std::shared_mutex &m) : m_(m) {
        if (tlsReadDepth++ == 0) m_.lock_shared();
    }
    ~ReadGuard() {
        if (--tlsReadDepth == 0) m_.unlock_shared();
    }
    ReadGuard(const ReadGuard &) = delete;
    ReadGuard &operator=(const ReadGuard &) = delete;

private:
    std::shared_mutex &m_;
};

Texture *liveTex(Registry &r, void *id) {
    auto it = r.textures.find(static_cast<Texture *>(id));
    return it == r.textures.end() ? nullptr : *it;
}

Layer *liveLayer(Registry &r, void *id) {
    auto it = r.layers.find(static_cast<Layer *>(id));
    return it == r.layers.end() ? nullptr : *it;
}

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

void destroyLayerLocked(Registry &r, Layer *l) {
    detachGroup(*l);
    r.layers.erase(l);
}

void destroyTextureLocked(Registry &r, Texture *t) {
    cleanupLocked(*t);
    for (auto &l : t->layers) destroyLayerLocked(r, l.get());
    r.textures.erase(t);
    delete t;
}

// ---- Evaluation --------------------------------------------------------------------------------

uint32_t hash3(int x, int y, int z) {
    uint32_t h = static_cast<uint32_t>(x) * 0x8da6b343u ^ static_cast<uint32_t>(y) * 0xd8163841u ^
                 static_cast<uint32_t>(z) * 0xcb1ab31fu;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return h;
}

double lattice(int x, int y, int z) { return (hash3(x, y, z) & 0xffffff) / double(0xffffff); }

double smooth(double t) { return t * t * (3 - 2 * t); }

// Value noise in [0, 1], trilinear between lattice values with smoothstep weights.
double valueNoise(const double p[3]) {
    double f[3], w[3];
    int i[3];
    for (int a = 0; a < 3; ++a) {
        double fl = std::floor(p[a]);
        // Far-off or non-finite positions fold onto the lattice instead of overflowing the int.
        if (!std::isfinite(fl) || std::fabs(fl) > 1e9) fl = std::isfinite(fl) ? std::fmod(fl, 1e9) : 0;
        i[a] = static_cast<int>(fl);
        f[a] = std::isfinite(p[a]) ? p[a] - std::floor(p[a]) : 0;
        if (!(f[a] >= 0 && f[a] < 1)) f[a] = 0;
        w[a] = smooth(f[a]);
    }
    double sum = 0;
    for (int c = 0; c < 8; ++c) {
        int dx = c & 1, dy = (c >> 1) & 1, dz = (c >> 2) & 1;
        double wt = (dx ? w[0] : 1 - w[0]) * (dy ? w[1] : 1 - w[1]) * (dz ? w[2] : 1 - w[2]);
        sum += wt * lattice(i[0] + dx, i[1] + dy, i[2] + dz);
    }
    return sum;
}

double fractalNoise(const double q[3], int octaves) {
    double sum = 0, amp = 1, norm = 0, p[3] = {q[0], q[1], q[2]};
    for (int o = 0; o < octaves; ++o) {
        sum += amp * valueNoise(p);
        norm += amp;
        amp *= 0.5;
        for (double &c : p) c *= 2;
    }
    return norm > 0 ? sum / norm : 0;
}

// The spot's position in the layer's own frame: (p - center) / size per axis.
void layerPosition(const LayerSettings &s, const LWMicropol &mp, double q[3]) {
    const double *p = s.worldCoords ? mp.wPos : mp.oPos;
    for (int a = 0; a < 3; ++a) q[a] = s.size[a] != 0 ? (p[a] - s.center[a]) / s.size[a] : 0;
}

double wrap01(double x) {
    if (!std::isfinite(x)) return 0;
    double w = x - std::floor(x);
    return w >= 1 ? 0 : w;
}

// Image coordinates: planar maps the two other axes (u right, v down); spherical measures the
// longitude about the pole axis and the angle from the pole.
void imageUV(const LayerSettings &s, const double q[3], double &u, double &v) {
    int a = s.axis < 0 || s.axis > 2 ? 2 : s.axis;
    int ua = a == 0 ? 2 : 0, va = a == 1 ? 2 : 1;
    if (s.projection == Projection::Planar) {
        u = wrap01(0.5 + q[ua]);
        v = wrap01(0.5 - q[va]);
        return;
    }
    double len = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2]);
    if (!(len > 0)) {
        u = v = 0.5;
        return;
    }
    u = wrap01(std::atan2(q[va], q[ua]) / (2 * kPi) + 0.5);
    v = std::acos(std::clamp(q[a] / len, -1.0, 1.0)) / kPi;
    if (!(v < 1)) v = std::nextafter(1.0, 0.0);
}

double hostInputValue(int input, const LWMicropol &mp, double previous) {
    switch (input) {
        case 0:
            return previous;
        case 1:
        case 2:
        case 3:
            return mp.oPos[input - 1];
        case 4:
        case 5:
        case 6:
            return mp.wPos[input - 4];
        case 7:
            return std::sqrt(mp.oPos[0] * mp.oPos[0] + mp.oPos[1] * mp.oPos[1] + mp.oPos[2] * mp.oPos[2]);
        case 8: {
            double n =
                std::sqrt(mp.wNorm[0] * mp.wNorm[0] + mp.wNorm[1] * mp.wNorm[1] + mp.wNorm[2] * mp.wNorm[2]);
            return n > 0 ? std::acos(std::clamp(std::fabs(mp.wNorm[1]) / n, 0.0, 1.0)) : 0;
        }
        case 9:
            return std::acos(std::clamp(mp.cosine, -1.0, 1.0));
        default:
            return 0;
    }
}

// Key interpolation: linear between neighbouring keys, constant beyond the ends.
void gradientAt(const std::vector<GradientKey> &keys, double x, double out[3], double &alpha) {
    if (!(x > keys.front().position)) {
        std::copy(keys.front().value, keys.front().value + 3, out);
        alpha = keys.front().alpha;
        return;
    }
    if (x >= keys.back().position) {
        std::copy(keys.back().value, keys.back().value + 3, out);
        alpha = keys.back().alpha;
        return;
    }
    size_t i = 1;
    while (keys[i].position <= x) ++i;
    const GradientKey &a = keys[i - 1], &b = keys[i];
    double span = b.position - a.position;
    double s = span > 0 ? (x - a.position) / span : 1;
    for (int c = 0; c < 3; ++c) out[c] = a.value[c] + s * (b.value[c] - a.value[c]);
    alpha = a.alpha + s * (b.alpha - a.alpha);
}

gParamData timeDataFor(const Texture &t, int nb) {
    for (const auto &[n, data] : t.timeData)
        if (n == nb) return data;
    return nullptr;
}

// One layer's value and alpha at a spot; `below` is the value under the layer.
bool layerValue(const Texture &t, const Layer &l, const LWMicropol &mp, int comps, const double below[3],
                const ImageSource *images, double out[3], double &alpha) {
    double q[3];
    switch (l.type) {
        case TLT_IMAGE: {
            if (!l.image || !images) return false;
            layerPosition(l.s, mp, q);
            double u, v, rgb[3] = {0, 0, 0};
            imageUV(l.s, q, u, v);
            if (!images->colorAt(l.image, u, v, rgb)) return false;
            if (comps == 3)
                std::copy(rgb, rgb + 3, out);
            else
                out[0] = (rgb[0] + rgb[1] + rgb[2]) / 3;
            alpha = 1;
            return true;
        }
        case TLT_PROC: {
            layerPosition(l.s, mp, q);
            alpha = fractalNoise(q, std::clamp(l.s.octaves, 1, kMaxOctaves));
            if (comps == 3)
                std::copy(l.s.color, l.s.color + 3, out);
            else
                out[0] = l.s.value;
            return true;
        }
        case TLT_GRAD: {
            if (l.s.keys.empty()) return false;
            double x;
            if (l.pluginInput > 0) {
                const Context *c = t.context.get();
                if (!c || !c->alive || !c->funcs.paramEvaluate) return false;
                const InputDesc &in = c->inputs[static_cast<size_t>(l.pluginInput - 1)];
                LWTxtrParamDesc d = in.desc;
                d.itemID = l.s.pickedItem;
                LWMicropol spot = mp;
                x = c->funcs.paramEvaluate(&d, l.pluginInput, &spot, timeDataFor(t, l.pluginInput));
            } else if (l.hostInput >= 0) {
                double prev = comps == 3 ? (below[0] + below[1] + below[2]) / 3 : below[0];
                x = hostInputValue(l.hostInput, mp, prev);
            } else {
                return false;
            }
            double v[3];
            gradientAt(l.s.keys, x, v, alpha);
            std::copy(v, v + comps, out);
            return true;
        }
        default:
            return false;
    }
}

double evaluateLocked(const Texture &t, const LWMicropol &mp, double *value, const ImageSource *images) {
    int comps = t.returnType == TRT_COLOR || t.returnType == TRT_VECTOR ? 3 : 1;
    double acc[3] = {0, 0, 0}, coverage = 0;
    std::copy(value, value + comps, acc);
    for (auto it = t.layers.rbegin(); it != t.layers.rend(); ++it) {
        const Layer &l = **it;
        double v[3] = {0, 0, 0}, alpha = 0;
        if (!layerValue(t, l, mp, comps, acc, images, v, alpha)) continue;
        double a = std::clamp(alpha, 0.0, 1.0) * l.opacityNow;
        for (int c = 0; c < comps; ++c) {
            switch (l.s.blend) {
                case Blend::Additive:
                    acc[c] += v[c] * a;
                    break;
                case Blend::Subtractive:
                    acc[c] -= v[c] * a;
                    break;
                case Blend::Multiply:
                    acc[c] = acc[c] * (1 - a) + acc[c] * v[c] * a;
                    break;
                default:
                    acc[c] = acc[c] * (1 - a) + v[c] * a;
                    break;
            }
        }
        coverage = a + coverage * (1 - a);
    }
    std::copy(acc, acc + comps, value);
    return coverage;
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
        Registry &r = reg();
        std::unique_lock<std::shared_mutex> hold(r.lock);
        auto c = std::make_shared<Context>();
        c->funcs = funcs;
        r.contexts[c.get()] = c;
        return c.get();
    } catch (...) {
        return nullptr;
    }
}

void txContextDestroy(LWTxtrContextID ctx) {
    Registry &r = reg();
    std::unique_lock<std::shared_mutex> hold(r.lock);
    auto it = r.contexts.find(static_cast<Context *>(ctx));
    if (it == r.contexts.end()) return;
    // Release the plug-in's per-time data while its callbacks can still be called.
    for (Texture *t : r.textures)
        if (t->context == it->second) cleanupLocked(*t);
    it->second->alive = false;
    for (Texture *t : r.textures)
        if (t->context == it->second)
            for (auto &l : t->layers) resolveInput(*t, *l);
    r.contexts.erase(it);
}

int txContextAddParam(LWTxtrContextID ctx, LWTxtrParamDesc desc) {
    try {
        Registry &r = reg();
        std::unique_lock<std::shared_mutex> hold(r.lock);
        auto it = r.contexts.find(static_cast<Context *>(ctx));
        if (it == r.contexts.end() || !desc.name) return 0;
        Context &c = *it->second;
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
        Registry &r = reg();
        std::unique_lock<std::shared_mutex> hold(r.lock);
        auto t = std::make_unique<Texture>();
        t->returnType = returnType;
        t->name = name ? name : "";
        auto it = r.contexts.find(static_cast<Context *>(ctx));
        if (it != r.contexts.end()) t->context = it->second;
        t->userData = userData;
        r.textures.insert(t.get());
        return t.release();
    } catch (...) {
        return nullptr;
    }
}

void txDestroy(LWTextureID tex) {
    Registry &r = reg();
    std::unique_lock<std::shared_mutex> hold(r.lock);
    if (Texture *t = liveTex(r, tex)) destroyTextureLocked(r, t);
}

// Replaces t's layers with copies of `layers` (settings, images and opacity envelopes).
void replaceLayersLocked(Registry &r, Texture &t, std::vector<std::unique_ptr<Layer>> fresh,
                         const std::vector<LWEnvelopeID> &opacityFrom) {
    cleanupLocked(t);
    for (auto &l : t.layers) destroyLayerLocked(r, l.get());
    t.layers = std::move(fresh);
    for (size_t i = 0; i < t.layers.size(); ++i) {
        Layer &l = *t.layers[i];
        l.owner = &t;
        l.group = nullptr;
        r.layers.insert(&l);
        attachGroup(t, l, i);
        if (i < opacityFrom.size() && opacityFrom[i])
            if (LWEnvelopeID e = opacityChannel(l)) env().copy(e, opacityFrom[i]);
        resolveInput(t, l);
        l.opacityNow = l.s.opacity;
    }
}

void txCopy(LWTextureID to, LWTextureID from) {
    try {
        Registry &r = reg();
        std::unique_lock<std::shared_mutex> hold(r.lock);
        Texture *dst = liveTex(r, to), *src = liveTex(r, from);
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
    Registry &r = reg();
    std::unique_lock<std::shared_mutex> hold(r.lock);
    Texture *t = liveTex(r, tex);
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
    Registry &r = reg();
    std::unique_lock<std::shared_mutex> hold(r.lock);
    if (Texture *t = liveTex(r, tex)) cleanupLocked(*t);
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
        Registry &r = reg();
        std::unique_lock<std::shared_mutex> hold(r.lock);
        if (Texture *t = liveTex(r, tex)) replaceLayersLocked(r, *t, std::move(fresh), {});
    } catch (...) {
    }
}

void txSave(LWTextureID tex, const LWSaveState *save) {
    if (!save || !save->beginBlk) return;
    Registry &r = reg();
    std::shared_lock<std::shared_mutex> hold(r.lock);
    Texture *t = liveTex(r, tex);
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
    Registry &r = reg();
    ReadGuard hold(r.lock);
    Texture *t = liveTex(r, tex);
    return t ? evaluateLocked(*t, *mp, value, r.images.load()) : 0;
}

void txSetEnvGroup(LWTextureID tex, LWChanGroupID group) {
    Registry &r = reg();
    std::unique_lock<std::shared_mutex> hold(r.lock);
    Texture *t = liveTex(r, tex);
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
    Registry &r = reg();
    std::shared_lock<std::shared_mutex> hold(r.lock);
    Texture *t = liveTex(r, tex);
    return t && !t->layers.empty() ? t->layers.front().get() : nullptr;
}

LWTLayerID txNextLayer(LWTextureID tex, LWTLayerID layer) {
    Registry &r = reg();
    std::shared_lock<std::shared_mutex> hold(r.lock);
    Texture *t = liveTex(r, tex);
    if (!t) return nullptr;
    for (size_t i = 0; i + 1 < t->layers.size(); ++i)
        if (t->layers[i].get() == layer) return t->layers[i + 1].get();
    return nullptr;
}

int txLayerType(LWTLayerID layer) {
    Registry &r = reg();
    std::shared_lock<std::shared_mutex> hold(r.lock);
    Layer *l = liveLayer(r, layer);
    return l ? l->type : -1;
}

LWChanGroupID txLayerEnvGroup(LWTLayerID layer) {
    Registry &r = reg();
    std::shared_lock<std::shared_mutex> hold(r.lock);
    Layer *l = liveLayer(r, layer);
    return l ? l->group : nullptr;
}

int txGetParam(LWTLayerID layer, unsigned int tag, void *data) {
    Registry &r = reg();
    std::shared_lock<std::shared_mutex> hold(r.lock);
    Layer *l = liveLayer(r, layer);
    if (!l || !data || tag != TXTAG_IMAGE || l->type != TLT_IMAGE) return 0;
    *static_cast<LWImageID *>(data) = l->image;
    return 1;
}

int txSetParam(LWTLayerID layer, unsigned int tag, void *data) {
    Registry &r = reg();
    std::unique_lock<std::shared_mutex> hold(r.lock);
    Layer *l = liveLayer(r, layer);
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
    Registry &r = reg();
    std::shared_lock<std::shared_mutex> hold(r.lock);
    return liveTex(r, tex) != nullptr;
}

LWTLayerID addLayer(LWTextureID tex, int layerType) {
    if (layerType < TLT_IMAGE || layerType > TLT_GRAD) return nullptr;
    try {
        Registry &r = reg();
        std::unique_lock<std::shared_mutex> hold(r.lock);
        Texture *t = liveTex(r, tex);
        if (!t || t->layers.size() >= static_cast<size_t>(kMaxLayers)) return nullptr;
        auto l = std::make_unique<Layer>();
        l->owner = t;
        l->type = layerType;
        Layer *raw = l.get();
        t->layers.insert(t->layers.begin(), std::move(l));
        r.layers.insert(raw);
        attachGroup(*t, *raw, t->layers.size() - 1);
        return raw;
    } catch (...) {
        return nullptr;
    }
}

bool removeLayer(LWTextureID tex, LWTLayerID layer) {
    Registry &r = reg();
    std::unique_lock<std::shared_mutex> hold(r.lock);
    Texture *t = liveTex(r, tex);
    Layer *l = liveLayer(r, layer);
    if (!t || !l || l->owner != t) return false;
    cleanupLocked(*t);
    destroyLayerLocked(r, l);
    t->layers.erase(std::find_if(t->layers.begin(), t->layers.end(), [&](auto &p) { return p.get() == l; }));
    return true;
}

bool getLayer(LWTLayerID layer, LayerSettings &out) {
    Registry &r = reg();
    std::shared_lock<std::shared_mutex> hold(r.lock);
    Layer *l = liveLayer(r, layer);
    if (!l) return false;
    out = l->s;
    return true;
}

bool setLayer(LWTLayerID layer, const LayerSettings &in) {
    Registry &r = reg();
    std::unique_lock<std::shared_mutex> hold(r.lock);
    Layer *l = liveLayer(r, layer);
    if (!l || !validSettings(l->type, in)) return false;
    l->s = in;
    l->opacityNow = in.opacity;
    resolveInput(*l->owner, *l);
    // A new input or item needs fresh per-time data at the next newtime.
    cleanupLocked(*l->owner);
    return true;
}

int layerCount(LWTextureID tex) {
    Registry &r = reg();
    std::shared_lock<std::shared_mutex> hold(r.lock);
    Texture *t = liveTex(r, tex);
    return t ? static_cast<int>(t->layers.size()) : 0;
}

LWEnvelopeID envelopeOpacity(LWTLayerID layer, bool on) {
    Registry &r = reg();
    std::unique_lock<std::shared_mutex> hold(r.lock);
    Layer *l = liveLayer(r, layer);
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
    Registry &r = reg();
    std::shared_lock<std::shared_mutex> hold(r.lock);
    Texture *t = liveTex(r, tex);
    return t && t->context && t->context->alive ? t->context.get() : nullptr;
}

std::vector<std::string> contextInputs(LWTxtrContextID ctx) {
    Registry &r = reg();
    std::shared_lock<std::shared_mutex> hold(r.lock);
    std::vector<std::string> names;
    auto it = r.contexts.find(static_cast<Context *>(ctx));
    if (it != r.contexts.end())
        for (const InputDesc &in : it->second->inputs) names.push_back(in.name);
    return names;
}

void setImageSource(const ImageSource *source) { reg().images.store(source); }

void clearAll() {
    Registry &r = reg();
    std::unique_lock<std::shared_mutex> hold(r.lock);
    while (!r.textures.empty()) destroyTextureLocked(r, *r.textures.begin());
    for (auto &[id, c] : r.contexts) c->alive = false;
    r.contexts.clear();
}

}  // namespace host::texture
