// SPDX-License-Identifier: Apache-2.0
#include "host/serve/lookdev.h"

#include <algorithm>
#include <cmath>
#include <future>

#include "host/image/image.h"
#include "host/panel/panel_model.h"
#include "host/plugin/shader_session.h"
#include "host/render/renderer.h"
#include "host/scene/loader.h"
#include "host/state/memory_state.h"

namespace host::serve {

namespace {

using json = nlohmann::json;

// What kind of widget a control is, from its data type and control class.
std::string kindOf(const panel::ControlInfo &c) {
    std::string base = c.type;
    if (base.size() > 4 && base.compare(base.size() - 4, 4, "-env") == 0) base.resize(base.size() - 4);
    if (c.ctrlClass == "iBoolean" || base == "iBoolean") return "toggle";
    if (base == "color") return "colour";
    if (base == "percent") return "percentage";
    if (base == "distance") return "distance";
    if (base == "string") return "string";
    if (base == "integer" || base == "iChoice" || base == "choice" || base == "iSlider") return "integer";
    if (base == "float" || base == "angle" || base == "time") return "number";
    if (base == "fvec" || base == "distance3") return "vector";
    return "other";
}

json panelJson(const panel::PanelInfo &p) {
    json controls = json::array();
    for (const panel::ControlInfo &c : p.controls) {
        json j = {{"id", c.id},           {"label", c.label},         {"class", c.ctrlClass},
                  {"name", c.name},       {"type", c.type},           {"kind", kindOf(c)},
                  {"enabled", c.enabled}, {"enveloped", c.enveloped}, {"textured", c.textured}};
        std::string kind = j["kind"];
        if (kind == "string")
            j["value"] = c.text;
        else if (kind == "toggle" && c.numbers.size() == 1)
            j["value"] = c.numbers[0] != 0;
        else if (c.numbers.size() == 1)
            j["value"] = c.numbers[0];
        else if (!c.numbers.empty())
            j["value"] = c.numbers;
        if (kind == "toggle")
            j["range"] = {0, 1};
        else if (kind != "string" && kind != "other") {
            plugin::SettingRange r = plugin::settingRange(c.type);
            j["range"] = {r.lo, r.hi};
        }
        controls.push_back(j);
    }
    auto groups = [](const std::vector<panel::GroupInfo> &v) {
        json out = json::array();
        for (const panel::GroupInfo &g : v)
            out.push_back({{"id", g.id}, {"label", g.label}, {"members", g.members}});
        return out;
    };
    json enables = json::array();
    for (const auto &[gov, deps] : p.enables) enables.push_back({{"governor", gov}, {"dependants", deps}});
    return {{"title", p.title},     {"tabSets", groups(p.tabSets)}, {"groups", groups(p.groups)},
            {"controls", controls}, {"enables", enables},           {"errors", p.errors}};
}

// "FILE: PATH: why" from the settings code, without the scene's file name the page does not need.
std::string withoutFile(const std::string &message, const scene::Scene &scene) {
    std::string head = scene.filename + ": ";
    return message.compare(0, head.size(), head) == 0 ? message.substr(head.size()) : message;
}

}  // namespace

bool encodePng(int width, int height, std::vector<float> rgb, double exposure, bool film,
               std::vector<uint8_t> &out, std::string &why) {
    if (width <= 0 || height <= 0 || rgb.size() != static_cast<size_t>(width) * height * 3) {
        why = "no picture to encode";
        return false;
    }
    if (exposure != 0) image::applyExposure(rgb, exposure);
    if (film) image::applyFilmCurve(rgb);
    std::vector<uint8_t> bytes(rgb.size());
    for (size_t i = 0; i < rgb.size(); ++i)
        bytes[i] = static_cast<uint8_t>(std::lround(image::linearToSrgb(rgb[i]) * 255.0));
    return image::encodePng(width, height, bytes, out, why);
}

Lookdev::Lookdev(scene::Scene &scene, LookdevConfig config) : scene_(scene), config_(std::move(config)) {}

Lookdev::~Lookdev() { stop(); }

int Lookdev::start(std::string &message) {
    int status = 0;
    presets_ = config_.presetsFolder.empty() ? presets::loadPresets(presetsError_)
                                             : presets::loadPresets(config_.presetsFolder, presetsError_);
    host_ = std::thread([this] { hostLoop(); });
    bool queued = runOnHost(
        [&] {
            // Each instance's settings become its saved data: from here on every render, sweep
            // and save starts from the same state the panel shows.
            plugin::HostSession session(scene_, scene_.render.width, scene_.render.height, scene_.render.samples);
            plugin::ShaderSet set;
            status = set.open(scene_, config_.pluginPath, config_.startSettings, message);
            if (status) return;
            for (const plugin::ShaderInstance &s : set.instances()) {
                scene::ShaderRef &ref =
                    scene_.surfaces[static_cast<size_t>(s.surface)]->shaders[static_cast<size_t>(s.index)];
                ref.state = set.save(s, state::Format::Text);
                ref.hasState = true;
                ref.binaryState = false;
            }
            set.destroy();
            std::string why;
            json described = describeInstances(why);
            std::lock_guard<std::mutex> hold(lock_);
            panels_ = described;
            if (!why.empty()) {
                message = why;
                status = 1;
                return;
            }
            started_ = true;
            wantRender_ = true;
            ++generation_;
        },
        false);
    if (!queued && !status) {
        message = "the host thread did not start";
        status = 1;
    }
    return status;
}

void Lookdev::stop() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
        cancel_ = true;
    }
    wake_.notify_all();
    if (host_.joinable()) host_.join();
}

