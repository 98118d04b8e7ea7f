// SPDX-License-Identifier: Apache-2.0
// Reading images: the formats read, each told by its content; bounded, checked reads of headers
// and pixels through OpenImageIO.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>

#include "host/codecs/codecs_pvt.h"
#include "host/image/image.h"
#include "host/io/file_io.h"

namespace host::codecs {

using image::kMaxImageSide;
using image::srgbToLinear;

namespace {

using OIIO::Filesystem::IOProxy;

// The formats images are read in, each told by the first bytes of its content. Each reads through
// an I/O proxy, so the renderer opens every file itself (never blocking on a FIFO) and memory
// images take the same path. Only these readers ever see a file's bytes.
struct ReadFormat {
    const char *name;   // OpenImageIO's name of the format
    const char *label;  // how messages name it
    bool (*matches)(const unsigned char *head, size_t size);
};

bool startsWith(const unsigned char *head, size_t size, const char *magic, size_t n) {
    return size >= n && std::memcmp(head, magic, n) == 0;
}

const ReadFormat kReadFormats[] = {
    {"png", "PNG", [](const unsigned char *h, size_t n) { return startsWith(h, n, "\x89PNG\r\n\x1a\n", 8); }},
    {"jpeg", "JPEG", [](const unsigned char *h, size_t n) { return startsWith(h, n, "\xff\xd8\xff", 3); }},
    {"tiff", "TIFF",
     [](const unsigned char *h, size_t n) {
         return startsWith(h, n, "II*\0", 4) || startsWith(h, n, "MM\0*", 4) || startsWith(h, n, "II+\0", 4) ||
                startsWith(h, n, "MM\0+", 4);
     }},
    {"openexr", "EXR", [](const unsigned char *h, size_t n) { return startsWith(h, n, "\x76\x2f\x31\x01", 4); }},
    {"hdr", "HDR",
     [](const unsigned char *h, size_t n) {
         return startsWith(h, n, "#?RADIANCE", 10) || startsWith(h, n, "#?RGBE", 6);
     }},
    {"pnm", "PNM",
     [](const unsigned char *h, size_t n) {
         return n >= 3 && h[0] == 'P' && std::strchr("123456fF", h[1]) && h[1] != 0 && std::isspace(h[2]);
     }},
};
constexpr size_t kHeadBytes = 16;  // enough of the start of a file to tell its format

}  // namespace

// An OpenImageIO message cut to its first line and a sane length.
std::string shortError(std::string e) {
    e = e.substr(0, e.find('\n'));
    if (e.size() > 200) e = e.substr(0, 200) + "...";
    return e.empty() ? "unknown error" : e;
}

namespace {

// Removes the IPTC metadata segments (APP13) from a JPEG stream in place. The renderer needs none
// of that metadata, and OpenImageIO 2.4's IPTC decoder reads past the end of malformed records,
// so those bytes never reach it. Other data is left as it is; a malformed stream is left for the
// decoder to refuse.
void dropJpegIptc(std::string &jpeg) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(jpeg[i]); };
    if (jpeg.size() < 4 || byte(0) != 0xFF || byte(1) != 0xD8) return;
    size_t pos = 2;
    while (pos + 4 <= jpeg.size() && byte(pos) == 0xFF) {
        unsigned char marker = byte(pos + 1);
        if (marker == 0xFF) {  // fill byte
            ++pos;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) return;                // entropy-coded data or the end follow
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // markers without a length
            pos += 2;
            continue;
        }
        size_t length = (static_cast<size_t>(byte(pos + 2)) << 8) | byte(pos + 3);
        if (length < 2 || pos + 2 + length > jpeg.size()) return;
        if (marker == 0xED)
            jpeg.erase(pos, 2 + length);
        else
            pos += 2 + length;
    }
}

bool isJpeg(const std::string &head) {
    return head.size() >= 3 && static_cast<unsigned char>(head[0]) == 0xFF &&
           static_cast<unsigned char>(head[1]) == 0xD8 && static_cast<unsigned char>(head[2]) == 0xFF;
}

// An open image file: its descriptor as a stdio stream behind an OpenImageIO proxy, or, for a
// JPEG, its bytes in memory with the IPTC segments dropped.
struct FileSource {
    std::FILE *file = nullptr;
    std::string bytes;
    std::unique_ptr<IOProxy> proxy;
    FileSource() = default;
    FileSource(const FileSource &) = delete;
    FileSource &operator=(const FileSource &) = delete;
    ~FileSource() {
        proxy.reset();
        if (file) std::fclose(file);
    }
};

