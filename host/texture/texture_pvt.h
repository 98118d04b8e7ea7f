// SPDX-License-Identifier: Apache-2.0
// The textures' records, shared by the service (texture_system.cpp) and evaluation
// (texture_evaluate.cpp); not for use outside host/texture.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/texture/texture_system.h"

namespace host::texture {

constexpr double kPi = 3.14159265358979323846;
constexpr int kMaxOctaves = 16;

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

// The plug-in's per-time data for input nb (1-based) of a texture at its time; null when none.
gParamData timeDataFor(const Texture &t, int nb);

// Composites the texture's layers, bottom first, over `value` (the texture's return components)
// at a spot and returns the coverage. The caller holds the registry's lock.
double evaluateLocked(const Texture &t, const LWMicropol &mp, double *value, const ImageSource *images);

}  // namespace host::texture
