// SPDX-License-Identifier: Apache-2.0
#include "host/animation/envelopes.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <shared_mutex>

#include "host/animation/curves.h"
#include "host/state/memory_state.h"
#include "host/util/handle_registry.h"

namespace host::animation {

namespace {

struct Group;

struct KeyNode {
    Key key;
};

struct Envelope {
    std::string name;
    Group *group = nullptr;
    int type = 0;
    std::vector<std::unique_ptr<KeyNode>> keys;  // sorted by time, times unique
};

struct Group {
    std::string name;
    Group *parent = nullptr;
    std::vector<Group *> children;
    std::vector<Envelope *> channels;
};

const LWBlockIdent kEnvelopeBlock[] = {{LWID_('E', 'N', 'V', 'L'), "Envelope"}, {0, nullptr}};
const LWBlockIdent kKeyBlock[] = {{LWID_('K', 'E', 'Y', ' '), "Key"}, {0, nullptr}};
constexpr int kFormatVersion = 1;
constexpr int kBehaviourConstant = 1;
constexpr int kMaxKeys = 1 << 20;

// Every live group and envelope.
using Registry = util::HandleRegistry<std::shared_mutex, Group, Envelope>;

Registry &reg() {
    static Registry *r = new Registry;
    return *r;
}

// The parent of top-level groups and channels; never handed out, guarded by the registry's lock.
Group &root() {
    static Group *g = new Group;
    return *g;
}

// A group argument where null means the top level; null result for a stale group.
template <class Access>
Group *parentOrRoot(const Access &r, void *id) {
    return id ? r.template find<Group>(id) : &root();
}

template <typename T>
void eraseFrom(std::vector<T *> &v, T *x) {
    v.erase(std::remove(v.begin(), v.end(), x), v.end());
}

void destroyEnvelopeLocked(Registry::Writer &r, Envelope *e) {
    if (e->group) eraseFrom(e->group->channels, e);
    r.remove<Envelope>(e);
}

void destroyGroupLocked(Registry::Writer &r, Group *g) {
    while (!g->children.empty()) destroyGroupLocked(r, g->children.back());
    while (!g->channels.empty()) destroyEnvelopeLocked(r, g->channels.back());
    if (g->parent) eraseFrom(g->parent->children, g);
    r.remove<Group>(g);
}

bool finite(const Key &k) {
    return std::isfinite(k.time) && std::isfinite(k.value) && std::isfinite(k.tension) &&
           std::isfinite(k.continuity) && std::isfinite(k.bias);
}

void assignKeys(Envelope *e, std::vector<Key> ks) {
    std::stable_sort(ks.begin(), ks.end(), [](const Key &a, const Key &b) { return a.time < b.time; });
    e->keys.clear();
    for (const Key &k : ks) {
        if (!e->keys.empty() && e->keys.back()->key.time == k.time)
            e->keys.back()->key = k;
        else
            e->keys.push_back(std::make_unique<KeyNode>(KeyNode{k}));
    }
}

// Kochanek-Bartels tangents of key i for the span leaving it (out) and the span entering it (in).
CurvePoint pointOf(const Envelope &e, size_t i) { return {e.keys[i]->key.time, e.keys[i]->key.value}; }
KeyTcb tcbOf(const Key &k) { return {k.tension, k.continuity, k.bias}; }

double outTangent(const Envelope &e, size_t i) {
    CurvePoint before = i > 0 ? pointOf(e, i - 1) : CurvePoint{0, 0};
    return kbOutgoing(i > 0 ? &before : nullptr, pointOf(e, i), pointOf(e, i + 1), tcbOf(e.keys[i]->key));
}

double inTangent(const Envelope &e, size_t i) {
    bool last = i + 1 == e.keys.size();
    CurvePoint after = last ? CurvePoint{0, 0} : pointOf(e, i + 1);
    return kbIncoming(pointOf(e, i - 1), pointOf(e, i), last ? nullptr : &after, tcbOf(e.keys[i]->key));
}

double evaluate(const Envelope &e, double t) {
    const auto &ks = e.keys;
    if (ks.empty()) return 0;
    if (!(t > ks.front()->key.time)) return ks.front()->key.value;  // also a NaN time
    if (t >= ks.back()->key.time) return ks.back()->key.value;
    auto it = std::upper_bound(ks.begin(), ks.end(), t,
                               [](double x, const std::unique_ptr<KeyNode> &k) { return x < k->key.time; });
    size_t i1 = static_cast<size_t>(it - ks.begin()), i0 = i1 - 1;
    const Key &k0 = ks[i0]->key, &k1 = ks[i1]->key;
    double s = (t - k0.time) / (k1.time - k0.time);
    switch (k1.shape) {
        case LWKEY_STEPPED:
            return k0.value;
        case LWKEY_LINEAR:
            return k0.value + s * (k1.value - k0.value);
        default: {
            return hermite(k0.value, outTangent(e, i0), k1.value, inTangent(e, i1), s);
        }
    }
}

// ---- LWEnvelopeFuncs ---------------------------------------------------------------------------

LWEnvelopeID envCreate(LWChanGroupID group, const char *name, int type) {
    try {
        auto r = reg().write();
        Group *g = parentOrRoot(r, group);
        if (!g) return nullptr;
        auto e = std::make_unique<Envelope>();
        e->name = name ? name : "";
        e->group = g;
        e->type = type;
        g->channels.reserve(g->channels.size() + 1);
        Envelope *raw = r.add(std::move(e));
        g->channels.push_back(raw);
        return raw;
    } catch (...) {
        return nullptr;
    }
}

void envDestroy(LWEnvelopeID env) {
    auto r = reg().write();
    if (Envelope *e = r.find<Envelope>(env)) destroyEnvelopeLocked(r, e);
}

LWChanGroupID envCreateGroup(LWChanGroupID parent, const char *name) {
    try {
        auto r = reg().write();
        Group *p = parentOrRoot(r, parent);
        if (!p) return nullptr;
        auto g = std::make_unique<Group>();
        g->name = name ? name : "";
        g->parent = p;
        p->children.reserve(p->children.size() + 1);
        Group *raw = r.add(std::move(g));
        p->children.push_back(raw);
        return raw;
    } catch (...) {
        return nullptr;
    }
}

void envDestroyGroup(LWChanGroupID group) {
    auto r = reg().write();
    if (Group *g = r.find<Group>(group)) destroyGroupLocked(r, g);
}

LWError envCopy(LWEnvelopeID to, LWEnvelopeID from) {
    try {
        auto r = reg().write();
        Envelope *dst = r.find<Envelope>(to), *src = r.find<Envelope>(from);
        if (!dst || !src) return "Unknown envelope";
        if (dst == src) return nullptr;
        std::vector<Key> ks;
        for (const auto &k : src->keys) ks.push_back(k->key);
        assignKeys(dst, std::move(ks));
        return nullptr;
    } catch (...) {
        return "Out of memory";
    }
}

LWError envLoad(LWEnvelopeID env, const LWLoadState *load) {
    if (!load || !load->findBlk) return "No load state";
    {
        auto r = reg().read();
        if (!r.find<Envelope>(env)) return "Unknown envelope";
    }
    void *rd = load->readData;
    LWError err = nullptr;
    std::vector<Key> ks;
    try {
        if (load->findBlk(rd, kEnvelopeBlock) != kEnvelopeBlock[0].id) {
            err = "Envelope block not found";
        } else {
            int head[4] = {0, 0, 0, 0};  // version, key count, pre and post behaviour
            if (load->readI4(rd, head, 4) != 4 || head[0] != kFormatVersion)
                err = "Unsupported envelope data";
            else if (head[1] < 0 || head[1] > kMaxKeys)
                err = "Bad envelope key count";
            for (int i = 0; !err && i < head[1]; ++i) {
                Key k;
                int shape = 0;
                bool ok = load->findBlk(rd, kKeyBlock) == kKeyBlock[0].id && state::readDouble(load, k.time) &&
                          state::readDouble(load, k.value) && load->readI4(rd, &shape, 1) == 1 &&
                          state::readDouble(load, k.tension) && state::readDouble(load, k.continuity) &&
                          state::readDouble(load, k.bias);
                load->endBlk(rd);
                k.shape = shape;
                if (!ok || shape < LWKEY_TCB || shape > LWKEY_STEPPED || !finite(k))
                    err = "Bad envelope key";
                else
                    ks.push_back(k);
            }
        }
        load->endBlk(rd);
        if (err) return err;
        auto r = reg().write();
        Envelope *e = r.find<Envelope>(env);
        if (!e) return "Unknown envelope";
        assignKeys(e, std::move(ks));
        return nullptr;
    } catch (...) {
        return "Out of memory";
    }
}

LWError envSave(LWEnvelopeID env, const LWSaveState *save) {
    if (!save || !save->beginBlk) return "No save state";
    std::vector<Key> ks;
    try {
        auto r = reg().read();
        Envelope *e = r.find<Envelope>(env);
        if (!e) return "Unknown envelope";
        for (const auto &k : e->keys) ks.push_back(k->key);
    } catch (...) {
        return "Out of memory";
    }
    void *wd = save->writeData;
    save->beginBlk(wd, kEnvelopeBlock, 0);
    int head[4] = {kFormatVersion, static_cast<int>(ks.size()), kBehaviourConstant, kBehaviourConstant};
    save->writeI4(wd, head, 4);
    for (const Key &k : ks) {
        save->beginBlk(wd, kKeyBlock, 1);
        state::writeDouble(save, k.time);
        state::writeDouble(save, k.value);
        save->writeI4(wd, &k.shape, 1);
        state::writeDouble(save, k.tension);
        state::writeDouble(save, k.continuity);
        state::writeDouble(save, k.bias);
        save->endBlk(wd);
    }
    save->endBlk(wd);
    return nullptr;
}

double envValue(LWEnvelopeID env, LWTime time) {
    auto r = reg().read();
    Envelope *e = r.find<Envelope>(env);
    return e ? evaluate(*e, time) : 0.0;
}

LWEnvKeyframeID envCreateKey(LWEnvelopeID env, LWTime time, double value) {
    try {
        if (!std::isfinite(time) || !std::isfinite(value)) return nullptr;
        auto r = reg().write();
        Envelope *e = r.find<Envelope>(env);
        if (!e) return nullptr;
        auto &ks = e->keys;
        auto it = std::lower_bound(ks.begin(), ks.end(), time,
                                   [](const std::unique_ptr<KeyNode> &k, double t) { return k->key.time < t; });
        if (it != ks.end() && (*it)->key.time == time) {
            (*it)->key.value = value;
            return it->get();
        }
        Key k;
        k.time = time;
        k.value = value;
        return ks.insert(it, std::make_unique<KeyNode>(KeyNode{k}))->get();
    } catch (...) {
        return nullptr;
    }
}

// Index of a key of a live envelope, or the key count when it is not one of them.
size_t keyIndex(const Envelope &e, LWEnvKeyframeID key) {
    for (size_t i = 0; i < e.keys.size(); ++i)
        if (e.keys[i].get() == key) return i;
    return e.keys.size();
}

void envDestroyKey(LWEnvelopeID env, LWEnvKeyframeID key) {
    auto r = reg().write();
    Envelope *e = r.find<Envelope>(env);
    if (!e) return;
    size_t i = keyIndex(*e, key);
    if (i < e->keys.size()) e->keys.erase(e->keys.begin() + static_cast<long>(i));
}

LWEnvKeyframeID envNextKey(LWEnvelopeID env, LWEnvKeyframeID key) {
    auto r = reg().read();
    Envelope *e = r.find<Envelope>(env);
    if (!e || e->keys.empty()) return nullptr;
    if (!key) return e->keys.front().get();
    size_t i = keyIndex(*e, key);
    return i + 1 < e->keys.size() ? e->keys[i + 1].get() : nullptr;
}

int envKeySet(LWEnvelopeID env, LWEnvKeyframeID key, int shape) {
    if (shape < LWKEY_TCB || shape > LWKEY_STEPPED) return 0;
    auto r = reg().write();
    Envelope *e = r.find<Envelope>(env);
    if (!e) return 0;
    size_t i = keyIndex(*e, key);
    if (i >= e->keys.size()) return 0;
    e->keys[i]->key.shape = shape;
    return 1;
}

// ---- LWChannelInfo -----------------------------------------------------------------------------

LWChanGroupID chNextGroup(LWChanGroupID parent, LWChanGroupID group) {
    auto r = reg().read();
    Group *p = parentOrRoot(r, parent);
    if (!p || p->children.empty()) return nullptr;
    if (!group) return p->children.front();
    auto it = std::find(p->children.begin(), p->children.end(), static_cast<Group *>(group));
    return it == p->children.end() || it + 1 == p->children.end() ? nullptr : *(it + 1);
}

LWChannelID chNextChannel(LWChanGroupID group, LWChannelID chan) {
    auto r = reg().read();
    Group *g = parentOrRoot(r, group);
    if (!g || g->channels.empty()) return nullptr;
    if (!chan) return g->channels.front();
    auto it = std::find(g->channels.begin(), g->channels.end(), static_cast<Envelope *>(chan));
    return it == g->channels.end() || it + 1 == g->channels.end() ? nullptr : *(it + 1);
}

const char *chGroupName(LWChanGroupID group) {
    auto r = reg().read();
    Group *g = r.find<Group>(group);
    return g ? g->name.c_str() : nullptr;
}

const char *chChannelName(LWChannelID chan) {
    auto r = reg().read();
    Envelope *e = r.find<Envelope>(chan);
    return e ? e->name.c_str() : nullptr;
}

LWChanGroupID chGroupParent(LWChanGroupID group) {
    auto r = reg().read();
    Group *g = r.find<Group>(group);
    return g && g->parent != &root() ? g->parent : nullptr;
}

LWChanGroupID chChannelParent(LWChannelID chan) {
    auto r = reg().read();
    Envelope *e = r.find<Envelope>(chan);
    return e && e->group != &root() ? e->group : nullptr;
}

LWEnvelopeID chChannelEnvelope(LWChannelID chan) {
    auto r = reg().read();
    return r.find<Envelope>(chan);
}

const LWEnvelopeFuncs kEnvelopeFuncs = {
    envCreate,        // create
    envDestroy,       // destroy
    envCreateGroup,   // createGroup
    envDestroyGroup,  // destroyGroup
    envCopy,          // copy
    envLoad,          // load
    envSave,          // save
    envValue,         // value
    envCreateKey,     // createKey
    envDestroyKey,    // destroyKey
    envNextKey,       // nextKey
    envKeySet,        // keySet
};

const LWChannelInfo kChannelInfo = {
    chNextGroup,        // nextGroup
    chNextChannel,      // nextChannel
    chGroupName,        // groupName
    chChannelName,      // channelName
    chGroupParent,      // groupParent
    chChannelParent,    // channelParent
    chChannelEnvelope,  // channelEnvelope
};

}  // namespace

const LWEnvelopeFuncs *envelopeFuncs() { return &kEnvelopeFuncs; }
const LWChannelInfo *channelInfo() { return &kChannelInfo; }

bool isEnvelope(LWEnvelopeID env) {
    auto r = reg().read();
    return r.find<Envelope>(env) != nullptr;
}

bool isGroup(LWChanGroupID group) {
    auto r = reg().read();
    return r.find<Group>(group) != nullptr;
}

bool valueAt(LWEnvelopeID env, double time, double &value) {
    auto r = reg().read();
    Envelope *e = r.find<Envelope>(env);
    if (!e) return false;
    value = evaluate(*e, time);
    return true;
}

bool anyAnimated() {
    auto r = reg().read();
    bool animated = false;
    r.each<Envelope>([&](Envelope &e) {
        for (const auto &k : e.keys) animated = animated || k->key.value != e.keys.front()->key.value;
    });
    return animated;
}

std::vector<Key> keys(LWEnvelopeID env) {
    auto r = reg().read();
    std::vector<Key> out;
    if (Envelope *e = r.find<Envelope>(env))
        for (const auto &k : e->keys) out.push_back(k->key);
    return out;
}

bool setKeys(LWEnvelopeID env, std::vector<Key> ks) {
    for (const Key &k : ks)
        if (!finite(k) || k.shape < LWKEY_TCB || k.shape > LWKEY_STEPPED) return false;
    auto r = reg().write();
    Envelope *e = r.find<Envelope>(env);
    if (!e) return false;
    assignKeys(e, std::move(ks));
    return true;
}

LWChanGroupID findGroup(LWChanGroupID parent, const std::string &name) {
    auto r = reg().read();
    Group *p = parentOrRoot(r, parent);
    if (p)
        for (Group *g : p->children)
            if (g->name == name) return g;
    return nullptr;
}

LWEnvelopeID findChannel(LWChanGroupID group, const std::string &name) {
    auto r = reg().read();
    Group *g = parentOrRoot(r, group);
    if (g)
        for (Envelope *e : g->channels)
            if (e->name == name) return e;
    return nullptr;
}

void clearAll() {
    auto r = reg().write();
    while (!root().children.empty()) destroyGroupLocked(r, root().children.back());
    while (!root().channels.empty()) destroyEnvelopeLocked(r, root().channels.back());
}

}  // namespace host::animation