// Opens a regular file within the image cap (never blocking on a FIFO or device).
bool openFile(const std::string &path, FileSource &src, std::string &why) {
    uint64_t size = 0;
    int fd = io::openRegularFile(path, io::kMaxImageBytes, "image file", size, why);
    if (fd < 0) return false;
    src.file = ::fdopen(fd, "rb");
    if (!src.file) {
        ::close(fd);
        why = std::string("cannot be opened: ") + std::strerror(errno);
        return false;
    }
    char head[3] = {0, 0, 0};
    size_t got = std::fread(head, 1, sizeof head, src.file);
    if (isJpeg(std::string(head, got))) {
        std::rewind(src.file);
        src.bytes.resize(static_cast<size_t>(size));
        if (std::fread(&src.bytes[0], 1, src.bytes.size(), src.file) != src.bytes.size()) {
            why = "cannot be read in full";
            return false;
        }
        dropJpegIptc(src.bytes);
        src.proxy = std::make_unique<OIIO::Filesystem::IOMemReader>(src.bytes.data(), src.bytes.size());
        return true;
    }
    std::rewind(src.file);
    src.proxy = std::make_unique<OIIO::Filesystem::IOFile>(src.file, IOProxy::Read);
    return true;
}

// Whether the attributes of an EXR file's headers all lie within the file: OpenEXR 3.1 allocates
// an attribute's declared size before reading it, so a few bytes could otherwise ask for
// gigabytes. `read` gives `n` bytes at an offset, false past the end.
bool exrAttributesFit(const std::function<bool(uint64_t, void *, size_t)> &read, uint64_t fileSize) {
    unsigned char word[4];
    if (!read(4, word, 4)) return false;
    bool multipart = (word[1] & 0x10) != 0;  // version field, bit 12
    // Names end in a zero within 31 characters, or 255 with the long-names flag (bit 10); OpenEXR
    // stops reading a longer one mid-name and would take its rest for what follows.
    size_t longest = (word[1] & 0x04) ? 255 : 31;
    uint64_t pos = 8;
    auto text = [&](std::string &out) {
        out.clear();
        for (char c = 0; out.size() <= longest; out += c) {
            if (!read(pos++, &c, 1)) return false;
            if (c == 0) return true;
        }
        return false;
    };
    for (bool firstHeader = true;; firstHeader = false) {
        std::string name, type;
        for (bool firstAttribute = true;; firstAttribute = false) {
            if (!text(name)) return false;
            if (name.empty()) {
                if (multipart && firstAttribute && !firstHeader) return true;  // the empty header ends the list
                break;
            }
            if (!text(type) || !read(pos, word, 4)) return false;
            pos += 4;
            uint32_t size = word[0] | (word[1] << 8) | (word[2] << 16) | (static_cast<uint32_t>(word[3]) << 24);
            if (size > 0x7fffffffu || size > fileSize - std::min(fileSize, pos)) return false;
            pos += size;
        }
        if (!multipart) return true;
    }
}

// Why a PNG file's chunks are not intact (each within the file, each with a matching CRC, up to
// IEND), or empty. libpng finds a damaged chunk only while decoding, and then prints to the
// standard error besides failing; checked here, the refusal is the renderer's one message.
std::string pngChunksDamaged(const std::function<bool(uint64_t, void *, size_t)> &read, uint64_t fileSize) {
    std::vector<unsigned char> block(64u << 10);
    for (uint64_t pos = 8;;) {
        unsigned char head[8];
        if (!read(pos, head, 8)) return "is damaged: it ends before its IEND chunk";
        uint64_t length = (uint64_t(head[0]) << 24) | (head[1] << 16) | (head[2] << 8) | head[3];
        std::string type(reinterpret_cast<const char *>(head + 4), 4);
        for (char &c : type)
            if (!std::isalpha(static_cast<unsigned char>(c))) c = '?';
        if (length > 0x7fffffffu || pos + 12 + length > fileSize)
            return "is damaged: its " + type + " chunk runs past the end of the file";
        uLong crc = crc32(0L, head + 4, 4);
        for (uint64_t done = 0; done < length;) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(block.size(), length - done));
            if (!read(pos + 8 + done, block.data(), n)) return "cannot be read in full";
            crc = crc32(crc, block.data(), static_cast<uInt>(n));
            done += n;
        }
        unsigned char stored[4];
        if (!read(pos + 8 + length, stored, 4)) return "cannot be read in full";
        if (((uLong(stored[0]) << 24) | (stored[1] << 16) | (stored[2] << 8) | stored[3]) != crc)
            return "is damaged: the checksum of its " + type + " chunk does not match";
        if (type == "IEND") return {};
        pos += 12 + length;
    }
}

}  // namespace

void setUpImageLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        OIIO::attribute("threads", 1);
        OIIO::attribute("exr_threads", -1);
    });
}

