#include "host/plugin/shader_session.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>

#include "host/animation/envelopes.h"
#include "host/panel/panel_model.h"
#include "host/plugin/texture_build.h"
#include "host/scene/loader.h"
#include "host/services/global_lookup.h"
#include "host/services/host_services.h"
#include "host/services/render_services.h"
#include "host/services/scene_services.h"
#include "host/vparm/vparm_service.h"
#include "sdk/envelope_funcs.h"
#include "sdk/vparm_funcs.h"

namespace host::plugin {

namespace {

using json = nlohmann::json;

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

struct Refusal {
    std::string path, why;
};

[[noreturn]] void refuse(const std::string &path, const std::string &why) { throw Refusal{path, why}; }

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

double numberIn(const json &j, const std::string &path, Range r) {
    if (!j.is_number()) refuse(path, "expected a number, found " + scene::jsonTypeName(j));
    double v = j.get<double>();
    if (!std::isfinite(v) || v < r.lo || v > r.hi)
        refuse(path, "value " + number(v) + " is out of range [" + number(r.lo) + ", " + number(r.hi) + "]");
    return v;
}

// {"keys": [[seconds, value], ...], "spline": bool}, times increasing.
std::vector<animation::Key> readKeys(const json &j, const std::string &path, Range r) {
    for (auto it = j.begin(); it != j.end(); ++it)
        if (it.key() != "keys" && it.key() != "spline")
            refuse(path + "/" + it.key(), "unknown field \"" + it.key() + "\"");
    bool spline = false;
    if (j.contains("spline")) {
        if (!j["spline"].is_boolean()) refuse(path + "/spline", "expected true or false");
        spline = j["spline"].get<bool>();
    }
    const json &keys = j["keys"];
    if (!keys.is_array() || keys.empty() || keys.size() > 65536)
        refuse(path + "/keys", "expected a non-empty array of [time, value] pairs");
    std::vector<animation::Key> out;
    for (size_t i = 0; i < keys.size(); ++i) {
        std::string kp = path + "/keys/" + std::to_string(i);
        if (!keys[i].is_array() || keys[i].size() != 2) refuse(kp, "expected a [time, value] pair");
        animation::Key k;
        k.time = numberIn(keys[i][0], kp + "/0", {-1e9, 1e9});
        k.value = numberIn(keys[i][1], kp + "/1", r);
        k.shape = spline ? LWKEY_TCB : LWKEY_LINEAR;
        if (!out.empty() && k.time <= out.back().time) refuse(kp + "/0", "key times must increase");
        out.push_back(k);
    }
    return out;
}

bool isKeys(const json &j) { return j.is_object() && j.contains("keys"); }

// A variant parameter's constant or enveloped value: n numbers, each possibly a key list.
struct ParmValue {
    double constant[3] = {0, 0, 0};
    std::vector<animation::Key> keys[3];
};

ParmValue readParmValue(const json &j, const std::string &path, int n, Range r) {
    ParmValue v;
    if (n == 1 && j.is_number()) {
        v.constant[0] = numberIn(j, path, r);
    } else if (n == 1 && isKeys(j)) {
        v.keys[0] = readKeys(j, path, r);
    } else if (n == 3 && j.is_array() && j.size() == 3) {
        for (int c = 0; c < 3; ++c) {
            std::string cp = path + "/" + std::to_string(c);
            if (isKeys(j[c]))
                v.keys[c] = readKeys(j[c], cp, r);
            else
                v.constant[c] = numberIn(j[c], cp, r);
        }
    } else {
        refuse(path, n == 3
                         ? "expected three numbers (each may be {\"keys\": ...}), found " + scene::jsonTypeName(j)
                         : "expected a number or {\"keys\": ...}, found " + scene::jsonTypeName(j));
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

void applyVariant(LWXPanelID panel, const PanelView &v, const PanelView::Row &row, const json &value,
                  const std::string &path, const scene::Scene &scene) {
    void *parm = v.get ? v.get(v.inst, row.id) : nullptr;
    int n = vparm::components(parm);
    if (!n) refuse(path, "the plug-in gives no variant parameter for \"" + row.name + "\"");
    Range r = rangeOf(row.type);
    const json *base = &value;
    const json *tex = nullptr;
    json none;
    if (value.is_object() && value.contains("texture")) {
        for (auto it = value.begin(); it != value.end(); ++it)
            if (it.key() != "texture" && it.key() != "value")
                refuse(path + "/" + it.key(), "unknown field \"" + it.key() + "\"");
        tex = &value["texture"];
        base = value.contains("value") ? &value["value"] : nullptr;
    }
    ParmValue pv;
    if (base) pv = readParmValue(*base, tex ? path + "/value" : path, n, r);
    scene::TextureSpec spec;
    if (tex) {
        std::string error;
        if (!scene::parseTexture(*tex, path + "/texture", scene, spec, error)) throw Refusal{"", error};
    }
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
        if (!buildTexture(t, spec, scene, error)) throw Refusal{"", error};
    }
}

void applyPlain(LWXPanelID panel, const PanelView::Row &row, const json &value, const std::string &path) {
    const std::string &t = row.type;
    if (t == "string") {
        if (!value.is_string()) refuse(path, "expected a string, found " + scene::jsonTypeName(value));
        setThroughPanel(panel, row.name, value.get<std::string>(), path);
    } else if (t == "integer" || t == "iBoolean" || t == "iChoice" || t == "choice" || t == "iSlider") {
        bool toggle = t == "iBoolean" || row.ctrlClass == "iBoolean";
        long long v = 0;
        if (value.is_boolean() && toggle)
            v = value.get<bool>() ? 1 : 0;
        else if (value.is_number_integer())
            v = value.get<long long>();
        else
            refuse(path, std::string(toggle ? "expected true or false" : "expected a whole number") + ", found " +
                             (value.is_number() ? "a fraction" : scene::jsonTypeName(value)));
        long long lo = toggle ? 0 : INT32_MIN, hi = toggle ? 1 : INT32_MAX;
        if (v < lo || v > hi)
            refuse(path, "value " + std::to_string(v) + " is out of range [" + std::to_string(lo) + ", " +
                             std::to_string(hi) + "]");
        setThroughPanel(panel, row.name, std::to_string(v), path);
    } else if (t == "color" || t == "fvec" || t == "distance3") {
        if (!value.is_array() || value.size() != 3)
            refuse(path, "expected three numbers, found " + scene::jsonTypeName(value));
        std::string text;
        for (int c = 0; c < 3; ++c)
            text += (c ? " " : "") + number(numberIn(value[c], path + "/" + std::to_string(c), rangeOf(t)));
        setThroughPanel(panel, row.name, text, path);
    } else if (t == "float" || t == "distance" || t == "percent" || t == "angle" || t == "time") {
        setThroughPanel(panel, row.name, number(numberIn(value, path, rangeOf(t))), path);
    } else {
        refuse(path, "controls of type " + t + " cannot be set from a scene");
    }
}

std::string pathOf(int si, int k) { return "/surfaces/" + std::to_string(si) + "/shaders/" + std::to_string(k); }

}  // namespace

std::string applySetting(LWXPanelID panel, const std::string &name, const json &value, const std::string &path,
                         const scene::Scene &scene) {
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
            applyVariant(panel, v, *row, value, path, scene);
        else
            applyPlain(panel, *row, value, path);
    } catch (const Refusal &r) {
        return r.path.empty() ? r.why : scene.filename + ": " + r.path + ": " + r.why;
    } catch (const std::exception &e) {
        return scene.filename + ": " + path + ": " + e.what();
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
                    const std::vector<SettingOverride> &overrides, std::string &message) {
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
            std::string at = pathOf(static_cast<int>(si), static_cast<int>(k));
            int status = create(ref.server, &surf, static_cast<int>(si), static_cast<int>(k), message);
            if (status) {
                if (status == 2) message = scene.filename + ": " + at + "/server: " + message;
                return status;
            }
            const ShaderInstance &s = instances_.back();
            if (ref.hasState) {
                state::LoadState load(ref.binaryState ? state::Format::Binary : state::Format::Text, ref.state);
                LWError e = s.handler->inst->load ? s.handler->inst->load(s.instance, load.record()) : nullptr;
                if (e) {
                    message = scene.filename + ": " + at + "/state: the shader refused its saved data: " + e;
                    return 2;
                }
                continue;
            }
            if (!ref.settings.empty() && !s.panel) {
                message =
                    scene.filename + ": " + at + "/settings: shader \"" + ref.server + "\" has no options panel";
                return 2;
            }
            for (auto it = ref.settings.begin(); it != ref.settings.end(); ++it) {
                message = applySetting(s.panel, it.key(), it.value(), at + "/settings/" + it.key(), scene);
                if (!message.empty()) return 2;
            }
        }
    }
    for (const SettingOverride &o : overrides) {
        bool used = false;
        for (const ShaderInstance &s : instances_) {
            auto v = views().find(s.panel);
            if (!s.panel || v == views().end() || !rowNamed(v->second, o.name)) continue;
            used = true;
            message = applySetting(s.panel, o.name, o.value, "(" + o.name + ")", scene);
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
                   std::string &message, const std::vector<SettingOverride> &overrides) {
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

namespace {

// Whether text is well-formed UTF-8 (no overlong forms, surrogates or values beyond U+10FFFF).
bool validUtf8(const std::string &text) {
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    const auto *end = p + text.size();
    while (p < end) {
        unsigned c = *p++;
        if (c < 0x80) continue;
        int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 ? 1 : -1;
        if (more < 0 || c > 0xF4 || end - p < more) return false;
        unsigned second = p[0];
        if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second > 0x9F) || (c == 0xF0 && second < 0x90) ||
            (c == 0xF4 && second > 0x8F))
            return false;
        for (int k = 0; k < more; ++k)
            if ((*p++ & 0xC0) != 0x80) return false;
    }
    return true;
}

// A file name of the scene made absolute, so the scene written elsewhere still finds it. Returns
// false when the absolute name is not UTF-8, which a scene file cannot hold.
bool anchorFile(json &holder, const std::string &folder) {
    if (!holder.is_object() || !holder.contains("file") || !holder["file"].is_string()) return true;
    std::string file = holder["file"].get<std::string>();
    if (file.empty() || file[0] == '/') return true;
    std::error_code ec;
    std::filesystem::path p =
        std::filesystem::absolute(std::filesystem::path(folder.empty() ? "." : folder) / file, ec);
    if (ec) return true;
    std::string anchored = p.lexically_normal().string();
    if (!validUtf8(anchored)) return false;
    holder["file"] = anchored;
    return true;
}

// Anchors every file name; the JSON path of the first that cannot be written as UTF-8, or "".
std::string anchorFiles(json &root, const std::string &folder) {
    if (root.contains("images") && root["images"].is_array())
        for (size_t i = 0; i < root["images"].size(); ++i)
            if (!anchorFile(root["images"][i], folder)) return "/images/" + std::to_string(i) + "/file";
    if (root.contains("items") && root["items"].is_array())
        for (size_t i = 0; i < root["items"].size(); ++i) {
            json &item = root["items"][i];
            std::string at = "/items/" + std::to_string(i);
            if (!item.is_object()) continue;
            if (item.contains("mesh") && !anchorFile(item["mesh"], folder)) return at + "/mesh/file";
            if (item.contains("layers") && item["layers"].is_array())
                for (size_t k = 0; k < item["layers"].size(); ++k)
                    if (!anchorFile(item["layers"][k], folder))
                        return at + "/layers/" + std::to_string(k) + "/file";
        }
    return {};
}

}  // namespace

int saveSceneStates(const scene::Scene &scene, const std::string &pluginPath, state::Format format,
                    std::string &out, std::string &message, const std::vector<SettingOverride> &overrides) {
    HostSession session(scene, scene.render.width, scene.render.height, scene.render.samples);
    ShaderSet shaders;
    int status = shaders.open(scene, pluginPath, overrides, message);
    if (status) return status;
    json root = scene.source.is_object() ? scene.source : json::object();
    std::string unwritable = anchorFiles(root, scene.folder);
    if (!unwritable.empty()) {
        message = scene.filename + ": " + unwritable +
                  ": the file's absolute name is not valid UTF-8 (nor is its folder's), so a saved scene "
                  "could not name it; save from a folder whose name is UTF-8";
        return 2;
    }
    static const char digits[] = "0123456789abcdef";
    for (const ShaderInstance &s : shaders.instances()) {
        std::vector<uint8_t> bytes = shaders.save(s, format);
        std::string data;
        if (format == state::Format::Text) {
            data.assign(bytes.begin(), bytes.end());
        } else {
            for (uint8_t b : bytes) {
                data += digits[b >> 4];
                data += digits[b & 15];
            }
        }
        // The scene file's surface of that name (mesh files bring surfaces of their own, after the
        // scene file's, so indices differ); a mesh file's surface with shaders (from an overlay)
        // gets an entry of its own.
        const std::string &name = scene.surfaces[static_cast<size_t>(s.surface)]->name;
        json &surfaces = root["surfaces"];
        if (!surfaces.is_array()) surfaces = json::array();
        json *surface = nullptr;
        for (json &e : surfaces)
            if (!surface && e.is_object() && e.value("name", std::string()) == name) surface = &e;
        if (!surface) {
            surfaces.push_back({{"name", name}});
            surface = &surfaces.back();
        }
        json &entry = (*surface)["shaders"][static_cast<size_t>(s.index)];
        entry.erase("settings");
        entry["state"] = {{"format", format == state::Format::Text ? "text" : "binary"}, {"data", data}};
    }
    try {
        out = root.dump(2) + "\n";
    } catch (const json::exception &) {
        message = scene.filename + ": a shader's saved data is not valid UTF-8 and cannot be written as a scene";
        return 2;
    }
    return 0;
}

}  // namespace host::plugin
