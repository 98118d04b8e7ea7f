// SPDX-License-Identifier: Apache-2.0
#include "host/panel/panel_model.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <shared_mutex>
#include <sstream>

#include "host/util/handle_registry.h"
#include "host/vparm/vparm_service.h"

namespace host::panel {

namespace {

constexpr size_t kMaxRows = 4096;  // control or data rows before a missing end is assumed
constexpr size_t kMaxHintWords = 1 << 16;
constexpr size_t kMaxText = 4096;
constexpr int kMaxGroupDepth = 32;

struct Control {
    unsigned int id;
    std::string label, ctrlClass;
};

struct Data {
    unsigned int id;
    std::string name, type;
};

struct Panel {
    int type = LWXP_VIEW;
    std::vector<Control> controls;
    std::vector<Data> data;
    LWXPanelGetFunc *get = nullptr;
    LWXPanelSetFunc *set = nullptr;
    void *inst = nullptr;
    std::map<unsigned int, void *> userData;
    std::map<unsigned int, std::string> labels;
    std::vector<std::pair<unsigned int, std::vector<unsigned int>>> groups, tabs, enables;
    std::vector<std::string> errors;
};

using Registry = util::HandleRegistry<std::shared_mutex, Panel>;

Registry &reg() {
    static Registry *r = new Registry;
    return *r;
}

std::string boundedText(const char *s) { return s ? std::string(s, strnlen(s, kMaxText)) : std::string(); }

std::string hex(unsigned int v) {
    std::ostringstream o;
    o << "0x" << std::hex << v;
    return o.str();
}

// Reads one hint list into the panel's model.
void parseHints(Panel &p, LWXPanelHint *hints) {
    if (!hints) return;
    size_t i = 0;
    auto word = [&](uintptr_t &w) {
        if (i >= kMaxHintWords) return false;
        w = reinterpret_cast<uintptr_t>(hints[i++]);
        return true;
    };
    // A zero-ended id list, as groups, tab sets and dependencies carry.
    auto list = [&](std::vector<unsigned int> &out) {
        uintptr_t w;
        while (word(w)) {
            if (!w) return true;
            out.push_back(static_cast<unsigned int>(w));
        }
        return false;
    };
    uintptr_t tag;
    while (word(tag) && tag) {
        uintptr_t id = 0, text = 0, end = 0, skip = 0;
        std::vector<unsigned int> members;
        bool ok = word(id);
        switch (tag) {
            case XPTAG_LABEL:
                ok = ok && word(text) && word(end) && end == 0;
                if (ok)
                    p.labels[static_cast<unsigned int>(id)] = boundedText(reinterpret_cast<const char *>(text));
                break;
            case XPTAG_GROUP:
            case XPTAG_TABS:
                ok = ok && list(members);
                if (ok)
                    (tag == XPTAG_GROUP ? p.groups : p.tabs).emplace_back(static_cast<unsigned int>(id), members);
                break;
            case XPTAG_ENABLE:
                ok = ok && word(skip) && word(skip) && word(skip) && list(members);
                if (ok) p.enables.emplace_back(static_cast<unsigned int>(id), members);
                break;
            default:
                p.errors.push_back("unknown hint tag " + hex(static_cast<unsigned int>(tag)) +
                                   "; rest of list ignored");
                return;
        }
        if (!ok) {
            p.errors.push_back("malformed hint " + hex(static_cast<unsigned int>(tag)) + "; rest of list ignored");
            return;
        }
    }
}

const Data *dataFor(const Panel &p, unsigned int id) {
    for (const Data &d : p.data)
        if (d.id == id) return &d;
    return nullptr;
}

const Data *dataNamed(const Panel &p, const std::string &name) {
    for (const Data &d : p.data)
        if (d.name == name) return &d;
    return nullptr;
}

bool endsWith(const std::string &s, const std::string &tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool isIntType(const std::string &t) {
    return t == "integer" || t == "iBoolean" || t == "iChoice" || t == "choice" || t == "iSlider";
}
bool isNumberType(const std::string &t) {
    return t == "float" || t == "distance" || t == "percent" || t == "angle" || t == "time";
}
bool isTripleType(const std::string &t) { return t == "color" || t == "fvec" || t == "distance3"; }

std::string number(double v) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string valueText(const Panel &p, const Control &c, double time) {
    const Data *d = dataFor(p, c.id);
    if (!d || !p.get) return "(no value)";
    void *v = p.get(p.inst, c.id);
    if (!v) return "(none)";
    if (endsWith(d->type, "-env")) {
        if (!vparm::isVParm(v)) return "(no parameter)";
        const LWVParmFuncs *vf = vparm::vparmFuncs();
        double val[3] = {0, 0, 0};
        vf->getVal(v, time, nullptr, val);
        std::string s;
        for (int k = 0; k < vparm::components(v); ++k) s += (k ? " " : "") + number(val[k]);
        int state = vf->getState(v);
        if (state & LWVPSF_ENV) s += " [env]";
        if (state & LWVPSF_TEX) s += " [tex]";
        return s;
    }
    if (d->type == "string") return "\"" + boundedText(static_cast<const char *>(v)) + "\"";
    if (isIntType(d->type)) return std::to_string(*static_cast<const int *>(v));
    if (isNumberType(d->type)) return number(*static_cast<const double *>(v));
    if (isTripleType(d->type)) {
        const double *t = static_cast<const double *>(v);
        return number(t[0]) + " " + number(t[1]) + " " + number(t[2]);
    }
    return "(type " + d->type + " not shown)";
}

const std::vector<unsigned int> *membersOf(
    const std::vector<std::pair<unsigned int, std::vector<unsigned int>>> &v, unsigned int id) {
    for (const auto &[gid, members] : v)
        if (gid == id) return &members;
    return nullptr;
}

const Control *controlOf(const Panel &p, unsigned int id) {
    for (const Control &c : p.controls)
        if (c.id == id) return &c;
    return nullptr;
}

// Whether a control is enabled: every dependency that names it must have a non-zero governor.
std::string enabledNote(const Panel &p, unsigned int id) {
    for (const auto &[gov, deps] : p.enables) {
        if (std::find(deps.begin(), deps.end(), id) == deps.end()) continue;
        const Data *d = dataFor(p, gov);
        if (!d || !p.get || !isIntType(d->type)) continue;
        const int *v = static_cast<const int *>(p.get(p.inst, gov));
        if (v && *v == 0) return " (disabled)";
    }
    return "";
}

class Printer {
public:
    Printer(const Panel &p, double time) : p_(p), time_(time) {}

    std::string run() {
        auto it = p_.labels.find(0);
        out_ << "Panel \"" << (it == p_.labels.end() ? "" : it->second) << "\"\n";
        for (const auto &[tid, pages] : p_.tabs) {
            out_ << "  Tabs " << hex(tid) << "\n";
            placed_.insert(tid);
            for (unsigned int page : pages) {
                out_ << "    Tab \"" << labelOf(page) << "\" (" << hex(page) << ")\n";
                members(page, 3, 0);
            }
        }
        for (const auto &[gid, list] : p_.groups)
            if (!placed_.count(gid) && !isMember(gid)) {
                out_ << "  Group " << hex(gid) << labelSuffix(gid) << "\n";
                members(gid, 2, 0);
            }
        bool header = false;
        for (const Control &c : p_.controls) {
            if (placed_.count(c.id)) continue;
            if (!header) out_ << "  Ungrouped\n";
            header = true;
            control(c, 2);
        }
        for (const auto &[gov, deps] : p_.enables) {
            out_ << "  Dependency: " << hex(gov) << " \"" << labelOf(gov) << "\" enables";
            for (unsigned int d : deps) out_ << " " << hex(d) << " \"" << labelOf(d) << "\"";
            out_ << "\n";
        }
        for (const std::string &e : p_.errors) out_ << "  Hint error: " << e << "\n";
        return out_.str();
    }

private:
    std::string labelOf(unsigned int id) const {
        if (const Control *c = controlOf(p_, id)) return c->label;
        auto it = p_.labels.find(id);
        return it == p_.labels.end() ? "" : it->second;
    }
    std::string labelSuffix(unsigned int id) const {
        auto it = p_.labels.find(id);
        return it == p_.labels.end() ? "" : " \"" + it->second + "\"";
    }
    bool isMember(unsigned int id) const {
        for (const auto &[gid, list] : p_.groups)
            if (std::find(list.begin(), list.end(), id) != list.end()) return true;
        for (const auto &[tid, list] : p_.tabs)
            if (std::find(list.begin(), list.end(), id) != list.end()) return true;
        return false;
    }
    void members(unsigned int group, int indent, int depth) {
        placed_.insert(group);
        const std::vector<unsigned int> *list = membersOf(p_.groups, group);
        if (!list || depth > kMaxGroupDepth) return;
        for (unsigned int id : *list) {
            const Control *c = controlOf(p_, id);
            if (c) {
                placed_.insert(id);
                control(*c, indent);
            } else if (membersOf(p_.groups, id) && !placed_.count(id)) {
                out_ << std::string(2 * indent, ' ') << "Group " << hex(id) << labelSuffix(id) << "\n";
                members(id, indent + 1, depth + 1);
            }
        }
    }
    void control(const Control &c, int indent) {
        out_ << std::string(2 * indent, ' ') << hex(c.id) << " \"" << c.label << "\" " << c.ctrlClass << " = "
             << valueText(p_, c, time_) << enabledNote(p_, c.id) << "\n";
    }

    const Panel &p_;
    double time_;
    std::ostringstream out_;
    std::set<unsigned int> placed_;
};

bool parseDoubles(const std::string &text, double *out, int n) {
    const char *s = text.c_str(), *end = s + text.size();
    for (int i = 0; i < n; ++i) {
        while (s < end && (*s == ' ' || *s == ',' || *s == '\t')) ++s;
        auto r = std::from_chars(s, end, out[i]);
        if (r.ec != std::errc()) return false;
        s = r.ptr;
    }
    while (s < end && (*s == ' ' || *s == '\t')) ++s;
    return s == end;
}

// ---- LWXPanelFuncs -----------------------------------------------------------------------------

LWXPanelID xpCreate(int type, LWXPanelControl *controls) {
    try {
        auto p = std::make_unique<Panel>();
        p->type = type;
        for (size_t i = 0; controls && i < kMaxRows && (controls[i].cid || controls[i].label); ++i)
            p->controls.push_back(
                {controls[i].cid, boundedText(controls[i].label), boundedText(controls[i].ctrlclass)});
        return reg().write().add(std::move(p));
    } catch (...) {
        return nullptr;
    }
}

void xpDestroy(LWXPanelID panel) { reg().write().remove<Panel>(panel); }

void xpDescribe(LWXPanelID panel, LWXPanelDataDesc *data, LWXPanelGetFunc *get, LWXPanelSetFunc *set) {
    try {
        auto r = reg().write();
        Panel *p = r.find<Panel>(panel);
        if (!p) return;
        p->data.clear();
        for (size_t i = 0; data && i < kMaxRows && (data[i].vid || data[i].name); ++i)
            p->data.push_back({data[i].vid, boundedText(data[i].name), boundedText(data[i].datatype)});
        p->get = get;
        p->set = set;
    } catch (...) {
    }
}

void xpHint(LWXPanelID panel, unsigned int, LWXPanelHint *hints) {
    try {
        auto r = reg().write();
        if (Panel *p = r.find<Panel>(panel)) parseHints(*p, hints);
    } catch (...) {
    }
}

void *xpGetData(LWXPanelID panel, unsigned int id) {
    auto r = reg().write();
    Panel *p = r.find<Panel>(panel);
    if (!p) return nullptr;
    auto it = p->userData.find(id);
    return it == p->userData.end() ? nullptr : it->second;
}

void xpSetData(LWXPanelID panel, unsigned int id, void *data) {
    try {
        auto r = reg().write();
        if (Panel *p = r.find<Panel>(panel)) p->userData[id] = data;
    } catch (...) {
    }
}

void xpViewInst(LWXPanelID panel, void *inst) {
    auto r = reg().write();
    if (Panel *p = r.find<Panel>(panel)) p->inst = inst;
}

const LWXPanelFuncs kXPanelFuncs = {
    1,           // version
    xpCreate,    // create
    xpDestroy,   // destroy
    xpDescribe,  // describe
    xpHint,      // hint
    xpGetData,   // getData
    xpSetData,   // setData
    xpViewInst,  // viewInst
};

// A copy of a panel's model, so callbacks into the plug-in run without the registry lock.
bool snapshot(LWXPanelID panel, Panel &out) {
    auto r = reg().write();
    Panel *p = r.find<Panel>(panel);
    if (!p) return false;
    out = *p;
    return true;
}

}  // namespace

const LWXPanelFuncs *xpanelFuncs() { return &kXPanelFuncs; }

bool isPanel(LWXPanelID panel) { return reg().read().find<Panel>(panel) != nullptr; }

std::vector<LWXPanelID> panels() {
    std::vector<LWXPanelID> out;
    reg().read().each<Panel>([&](Panel &p) { out.push_back(&p); });
    return out;
}

std::string print(LWXPanelID panel, double time) {
    Panel p;
    if (!snapshot(panel, p)) return "";
    return Printer(p, time).run();
}

SetOutcome setControl(LWXPanelID panel, const std::string &name, const std::string &value) {
    SetOutcome o;
    Panel p;
    if (!snapshot(panel, p)) {
        o.message = "no such panel";
        return o;
    }
    const Data *d = dataNamed(p, name);
    if (!d) {
        o.message = "no control named \"" + name + "\"";
        return o;
    }
    if (!p.set || !p.get) {
        o.message = "the panel has no get and set callbacks";
        return o;
    }
    auto bad = [&](const char *what) {
        o.message = "\"" + value + "\" is not " + what + " for \"" + name + "\"";
        return o;
    };
    if (endsWith(d->type, "-env")) {
        void *parm = p.get(p.inst, d->id);
        int n = vparm::components(parm);
        double v[3] = {0, 0, 0};
        if (!n) {
            o.message = "\"" + name + "\" has no variant parameter";
            return o;
        }
        if (!parseDoubles(value, v, n)) return bad(n == 3 ? "three numbers" : "a number");
        vparm::vparmFuncs()->setVal(parm, v);
        o.refresh = p.set(p.inst, d->id, parm);
    } else if (d->type == "string") {
        o.refresh = p.set(p.inst, d->id, const_cast<char *>(value.c_str()));
    } else if (isIntType(d->type)) {
        int v = 0;
        auto r = std::from_chars(value.data(), value.data() + value.size(), v);
        if (r.ec != std::errc() || r.ptr != value.data() + value.size()) return bad("an integer");
        o.refresh = p.set(p.inst, d->id, &v);
    } else if (isNumberType(d->type)) {
        double v = 0;
        if (!parseDoubles(value, &v, 1)) return bad("a number");
        o.refresh = p.set(p.inst, d->id, &v);
    } else if (isTripleType(d->type)) {
        double v[3];
        if (!parseDoubles(value, v, 3)) return bad("three numbers");
        o.refresh = p.set(p.inst, d->id, v);
    } else {
        o.message = "controls of type " + d->type + " cannot be set";
        return o;
    }
    o.ok = true;
    return o;
}

bool describe(LWXPanelID panel, PanelInfo &out, double time) {
    Panel p;
    if (!snapshot(panel, p)) return false;
    out = PanelInfo();
    auto it = p.labels.find(0);
    if (it != p.labels.end()) out.title = it->second;
    auto labelOf = [&](unsigned int id) {
        auto l = p.labels.find(id);
        return l == p.labels.end() ? std::string() : l->second;
    };
    for (const auto &[id, pages] : p.tabs) out.tabSets.push_back({id, labelOf(id), pages});
    for (const auto &[id, members] : p.groups) out.groups.push_back({id, labelOf(id), members});
    out.enables = p.enables;
    out.errors = p.errors;
    for (const Control &c : p.controls) {
        ControlInfo ci;
        ci.id = c.id;
        ci.label = c.label;
        ci.ctrlClass = c.ctrlClass;
        ci.enabled = enabledNote(p, c.id).empty();
        if (const Data *d = dataFor(p, c.id)) {
            ci.name = d->name;
            ci.type = d->type;
            void *v = p.get ? p.get(p.inst, c.id) : nullptr;
            if (v && endsWith(d->type, "-env") && vparm::isVParm(v)) {
                const LWVParmFuncs *vf = vparm::vparmFuncs();
                double val[3] = {0, 0, 0};
                vf->getVal(v, time, nullptr, val);
                ci.numbers.assign(val, val + vparm::components(v));
                int state = vf->getState(v);
                ci.enveloped = (state & LWVPSF_ENV) != 0;
                ci.textured = (state & LWVPSF_TEX) != 0;
                ci.hasValue = true;
            } else if (v && d->type == "string") {
                ci.text = boundedText(static_cast<const char *>(v));
                ci.hasValue = true;
            } else if (v && isIntType(d->type)) {
                ci.numbers = {static_cast<double>(*static_cast<const int *>(v))};
                ci.hasValue = true;
            } else if (v && isNumberType(d->type)) {
                ci.numbers = {*static_cast<const double *>(v)};
                ci.hasValue = true;
            } else if (v && isTripleType(d->type)) {
                const double *t = static_cast<const double *>(v);
                ci.numbers.assign(t, t + 3);
                ci.hasValue = true;
            }
        }
        out.controls.push_back(std::move(ci));
    }
    return true;
}

std::string label(LWXPanelID panel, unsigned int id) {
    Panel p;
    if (!snapshot(panel, p)) return "";
    auto it = p.labels.find(id);
    return it == p.labels.end() ? "" : it->second;
}

std::vector<unsigned int> groupMembers(LWXPanelID panel, unsigned int group) {
    Panel p;
    if (!snapshot(panel, p)) return {};
    const std::vector<unsigned int> *m = membersOf(p.groups, group);
    if (!m) m = membersOf(p.tabs, group);
    return m ? *m : std::vector<unsigned int>{};
}

std::vector<unsigned int> dependants(LWXPanelID panel, unsigned int governing) {
    Panel p;
    if (!snapshot(panel, p)) return {};
    std::vector<unsigned int> out;
    for (const auto &[gov, deps] : p.enables)
        if (gov == governing) out.insert(out.end(), deps.begin(), deps.end());
    return out;
}

std::vector<std::string> hintErrors(LWXPanelID panel) {
    Panel p;
    return snapshot(panel, p) ? p.errors : std::vector<std::string>{};
}

void clearAll() { reg().write().clear<Panel>(); }

}  // namespace host::panel