bool Lookdev::runOnHost(const std::function<void()> &job, bool cancelRender) {
    std::promise<bool> done;
    std::future<bool> finished = done.get_future();
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (stopping_ || jobs_.size() >= kMaxQueuedJobs) return false;
        jobs_.push_back([&](bool run) {
            if (run) {
                try {
                    job();
                } catch (...) {
                    done.set_value(false);
                    return;
                }
            }
            done.set_value(run);
        });
        if (cancelRender) cancel_ = true;
    }
    wake_.notify_all();
    return finished.get();
}

void Lookdev::hostLoop() {
    for (;;) {
        std::function<void(bool)> job;
        bool render = false, sweep = false;
        uint64_t generation = 0;
        Sweep todo;
        {
            std::unique_lock<std::mutex> hold(lock_);
            wake_.wait(hold, [&] { return stopping_ || !jobs_.empty() || wantRender_ || hasSweep_; });
            if (stopping_) {
                // Jobs still waiting are answered (their callers wait) without being run.
                for (auto &j : jobs_) j(false);
                jobs_.clear();
                return;
            }
            if (!jobs_.empty()) {
                job = std::move(jobs_.front());
                jobs_.pop_front();
            } else if (wantRender_) {
                render = true;
                wantRender_ = false;
                generation = generation_;
                cancel_ = false;  // under the lock: any change queued from here on cancels
            } else {
                sweep = true;
                hasSweep_ = false;
                todo = pendingSweep_;
                cancel_ = false;
            }
        }
        try {
            if (job) job(true);
            if (render) renderProgressive(generation);
            if (sweep) renderSweep(todo);
        } catch (const std::exception &e) {
            std::lock_guard<std::mutex> hold(lock_);
            renderError_ = std::string("internal failure: ") + e.what();
        }
    }
}

json Lookdev::describeInstances(std::string &message) {
    plugin::HostSession session(scene_, scene_.render.width, scene_.render.height, scene_.render.samples);
    plugin::ShaderSet set;
    json out = json::array();
    if (set.open(scene_, config_.pluginPath, {}, message)) return out;
    for (const plugin::ShaderInstance &s : set.instances()) {
        json entry = {{"surface", scene_.surfaces[static_cast<size_t>(s.surface)]->name}, {"server", s.server}};
        panel::PanelInfo info;
        if (s.panel && panel::describe(s.panel, info)) entry["panel"] = panelJson(info);
        out.push_back(entry);
    }
    return out;
}

