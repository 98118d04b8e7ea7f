// "LW Image List 3": the scene's images, followed by those loaded through the list (load and
// sceneLoad), with pixel access and filtered spot sampling.
//
// Spot sampling filters over a square footprint whose side is the spot size times the image's
// longer side, in pixels. Footprints up to one pixel take the bilinear (blend on) or nearest
// (blend off) colour. Larger ones use the image's mip chain, built by needAA: trilinear between
// the two nearest levels with blend on, the nearest level's nearest pixel with it off. An image
// spot-sampled without needAA is box-filtered over up to 8 x 8 samples of the footprint.
// Horizontally the image wraps; vertically it clamps.
//
// The list only grows while the services are registered: a load publishes a new snapshot of it
// and readers take the snapshot without a lock. A loaded image's pixels are decoded on first use
// here (once, whichever thread comes first); a file that fails then is reported once and reads as
// black.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "host/services/scene_services.h"
#include "host/services/scene_state.h"

namespace host {

namespace scenesvc {

namespace {

// Version of the image data sceneSave writes: the image's name and its file path.
constexpr int kImageDataVersion = 1;
constexpr int kMaxNameBytes = 1024;
constexpr int kMaxPathBytes = 4096;
constexpr int kMaxBoxSamples = 8;

// Decodes a slot's image on first use, reporting a failure once. False when it has no pixels.
bool decoded(const ImageSlot &slot) {
    bool attempted = false;
    std::string why;
    if (slot.image->decode(why, &attempted)) return true;
    if (attempted) report(why + " (read through the image list)");
    return false;
}

// Appends a slot and publishes a table that holds it. Caller holds imageLock.
ImageSlot &addSlot(SceneState &s, const Image *image, std::unique_ptr<Image> owned) {
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

// A pixel grid to sample: level 0 is the image itself, later levels its mip chain.
struct Grid {
    int width = 0, height = 0;
    const float *rgb = nullptr;
    const float *at(int x, int y) const { return rgb + (static_cast<size_t>(y) * width + x) * 3; }
};

Grid level(const Image &img, const MipChain *mips, int k) {
    if (k <= 0 || !mips) return {img.width, img.height, img.rgb.data()};
    const MipLevel &l = mips->levels[static_cast<size_t>(k)];
    return {l.width, l.height, l.rgb.data()};
}

// Colour at (u, v): u wraps, v clamps; bilinear between pixel centres or the nearest pixel.
void sampleGrid(const Grid &g, double u, double v, bool blend, double out[3]) {
    samplePixels(g.rgb, g.width, g.height, u, v, blend, out);
}

// Halves a grid: each pixel averages the (up to) 2 x 2 pixels it covers.
MipLevel reduce(const Grid &g) {
    MipLevel m;
    m.width = std::max(1, (g.width + 1) / 2);
    m.height = std::max(1, (g.height + 1) / 2);
    m.rgb.resize(static_cast<size_t>(m.width) * m.height * 3);
    for (int y = 0; y < m.height; ++y)
        for (int x = 0; x < m.width; ++x) {
            double sum[3] = {0, 0, 0};
            int n = 0;
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx) {
                    int sx = 2 * x + dx, sy = 2 * y + dy;
                    if (sx >= g.width || sy >= g.height) continue;
                    const float *p = g.at(sx, sy);
                    for (int c = 0; c < 3; ++c) sum[c] += p[c];
                    ++n;
                }
            float *o = &m.rgb[(static_cast<size_t>(y) * m.width + x) * 3];
            for (int c = 0; c < 3; ++c) o[c] = static_cast<float>(sum[c] / n);
        }
    return m;
}

void buildMips(SceneState &s, ImageSlot &slot) {
    std::lock_guard<std::mutex> hold(s.imageLock);
    if (slot.mips.load(std::memory_order_acquire)) return;
    const Image &img = *slot.image;
    if (!decoded(slot) || img.rgb.size() < static_cast<size_t>(img.width) * img.height * 3) return;
    auto chain = std::make_unique<MipChain>();
    chain->levels.emplace_back();  // level 0 is the image
    Grid g = level(img, nullptr, 0);
    while (g.width > 1 || g.height > 1) {
        chain->levels.push_back(reduce(g));
        const MipLevel &l = chain->levels.back();
        g = {l.width, l.height, l.rgb.data()};
    }
    slot.mips.store(chain.get(), std::memory_order_release);
    slot.mipsOwned = std::move(chain);
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
    auto img = std::make_unique<Image>();
    std::string why;
    bool ok = loadImage(path, *img, why);
    if (!ok && path[0] != '/' && !s.scene->filename.empty()) {
        size_t cut = s.scene->filename.find_last_of('/');
        if (cut != std::string::npos) {
            std::string beside = s.scene->filename.substr(0, cut + 1) + path;
            std::string why2;
            ok = loadImage(beside, *img, why2);
        }
    }
    if (!ok) {
        report("image file \"" + path + "\" (" + place + "): " + why);
        return nullptr;
    }
    img->filename = path;
    img->name = wantedName.empty() ? uniqueName(t, path) : wantedName;
    const Image *raw = img.get();
    return &addSlot(s, raw, std::move(img));
}

ImageSlot *slotOf(LWImageID id) {
    const SceneState *s = current();
    return s ? findImage(*s, id) : nullptr;
}

LWImageID toID(const ImageSlot *slot) { return slot ? const_cast<Image *>(slot->image) : nullptr; }

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
    if (!slot || slot->mips.load(std::memory_order_acquire)) return;
    try {
        buildMips(*s, *slot);
    } catch (...) {
        // Without a mip chain, spot sampling box-filters.
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
    const ImageSlot *slot = slotOf(id);
    if (!slot || !std::isfinite(u) || !std::isfinite(v)) return;
    const Image &img = *slot->image;
    if (!decoded(*slot) || img.width <= 0 || img.height <= 0 ||
        img.rgb.size() < static_cast<size_t>(img.width) * img.height * 3)
        return;
    double footprint = spotSize * std::max(img.width, img.height);
    if (!(footprint > 1.0) || !std::isfinite(footprint))
        return sampleGrid(level(img, nullptr, 0), u, v, blend, rgb);

    const MipChain *mips = slot->mips.load(std::memory_order_acquire);
    if (!mips) {
        // Box filter: n x n samples spread over the footprint, square in pixels.
        int n = std::min(kMaxBoxSamples, static_cast<int>(std::ceil(footprint)));
        double du = footprint / img.width, dv = footprint / img.height, s[3];
        Grid g = level(img, nullptr, 0);
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) {
                sampleGrid(g, u + ((i + 0.5) / n - 0.5) * du, v + ((j + 0.5) / n - 0.5) * dv, blend, s);
                for (int c = 0; c < 3; ++c) rgb[c] += s[c];
            }
        for (int c = 0; c < 3; ++c) rgb[c] /= n * n;
        return;
    }
    const int top = static_cast<int>(mips->levels.size()) - 1;
    double lod = std::min(static_cast<double>(top), std::log2(footprint));
    if (!blend) return sampleGrid(level(img, mips, static_cast<int>(std::lround(lod))), u, v, false, rgb);
    int l0 = static_cast<int>(std::floor(lod));
    double t = lod - l0;
    sampleGrid(level(img, mips, l0), u, v, true, rgb);
    if (t > 0 && l0 < top) {
        double hi[3];
        sampleGrid(level(img, mips, l0 + 1), u, v, true, hi);
        for (int c = 0; c < 3; ++c) rgb[c] += (hi[c] - rgb[c]) * t;
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

}  // namespace scenesvc

const LWImageList *imageListTable() { return &scenesvc::kImageList; }

}  // namespace host
