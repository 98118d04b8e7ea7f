// SPDX-License-Identifier: Apache-2.0
#include "host/render/renderer.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <thread>

#include "host/plugin/shader_session.h"
#include "host/plugin/texture_build.h"
#include "host/render/shading.h"
#include "host/services/scene_services.h"
#include "host/trace/tracer.h"
#include "sdk/shader.h"

namespace host::render {

namespace {

constexpr int kTile = 16;

uint32_t pixelHash(int x, int y) {
    uint32_t h = static_cast<uint32_t>(x) * 0x9E3779B1u ^ static_cast<uint32_t>(y) * 0x85EBCA77u;
    h ^= h >> 16;
    h *= 0x7feb352dU;
    h ^= h >> 15;
    return h;
}

// Sample k of n inside a pixel: the centre for one sample, else a shifted R2 sequence.
void samplePosition(int x, int y, int k, int n, double &jx, double &jy) {
    if (n <= 1) {
        jx = jy = 0.5;
        return;
    }
    uint32_t h = pixelHash(x, y);
    double ox = (h & 0xFFFF) / 65536.0, oy = (h >> 16) / 65536.0;
    jx = ox + k * 0.7548776662466927;
    jy = oy + k * 0.5698402909980532;
    jx -= std::floor(jx);
    jy -= std::floor(jy);
}

// How many samples a pixel takes: `most`, or with a threshold, at least `least` and then until
// the estimated error of its mean falls below the threshold. The error is the standard error of
// the sample luminance (after the scene's exposure) seen through a square-root curve, close to
// how 8-bit display levels space out: 0.01 is about 2.5 levels of 255.
struct PixelSampling {
    int least = 1, most = 1;
    double threshold = 0;  // 0: always `most`
    double exposure = 1;   // scale of the samples' luminance
};

PixelSampling pixelSampling(const scene::RenderOptions &ro, int samples) {
    PixelSampling ps;
    ps.most = ps.least = samples;
    if (ro.adaptive) {
        ps.most = ro.adaptiveMaxSamples > 0 ? ro.adaptiveMaxSamples : samples;
        ps.least = std::min(ps.most, ro.adaptiveMinSamples);
        ps.threshold = ro.adaptiveThreshold;
        ps.exposure = std::exp2(ro.exposure);
    }
    return ps;
}

// A sample colour that is not finite or beyond float's range counts as a bad sample and adds
// black, so every pixel stays finite in float outputs too. Coverage counts the samples that hit
// geometry, whatever their colour. Returns the samples taken.
int renderPixel(ThreadState &ts, int x, int y, const PixelSampling &ps, float *out, float *coverage,
                uint64_t &badSamples) {
    constexpr double kFloatMax = std::numeric_limits<float>::max();
    double sum[3] = {0, 0, 0}, c[3], lum = 0, lumSquared = 0;
    int hits = 0, taken = 0;
    while (taken < ps.most) {
        double jx, jy;
        samplePosition(x, y, taken, ps.most, jx, jy);
        ++taken;
        if (shadeCameraSample(ts, x + jx, y + jy, c)) ++hits;
        if (!(std::fabs(c[0]) <= kFloatMax && std::fabs(c[1]) <= kFloatMax && std::fabs(c[2]) <= kFloatMax)) {
            ++badSamples;
            continue;
        }
        for (int i = 0; i < 3; ++i) sum[i] += c[i];
        if (ps.threshold > 0) {
            double y = std::max(0.0, 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2]) * ps.exposure;
            lum += y;
            lumSquared += y * y;
            if (taken >= std::max(2, ps.least)) {
                double mean = lum / taken, variance = std::max(0.0, (lumSquared - lum * mean) / (taken - 1));
                if (std::sqrt(variance / taken) / (2 * std::sqrt(std::max(mean, 1e-4))) < ps.threshold) break;
            }
        }
    }
    for (int i = 0; i < 3; ++i)
        out[i] = static_cast<float>(std::min(kFloatMax, std::max(-kFloatMax, sum[i] / taken)));
    *coverage = static_cast<float>(static_cast<double>(hits) / taken);
    return taken;
}

std::string clockText(double s) {
    char buf[32];
    int t = static_cast<int>(s + 0.5);
    std::snprintf(buf, sizeof buf, "%d:%02d", t / 60, t % 60);
    return buf;
}

void drawProgress(double fraction, double elapsed) {
    const int width = 30;
    int filled = static_cast<int>(fraction * width);
    std::string bar(filled, '#');
    bar.resize(width, '.');
    std::string left = fraction > 0.01 ? clockText(elapsed * (1 - fraction) / fraction) : "?";
    std::fprintf(stderr, "\r[%s] %3d%%  elapsed %s  left %s ", bar.c_str(), static_cast<int>(fraction * 100),
                 clockText(elapsed).c_str(), left.c_str());
    std::fflush(stderr);
}

// Renders one frame's tiles on `threads` threads; the calling thread draws the progress bar.
// Stops between tiles when `cancel` is set; returns false then.
bool renderTiles(const RenderContext &rc, const PixelSampling &ps, int threads, bool progress, Frame &frame,
                 RenderStats &stats, const std::atomic<bool> *cancel) {
    int tilesX = (rc.width + kTile - 1) / kTile, tilesY = (rc.height + kTile - 1) / kTile;
    int tiles = tilesX * tilesY;
    std::atomic<int> nextTile{0}, doneTiles{0};
    std::atomic<uint64_t> rays{0}, cutRays{0}, badSamples{0}, samples{0}, misses{0};
    auto work = [&]() {
        ThreadState ts;  // the tile loop's per-thread scratch state
        ts.rc = &rc;
        uint64_t bad = 0, taken = 0;
        bindThread(&ts);
        for (int t = nextTile++; t < tiles; t = nextTile++) {
            if (cancel && cancel->load(std::memory_order_relaxed)) {
                nextTile = tiles;
                doneTiles = tiles;
                break;
            }
            int x0 = (t % tilesX) * kTile, y0 = (t / tilesX) * kTile;
            for (int y = y0; y < std::min(rc.height, y0 + kTile); ++y)
                for (int x = x0; x < std::min(rc.width, x0 + kTile); ++x) {
                    size_t i = static_cast<size_t>(y) * rc.width + x;
                    taken += renderPixel(ts, x, y, ps, &frame.rgb[i * 3], &frame.alpha[i], bad);
                }
            ++doneTiles;
        }
        bindThread(nullptr);
        rays += ts.rays;
        cutRays += ts.cutRays;
        badSamples += bad;
        samples += taken;
        misses += ts.cacheMisses;
    };
    auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> pool;
    for (int i = 0; i < threads; ++i) pool.emplace_back(work);
    if (progress) {
        while (doneTiles.load() < tiles) {
            double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            drawProgress(static_cast<double>(doneTiles.load()) / tiles, elapsed);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    for (std::thread &t : pool) t.join();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (progress) {
        drawProgress(1.0, seconds);
        std::fprintf(stderr, "\n");
    }
    stats.seconds += seconds;
    stats.rays += rays.load();
    stats.cutRays += cutRays.load();
    stats.badSamples += badSamples.load();
    stats.samples += samples.load();
    stats.cacheMisses += misses.load();
    return !(cancel && cancel->load());
}

// "QZ_lightParam: KEY = VALUE": the value text when the line sets exactly `key`, else null.
const char *tagValue(const std::string &line, const char *key) {
    static const char kPrefix[] = "QZ_lightParam:";
    if (line.compare(0, sizeof kPrefix - 1, kPrefix) != 0) return nullptr;
    size_t p = sizeof kPrefix - 1, n = std::strlen(key);
    while (p < line.size() && std::isspace(static_cast<unsigned char>(line[p]))) ++p;
    if (line.compare(p, n, key) != 0) return nullptr;
    p += n;
    if (p < line.size() && (std::isalnum(static_cast<unsigned char>(line[p])) || line[p] == '_')) return nullptr;
    while (p < line.size() && (std::isspace(static_cast<unsigned char>(line[p])) || line[p] == '=')) ++p;
    return p < line.size() ? line.c_str() + p : nullptr;
}

// A leading decimal integer, saturated to [0, limit]; 0 when there is none.
uint64_t tagCount(const char *s, uint64_t limit) {
    if (*s == '+') ++s;
    if (*s == '-') return 0;
    uint64_t v = 0;
    for (; *s >= '0' && *s <= '9'; ++s) v = std::min(limit, v * 10 + static_cast<uint64_t>(*s - '0'));
    return v;
}

// Decodes, on this thread and before any tile, every image the scene's own settings use: the
// backdrop, light projections, surfaces' environment images and texture layers. A damaged one
// refuses the render with its message; images only plug-ins ask for decode on first use.
bool decodeSceneImages(const scene::Scene &scene, std::string &why) {
    std::vector<int> used{scene.backdrop.image};
    for (const scene::LightItem *l : scene.lights) used.push_back(l->projectionImage);
    for (const auto &s : scene.surfaces) {
        used.push_back(s->reflection.image);
        used.push_back(s->refraction.image);
        for (const scene::TextureSpec &t : s->textures)
            for (const scene::TextureLayerSpec &layer : t.layers) used.push_back(layer.image);
    }
    for (int i : used)
        if (i >= 0 && static_cast<size_t>(i) < scene.images.size() && !scene.images[i]->decode(why)) return false;
    return true;
}

}  // namespace

uint64_t areaShadowRays(const std::vector<std::string> &tags) {
    bool on = false;
    uint64_t side = 0;
    bool seenOn = false, seenSide = false;  // the first line setting a key counts
    for (const std::string &line : tags) {
        if (const char *v = tagValue(line, "areashadow"); v && !seenOn) {
            seenOn = true;
            on = tagCount(v, 1) != 0;
        }
        if (const char *v = tagValue(line, "areashadow_sample"); v && !seenSide) {
            seenSide = true;
            side = tagCount(v, 256);
        }
    }
    return on && side > 1 ? side * side : 1;
}

std::vector<std::string> renderWarnings(const scene::Scene &scene) {
    std::vector<std::string> out;
    for (const scene::LightItem *l : scene.lights) {
        if (l->shadow == scene::ShadowType::Off) continue;
        uint64_t n = areaShadowRays(l->tags);
        if (n > kShadowRaysWarning)
            out.push_back("light \"" + l->name + "\" asks for " + std::to_string(n) +
                          " shadow rays per spot (areashadow_sample); the render may be slow");
    }
    return out;
}

FrameRange frameRange(const scene::Scene &scene, const RenderSettings &settings) {
    FrameRange r{scene.render.frameStart, scene.render.frameEnd, std::max(1, scene.render.frameStep)};
    if (settings.frameEnd >= settings.frameStart) r = {settings.frameStart, settings.frameEnd, 1};
    return r;
}

std::vector<image::ImageAttribute> frameAttributes(const scene::Scene &scene, const RenderSettings &settings,
                                                   int frame) {
    const int width = settings.width > 0 ? settings.width : scene.render.width;
    const int height = settings.height > 0 ? settings.height : scene.render.height;
    std::vector<image::ImageAttribute> out = {
        image::ImageAttribute::ofText("velmora:scene", scene.filename),
        image::ImageAttribute::ofInt("velmora:frame", frame),
        image::ImageAttribute::ofText("velmora:resolution", std::to_string(width) + "x" + std::to_string(height)),
        image::ImageAttribute::ofInt("velmora:samples",
                                     settings.samples > 0 ? settings.samples : scene.render.samples),
        image::ImageAttribute::ofFloat("velmora:ray_cutoff",
                                       settings.rayCutoff >= 0 ? settings.rayCutoff : scene.render.rayCutoff),
        image::ImageAttribute::ofText("velmora:shading", settings.hostShading ? "host" : "plug-in"),
    };
    if (scene.camera) out.push_back(image::ImageAttribute::ofText("velmora:camera", scene.camera->name));
    return out;
}

RenderOutcome renderScene(const scene::Scene &scene, const RenderSettings &settings,
                          const std::function<std::string(const Frame &)> &deliver) {
    RenderOutcome out;
    int width = settings.width > 0 ? settings.width : scene.render.width;
    int height = settings.height > 0 ? settings.height : scene.render.height;
    int samples = settings.samples > 0 ? settings.samples : scene.render.samples;
    int threads = settings.threads > 0 ? settings.threads : std::max(1u, std::thread::hardware_concurrency());
    FrameRange range = frameRange(scene, settings);
    bool onePixel = settings.pixelX >= 0;
    if (onePixel && (settings.pixelX >= width || settings.pixelY < 0 || settings.pixelY >= height)) {
        out.status = 2;
        out.message = "pixel " + std::to_string(settings.pixelX) + "," + std::to_string(settings.pixelY) +
                      " lies outside the " + std::to_string(width) + "x" + std::to_string(height) + " frame";
        return out;
    }

    // Services first, then the plug-in, so activation finds them.
    {
        plugin::HostSession session(scene, width, height, samples);
        plugin::ShaderSet shaders;
        plugin::SurfaceTextures textures;
        if (!decodeSceneImages(scene, out.message) || !textures.build(scene, out.message)) {
            out.status = 2;
            return out;
        }
        if (!settings.hostShading) {
            out.status = shaders.open(scene, settings.pluginPath, settings.overrides, out.message);
            if (out.status) return out;
        }
        std::string e = shaders.init();
        trace::Tracer tracer;
        const PixelSampling ps = pixelSampling(scene.render, samples);
        // Interpolated radiosity's cache, kept from frame to frame while nothing its light depends
        // on changes; filled again (it only grows) when the camera moves.
        IrradianceCache irradiance;
        bool cached = false;
        uint64_t lightingAt = 0, cameraAt = 0;
        uint64_t frames = range.count();
        for (uint64_t k = 0; e.empty() && k < frames; ++k) {
            int f = range.at(k);
            double time = scene.frameTime(f);
            if (!tracer.build(scene, time, e)) break;
            RenderContext rc;
            prepareContext(rc, scene, tracer, time, width, height);
            rc.rayCutoff = settings.rayCutoff >= 0 ? settings.rayCutoff : scene.render.rayCutoff;
            rc.smoothOrigins = settings.smoothOrigins;
            if (!settings.hostShading) rc.shaders = shaders.slots(scene.surfaces.size());
            rc.channelTextures = textures.table().empty() ? nullptr : &textures.table();
            services::setSceneServicesTime(time);
            textures.newTime(time, f);
            e = shaders.newTime(f, time);
            if (!e.empty()) break;
            if (scene.render.radiosity == scene::Radiosity::Interpolated) {
                bool animated = false;
                uint64_t lighting = lightingFingerprint(rc, settings.overrides, animated);
                uint64_t camera = cameraFingerprint(rc);
                bool fill = !cached || animated || lighting != lightingAt || camera != cameraAt;
                if (!cached || animated || lighting != lightingAt) {
                    irradiance.clear();
                    ++out.stats.cacheStarts;
                }
                cached = true;
                lightingAt = lighting;
                cameraAt = camera;
                rc.irradiance = &irradiance;
                if (fill) {
                    IrradianceFillStats fs;
                    auto start = std::chrono::steady_clock::now();
                    bool done = fillIrradianceCache(rc, threads, irradiance, fs, settings.cancel);
                    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                    out.stats.cacheSeconds += s;
                    out.stats.seconds += s;
                    out.stats.rays += fs.rays;
                    if (!done) {
                        out.cancelled = true;
                        break;
                    }
                }
                out.stats.cacheRecords = irradiance.records();
                out.stats.cacheBytes = irradiance.bytes();
            }
            Frame frame;
            frame.number = f;
            frame.width = width;
            frame.height = height;
            size_t pixels = onePixel ? 1 : static_cast<size_t>(width) * height;
            frame.rgb.assign(pixels * 3, 0.0f);
            frame.alpha.assign(pixels, 0.0f);
            if (onePixel) {
                frame.width = frame.height = 1;
                ThreadState ts;
                ts.rc = &rc;
                bindThread(&ts);
                auto start = std::chrono::steady_clock::now();
                out.stats.samples += renderPixel(ts, settings.pixelX, settings.pixelY, ps, frame.rgb.data(),
                                                 frame.alpha.data(), out.stats.badSamples);
                out.stats.seconds +=
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                bindThread(nullptr);
                out.stats.rays += ts.rays;
                out.stats.cutRays += ts.cutRays;
                out.stats.cacheMisses += ts.cacheMisses;
            } else {
                if (!renderTiles(rc, ps, threads, settings.progress, frame, out.stats, settings.cancel)) {
                    out.cancelled = true;
                    break;
                }
            }
            e = deliver(frame);
        }
        textures.cleanup();
        shaders.destroy();
        textures.destroy();
        if (!e.empty()) {
            out.status = 1;
            out.message = e;
        }
    }
    return out;
}

}  // namespace host::render