std::string Lookdev::applyChange(size_t instance, const std::vector<scene::ShaderSetting> &settings,
                                 bool everyInstance, bool keep) {
    plugin::HostSession session(scene_, scene_.render.width, scene_.render.height, scene_.render.samples);
    plugin::ShaderSet set;
    std::string message;
    if (set.open(scene_, config_.pluginPath, {}, message)) return message;
    if (instance >= set.instances().size()) return "no shader instance " + std::to_string(instance);
    for (size_t k = 0; k < set.instances().size(); ++k) {
        const plugin::ShaderInstance &target = set.instances()[k];
        if (k != instance && !everyInstance) continue;
        if (!target.panel) {
            if (everyInstance) continue;
            return "that shader has no options panel";
        }
        panel::PanelInfo info;
        panel::describe(target.panel, info);
        for (const scene::ShaderSetting &o : settings) {
            bool known = false;
            for (const panel::ControlInfo &c : info.controls) known = known || c.name == o.name;
            if (everyInstance && !known) continue;
            message = plugin::applySetting(target.panel, o.name, o.value, o.name, scene_);
            if (!message.empty()) return withoutFile(message, scene_);
            // A string the plug-in keeps shorter than given is refused rather than silently cut.
            if (o.value.kind != scene::SettingValue::Kind::Text) continue;
            panel::describe(target.panel, info);
            for (const panel::ControlInfo &c : info.controls)
                if (c.name == o.name && c.text != o.value.text)
                    return o.name + ": \"" + o.value.text + "\" is longer than the " +
                           std::to_string(c.text.size()) + " characters this setting keeps";
        }
    }
    if (!keep) return {};
    // Accepted: every instance's data becomes the scene's saved state.
    for (const plugin::ShaderInstance &s : set.instances()) {
        scene::ShaderRef &ref =
            scene_.surfaces[static_cast<size_t>(s.surface)]->shaders[static_cast<size_t>(s.index)];
        ref.state = set.save(s, state::Format::Text);
        ref.hasState = true;
        ref.binaryState = false;
    }
    return {};
}

std::string Lookdev::encode(const render::Frame &f, std::vector<uint8_t> &png) const {
    std::string why;
    return encodePng(f.width, f.height, f.rgb, config_.exposure, config_.film, png, why) ? std::string() : why;
}

void Lookdev::renderProgressive(uint64_t generation) {
    const int fullW = scene_.render.width, fullH = scene_.render.height;
    struct Stage {
        const char *name;
        int width, height, samples;
    };
    const Stage stages[] = {
        {"preview", std::max(1, fullW / kPreviewDivisor), std::max(1, fullH / kPreviewDivisor), 1},
        {"full", fullW, fullH, 0},
    };
    for (const Stage &stage : stages) {
        bool isFull = std::string(stage.name) == "full";
        {
            // A render resumed after a cancelling request that changed nothing keeps its preview.
            std::lock_guard<std::mutex> hold(lock_);
            if (!isFull && preview_.generation == generation && !preview_.png.empty()) continue;
        }
        render::RenderSettings settings;
        settings.width = stage.width;
        settings.height = stage.height;
        settings.samples = stage.samples;
        settings.threads = config_.threads;
        settings.pluginPath = config_.pluginPath;
        settings.frameStart = settings.frameEnd = scene_.render.frameStart;
        settings.cancel = &cancel_;
        std::vector<uint8_t> png;
        render::RenderOutcome outcome =
            render::renderScene(scene_, settings, [&](const render::Frame &f) { return encode(f, png); });
        std::lock_guard<std::mutex> hold(lock_);
        if (outcome.cancelled) {
            ++cancelled_;
            // Rendered again once the queued requests are done, unless they bring a newer change.
            if (generation == generation_ && !stopping_) wantRender_ = true;
            return;
        }
        if (outcome.status) {
            renderError_ = outcome.message;
            return;
        }
        renderError_.clear();
        Picture &slot = isFull ? full_ : preview_;
        slot = {generation, stage.name, std::move(png)};
    }
}

