// SPDX-License-Identifier: Apache-2.0
// The render sequence: loads the shader plug-in, creates one instance per surface that lists a
// shader, then render initialisation of each instance, per frame the ray-tracing scene at the
// frame's time, new-time of every instance and the tiles on a pool of threads, and finally the
// clean-up and destruction of the instances. Runs on the main thread; only the tiles are
// parallel.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/image/image.h"
#include "host/plugin/shader_session.h"
#include "host/scene/scene.h"

namespace host::render {

struct RenderSettings {
    int width = 0, height = 0, samples = 0;  // 0: the scene's own
    int threads = 0;                         // 0: every core
    int frameStart = 0, frameEnd = -1;       // empty range: the scene's frames (and step)
    double rayCutoff = -1.0;                 // negative: the scene's
    bool hostShading = false;                // ignore shader plug-ins
    bool smoothOrigins = true;               // false: rays leave smooth-shaded spots from the facet
    std::string pluginPath;
    bool progress = false;                        // draw a progress bar on stderr
    int pixelX = -1, pixelY = -1;                 // render only this pixel (debugging)
    std::vector<scene::ShaderSetting> overrides;  // applied to every instance after its own settings
    // When given and set (from any thread), the render stops at the next tile; the frame under
    // way is not delivered.
    const std::atomic<bool> *cancel = nullptr;
};

// A rendered frame, top row first: linear RGB, and per pixel its coverage, the fraction of its
// samples whose camera ray hit geometry (0 where only the backdrop is seen).
struct Frame {
    int number = 0;
    int width = 0, height = 0;
    std::vector<float> rgb;
    std::vector<float> alpha;
};

struct RenderStats {
    double seconds = 0;       // wall time of the tile loops
    uint64_t rays = 0;        // rays traced
    uint64_t samples = 0;     // camera samples
    uint64_t cutRays = 0;     // secondary rays not traced for their small weight
    uint64_t badSamples = 0;  // samples whose colour was not finite or beyond float range
    // Interpolated radiosity: records in the cache after the last frame and its memory, frames
    // that started a cache afresh, the fill's wall time (within `seconds`), and spots the cache
    // did not cover, which gathered afresh.
    uint64_t cacheRecords = 0, cacheBytes = 0, cacheStarts = 0, cacheMisses = 0;
    double cacheSeconds = 0;
};

// The outcome: status 0 on success, 2 for bad input (a shader the plug-in does not offer, a setting
// or texture it refuses; nothing is rendered then), 1 for any other failure, with one line of
// message.
struct RenderOutcome {
    int status = 0;
    std::string message;
    RenderStats stats;
    bool cancelled = false;  // stopped by RenderSettings::cancel (status 0, frames undelivered)
};

// The frames a render goes through: first to last by step (frame numbers anywhere in int's range).
struct FrameRange {
    int first = 1, last = 1, step = 1;
    uint64_t count() const { return first > last ? 0 : (static_cast<uint64_t>(int64_t(last) - first) / step) + 1; }
    int at(uint64_t k) const { return static_cast<int>(first + static_cast<int64_t>(k) * step); }
};
FrameRange frameRange(const scene::Scene &scene, const RenderSettings &settings);

// Shadow rays per spot a light's tag lines ask of the shader plug-in (sampled area shadows:
// "QZ_lightParam: areashadow = 1" with "QZ_lightParam: areashadow_sample = N", N x N rays, at
// most 256 per side); 1 when the light asks for none. Lenient: odd lines are skipped.
uint64_t areaShadowRays(const std::vector<std::string> &tags);

// Warnings worth a word before a render starts: one per light whose tags ask for more than
// kShadowRaysWarning shadow rays per spot.
constexpr uint64_t kShadowRaysWarning = 64;
std::vector<std::string> renderWarnings(const scene::Scene &scene);

// What a frame was rendered with, as header attributes for its file: the scene, frame, size,
// samples, ray cutoff, shading (host or plug-in) and camera. Nothing that differs between runs of
// the same render (no time, no thread count).
std::vector<image::ImageAttribute> frameAttributes(const scene::Scene &scene, const RenderSettings &settings,
                                                   int frame);

// Renders every frame of the range; each finished frame is handed to `deliver`, which returns
// an empty string or the reason it could not keep the frame (that ends the render, status 1).
// Memory grows with the image (one frame buffer), never with samples or frames.
RenderOutcome renderScene(const scene::Scene &scene, const RenderSettings &settings,
                          const std::function<std::string(const Frame &)> &deliver);

}  // namespace host::render