namespace {

// Opens the image behind `proxy` in the format its first bytes name. Null with a reason when they
// name none the renderer reads, or when the reader refuses the content.
std::unique_ptr<OIIO::ImageInput> openInput(const std::string &name, IOProxy *proxy, std::string &why) {
    setUpImageLibrary();
    unsigned char head[kHeadBytes] = {};
    proxy->seek(0);
    size_t got = proxy->read(head, sizeof head);
    const ReadFormat *format = nullptr;
    for (const ReadFormat &f : kReadFormats)
        if (f.matches(head, got)) format = &f;
    if (!format) {
        why = "is not a PNG, JPEG, TIFF, EXR, HDR, PNM or PFM image";
        return nullptr;
    }
    uint64_t size = proxy->size();
    auto read = [&](uint64_t at, void *buf, size_t n) { return at + n <= size && proxy->pread(buf, n, at) == n; };
    if (std::strcmp(format->name, "png") == 0) {
        why = pngChunksDamaged(read, size);
        if (!why.empty()) return nullptr;
    }
    if (std::strcmp(format->name, "openexr") == 0 && !exrAttributesFit(read, size)) {
        why = "is not a valid EXR image: its header is malformed or runs past the end of the file";
        return nullptr;
    }
    auto in = OIIO::ImageInput::create(format->name);
    if (!in || !in->supports("ioproxy")) {
        why =
            std::string("cannot be read: no ") + format->label + " reader (" + shortError(OIIO::geterror()) + ")";
        return nullptr;
    }
    proxy->seek(0);
    OIIO::ImageSpec config, spec;
    config.attribute("oiio:UnassociatedAlpha", 1);
    void *p = proxy;
    config.attribute("oiio:ioproxy", OIIO::TypeDesc::PTR, &p);
    if (in->open(name, spec, config)) return std::unique_ptr<OIIO::ImageInput>(in.release());
    why = std::string("is not a valid ") + format->label + " image: " + errorOf(*in);
    return nullptr;
}

// Bytes of float RGB for a width x height image.
uint64_t pixelBytes(const OIIO::ImageSpec &spec) {
    return static_cast<uint64_t>(spec.width) * static_cast<uint64_t>(spec.height) * 3 * sizeof(float);
}

// Refuses a header the renderer cannot or should not decode: no pixels, a side beyond
// kMaxImageSide, volumes and deep images, or pixels that would not fit in memory.
bool checkHeader(const OIIO::ImageSpec &spec, std::string &why) {
    auto dims = [&] { return std::to_string(spec.width) + "x" + std::to_string(spec.height); };
    if (spec.width <= 0 || spec.height <= 0 || spec.nchannels <= 0) {
        why = "declares no pixels (" + dims() + ", " + std::to_string(spec.nchannels) + " channels)";
        return false;
    }
    if (spec.width > kMaxImageSide || spec.height > kMaxImageSide) {
        why = "declares " + dims() + " pixels, beyond the limit of " + std::to_string(kMaxImageSide) + " per side";
        return false;
    }
    if (spec.depth > 1 || spec.deep) {
        why = "is a volume or deep image, not a picture";
        return false;
    }
    uint64_t need = pixelBytes(spec), avail = io::availableMemory();
    if (avail > 0 && need > avail) {
        why = "declares " + dims() + " pixels, which need " + io::byteText(need) + " of memory; only " +
              io::byteText(avail) + " is available";
        return false;
    }
    return true;
}

// NaN becomes 0 and infinities the largest finite float, so no sample poisons a render.
float finite(float v) {
    if (std::isnan(v)) return 0.0f;
    return std::min(FLT_MAX, std::max(-FLT_MAX, v));
}

// Decodes the first picture of an open image into linear RGB (top row first). Integer samples
// are sRGB; one or two channels are grey (and alpha); channels past the third are dropped.
bool readPixels(OIIO::ImageInput &in, std::vector<float> &rgb, std::string &why) {
    const OIIO::ImageSpec &spec = in.spec();
    const size_t w = static_cast<size_t>(spec.width), h = static_cast<size_t>(spec.height);
    const int channels = std::min(spec.nchannels, 3);
    const bool isFloat = spec.format.is_floating_point();
    const OIIO::TypeDesc readAs = isFloat                   ? OIIO::TypeDesc::FLOAT
                                  : spec.format.size() == 1 ? OIIO::TypeDesc::UINT8
                                                            : OIIO::TypeDesc::UINT16;
    try {
        rgb.assign(w * h * 3, 0.0f);
    } catch (const std::bad_alloc &) {
        why = "does not fit in memory (" + io::byteText(pixelBytes(spec)) + ")";
        return false;
    }
    // sRGB to linear by table: 8-bit values exactly as i / 255.0 through srgbToLinear.
    std::vector<float> table;
    if (!isFloat) {
        size_t levels = readAs == OIIO::TypeDesc::UINT8 ? 256 : 65536;
        table.resize(levels);
        for (size_t i = 0; i < levels; ++i)
            table[i] = static_cast<float>(srgbToLinear(static_cast<double>(i) / static_cast<double>(levels - 1)));
    }
    const size_t rowValues = w * static_cast<size_t>(channels);
    const size_t rows =
        std::max<size_t>(1, std::min(h, kBlockBytes / std::max<size_t>(1, rowValues * readAs.size())));
    std::vector<uint8_t> block(isFloat ? 0 : rows * rowValues * readAs.size());
    for (size_t y0 = 0; y0 < h; y0 += rows) {
        size_t y1 = std::min(h, y0 + rows);
        float *dst = &rgb[y0 * w * 3];
        int yb = spec.y + static_cast<int>(y0), ye = spec.y + static_cast<int>(y1);
        bool ok;
        if (isFloat) {
            // Straight into place, three floats apart.
            ok = in.read_scanlines(0, 0, yb, ye, spec.z, 0, channels, readAs, dst, 3 * sizeof(float),
                                   static_cast<OIIO::stride_t>(w * 3 * sizeof(float)));
        } else {
            ok = in.read_scanlines(0, 0, yb, ye, spec.z, 0, channels, readAs, block.data());
        }
        if (!ok || in.has_error()) {
            why = "is damaged: " + errorOf(in);
            return false;
        }
        const size_t n = (y1 - y0) * w;
        if (isFloat) {
            for (size_t i = 0; i < n * 3; ++i) dst[i] = finite(dst[i]);
        } else if (readAs == OIIO::TypeDesc::UINT8) {
            for (size_t i = 0; i < n; ++i)
                for (int c = 0; c < channels; ++c) dst[i * 3 + c] = table[block[i * channels + c]];
        } else {
            const uint16_t *s = reinterpret_cast<const uint16_t *>(block.data());
            for (size_t i = 0; i < n; ++i)
                for (int c = 0; c < channels; ++c) dst[i * 3 + c] = table[s[i * channels + c]];
        }
        if (channels < 3)
            for (size_t i = 0; i < n; ++i) dst[i * 3 + 1] = dst[i * 3 + 2] = dst[i * 3];
    }
    return true;
}

// Closes an input, reporting an error it recorded.
bool closeInput(OIIO::ImageInput &in, std::string &why) {
    bool ok = in.close() && !in.has_error();
    if (!ok) why = "is damaged: " + errorOf(in);
    return ok;
}

}  // namespace