void Lookdev::renderSweep(const Sweep &sweep) {
    for (size_t k = 0; k < sweep.values.size(); ++k) {
        render::RenderSettings settings;
        settings.threads = config_.threads;
        settings.pluginPath = config_.pluginPath;
        settings.frameStart = settings.frameEnd = scene_.render.frameStart;
        settings.cancel = &cancel_;
        settings.overrides = {{sweep.name, sweep.settings[k]}};
        std::vector<uint8_t> png;
        render::RenderOutcome outcome =
            render::renderScene(scene_, settings, [&](const render::Frame &f) { return encode(f, png); });
        std::lock_guard<std::mutex> hold(lock_);
        if (sweep.id != sweepId_) return;
        if (outcome.cancelled) {
            // Started again from its first cell after the requests that cancelled it (a change
            // makes the cells already rendered stale).
            if (!stopping_) {
                std::fill(sweepCells_.begin(), sweepCells_.end(), std::vector<uint8_t>());
                sweepDone_ = 0;
                pendingSweep_ = sweep;
                hasSweep_ = true;
            }
            return;
        }
        if (outcome.status) {
            sweepError_ = withoutFile(outcome.message, scene_);
            return;
        }
        sweepCells_[k] = std::move(png);
        sweepDone_ = k + 1;
    }
}

Reply Lookdev::handle(const std::string &method, const std::string &path,
                      const std::map<std::string, std::string> &query, const std::string &body) {
    return dispatch(*this, method, path, query, body);
}

Reply Lookdev::panels() const {
    json lights = json::array();
    for (const scene::LightItem *l : scene_.lights) lights.push_back(l->name);
    std::lock_guard<std::mutex> hold(lock_);
    return jsonReply(200, {{"scene", scene_.filename},
                           {"width", scene_.render.width},
                           {"height", scene_.render.height},
                           {"lights", lights},
                           {"canSave", !config_.savePath.empty()},
                           {"instances", panels_}});
}

Reply Lookdev::setControl(const Change &request) {
    std::string why;
    const size_t instance = request.instance;
    std::vector<scene::ShaderSetting> change = {{request.name, scene::readSettingValue(request.value, scene_)}};
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (!started_) return errorReply(503, "the shaders are not open yet");
        if (instance >= panels_.size()) return errorReply(400, "no shader instance " + std::to_string(instance));
    }
    json described;
    uint64_t generation = 0;
    bool queued = runOnHost(
        [&] {
            why = applyChange(instance, change, false);
            if (!why.empty()) return;
            std::string message;
            described = describeInstances(message);
            std::lock_guard<std::mutex> hold(lock_);
            panels_ = described;
            generation = ++generation_;
            wantRender_ = true;
        },
        true);
    if (!queued) return errorReply(503, "too many changes are waiting; try again");
    if (!why.empty()) return errorReply(400, why);
    return jsonReply(200, {{"generation", generation}, {"instances", described}});
}

Reply Lookdev::status() const {
    std::lock_guard<std::mutex> hold(lock_);
    json j = {
        {"generation", generation_},
        {"preview", preview_.generation},
        {"full", full_.generation},
        {"cancelled", cancelled_},
        {"error", renderError_},
        {"sweep", {{"id", sweepId_}, {"done", sweepDone_}, {"labels", sweepLabels_}, {"error", sweepError_}}}};
    return jsonReply(200, j);
}

Reply Lookdev::image(const std::string &stage) const {
    std::lock_guard<std::mutex> hold(lock_);
    const Picture &p = stage == "full" ? full_ : preview_;
    if (p.png.empty()) return errorReply(404, "no " + stage + " picture yet");
    return {200, "image/png", std::string(p.png.begin(), p.png.end())};
}

