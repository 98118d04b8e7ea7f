// SPDX-License-Identifier: Apache-2.0
// The shader plug-in as the host drives it outside the tile loop: the services published for a
// scene, the plug-in loaded, one instance per surface shader, each instance's options panel (its
// "ShaderInterface"), the scene's settings applied through that panel and the host's variant
// parameters, saved instance data loaded and saved through the host's states, and the panel's
// print. Main thread only.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/plugin/plugin_loader.h"
#include "host/plugin/shader_slot.h"
#include "host/scene/scene.h"
#include "host/state/memory_state.h"
#include "sdk/shader.h"
#include "sdk/xpanel.h"

namespace host::plugin {

// Publishes every host service for a scene for the object's life (the renderer's order: the
// active scene, scene information, render memory, then the services).
class HostSession {
public:
    HostSession(const scene::Scene &scene, int width, int height, int samples);
    ~HostSession();
    HostSession(const HostSession &) = delete;
    HostSession &operator=(const HostSession &) = delete;
};

// One instance: its handler, the surface it shades (-1: none), its place in the surface's shader
// list, and its options panel (null when the plug-in offers none).
struct ShaderInstance {
    const LWShaderHandler *handler = nullptr;
    LWInstance instance = nullptr;
    int surface = -1, index = 0;
    std::string server;
    LWXPanelID panel = nullptr;
};

class ShaderSet {
public:
    ShaderSet() = default;
    ShaderSet(const ShaderSet &) = delete;
    ShaderSet &operator=(const ShaderSet &) = delete;
    ~ShaderSet() { destroy(); }

    // Loads the plug-in and creates the instances, each with its saved data or its settings, then
    // the overrides: settings given outside the scene file (a preset's, a sweep's value), each
    // applied to every instance whose panel has a control of that data name. Status 0, 2 for bad input (an unknown
    // shader, a refused setting: `message` names the file and the JSON path), 1 for any other failure.
    int open(const scene::Scene &scene, const std::string &pluginPath,
             const std::vector<scene::ShaderSetting> &overrides, std::string &message);
    // One instance of the plug-in's first shader on no surface, with its defaults.
    int openDefault(const std::string &pluginPath, std::string &message);

    const std::vector<ShaderInstance> &instances() const { return instances_; }
    // The instances by surface index, as render threads read them.
    std::vector<std::vector<ShaderSlot>> slots(size_t surfaces) const;

    std::string init();  // render initialisation; the first error stops it
    std::string newTime(int frame, double time);
    void destroy();  // clean-up of initialised ones, then destruction

    // The instance's data through its save, in a host state format.
    std::vector<uint8_t> save(const ShaderInstance &s, state::Format format) const;

private:
    const LWShaderHandler *handler(const std::string &server);
    int create(const std::string &server, scene::Surface *surface, int si, int k, std::string &message);

    struct HandlerTables {
        LWShaderHandler handler = {};
        LWInstanceFuncs inst = {};
        LWItemFuncs item = {};
        LWRenderFuncs rend = {};
    };

    PluginModule module_;
    std::map<std::string, std::unique_ptr<HandlerTables>> handlers_;
    std::vector<ShaderInstance> instances_;
    std::vector<ShaderInstance> initialised_;
    std::string pluginPath_;
};

// Applies one setting by its data-description name to an instance's panel: a value for a variant
// parameter (a constant, per-component envelope keys, or a texture over either), a string, an
// integer or toggle, a number or three numbers. Returns "" or why it was refused ("FILE: PATH:
// why", FILE being `givenIn` or, when that is empty, the scene file), leaving nothing half-applied
// that the renderer would use.
std::string applySetting(LWXPanelID panel, const std::string &name, const scene::SettingValue &value,
                         const std::string &path, const scene::Scene &scene, const std::string &givenIn = {});

// The range a setting of a data type takes from a scene (numbers and each colour component):
// what applySetting accepts, for hosts that show it.
struct SettingRange {
    double lo, hi;
};
SettingRange settingRange(const std::string &type);

// The panels of every shader instance of a scene (or of one default instance when the scene has
// none), as the panel model prints them, each under a heading naming its surface; `overrides` (a
// preset's settings) are applied after each instance's own.
int describePanels(const scene::Scene &scene, const std::string &pluginPath, std::string &text,
                   std::string &message, const std::vector<scene::ShaderSetting> &overrides = {});

// The scene file with each instance's settings replaced by its saved data ("state": {"format",
// "data"}: the text state as a string, the binary one in hex), `overrides` applied before saving.
int saveSceneStates(const scene::Scene &scene, const std::string &pluginPath, state::Format format,
                    std::string &out, std::string &message,
                    const std::vector<scene::ShaderSetting> &overrides = {});

}  // namespace host::plugin
