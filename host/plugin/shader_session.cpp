// SPDX-License-Identifier: Apache-2.0
#include "host/plugin/shader_session.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>

#include "host/animation/envelopes.h"
#include "host/panel/panel_model.h"
#include "host/plugin/texture_build.h"
#include "host/scene/saver.h"
#include "host/services/global_lookup.h"
#include "host/services/host_services.h"
#include "host/services/render_services.h"
#include "host/services/scene_services.h"
#include "host/util/diagnostic.h"
#include "host/vparm/vparm_service.h"
#include "sdk/envelope_funcs.h"
#include "sdk/vparm_funcs.h"

namespace host::plugin {

namespace {

// ---- What each panel was described with ---------------------------------------------------------
// The panel model keeps its tables to itself; the host's own settings code needs the data names,
// types and control classes, and the get callback for a variant parameter's id. The plug-in is
// handed a panel table that notes them and passes every call on to the panel model.

struct PanelView {
    struct Row {
        unsigned int id;
        std::string name, type, ctrlClass;
    };
    std::vector<Row> rows;
    std::vector<std::pair<unsigned int, std::string>> classes;
    LWXPanelGetFunc *get = nullptr;
    void *inst = nullptr;
};

std::map<LWXPanelID, PanelView> &views() {
    static std::map<LWXPanelID, PanelView> v;
    return v;
}

const LWXPanelFuncs &model() { return *panel::xpanelFuncs(); }

LWXPanelID viewCreate(int type, LWXPanelControl *controls) {
    LWXPanelID p = model().create(type, controls);
    if (!p) return p;
    try {
        PanelView &v = views()[p];
        for (size_t i = 0; controls && i < 4096 && (controls[i].cid || controls[i].label); ++i)
            v.classes.emplace_back(controls[i].cid, controls[i].ctrlclass ? controls[i].ctrlclass : "");
    } catch (...) {
    }
    return p;
}

void viewDestroy(LWXPanelID panel) {
    views().erase(panel);
    model().destroy(panel);
}

void viewDescribe(LWXPanelID panel, LWXPanelDataDesc *data, LWXPanelGetFunc *get, LWXPanelSetFunc *set) {
    model().describe(panel, data, get, set);
    auto it = views().find(panel);
    if (it == views().end()) return;
    try {
        PanelView &v = it->second;
        v.rows.clear();
        v.get = get;
        for (size_t i = 0; data && i < 4096 && (data[i].vid || data[i].name); ++i) {
            PanelView::Row r{data[i].vid, data[i].name ? data[i].name : "",
                             data[i].datatype ? data[i].datatype : "", ""};
            for (const auto &[id, cls] : v.classes)
                if (id == r.id) r.ctrlClass = cls;
            v.rows.push_back(r);
        }
    } catch (...) {
    }
}

void viewInst(LWXPanelID panel, void *inst) {
    model().viewInst(panel, inst);
    auto it = views().find(panel);
    if (it != views().end()) it->second.inst = inst;
}

void viewHint(LWXPanelID panel, unsigned int id, LWXPanelHint *hints) { model().hint(panel, id, hints); }
void *viewGetData(LWXPanelID panel, unsigned int id) { return model().getData(panel, id); }
void viewSetData(LWXPanelID panel, unsigned int id, void *data) { model().setData(panel, id, data); }

const LWXPanelFuncs kViewFuncs = {
    1,             // version
    viewCreate,    // create
    viewDestroy,   // destroy
    viewDescribe,  // describe
    viewHint,      // hint
    viewGetData,   // getData
    viewSetData,   // setData
    viewInst,      // viewInst
};

// The global look-up handed to the plug-in's interface activation.
void *interfaceGlobal(const char *name, int use) {
    if (name && std::string(name) == LWXPANELFUNCS_GLOBAL) return const_cast<LWXPanelFuncs *>(&kViewFuncs);
    return services::globalLookup(name, use);
}

// ---- Settings -----------------------------------------------------------------------------------

std::string number(double v) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

bool endsWith(const std::string &s, const std::string &tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Refuses a setting at a JSON path (the scene's file is named where the refusal is caught).
[[noreturn]] void refuse(const std::string &path, const std::string &why) {
    throw util::Diagnostic::at(util::FileLoc::atPath("", path), why);
}

// Refuses a setting with a message that names its file and place itself.
[[noreturn]] void refuseWhole(const std::string &message) { throw util::Diagnostic::plain(message); }

// The range a value of a data type may take: percentages 0 to 1000 % (as fractions), colours'
// components 0 to 100, distances not negative, other numbers any finite value up to 1e6.
struct Range {
    double lo, hi;
};
Range rangeOf(const std::string &type) {
    std::string base = endsWith(type, "-env") ? type.substr(0, type.size() - 4) : type;
    if (base == "percent") return {0, 10};
    if (base == "color") return {0, 100};
    if (base == "distance" || base == "distance3") return {0, 1e6};
    return {-1e6, 1e6};
}

using Kind = scene::SettingValue::Kind;

double numberIn(const scene::SettingValue &j, const std::string &path, Range r) {
    if (j.kind != Kind::Number) refuse(path, "expected a number, found " + j.kindName());
    double v = j.number;
    if (!std::isfinite(v) || v < r.lo || v > r.hi)
        refuse(path, "value " + number(v) + " is out of range [" + number(r.lo) + ", " + number(r.hi) + "]");
    return v;
}

// {"keys": [[seconds, value], ...], "spline": bool}, times increasing.
std::vector<animation::Key> readKeys(const scene::SettingValue &j, const std::string &path, Range r) {
    if (!j.fault.empty()) refuse(path + j.fault.path, j.fault.message);
    if (!j.keyList || j.items.empty() || j.items.size() > 65536)
        refuse(path + "/keys", "expected a non-empty array of [time, value] pairs");
    std::vector<animation::Key> out;
    for (size_t i = 0; i < j.items.size(); ++i) {
        const scene::SettingValue &pair = j.items[i];
        std::string kp = path + "/keys/" + std::to_string(i);
        if (pair.kind != Kind::List || pair.items.size() != 2) refuse(kp, "expected a [time, value] pair");
        animation::Key k;
        k.time = numberIn(pair.items[0], kp + "/0", {-1e9, 1e9});
        k.value = numberIn(pair.items[1], kp + "/1", r);
        k.shape = j.spline ? LWKEY_TCB : LWKEY_LINEAR;
        if (!out.empty() && k.time <= out.back().time) refuse(kp + "/0", "key times must increase");
        out.push_back(k);
    }
    return out;
}

// A variant parameter's constant or enveloped value: n numbers, each possibly a key list.
struct ParmValue {
    double constant[3] = {0, 0, 0};
    std::vector<animation::Key> keys[3];
};

ParmValue readParmValue(const scene::SettingValue &j, const std::string &path, int n, Range r) {
    ParmValue v;
    if (n == 1 && j.kind == Kind::Number) {
        v.constant[0] = numberIn(j, path, r);
    } else if (n == 1 && j.kind == Kind::Envelope) {
        v.keys[0] = readKeys(j, path, r);
    } else if (n == 3 && j.kind == Kind::List && j.items.size() == 3) {
        for (int c = 0; c < 3; ++c) {
            std::string cp = path + "/" + std::to_string(c);
            const scene::SettingValue &part = j.items[static_cast<size_t>(c)];
            if (part.kind == Kind::Envelope)
                v.keys[c] = readKeys(part, cp, r);
            else
                v.constant[c] = numberIn(part, cp, r);
        }
    } else {
        refuse(path, n == 3 ? "expected three numbers (each may be {\"keys\": ...}), found " + j.kindName()
                            : "expected a number or {\"keys\": ...}, found " + j.kindName());
    }
    return v;
}

const PanelView::Row *rowNamed(const PanelView &v, const std::string &name) {
    for (const PanelView::Row &r : v.rows)
        if (r.name == name) return &r;
    return nullptr;
}

void setThroughPanel(LWXPanelID panel, const std::string &name, const std::string &text, const std::string &path) {
    panel::SetOutcome o = panel::setControl(panel, name, text);
    if (!o.ok) refuse(path, o.message);
}

// The texture a setting gave, read when the setting was, its paths placed under the setting's.
scene::TextureSpec placedTexture(const scene::SettingValue &value, const std::string &path,
                                 const std::string &file) {
    const scene::SettingFault &f = value.textureFault;
    if (!f.empty() || !value.texture) refuseWhole(file + ": " + path + f.path + ": " + f.message);
    scene::TextureSpec spec = *value.texture;
    spec.givenIn = file;
    spec.path = path + spec.path;
    for (scene::TextureLayerSpec &l : spec.layers) l.path = path + l.path;
    return spec;
}

void applyVariant(LWXPanelID panel, const PanelView &v, const PanelView::Row &row,
                  const scene::SettingValue &value, const std::string &path, const scene::Scene &scene,
                  const std::string &file) {
    void *parm = v.get ? v.get(v.inst, row.id) : nullptr;
    int n = vparm::components(parm);
    if (!n) refuse(path, "the plug-in gives no variant parameter for \"" + row.name + "\"");
    Range r = rangeOf(row.type);
    const scene::SettingValue *base = &value;
    bool tex = value.kind == Kind::Textured;
    if (tex) {
        if (!value.fault.empty()) refuse(path + value.fault.path, value.fault.message);
        base = value.items.empty() ? nullptr : &value.items.front();
    }
    ParmValue pv;
    if (base) pv = readParmValue(*base, tex ? path + "/value" : path, n, r);
    scene::TextureSpec spec;
    if (tex) spec = placedTexture(value, path, file);
    // The constant through the panel, as the host's panel would set it, then envelopes and texture.
    if (base) {
        std::string text;
        for (int c = 0; c < n; ++c) text += (c ? " " : "") + number(pv.constant[c]);
        setThroughPanel(panel, row.name, text, path);
    }
    for (int c = 0; c < n; ++c) {
        if (pv.keys[c].empty()) continue;
        LWEnvelopeID envs[3] = {nullptr, nullptr, nullptr};
        if (vparm::setEnveloped(parm, c, true)) vparm::vparmFuncs()->getEnv(parm, envs);
        if (!envs[c] || !animation::setKeys(envs[c], pv.keys[c])) refuse(path, "the host could not envelope it");
    }
    if (tex) {
        LWTextureID t = vparm::setTextured(parm, true);
        if (!t) refuse(path + "/texture", "this value takes no texture");
        std::string error;
        if (!buildTexture(t, spec, scene, error)) refuseWhole(error);
    }
}

void applyPlain(LWXPanelID panel, const PanelView::Row &row, const scene::SettingValue &value,
                const std::string &path) {
    const std::string &t = row.type;
    if (t == "string") {
        if (value.kind != Kind::Text) refuse(path, "expected a string, found " + value.kindName());
        setThroughPanel(panel, row.name, value.text, path);
    } else if (t == "integer" || t == "iBoolean" || t == "iChoice" || t == "choice" || t == "iSlider") {
        bool toggle = t == "iBoolean" || row.ctrlClass == "iBoolean";
        long long v = 0;
        if (value.kind == Kind::Flag && toggle)
            v = value.flag ? 1 : 0;
        else if (value.kind == Kind::Number && value.whole)
            v = value.integer;
        else
            refuse(path, std::string(toggle ? "expected true or false" : "expected a whole number") + ", found " +
                             (value.kind == Kind::Number ? "a fraction" : value.kindName()));
        long long lo = toggle ? 0 : INT32_MIN, hi = toggle ? 1 : INT32_MAX;
        if (v < lo || v > hi)
            refuse(path, "value " + std::to_string(v) + " is out of range [" + std::to_string(lo) + ", " +
                             std::to_string(hi) + "]");
        setThroughPanel(panel, row.name, std::to_string(v), path);
    } else if (t == "color" || t == "fvec" || t == "distance3") {
        if (value.kind != Kind::List || value.items.size() != 3)
            refuse(path, "expected three numbers, found " + value.kindName());
        std::string text;
        for (size_t c = 0; c < 3; ++c)
            text += (c ? " " : "") + number(numberIn(value.items[c], path + "/" + std::to_string(c), rangeOf(t)));
        setThroughPanel(panel, row.name, text, path);
    } else if (t == "float" || t == "distance" || t == "percent" || t == "angle" || t == "time") {
        setThroughPanel(panel, row.name, number(numberIn(value, path, rangeOf(t))), path);
    } else {
        refuse(path, "controls of type " + t + " cannot be set from a scene");
    }
}

std::string pathOf(int si, int k) { return "/surfaces/" + std::to_string(si) + "/shaders/" + std::to_string(k); }

}  // namespace

std::string applySetting(LWXPanelID panel, const std::string &name, const scene::SettingValue &value,
                         const std::string &path, const scene::Scene &scene, const std::string &givenIn) {
    const std::string &file = givenIn.empty() ? scene.filename : givenIn;
    auto it = views().find(panel);
    try {
        if (it == views().end() || !panel::isPanel(panel)) refuse(path, "the shader has no options panel");
        const PanelView &v = it->second;
        const PanelView::Row *row = rowNamed(v, name);
        if (!row) {
            std::string known;
            for (const PanelView::Row &r : v.rows) known += (known.empty() ? "" : ", ") + r.name;
            refuse(path, "unknown setting \"" + name + "\" (the panel has: " + known + ")");
        }
        if (endsWith(row->type, "-env"))
            applyVariant(panel, v, *row, value, path, scene, file);
        else
            applyPlain(panel, *row, value, path);
    } catch (const util::Diagnostic &d) {
        return d.loc.path.empty() ? d.text() : d.in(file).text();
    } catch (const std::exception &e) {
        return file + ": " + path + ": " + e.what();
    }
    return {};
}

SettingRange settingRange(const std::string &type) {
    Range r = rangeOf(type);
    return {r.lo, r.hi};
}

// ---- Session ------------------------------------------------------------------------------------

HostSession::HostSession(const scene::Scene &scene, int width, int height, int samples) {
    services::setActiveScene(&scene);
    services::publishSceneInfo(scene, width, height, samples);
    services::publishRenderMemory();
    services::publishHostServices(scene);
}

HostSession::~HostSession() {
    services::resetRenderMemory();
    services::withdrawHostServices();
    services::setActiveScene(nullptr);
}

const LWShaderHandler *ShaderSet::handler(const std::string &server) {
    auto it = handlers_.find(server);
    if (it != handlers_.end()) return &it->second->handler;
    if (!module_.find(LWSHADER_HCLASS, server)) return nullptr;
    // The host owns the handler's three tables; activation fills them.
    auto h = std::make_unique<HandlerTables>();
    h->handler.inst = &h->inst;
    h->handler.item = &h->item;
    h->handler.rend = &h->rend;
    if (module_.activate(LWSHADER_HCLASS, server, LWSHADER_VERSION, &services::globalLookup, &h->handler) !=
        AFUNC_OK)
        return nullptr;
    return &(handlers_[server] = std::move(h))->handler;
}

int ShaderSet::create(const std::string &server, scene::Surface *surface, int si, int k, std::string &message) {
    const LWShaderHandler *h = handler(server);
    if (!h) {
        message = pluginPath_ + " offers no shader \"" + server + "\"";
        return 2;
    }
    if (!h->inst || !h->inst->create || !h->evaluate) {
        message = pluginPath_ + ": shader \"" + server + "\" has no create or evaluate operation";
        return 1;
    }
    LWError err = nullptr;
    // The instance's context is the surface it shades.
    LWInstance inst = h->inst->create(h->inst->priv, surface, &err);
    if (err || !inst) {
        message = pluginPath_ + ": shader \"" + server + "\"" +
                  (surface ? " on surface \"" + surface->name + "\"" : std::string()) + " was not created" +
                  (err ? std::string(": ") + err : std::string());
        return 1;
    }
    ShaderInstance s;
    s.handler = h;
    s.instance = inst;
    s.surface = si;
    s.index = k;
    s.server = server;
    // The options panel, when the plug-in has an interface for this shader.
    if (module_.find(LWSHADER_ICLASS, server)) {
        LWInterface ui = {inst, nullptr, nullptr, nullptr};
        if (module_.activate(LWSHADER_ICLASS, server, LWSHADER_VERSION, &interfaceGlobal, &ui) == AFUNC_OK)
            s.panel = ui.panel;
    }
    instances_.push_back(s);
    return 0;
}

int ShaderSet::open(const scene::Scene &scene, const std::string &pluginPath,
                    const std::vector<scene::ShaderSetting> &overrides, std::string &message) {
    bool any = false;
    for (const auto &s : scene.surfaces) any = any || !s->shaders.empty();
    if (!any) {
        if (!overrides.empty()) {
            message = "no shader instance has a setting \"" + overrides.front().name + "\"";
            return 2;
        }
        return 0;
    }
    pluginPath_ = pluginPath;
    if (!module_.open(pluginPath)) {
        message = module_.error();
        return 1;
    }
    for (size_t si = 0; si < scene.surfaces.size(); ++si) {
        scene::Surface &surf = *scene.surfaces[si];
        for (size_t k = 0; k < surf.shaders.size(); ++k) {
            const scene::ShaderRef &ref = surf.shaders[k];
            // Named where it was given: the scene file, or the overlay that gave it.
            const std::string &file = ref.givenIn.empty() ? scene.filename : ref.givenIn;
            std::string at = ref.givenAt.empty() ? pathOf(static_cast<int>(si), static_cast<int>(k)) : ref.givenAt;
            int status = create(ref.server, &surf, static_cast<int>(si), static_cast<int>(k), message);
            if (status) {
                if (status == 2) message = file + ": " + at + "/server: " + message;
                return status;
            }
            const ShaderInstance &s = instances_.back();
            if (ref.hasState) {
                state::LoadState load(ref.binaryState ? state::Format::Binary : state::Format::Text, ref.state);
                LWError e = s.handler->inst->load ? s.handler->inst->load(s.instance, load.record()) : nullptr;
                if (e) {
                    message = file + ": " + at + "/state: the shader refused its saved data: " + e;
                    return 2;
                }
                continue;
            }
            if (!ref.settings.empty() && !s.panel) {
                message = file + ": " + at + "/settings: shader \"" + ref.server + "\" has no options panel";
                return 2;
            }
            for (const scene::ShaderSetting &setting : ref.settings) {
                message = applySetting(s.panel, setting.name, setting.value, at + "/settings/" + setting.name,
                                       scene, ref.givenIn);
                if (!message.empty()) return 2;
            }
        }
    }
    for (const scene::ShaderSetting &o : overrides) {
        bool used = false;
        for (const ShaderInstance &s : instances_) {
            auto v = views().find(s.panel);
            if (!s.panel || v == views().end() || !rowNamed(v->second, o.name)) continue;
            used = true;
            message = applySetting(s.panel, o.name, o.value, o.givenAt.empty() ? "(" + o.name + ")" : o.givenAt,
                                   scene, o.givenIn);
            if (!message.empty()) return 2;
        }
        if (!used) {
            message = "no shader instance has a setting \"" + o.name + "\"";
            return 2;
        }
    }
    return 0;
}

int ShaderSet::openDefault(const std::string &pluginPath, std::string &message) {
    pluginPath_ = pluginPath;
    if (!module_.open(pluginPath)) {
        message = module_.error();
        return 1;
    }
    const ServerInfo *info = module_.find(LWSHADER_HCLASS);
    if (!info) {
        message = pluginPath + " offers no shader";
        return 1;
    }
    return create(info->name, nullptr, -1, 0, message);
}

std::vector<std::vector<ShaderSlot>> ShaderSet::slots(size_t surfaces) const {
    std::vector<std::vector<ShaderSlot>> out(surfaces);
    for (const ShaderInstance &s : instances_)
        if (s.surface >= 0 && static_cast<size_t>(s.surface) < surfaces)
            out[static_cast<size_t>(s.surface)].push_back({s.handler, s.instance});
    return out;
}

std::string ShaderSet::init() {
    for (const ShaderInstance &s : instances_) {
        initialised_.push_back(s);
        if (s.handler->rend && s.handler->rend->init) {
            LWError e = s.handler->rend->init(s.instance, LWINIT_RENDER);
            if (e) return std::string("shader render initialisation failed: ") + e;
        }
    }
    return {};
}

std::string ShaderSet::newTime(int frame, double time) {
    for (const ShaderInstance &s : instances_)
        if (s.handler->rend && s.handler->rend->newTime) {
            LWError e = s.handler->rend->newTime(s.instance, frame, time);
            if (e) return std::string("shader new-time failed: ") + e;
        }
    return {};
}

void ShaderSet::destroy() {
    for (const ShaderInstance &s : initialised_)
        if (s.handler->rend && s.handler->rend->cleanup) s.handler->rend->cleanup(s.instance);
    initialised_.clear();
    // Panels belong to the host once built; they go before the instances they view.
    for (const ShaderInstance &s : instances_)
        if (s.panel) viewDestroy(s.panel);
    for (const ShaderInstance &s : instances_)
        if (s.handler->inst->destroy) s.handler->inst->destroy(s.instance);
    instances_.clear();
}

std::vector<uint8_t> ShaderSet::save(const ShaderInstance &s, state::Format format) const {
    state::SaveState out(format);
    if (s.handler->inst->save) s.handler->inst->save(s.instance, out.record());
    out.finish();
    return out.bytes();
}

// ---- Describing and saving ----------------------------------------------------------------------

int describePanels(const scene::Scene &scene, const std::string &pluginPath, std::string &text,
                   std::string &message, const std::vector<scene::ShaderSetting> &overrides) {
    HostSession session(scene, scene.render.width, scene.render.height, scene.render.samples);
    ShaderSet shaders;
    int status = shaders.open(scene, pluginPath, overrides, message);
    if (!status && shaders.instances().empty()) status = shaders.openDefault(pluginPath, message);
    if (status) return status;
    double time = scene.frameTime(scene.render.frameStart);
    for (const ShaderInstance &s : shaders.instances()) {
        if (s.surface >= 0)
            text += "Surface \"" + scene.surfaces[static_cast<size_t>(s.surface)]->name + "\", shader " +
                    std::to_string(s.index + 1) + ": " + s.server + "\n";
        else
            text += "Default instance: " + s.server + "\n";
        text += s.panel ? panel::print(s.panel, time) : "  (no options panel)\n";
    }
    return 0;
}

int saveSceneStates(const scene::Scene &scene, const std::string &pluginPath, state::Format format,
                    std::string &out, std::string &message, const std::vector<scene::ShaderSetting> &overrides) {
    HostSession session(scene, scene.render.width, scene.render.height, scene.render.samples);
    ShaderSet shaders;
    int status = shaders.open(scene, pluginPath, overrides, message);
    if (status) return status;
    std::vector<scene::SavedShader> saved;
    for (const ShaderInstance &s : shaders.instances())
        saved.push_back({s.surface, s.index, format == state::Format::Binary, shaders.save(s, format)});
    return scene::writeSceneStates(scene, saved, out, message);
}

}  // namespace host::plugin
