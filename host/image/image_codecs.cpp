// SPDX-License-Identifier: Apache-2.0
// Loading the codecs library, and the reading calls that go through it: image files checked at
// loading and decoded on first use, and images held in memory.
#include "host/image/image_codecs.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <exception>
#include <mutex>

#include "host/image/image_pvt.h"
#include "host/io/file_io.h"
#include "host/util/paths.h"

#ifdef VELMORA_CODECS_LINKED
// The codecs are linked into the program itself (the fuzz targets, built with coverage).
extern "C" const host::image::ImageCodecs *velmora_image_codecs();
#endif

namespace host::image {

namespace {

[[maybe_unused]] bool isFile(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

struct Loaded {
    std::once_flag once;
    const ImageCodecs *codecs = nullptr;
    std::string why;
};

}  // namespace

const ImageCodecs *loadImageCodecs(const std::vector<std::string> &folders, std::string &why) {
#ifdef VELMORA_CODECS_LINKED
    (void)folders;
    (void)why;
    return velmora_image_codecs();
#else
    std::string firstError;
    for (const std::string &folder : folders) {
        const std::string path = folder + "/" + kCodecsLibrary;
        void *library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            // A library that is there but cannot be loaded says more than one that is missing.
            const char *e = ::dlerror();
            if (firstError.empty() && isFile(path) && e) firstError = e;
            continue;
        }
        // Never closed: OpenImageIO keeps threads, caches and exit-time work of its own.
        auto entry = reinterpret_cast<const ImageCodecs *(*)()>(::dlsym(library, kCodecsEntry));
        const ImageCodecs *codecs = entry ? entry() : nullptr;
        if (codecs && codecs->size == sizeof(ImageCodecs)) {
            codecs->shareTempFiles(&io::tempFiles());
            return codecs;
        }
        if (firstError.empty()) firstError = path + " is not this build's";
    }
    why = std::string("the image codecs library ") + kCodecsLibrary +
          (firstError.empty() ? " is in none of " + util::folderList(folders)
                              : " cannot be loaded (" + firstError + ")");
    return nullptr;
#endif
}

const ImageCodecs *imageCodecs(std::string &why) {
    static Loaded loaded;
#ifdef VELMORA_CODECS_LINKED
    std::call_once(loaded.once, [] { loaded.codecs = loadImageCodecs({}, loaded.why); });
#else
    std::call_once(loaded.once, [] {
        loaded.codecs = loadImageCodecs(util::companionFolders(util::Companion::Libraries), loaded.why);
    });
#endif
    if (!loaded.codecs) why = loaded.why;
    return loaded.codecs;
}

bool Image::decode(std::string &why, bool *attempted) const {
    Lazy &l = *lazy_;
    std::call_once(l.once, [&] {
        if (attempted) *attempted = true;
        // The only write to the pixels of a loaded image; readers wait for it through `once` or
        // see it published by `state`.
        std::vector<float> &pixels = const_cast<Image *>(this)->rgb;
        std::string err;
        bool ok = false;
        try {
            if (l.path.empty()) {
                ok = width > 0 && height > 0 && pixels.size() >= static_cast<size_t>(width) * height * 3;
                if (!ok) err = "holds no pixels";
            } else if (const ImageCodecs *codecs = imageCodecs(err)) {
                ok = codecs->decodeFile(l.path, l.width, l.height, pixels, err);
            } else {
                err = "cannot be read: " + err;
            }
        } catch (const std::exception &e) {
            ok = false;
            err = std::string("cannot be decoded: ") + e.what();
        }
        if (ok) {
            l.color = false;
            for (size_t i = 0; i + 2 < pixels.size() && !l.color; i += 3)
                l.color = pixels[i] != pixels[i + 1] || pixels[i + 1] != pixels[i + 2];
        } else {
            l.error = "image \"" + (filename.empty() ? name : filename) + "\" " + err;
            std::vector<float>().swap(pixels);
        }
        l.state.store(ok ? 1 : 2, std::memory_order_release);
    });
    if (ready()) return true;
    why = l.error;
    return false;
}

bool loadImage(const std::string &path, Image &out, std::string &why) {
    out.rgb.clear();
    out.width = out.height = 0;
    out.lazy_ = std::make_unique<Image::Lazy>();
    // Refused before the codecs are loaded: anything but a regular file within the cap.
    if (!io::checkRegularFile(path, io::kMaxImageBytes, "image file", why)) return false;
    const ImageCodecs *codecs = imageCodecs(why);
    if (!codecs) why = "cannot be read: " + why;
    int width = 0, height = 0;
    if (!codecs || !codecs->probe(path, width, height, why)) return false;
    out.width = out.lazy_->width = width;
    out.height = out.lazy_->height = height;
    out.lazy_->path = path;
    out.filename = path;
    return true;
}

bool loadImageBytes(const std::string &bytes, const std::string &label, Image &out, std::string &why) {
    out.rgb.clear();
    out.width = out.height = 0;
    out.lazy_ = std::make_unique<Image::Lazy>();
    if (bytes.size() > io::kMaxImageBytes) {
        why = "is larger than the " + io::byteText(io::kMaxImageBytes) + " limit";
        return false;
    }
    const ImageCodecs *codecs = imageCodecs(why);
    if (!codecs) why = "cannot be read: " + why;
    int width = 0, height = 0;
    if (!codecs || !codecs->decodeBytes(bytes, label, width, height, out.rgb, why)) {
        std::vector<float>().swap(out.rgb);
        return false;
    }
    out.width = width;
    out.height = height;
    out.filename = label;
    std::string unused;
    out.decode(unused);  // marks the pixels decoded
    return true;
}

bool encodePng(int width, int height, const std::vector<uint8_t> &srgb, std::vector<uint8_t> &png,
               std::string &why) {
    const ImageCodecs *codecs = imageCodecs(why);
    if (!codecs) why = "the picture could not be encoded: " + why;
    return codecs && codecs->encodePng(width, height, srgb, png, why);
}

bool drawLabel(std::vector<float> &rgb, int width, int height, int x0, int x1, const std::string &text,
               const std::string &font, std::string &why) {
    if (width <= 0 || height <= 0 || rgb.size() < static_cast<size_t>(width) * height * 3) {
        why = "has no pixels to draw on";
        return false;
    }
    const ImageCodecs *codecs = imageCodecs(why);
    if (!codecs) why = "cannot draw text: " + why;
    return codecs && codecs->drawLabel(rgb, width, height, x0, x1, text, font, why);
}

}  // namespace host::image
