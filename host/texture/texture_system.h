// SPDX-License-Identifier: Apache-2.0
// The host's layered textures and the "Texture Functions 3" table over them.
//
// A texture is a stack of layers; firstLayer is the top. Evaluation starts from the value the
// caller passes in (the channel's own value) and applies the layers from the bottom up: each
// layer gives a value and an alpha, and blends over what lies below with its opacity and mode.
// The result's alpha is the layers' combined coverage, a + below * (1 - a).
//
// Layers: an image map (planar or spherical projection about a centre, scaled by a size; the
// image is the layer parameter TXTAG_IMAGE), a gradient (keys over the value of one input chosen
// by name: the host's own inputs below, or an input the texture's gradient-input context added),
// and a fractal noise procedural. A gradient on a plug-in input calls the context's paramTime
// once per texture and time at newtime, paramEvaluate per spot, and paramCleanup at cleanup, at
// the next newtime, and when the texture or its layer goes away.
//
// A context's paramTime and paramCleanup run while the texture system is locked for writing, so
// they must not call back into it; paramEvaluate may (it may shade other textured surfaces).
//
// Threads: evaluate may be called from render threads concurrently; everything else runs on the
// host's main thread, not while a render evaluates the same texture.
#pragma once

#include <string>
#include <vector>

#include "host/texture/image_source.h"
#include "sdk/texture_funcs.h"

namespace host::texture {

enum class Blend { Normal = 0, Additive = 1, Subtractive = 2, Multiply = 3 };
enum class Projection { Planar = 0, Spherical = 1 };

// The host's own gradient inputs, by name.
extern const char *const kHostInputs[];  // ends with null
constexpr const char *kPreviousLayer = "Previous Layer";

struct GradientKey {
    double position = 0;
    double value[3] = {0, 0, 0};  // colour, or the value in [0]
    double alpha = 1;
};

// Common settings of a layer; fields that do not apply to its type are ignored.
struct LayerSettings {
    double opacity = 1;
    Blend blend = Blend::Normal;
    // Image map and procedural placement.
    Projection projection = Projection::Planar;
    int axis = 2;  // 0 x, 1 y, 2 z: the planar axis or the sphere's pole
    double center[3] = {0, 0, 0};
    double size[3] = {1, 1, 1};
    bool worldCoords = false;  // world positions instead of object positions
    // Procedural: value noise summed over octaves, in [0, 1].
    double color[3] = {1, 1, 1};  // the layer's colour for colour textures
    double value = 1;             // the layer's value for scalar textures
    int octaves = 4;
    // Gradient: the input by name and its keys, sorted by position.
    std::string input = kPreviousLayer;
    std::vector<GradientKey> keys;
    LWItemID pickedItem = nullptr;  // the item handed to a plug-in input's descriptor
};

const LWTextureFuncs *textureFuncs();

// Host-side access beyond the table.
bool isTexture(LWTextureID tex);
LWTLayerID addLayer(LWTextureID tex, int layerType);  // on top; null when refused
bool removeLayer(LWTextureID tex, LWTLayerID layer);
bool getLayer(LWTLayerID layer, LayerSettings &out);
bool setLayer(LWTLayerID layer, const LayerSettings &in);
int layerCount(LWTextureID tex);
// Animates a layer's opacity with an "Opacity" channel in the layer's group (which exists once
// the texture has an envelope group); the envelope, null when off or refused. The opacity
// follows it from the next newtime.
LWEnvelopeID envelopeOpacity(LWTLayerID layer, bool on);
LWTxtrContextID textureContext(LWTextureID tex);
// Names of a context's inputs in number order (number = index + 1).
std::vector<std::string> contextInputs(LWTxtrContextID ctx);
// The image sampler (null: image layers give no colour); kept until replaced.
void setImageSource(const ImageSource *source);
void clearAll();

}  // namespace host::texture
