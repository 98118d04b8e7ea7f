// SPDX-License-Identifier: Apache-2.0
// "LW Image List 3": the scene's images, followed by those loaded through the list (load and
// sceneLoad), with pixel access and filtered spot sampling.
//
// Spot sampling filters over a square footprint whose side is the spot size times the image's
// longer side, in pixels. Footprints up to one pixel take the bilinear (blend on) or nearest
// (blend off) colour. Larger ones go through the scene's spot filter (OpenImageIO's texture
// system over the image's mip levels): trilinear with blend on, the nearest level's nearest
// pixel with it off. needAA hands the image to the filter ahead of the first large spot.
// Horizontally the image wraps; vertically it clamps.
//
// The list only grows while the services are registered: a load publishes a new snapshot of it
// and readers take the snapshot without a lock. A loaded image's pixels are decoded on first use
// here (once, whichever thread comes first); a file that fails then is reported once and reads as
// black.
#include <algorithm>
#include <cmath>
#include <string>

#include "host/services/scene_services.h"
#include "host/services/scene_state.h"

namespace host::services {

namespace {

// Version of the image data sceneSave writes: the image's name and its file path.
constexpr int kImageDataVersion = 1;
constexpr int kMaxNameBytes = 1024;
constexpr int kMaxPathBytes = 4096;

// Decodes a slot's image on first use, reporting a failure once. False when it has no pixels.
bool decoded(const ImageSlot &slot) {
    bool attempted = false;
    std::string why;
    if (slot.image->decode(why, &attempted)) return true;
    if (attempted) report(why + " (read through the image list)");
    return false;
}

// Appends a slot and publishes a table that holds it. Caller holds imageLock.
ImageSlot &addSlot(SceneState &s, const image::Image *image, std::unique_ptr<image::Image> owned) {
    const ImageTable *old = s.images.load(std::memory_order_acquire);
    auto table = old ? std::make_unique<ImageTable>(*old) : std::make_unique<ImageTable>();
    s.imageSlots.emplace_back();
    ImageSlot &slot = s.imageSlots.back();
    slot.image = image;
    slot.owned = std::move(owned);
    slot.order = table->order.size();
    table->order.push_back(&slot);
    table->byID[image] = &slot;
    s.images.store(table.get(), std::memory_order_release);
    s.imageTables.push_back(std::move(table));
    return slot;
}

// The slot's image in the spot filter, handed over on first call. Null when it has no pixels or
// the filter refused it (reported once).
const image::SpotFilter::Texture *filterTexture(SceneState &s, ImageSlot &slot) {
    if (const image::SpotFilter::Texture *t = slot.texture.load(std::memory_order_acquire)) return t;
    std::lock_guard<std::mutex> hold(s.imageLock);
    if (const image::SpotFilter::Texture *t = slot.texture.load(std::memory_order_acquire)) return t;
    if (slot.textureRefused || !decoded(slot)) return nullptr;
    if (!s.spotFilter) s.spotFilter = std::make_unique<image::SpotFilter>();
    std::string why;
    const image::SpotFilter::Texture *t = s.spotFilter->add(*slot.image, why);
    if (!t) {
        slot.textureRefused = true;
        report("image \"" + slot.image->name + "\" " + why + " (read through the image list)");
        return nullptr;
    }
    slot.texture.store(t, std::memory_order_release);
    return t;
}

// The list's name for an image loaded from `path`: its file name, made unique in the list.
std::string uniqueName(const ImageTable *t, const std::string &path) {
    size_t cut = path.find_last_of("/\\");
    std::string base = cut == std::string::npos ? path : path.substr(cut + 1);
    if (base.empty()) base = "image";
    auto taken = [&](const std::string &n) {
        if (t)
            for (const ImageSlot *sl : t->order)
                if (sl->image->name == n) return true;
        return false;
    };
    std::string name = base;
    for (int k = 2; taken(name); ++k) name = base + " (" + std::to_string(k) + ")";
    return name;
}

// Finds the image loaded from `path`, or loads it (a relative path is also tried beside the
// scene file). Reports a file it cannot read, naming `place`. Null on failure.
ImageSlot *findOrLoad(SceneState &s, const std::string &path, const std::string &wantedName,
                      const std::string &place) {
    if (path.empty()) return nullptr;
    std::lock_guard<std::mutex> hold(s.imageLock);
    const ImageTable *t = s.images.load(std::memory_order_acquire);
    if (t)
        for (ImageSlot *sl : t->order)
            if (sl->image->filename == path) return sl;
    auto img = std::make_unique<image::Image>();
    std::string why;
    bool ok = image::loadImage(path, *img, why);
    if (!ok && path[0] != '/' && !s.scene->filename.empty()) {
        size_t cut = s.scene->filename.find_last_of('/');
        if (cut != std::string::npos) {
            std::string beside = s.scene->filename.substr(0, cut + 1) + path;
            std::string why2;
            ok = image::loadImage(beside, *img, why2);
        }
    }
    if (!ok) {
        report("image file \"" + path + "\" (" + place + "): " + why);
        return nullptr;
    }
    img->filename = path;
    img->name = wantedName.empty() ? uniqueName(t, path) : wantedName;
    const image::Image *raw = img.get();
    return &addSlot(s, raw, std::move(img));
}

ImageSlot *slotOf(LWImageID id) {
    const SceneState *s = current();
    return s ? findImage(*s, id) : nullptr;
}

LWImageID toID(const ImageSlot *slot) { return slot ? const_cast<image::Image *>(slot->image) : nullptr; }

LWImageID imgFirst() {
    const SceneState *s = current();
    const ImageTable *t = s ? s->images.load(std::memory_order_acquire) : nullptr;
    return t && !t->order.empty() ? toID(t->order.front()) : nullptr;
}

LWImageID imgNext(LWImageID id) {
    const SceneState *s = current();
    const ImageTable *t = s ? s->images.load(std::memory_order_acquire) : nullptr;
    const ImageSlot *slot = s ? findImage(*s, id) : nullptr;
    if (!t || !slot || slot->order + 1 >= t->order.size()) return nullptr;
    return toID(t->order[slot->order + 1]);
}

LWImageID imgLoad(const char *filename) {
    SceneState *s = current();
    if (!s || !filename) return nullptr;
    try {
        return toID(findOrLoad(*s, filename, "", "loaded through the image list"));
    } catch (...) {
        return nullptr;
    }
}

const char *imgName(LWImageID id) {
    const ImageSlot *slot = slotOf(id);
    return slot ? slot->image->name.c_str() : nullptr;
}

// Images are stills: every frame gives the same file. Null for an image without a file.
const char *imgFilename(LWImageID id, LWFrame) {
    const ImageSlot *slot = slotOf(id);
    return slot && !slot->image->filename.empty() ? slot->image->filename.c_str() : nullptr;
}

int imgIsColor(LWImageID id) {
    const ImageSlot *slot = slotOf(id);
    return slot && decoded(*slot) && slot->image->isColor() ? 1 : 0;
}

void imgNeedAA(LWImageID id) {
    SceneState *s = current();
    ImageSlot *slot = s ? findImage(*s, id) : nullptr;
    if (!slot) return;
    try {
        filterTexture(*s, *slot);
    } catch (...) {
        // Large spots try again on first use.
    }
}

void imgSize(LWImageID id, int *w, int *h) {
    const ImageSlot *slot = slotOf(id);
    if (w) *w = slot ? slot->image->width : 0;
    if (h) *h = slot ? slot->image->height : 0;
}

const float *pixelAt(const ImageSlot *slot, int x, int y) {
    if (!slot || x < 0 || y < 0 || x >= slot->image->width || y >= slot->image->height || !decoded(*slot))
        return nullptr;
    return slot->image->pixel(x, y);
}

// Linear-light luminance (Rec. 709 weights); 0 outside the image.
double imgLuma(LWImageID id, int x, int y) {
    const float *p = pixelAt(slotOf(id), x, y);
    return p ? 0.2126 * p[0] + 0.7152 * p[1] + 0.0722 * p[2] : 0.0;
}

void imgRGB(LWImageID id, int x, int y, LWDVector rgb) {
    if (!rgb) return;
    const float *p = pixelAt(slotOf(id), x, y);
    for (int c = 0; c < 3; ++c) rgb[c] = p ? p[c] : 0.0;
}

void imgRGBSpot(LWImageID id, double u, double v, double spotSize, int blend, LWDVector rgb) {
    if (!rgb) return;
    rgb[0] = rgb[1] = rgb[2] = 0.0;
    SceneState *s = current();
    ImageSlot *slot = s ? findImage(*s, id) : nullptr;
    if (!slot || !std::isfinite(u) || !std::isfinite(v) || !decoded(*slot)) return;
    const image::Image &img = *slot->image;
    double footprint = spotSize * std::max(img.width, img.height);
    if (!(footprint > 1.0) || !std::isfinite(footprint)) return img.sample(u, v, blend != 0, rgb);
    try {
        if (const image::SpotFilter::Texture *t = filterTexture(*s, *slot))
            s->spotFilter->sample(t, u, v, footprint, blend != 0, rgb);
    } catch (...) {
        rgb[0] = rgb[1] = rgb[2] = 0.0;
    }
}

// Reads back what imgSceneSave wrote; finds the image by name, then by file, else loads the file
// under the saved name. Null for data it cannot use.
LWImageID imgSceneLoad(const LWLoadState *load) {
    SceneState *s = current();
    if (!s || !load || !load->readI4 || !load->readStr) return nullptr;
    try {
        int version = 0;
        if (load->readI4(load->readData, &version, 1) != 1 || version != kImageDataVersion) return nullptr;
        std::vector<char> name(kMaxNameBytes, '\0'), path(kMaxPathBytes, '\0');
        if (load->readStr(load->readData, name.data(), kMaxNameBytes) < 0) return nullptr;
        if (load->readStr(load->readData, path.data(), kMaxPathBytes) < 0) return nullptr;
        name.back() = path.back() = '\0';
        const std::string n(name.data()), p(path.data());
        const ImageTable *t = s->images.load(std::memory_order_acquire);
        if (t && !n.empty())
            for (const ImageSlot *sl : t->order)
                if (sl->image->name == n) return toID(sl);
        return toID(findOrLoad(*s, p, n, "image \"" + n + "\" in saved plug-in data"));
    } catch (...) {
        return nullptr;
    }
}

void imgSceneSave(const LWSaveState *save, LWImageID id) {
    const ImageSlot *slot = slotOf(id);
    if (!slot || !save || !save->writeI4 || !save->writeStr) return;
    const int version = kImageDataVersion;
    save->writeI4(save->writeData, &version, 1);
    save->writeStr(save->writeData, slot->image->name.c_str());
    save->writeStr(save->writeData, slot->image->filename.c_str());
}

// Every slot of the record is filled below; a slot added to the record must be added here too.
static_assert(sizeof(LWImageList) == 13 * sizeof(void (*)()), "LWImageList has 13 slots");

const LWImageList kImageList = {
    imgFirst,      // first
    imgNext,       // next
    imgLoad,       // load
    imgName,       // name
    imgFilename,   // filename
    imgIsColor,    // isColor
    imgNeedAA,     // needAA
    imgSize,       // size
    imgLuma,       // luma
    imgRGB,        // RGB
    imgRGBSpot,    // RGBSpot
    imgSceneLoad,  // sceneLoad
    imgSceneSave,  // sceneSave
};

}  // namespace

void initImages(SceneState &s) {
    std::lock_guard<std::mutex> hold(s.imageLock);
    for (const auto &img : s.scene->images) addSlot(s, img.get(), nullptr);
    if (!s.images.load(std::memory_order_acquire)) {
        auto empty = std::make_unique<ImageTable>();
        s.images.store(empty.get(), std::memory_order_release);
        s.imageTables.push_back(std::move(empty));
    }
}

const LWImageList *imageListTable() { return &kImageList; }

}  // namespace host::services
