// SPDX-License-Identifier: Apache-2.0
// Filling the irradiance cache before a frame's tiles, and the fingerprint of what its light
// depends on, by which a later frame keeps it.
//
// The fill visits the centre of every pixel, coarse to fine (every 16th pixel, then the pixels
// new at every 8th, 4th, 2nd and 1st), and shades it as a probe: the shaders run and ask for
// radiosity, and where the cache does not cover the spot a record is gathered. Each round splits
// the frame into tiles on all threads; a tile reads the cache as it stood at the start of the
// round plus the records it added itself, and the rounds' records join the cache in tile order.
// So the cache, and every picture rendered from it, is the same on any number of threads.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "host/animation/envelopes.h"
#include "host/render/shading_pvt.h"
#include "sdk/item_info.h"

namespace host::render {

namespace {

constexpr int kFillTile = 16;

// 64-bit FNV-1a over raw bytes.
struct Fingerprint {
    uint64_t h = 1469598103934665603ull;
    void add(const void *data, size_t bytes) {
        const unsigned char *p = static_cast<const unsigned char *>(data);
        for (size_t i = 0; i < bytes; ++i) h = (h ^ p[i]) * 1099511628211ull;
    }
    void add(const Vec3 &v) {
        double d[3] = {v[0], v[1], v[2]};
        add(d, sizeof d);
    }
};

bool hasEnvelope(const scene::SettingValue &v) {
    if (v.kind == scene::SettingValue::Kind::Envelope) return true;
    for (const scene::SettingValue &item : v.items)
        if (hasEnvelope(item)) return true;
    return false;
}

}  // namespace

bool fillIrradianceCache(const RenderContext &rc, int threads, IrradianceCache &cache, IrradianceFillStats &stats,
                         const std::atomic<bool> *cancel) {
    const int tilesX = (rc.width + kFillTile - 1) / kFillTile, tilesY = (rc.height + kFillTile - 1) / kFillTile;
    const int tiles = tilesX * tilesY;
    for (int stride = kFillTile; stride >= 1; stride /= 2) {
        std::vector<IrradianceWriter> added(static_cast<size_t>(tiles));
        std::atomic<int> nextTile{0};
        std::atomic<uint64_t> rays{0};
        auto work = [&]() {
            ThreadState ts;
            ts.rc = &rc;
            ts.probe = true;
            bindThread(&ts);
            for (int t = nextTile++; t < tiles; t = nextTile++) {
                if (cancel && cancel->load(std::memory_order_relaxed)) break;
                ts.cacheWriter = &added[static_cast<size_t>(t)];
                const int x0 = (t % tilesX) * kFillTile, y0 = (t / tilesX) * kFillTile;
                for (int y = y0; y < std::min(rc.height, y0 + kFillTile); y += stride)
                    for (int x = x0; x < std::min(rc.width, x0 + kFillTile); x += stride) {
                        if (stride < kFillTile && x % (2 * stride) == 0 && y % (2 * stride) == 0) continue;
                        double c[3];
                        shadeCameraSample(ts, x + 0.5, y + 0.5, c);
                    }
            }
            bindThread(nullptr);
            rays += ts.rays;
        };
        std::vector<std::thread> pool;
        for (int i = 1; i < threads; ++i) pool.emplace_back(work);
        work();
        for (std::thread &t : pool) t.join();
        stats.rays += rays.load();
        if (cancel && cancel->load()) return false;
        for (int level = 0; level < IrradianceCache::kLevels; ++level) {
            std::vector<IrradianceRecord> round;
            for (const IrradianceWriter &w : added)
                round.insert(round.end(), w.added[level].begin(), w.added[level].end());
            stats.added += round.size();
            cache.append(level, round);
        }
    }
    return true;
}

uint64_t lightingFingerprint(const RenderContext &rc, const std::vector<scene::ShaderSetting> &overrides,
                             bool &animated) {
    const scene::Scene &scene = *rc.scene;
    animated = false;
    for (const auto &surface : scene.surfaces)
        for (const scene::ShaderRef &ref : surface->shaders)
            for (const scene::ShaderSetting &s : ref.settings) animated = animated || hasEnvelope(s.value);
    for (const scene::ShaderSetting &s : overrides) animated = animated || hasEnvelope(s.value);
    // Envelopes the shader plug-ins made for their own parameters.
    animated = animated || animation::anyAnimated();
    Fingerprint f;
    for (const trace::TracedMesh &m : rc.tracer->meshes())
        f.add(m.worldPos.data(), m.worldPos.size() * sizeof(float));
    for (const LightState &l : rc.lights) {
        for (const Vec3 *v : {&l.pos, &l.right, &l.up, &l.forward, &l.color}) f.add(*v);
        double d[3] = {l.range, l.cone, l.edge};
        f.add(d, sizeof d);
    }
    // Every item but the camera: textures may follow a picked item.
    for (const auto &item : scene.items) {
        if (item->kind == scene::ItemKind::Camera) continue;
        for (int param : {LWIP_W_POSITION, LWIP_W_RIGHT, LWIP_W_UP, LWIP_W_FORWARD})
            f.add(scene::itemParam(*item, param, rc.time));
    }
    return f.h;
}

uint64_t cameraFingerprint(const RenderContext &rc) {
    Fingerprint f;
    for (const Vec3 *v : {&rc.cameraPos, &rc.cameraRight, &rc.cameraUp, &rc.cameraForward}) f.add(*v);
    double d[3] = {rc.zoom, static_cast<double>(rc.width), static_cast<double>(rc.height)};
    f.add(d, sizeof d);
    return f.h;
}

}  // namespace host::render