Reply Lookdev::startSweep(const SweepRequest &request) {
    std::string why;
    const std::string &name = request.name;
    bool known = false;
    {
        std::lock_guard<std::mutex> hold(lock_);
        for (const json &inst : panels_)
            if (inst.contains("panel"))
                for (const json &c : inst["panel"]["controls"]) known = known || c["name"] == name;
    }
    if (!known) return errorReply(400, "no control named \"" + name + "\"");
    Sweep s;
    s.name = name;
    s.values = request.values;
    std::vector<scene::ShaderSetting> tried;
    for (const json &v : s.values) {
        s.settings.push_back(scene::readSettingValue(v, scene_));
        tried.push_back({name, s.settings.back()});
    }
    // Each value passes the panel's own checks, as a change would, before any cell is rendered.
    bool queued = runOnHost([&] { why = applyChange(0, tried, true, false); }, false);
    if (!queued) return errorReply(503, "too many changes are waiting; try again");
    if (!why.empty()) return errorReply(400, why);
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (stopping_) return errorReply(503, "stopping");
        s.id = ++sweepId_;
        sweepDone_ = 0;
        sweepError_.clear();
        sweepLabels_.clear();
        for (const json &v : s.values)
            sweepLabels_.push_back(name + " = " + (v.is_string() ? v.get<std::string>() : v.dump()));
        sweepCells_.assign(s.values.size(), {});
        pendingSweep_ = s;  // only the newest sweep is rendered
        hasSweep_ = true;
        cancel_ = true;
    }
    wake_.notify_all();
    return jsonReply(202, {{"id", s.id}});
}

Reply Lookdev::sweepImage(size_t cell) const {
    std::lock_guard<std::mutex> hold(lock_);
    if (cell >= sweepCells_.size() || sweepCells_[cell].empty())
        return errorReply(404, "that cell is not rendered");
    return {200, "image/png", std::string(sweepCells_[cell].begin(), sweepCells_[cell].end())};
}

Reply Lookdev::save() {
    if (config_.savePath.empty())
        return errorReply(403, "saving is off: start velmora-render --serve with --save PATH to allow it");
    std::string text, message;
    int status = 0;
    bool queued = runOnHost(
        [&] {
            status = plugin::saveSceneStates(scene_, config_.pluginPath,
                                             config_.binaryState ? state::Format::Binary : state::Format::Text,
                                             text, message);
        },
        false);
    if (!queued) return errorReply(503, "too many changes are waiting; try again");
    if (status) return errorReply(status == 2 ? 400 : 500, withoutFile(message, scene_));
    io::FileId id = io::fileId(config_.savePath);
    for (const io::FileId &in : config_.inputs)
        if (id == in) return errorReply(409, config_.savePath + " is a file the scene is read from");
    std::string why;
    bool written = io::writeFileAtomic(
        config_.savePath, [&](const io::ByteSink &sink, std::string &) { return sink(text.data(), text.size()); },
        why);
    if (!written) return errorReply(500, config_.savePath + ": cannot write the scene: " + why);
    return jsonReply(200, {{"saved", config_.savePath}});
}

Reply Lookdev::presets() const {
    json list = json::array();
    for (const presets::Preset &p : presets_) list.push_back({{"name", p.name}, {"source", p.source}});
    return jsonReply(200, {{"presets", list}, {"error", presetsError_}});
}

Reply Lookdev::applyPreset(const std::string &name) {
    std::string why;
    const presets::Preset *p = presets::findPreset(presets_, name);
    if (!p) return errorReply(400, "no preset \"" + name + "\"");
    std::vector<scene::ShaderSetting> settings = scene::readSettings(p->settings, scene_);
    json described;
    uint64_t generation = 0;
    bool queued = runOnHost(
        [&] {
            why = applyChange(0, settings, true);
            if (!why.empty()) return;
            std::string message;
            described = describeInstances(message);
            std::lock_guard<std::mutex> hold(lock_);
            panels_ = described;
            generation = ++generation_;
            wantRender_ = true;
        },
        true);
    if (!queued) return errorReply(503, "too many changes are waiting; try again");
    if (!why.empty()) return errorReply(400, p->name + ": " + why);
    return jsonReply(200, {{"generation", generation}, {"instances", described}});
}

uint64_t Lookdev::generation() const {
    std::lock_guard<std::mutex> hold(lock_);
    return generation_;
}

std::string Lookdev::stageOf(uint64_t generation) const {
    std::lock_guard<std::mutex> hold(lock_);
    if (full_.generation == generation && !full_.png.empty()) return "full";
    if (preview_.generation == generation && !preview_.png.empty()) return "preview";
    return "";
}

}  // namespace host::serve
