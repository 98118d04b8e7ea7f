// SPDX-License-Identifier: Apache-2.0
// The host's shading: what render threads do for one ray. It fills the shading access record of
// a hit, runs the surface's shader plug-ins in order, applies their replacement colour, and
// otherwise shades with the host's own model (Lambert diffuse, Blinn-Phong highlight,
// translucency, ambient or backdrop radiosity, reflection and refraction per the surface's
// environment options). It also provides the four functions shaders get in the access record:
// illuminate, rayTrace, rayCast and rayShade. Those take no context: each render thread binds its
// ThreadState first, and they act for the calling thread. Nothing on this path allocates.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include "host/plugin/shader_slot.h"
#include "host/render/irradiance_cache.h"
#include "host/scene/scene.h"
#include "host/trace/tracer.h"
#include "sdk/shader.h"

namespace host::render {

// A light at the frame's time, in world space.
struct LightState {
    const scene::LightItem *item = nullptr;
    scene::Vec3 pos{0, 0, 0}, right{1, 0, 0}, up{0, 1, 0}, forward{0, 0, 1};
    scene::Vec3 color{0, 0, 0};  // colour times intensity
    double range = 1, cone = 0.5, edge = 0;
};

// Everything render threads read for one frame; built on the main thread, then read-only.
struct RenderContext {
    const scene::Scene *scene = nullptr;
    const trace::Tracer *tracer = nullptr;
    double time = 0;
    int width = 1, height = 1;
    scene::Vec3 cameraPos{0, 0, 0}, cameraRight{1, 0, 0}, cameraUp{0, 1, 0}, cameraForward{0, 0, 1};
    double zoom = 3.2;
    double pixelSpread = 0.001;  // angular size of one pixel, radians
    std::vector<LightState> lights;
    std::vector<std::vector<plugin::ShaderSlot>> shaders;  // by surface index; empty under host shading
    // Textures on surface channels by surface index and SurfaceChannel (null: none); null when
    // no surface has one.
    const std::vector<std::array<LWTextureID, scene::kSurfaceChannels>> *channelTextures = nullptr;
    int renderOpts = 0;
    int recursionLimit = 8;
    double eps = 1e-4;  // self-intersection offset along rays
    // Secondary rays whose weight in the pixel falls below this are not traced: they fall back as
    // rays beyond the recursion limit do (see docs/rendering.md). 0 traces every ray.
    double rayCutoff = 0.001;
    bool simpleShadows = true;  // no transparent surface and every object casts shadows
    // Rays leaving the spot being shaded start from the smooth surface (see ThreadState::Spot);
    // false starts them from the flat facet, the baseline for comparisons.
    bool smoothOrigins = true;
    // Interpolated radiosity: the frame's irradiance cache (null while it has none).
    const IrradianceCache *irradiance = nullptr;
};

// Builds the frame's context: light states, camera, offsets. Shader slots are filled by the caller.
void prepareContext(RenderContext &rc, const scene::Scene &scene, const trace::Tracer &tracer, double time,
                    int width, int height);

// Per-thread state: the context the host functions act for, recursion depth, pixel and counters.
struct ThreadState {
    const RenderContext *rc = nullptr;
    int depth = 0;
    int bounce = 0;  // gathering steps of radiosity that led to the spot being shaded
    double sx = 0, sy = 0;
    uint32_t rng = 1;
    uint64_t rays = 0;     // rays traced by this thread
    uint64_t cutRays = 0;  // secondary rays not traced for their small weight
    // The weight of the ray being shaded in its pixel: 1 for a camera ray, times mirror for a
    // reflected ray, times transparency and filter for a refracted one.
    double weight = 1.0;
    // The access record of the spot whose shaders run now (null outside them): a plug-in's
    // rayTrace is weighed by its reflection and transparency.
    const LWShaderAccess *spotAccess = nullptr;
    // Interpolated radiosity. While the cache is filled, the records this thread's task adds go
    // to `cacheWriter` (read alongside the cache), and `probe` marks the fill's camera spots,
    // which ask for radiosity but need no direct light. Otherwise the cache is only read, and a
    // spot it does not cover gathers afresh (counted in cacheMisses).
    IrradianceWriter *cacheWriter = nullptr;
    bool probe = false;
    uint64_t cacheMisses = 0;
    std::vector<double> gatherScratch[scene::kMaxRadiosityBounces];  // a record's rays, per level
    // The spot being shaded on this thread. Rays from exactly its position that leave above the
    // smooth surface its corner normals describe start from `lifted`, on that surface, and shadow
    // rays among them pass the facets around the spot; shadow rays that leave below the smooth
    // surface but above the facet start `beneath` the facet, so that the surface itself stands in
    // their way. Rays into the surface keep the position, and so does every ray from a flat facet.
    struct Spot {
        bool set = false;
        bool smooth = false;  // the facet's corner normals bend away from it
        int mesh = -1;
        int corners[3] = {-1, -1, -1};  // the triangle's points
        double facet[3] = {0, 0, 0};    // the triangle's own normal, by its winding
        double pos[3] = {0, 0, 0};
        double lifted[3] = {0, 0, 0};
        double beneath[3] = {0, 0, 0};
        double geometric[3] = {0, 0, 0};  // the facet's normal, on the side the spot was seen from
        double shading[3] = {0, 0, 0};    // the interpolated normal, on the same side
    } spot;
};

// Binds (or with null unbinds) the calling thread's state.
void bindThread(ThreadState *state);
ThreadState *boundThread();

// The functions handed to shaders.
int hostIlluminate(LWItemID light, const LWDVector position, LWDVector dir, LWDVector color);
double hostRayTrace(const LWDVector position, const LWDVector direction, LWDVector color);
double hostRayCast(const LWDVector position, const LWDVector direction);
double hostRayShade(const LWDVector position, const LWDVector direction, LWShaderAccess *sa);

// Colour of the backdrop along a unit direction.
void backdropColor(const scene::Scene &scene, const double dir[3], double out[3]);

// Traces a camera ray for pixel coordinates (sx, sy) (sub-pixel positions allowed) and writes
// the colour seen. Returns whether the ray hit geometry. The thread must be bound.
bool shadeCameraSample(ThreadState &ts, double sx, double sy, double color[3]);

// Interpolated radiosity. fillIrradianceCache adds to `cache` the records the frame of `rc` needs
// (rc.irradiance must point to it), on `threads` threads, the same on any number of them; false
// when cancelled. A cache stays valid for a later frame while the fingerprint of what its light
// depends on (geometry, lights, items) is the same and nothing is animated: shader settings or
// plug-in envelopes that change over time.
struct IrradianceFillStats {
    uint64_t rays = 0;   // rays traced by the fill
    uint64_t added = 0;  // records added
};
bool fillIrradianceCache(const RenderContext &rc, int threads, IrradianceCache &cache, IrradianceFillStats &stats,
                         const std::atomic<bool> *cancel);
uint64_t lightingFingerprint(const RenderContext &rc, const std::vector<scene::ShaderSetting> &overrides,
                             bool &animated);
// What the fill's camera rays depend on: the camera and the frame's size. While it stays the same
// too, a kept cache needs no fill.
uint64_t cameraFingerprint(const RenderContext &rc);

// Traces a ray from org along a unit direction and shades the first hit (the backdrop on a
// miss). Returns the hit distance, negative on a miss.
double traceAndShade(ThreadState &ts, const double org[3], const double dir[3], int flags, LWItemID source,
                     double pathLength, double color[3]);

}  // namespace host::render