bool probe(const std::string &path, int &width, int &height, std::string &why) {
    FileSource src;
    if (!openFile(path, src, why)) return false;
    std::unique_ptr<OIIO::ImageInput> in = openInput(path, src.proxy.get(), why);
    if (!in) return false;
    const OIIO::ImageSpec &spec = in->spec();
    const bool ok = checkHeader(spec, why);
    width = spec.width;
    height = spec.height;
    in->close();
    errorOf(*in);
    return ok;
}

bool decodeFile(const std::string &path, int width, int height, std::vector<float> &rgb, std::string &why) {
    FileSource src;
    std::unique_ptr<OIIO::ImageInput> in;
    if (!openFile(path, src, why) || !(in = openInput(path, src.proxy.get(), why))) return false;
    const OIIO::ImageSpec &spec = in->spec();
    bool ok = false;
    if (spec.width != width || spec.height != height)
        why = "has changed since it was loaded (now " + std::to_string(spec.width) + "x" +
              std::to_string(spec.height) + ")";
    else
        ok = checkHeader(spec, why) && readPixels(*in, rgb, why) && closeInput(*in, why);
    if (!ok) errorOf(*in);
    return ok;
}

bool decodeBytes(const std::string &bytes, const std::string &label, int &width, int &height,
                 std::vector<float> &rgb, std::string &why) {
    std::string cleaned;
    const std::string *data = &bytes;
    if (isJpeg(bytes)) {
        cleaned = bytes;
        dropJpegIptc(cleaned);
        data = &cleaned;
    }
    OIIO::Filesystem::IOMemReader proxy(data->data(), data->size());
    std::unique_ptr<OIIO::ImageInput> in = openInput(label, &proxy, why);
    if (!in) return false;
    width = in->spec().width;
    height = in->spec().height;
    bool ok = checkHeader(in->spec(), why) && readPixels(*in, rgb, why) && closeInput(*in, why);
    errorOf(*in);
    return ok;
}

}  // namespace host::codecs
