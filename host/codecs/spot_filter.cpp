// SPDX-License-Identifier: Apache-2.0
// The spot filter's side in the codecs: OpenImageIO's TextureSystem over images handed over in
// memory (see host/image/spot_filter.h).
#include <OpenImageIO/imagecache.h>
#include <OpenImageIO/imageio.h>
#include <OpenImageIO/texture.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <deque>
#include <mutex>
#include <unordered_map>

#include "host/codecs/codecs_pvt.h"
#include "host/image/image.h"

namespace host::codecs {

using image::Image;

namespace {

// The images every filter has been given, by the name its texture goes by. The library makes the
// reader of an image through a plain function, so the reader finds its pixels here by name.
struct Registry {
    std::mutex lock;
    std::unordered_map<std::string, const Image *> images;
    uint64_t serial = 0;
};

Registry &registry() {
    static Registry r;
    return r;
}

// Serves an image's decoded pixels as a file of float RGB scanlines. The filter hands the library
// the pixels directly; this reader only answers for them if the library lets that copy go.
class MemoryInput final : public OIIO::ImageInput {
public:
    const char *format_name() const override { return "velmora-memory"; }
    bool open(const std::string &name, OIIO::ImageSpec &spec) override {
        Registry &r = registry();
        std::lock_guard<std::mutex> hold(r.lock);
        auto it = r.images.find(name);
        if (it == r.images.end()) {
            errorfmt("no image named {} in memory", name);
            return false;
        }
        image_ = it->second;
        m_spec = OIIO::ImageSpec(image_->width, image_->height, 3, OIIO::TypeDesc::FLOAT);
        spec = m_spec;
        return true;
    }
    bool close() override { return true; }
    bool read_native_scanline(int subimage, int miplevel, int y, int, void *data) override {
        if (!image_ || subimage != 0 || miplevel != 0 || y < 0 || y >= image_->height) return false;
        const size_t row = static_cast<size_t>(image_->width) * 3;
        std::memcpy(data, image_->rgb.data() + static_cast<size_t>(y) * row, row * sizeof(float));
        return true;
    }

private:
    const Image *image_ = nullptr;
};

OIIO::ImageInput *makeMemoryInput() { return new MemoryInput; }

struct Texture {
    OIIO::TextureSystem::TextureHandle *handle = nullptr;
    int width = 0, height = 0;
};

struct Filter {
    OIIO::TextureSystem *system = nullptr;
    std::mutex lock;                 // guards `textures` and `names`
    std::deque<Texture> textures;    // never move once added
    std::vector<std::string> names;  // this filter's entries in the registry
};

}  // namespace

void *newFilter() {
    auto filter = std::make_unique<Filter>();
    // A system of its own, so no other user shares its cache or settings. Each level of an image
    // is one tile (no tiling of memory that is already there), made from the level above when
    // first needed, on the thread that first needs it.
    OIIO::attribute("threads", 1);
    OIIO::TextureSystem *system = filter->system = OIIO::TextureSystem::create(false);
    if (system) {
        system->attribute("automip", 1);
        system->attribute("autotile", 0);
        system->attribute("accept_untiled", 1);
        system->attribute("deduplicate", 0);
        system->attribute("forcefloat", 1);
    }
    return filter.release();
}

void deleteFilter(void *handle) {
    std::unique_ptr<Filter> filter(static_cast<Filter *>(handle));
    if (!filter) return;
    if (filter->system) OIIO::TextureSystem::destroy(filter->system, true);
    Registry &r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    for (const std::string &name : filter->names) r.images.erase(name);
}

const void *addToFilter(void *handle, const Image &image, std::string &why) {
    Filter *impl = static_cast<Filter *>(handle);
    if (!impl->system) {
        why = "cannot be filtered: " + OIIO::geterror();
        return nullptr;
    }
    if (image.width <= 0 || image.height <= 0 ||
        image.rgb.size() < static_cast<size_t>(image.width) * image.height * 3) {
        why = "holds no pixels";
        return nullptr;
    }
    std::string name;
    {
        Registry &r = registry();
        std::lock_guard<std::mutex> hold(r.lock);
        name = "velmora-memory:" + std::to_string(++r.serial);
        r.images[name] = &image;
    }
    std::lock_guard<std::mutex> hold(impl->lock);
    impl->names.push_back(name);
    OIIO::ImageCache *cache = impl->system->imagecache();
    const OIIO::ustring file(name);
    // Level 0 is the image's own pixels, not a copy.
    if (!cache->add_file(file, makeMemoryInput) ||
        !cache->add_tile(file, 0, 0, 0, 0, 0, 0, 3, OIIO::TypeDesc::FLOAT, image.rgb.data(), OIIO::AutoStride,
                         OIIO::AutoStride, OIIO::AutoStride, false)) {
        why = "cannot be filtered: " + cache->geterror();
        return nullptr;
    }
    Texture t;
    t.handle = impl->system->get_texture_handle(file);
    t.width = image.width;
    t.height = image.height;
    if (!t.handle) {
        why = "cannot be filtered: " + impl->system->geterror();
        return nullptr;
    }
    impl->textures.push_back(t);
    return &impl->textures.back();
}

void sampleFilter(const void *handle, const void *spot, double u, double v, double footprint, bool blend,
                  double out[3]) {
    const Filter *impl = static_cast<const Filter *>(handle);
    const Texture *texture = static_cast<const Texture *>(spot);
    out[0] = out[1] = out[2] = 0.0;
    if (!texture || !std::isfinite(u) || !std::isfinite(v) || !std::isfinite(footprint)) return;
    OIIO::TextureOpt opt;
    opt.swrap = OIIO::TextureOpt::WrapPeriodic;
    opt.twrap = OIIO::TextureOpt::WrapClamp;
    opt.mipmode = blend ? OIIO::TextureOpt::MipModeTrilinear : OIIO::TextureOpt::MipModeOneLevel;
    opt.interpmode = blend ? OIIO::TextureOpt::InterpBilinear : OIIO::TextureOpt::InterpClosest;
    // Wrapped here in double, so float keeps the position's precision.
    const float s = static_cast<float>(u - std::floor(u)), t = static_cast<float>(std::min(1.0, std::max(0.0, v)));
    const float ds = static_cast<float>(footprint / texture->width),
                dt = static_cast<float>(footprint / texture->height);
    float rgb[3];
    OIIO::TextureSystem *system = impl->system;
    if (!system->texture(texture->handle, system->get_perthread_info(), opt, s, t, ds, 0.0f, 0.0f, dt, 3, rgb)) {
        system->geterror();
        return;
    }
    for (int c = 0; c < 3; ++c) out[c] = rgb[c];
}

}  // namespace host::codecs
