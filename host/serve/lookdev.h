// SPDX-License-Identifier: Apache-2.0
// Look development in the browser: the request handling behind `velmora-render --serve`, without
// any HTTP. One host thread owns everything that calls the plug-in (its instances, panels and
// renders): it applies panel changes through the plug-in's panel callbacks and keeps each
// instance's data in the scene as saved state, then renders progressively (a coarse preview,
// then the scene's own quality). Request threads only queue work for it and read its results.
// A newer change cancels the render in progress; renders are never queued, only the newest
// change is rendered.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/io/file_io.h"
#include "host/presets/presets.h"
#include "host/render/renderer.h"
#include "host/scene/scene.h"
#include "host/serve/requests.h"

namespace host::serve {

constexpr size_t kMaxQueuedJobs = 32;  // panel changes waiting for the host thread
constexpr int kPreviewDivisor = 4;     // the preview's resolution, in parts of the full one

struct LookdevConfig {
    std::string pluginPath;
    std::string savePath;  // empty: saving is refused
    bool binaryState = false;
    int threads = 0;                                  // render threads, 0: every core
    std::vector<io::FileId> inputs;                   // the scene's own files, never overwritten by a save
    std::vector<scene::ShaderSetting> startSettings;  // applied once at start (a preset)
    double exposure = 0;  // stops, and the film display curve: as the renderer's PNG outputs
    bool film = false;
    std::string presetsFolder;  // empty: presets/ as the renderer finds it
};

class Lookdev : private Api {
public:
    // The scene stays owned by the caller and must outlive this object.
    Lookdev(scene::Scene &scene, LookdevConfig config);
    ~Lookdev();
    Lookdev(const Lookdev &) = delete;
    Lookdev &operator=(const Lookdev &) = delete;

    // Opens the instances once (their settings applied as a render would), keeps their data and
    // starts the first render. Status 0, or 2/1 with `message` as a render would refuse.
    int start(std::string &message);
    // Cancels any render and ends the host thread. Safe to call twice.
    void stop();

    // One request: method "GET" or "POST", the path without query, the query's parameters and
    // the body. Never throws.
    Reply handle(const std::string &method, const std::string &path,
                 const std::map<std::string, std::string> &query, const std::string &body);

    // Test and benchmark hooks: the generation of the last applied change, and the stage of the
    // newest picture for it ("", "preview" or "full").
    uint64_t generation() const;
    std::string stageOf(uint64_t generation) const;

private:
    struct Picture {
        uint64_t generation = 0;
        std::string stage;
        std::vector<uint8_t> png;
    };
    struct Sweep {
        std::string name;
        std::vector<nlohmann::json> values;         // as the request gave them, for the labels
        std::vector<scene::SettingValue> settings;  // the values read as settings
        uint64_t id = 0;
    };

    void hostLoop();
    // Runs `job` on the host thread and waits for it; false when the queue is full or stopping.
    bool runOnHost(const std::function<void()> &job, bool cancelRender);
    void renderProgressive(uint64_t generation);
    void renderSweep(const Sweep &sweep);
    // On the host thread: applies settings to one instance (or with `everyInstance`, to each
    // instance whose panel has them) through the panel's callbacks; "" or why they were refused,
    // and nothing changed then. Without `keep`, only checks them: every route's one validation.
    std::string applyChange(size_t instance, const std::vector<scene::ShaderSetting> &settings, bool everyInstance,
                            bool keep = true);
    std::string encode(const render::Frame &f, std::vector<uint8_t> &png) const;
    nlohmann::json describeInstances(std::string &message);  // host thread

    // The answers to the requests dispatch (requests.h) has read.
    Reply panels() const override;
    Reply setControl(const Change &change) override;
    Reply status() const override;
    Reply image(const std::string &stage) const override;
    Reply startSweep(const SweepRequest &request) override;
    Reply sweepImage(size_t cell) const override;
    Reply save() override;
    Reply presets() const override;
    Reply applyPreset(const std::string &name) override;

    scene::Scene &scene_;
    LookdevConfig config_;

    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::function<void(bool run)>> jobs_;  // run false: answered unrun (stopping)
    bool stopping_ = false, wantRender_ = false, started_ = false;
    bool hasSweep_ = false;
    Sweep pendingSweep_;
    uint64_t generation_ = 0;
    uint64_t cancelled_ = 0;  // progressive renders cancelled by a newer request
    nlohmann::json panels_;   // the instances' panels as last described
    Picture preview_, full_;
    std::string renderError_;
    uint64_t sweepId_ = 0, sweepDone_ = 0;
    std::vector<std::string> sweepLabels_;
    std::vector<std::vector<uint8_t>> sweepCells_;
    std::string sweepError_;
    std::atomic<bool> cancel_{false};
    std::vector<presets::Preset> presets_;  // read once at start
    std::string presetsError_;
    std::thread host_;
};

// PNG bytes of a linear RGB frame, encoded as the renderer's .png outputs are: exposure in stops,
// optionally the film display curve, then 8-bit sRGB.
bool encodePng(int width, int height, std::vector<float> rgb, double exposure, bool film,
               std::vector<uint8_t> &out, std::string &why);

}  // namespace host::serve
