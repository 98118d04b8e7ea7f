#include "host/scene/mesh_import.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <stdexcept>

#include <assimp/BaseImporter.h>
#include <assimp/config.h>
#include <assimp/importerdesc.h>
#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <assimp/IOStream.hpp>
#include <assimp/IOSystem.hpp>
#include <assimp/Importer.hpp>

#include <nlohmann/json.hpp>

#include "host/io/file_io.h"
#include "host/scene/obj_check.h"
#include "host/util/paths.h"
#include "host/util/text.h"

// Debian's assimp 5.2 is built with its internal checks on (ai_assert), and a failed check calls
// this function, whose own version prints a line and aborts the process: a damaged file could
// end the renderer (a host object VMAD chunk naming a point its polygon lacks does, in
// LWOLoader.cpp). This definition takes the library's place (the library calls it through its
// exported symbol) and throws instead; assimp's reader catches the exception and fails the
// import with the message, which the import hands on as its refusal. The library's build has no
// other way to set the handler (setAiAssertHandler is not exported).
namespace Assimp {
void aiAssertViolation(const char *expression, const char *file, int line) {
    throw std::runtime_error(std::string("assimp's own check \"") + (expression ? expression : "") +
                             "\" failed in " + (file ? file : "?") + " line " + std::to_string(line));
}
}  // namespace Assimp

namespace host::scene {

namespace {

using util::excerpt;
using util::extensionOf;
using util::kExcerpt;
using util::lower;
using util::numberText;
using util::quote;
using util::quoteFile;

constexpr double kPi = 3.14159265358979323846;

// Bytes the import takes at its peak for each byte of a file, before the file is read: the
// importer's own records of it and the layers built from them. Measured on a grid of a million
// triangles in each kind (bench/host): peaks of 15 (host object), 14 (binary PLY) and 7 (binary
// STL) times the file; with room to spare, and more for kinds not measured.
constexpr uint64_t kLwoFactor = 24;
constexpr uint64_t kBinaryPlyFactor = 24;
constexpr uint64_t kBinaryStlFactor = 12;
constexpr uint64_t kBinaryFactor = 40;  // glb, FBX, glTF buffers
constexpr uint64_t kTextFactor = 16;    // PLY and STL text, Collada, glTF text, OBJ material files

// The readers offered; each file goes to exactly one, so that the checks made before a reader
// sees a file are the ones for that reader.
enum class Format { Obj, Lwo, Ply, Stl, Gltf, Fbx, Collada, None };

// ---------------------------------------------------------------------------------------------
// Files as the importer reads them.

// Bytes held in memory.
class MemoryStream : public Assimp::IOStream {
public:
    explicit MemoryStream(const std::string &data) : data_(data) {}
    size_t Read(void *buffer, size_t size, size_t count) override {
        if (size == 0 || count == 0 || pos_ >= data_.size()) return 0;
        size_t items = std::min(count, (data_.size() - pos_) / size);
        std::memcpy(buffer, data_.data() + pos_, items * size);
        pos_ += items * size;
        return items;
    }
    size_t Write(const void *, size_t, size_t) override { return 0; }
    aiReturn Seek(size_t offset, aiOrigin origin) override {
        // Offsets wrap as the importers' own memory streams let them: a "negative" one moves back.
        size_t to = origin == aiOrigin_SET ? offset : (origin == aiOrigin_CUR ? pos_ : data_.size()) + offset;
        if (to > data_.size()) return aiReturn_FAILURE;
        pos_ = to;
        return aiReturn_SUCCESS;
    }
    size_t Tell() const override { return pos_; }
    size_t FileSize() const override { return data_.size(); }
    void Flush() override {}

private:
    const std::string &data_;
    size_t pos_ = 0;
};

// A regular file opened through host/io, read where the importer asks; its size is the one
// checked when it was opened.
class FileStream : public Assimp::IOStream {
public:
    FileStream(int fd, uint64_t size) : fd_(fd), size_(size) {}
    ~FileStream() override { ::close(fd_); }
    size_t Read(void *buffer, size_t size, size_t count) override {
        if (size == 0 || count == 0 || pos_ >= size_) return 0;
        size_t items = std::min<uint64_t>(count, (size_ - pos_) / size);
        size_t want = items * size, got = 0;
        char *out = static_cast<char *>(buffer);
        while (got < want) {
            ssize_t n = ::pread(fd_, out + got, want - got, static_cast<off_t>(pos_ + got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        items = got / size;
        pos_ += items * size;
        return items;
    }
    size_t Write(const void *, size_t, size_t) override { return 0; }
    aiReturn Seek(size_t offset, aiOrigin origin) override {
        uint64_t to = origin == aiOrigin_SET ? offset : (origin == aiOrigin_CUR ? pos_ : size_) + offset;
        if (origin != aiOrigin_SET) to &= SIZE_MAX;
        if (to > size_) return aiReturn_FAILURE;
        pos_ = to;
        return aiReturn_SUCCESS;
    }
    size_t Tell() const override { return static_cast<size_t>(pos_); }
    size_t FileSize() const override { return static_cast<size_t>(size_); }
    void Flush() override {}

private:
    int fd_;
    uint64_t size_, pos_ = 0;
};

// The importer's only way to files: the mesh file (from memory when it is held there) and, when
// allowed, the regular files it names, every one through host/io, all of them together within
// io::kMaxMeshBytes, and their bytes counted against the import's memory limit. A named file that
// does not exist is missing to the importer (which goes on without it where the format allows);
// one that exists but cannot be read refuses the mesh.
class BoundedIO : public Assimp::IOSystem {
public:
    // `sideKind` names the files the mesh file names in messages ("material": "material file"),
    // or is empty ("file X named by mesh file Y"); each byte of them counts `factor` bytes.
    BoundedIO(std::string mainPath, const std::string *mainData, uint64_t mainSize, bool sideFiles,
              std::string sideKind, uint64_t factor, uint64_t memoryLimit, uint64_t estimate)
        : main_(std::move(mainPath)),
          mainData_(mainData),
          sideFiles_(sideFiles),
          sideKind_(std::move(sideKind)),
          factor_(factor),
          limit_(memoryLimit),
          estimate_(estimate),
          read_(mainSize) {}

    bool Exists(const char *file) const override {
        if (!file) return false;
        if (main_ == file) return true;
        struct stat st;
        return sideFiles_ && ::stat(file, &st) == 0;
    }
    char getOsSeparator() const override { return '/'; }
    void Close(Assimp::IOStream *stream) override { delete stream; }

    Assimp::IOStream *Open(const char *file, const char *mode) override {
        if (!file || !mode || std::strpbrk(mode, "wa+")) return nullptr;
        std::string why;
        uint64_t size = 0;
        if (main_ == file) {
            if (mainData_) return new MemoryStream(*mainData_);
            int fd = io::openRegularFile(main_, io::kMaxMeshBytes, "mesh file", size, why);
            if (fd < 0) refuse("cannot open mesh file " + quoteFile(main_) + ": " + why);
            return fd < 0 ? nullptr : new FileStream(fd, size);
        }
        if (!sideFiles_) return nullptr;
        struct stat st;
        if (::stat(file, &st) != 0 && errno == ENOENT) return nullptr;
        std::string kind = sideKind_.empty() ? "file" : sideKind_ + " file";
        std::string named = sideKind_.empty()
                                ? kind + " " + quoteFile(file) + " named by mesh file " + quoteFile(main_)
                                : kind + " " + quoteFile(file);
        int fd = io::openRegularFile(file, io::kMaxMeshBytes - std::min(read_, io::kMaxMeshBytes),
                                     sideKind_.empty() ? "mesh file" : kind.c_str(), size, why);
        if (fd < 0) {
            refuse("cannot read " + named + ": " + why);
            return nullptr;
        }
        if (std::find(files.begin(), files.end(), file) == files.end()) {
            // Each file once: an importer may open the same one again.
            read_ += size;
            estimate_ += size * factor_;
            files.push_back(file);
        }
        if (limit_ && estimate_ > limit_) {
            ::close(fd);
            refuse(named + " would need about " + io::byteText(estimate_) + " of memory, more than the " +
                   io::byteText(limit_) + " left for the scene");
            return nullptr;
        }
        return new FileStream(fd, size);
    }

    std::vector<std::string> files;  // the named files read, in the order first opened
    std::string refusal;             // the first file refused, or empty

private:
    void refuse(const std::string &why) {
        if (refusal.empty()) refusal = why;
    }
    std::string main_;
    const std::string *mainData_;
    bool sideFiles_;
    std::string sideKind_;
    uint64_t factor_, limit_, estimate_, read_;
};

// The reader for a file: by its extension, else by its first bytes (a host object always
// by its FORM header); None when neither tells.
Format formatOf(const std::string &path, const char *head, size_t got) {
    auto starts = [&](const char *with) {
        size_t n = std::strlen(with);
        return got >= n && std::memcmp(head, with, n) == 0;
    };
    if (got >= 12 && starts("FORM") &&
        (std::memcmp(head + 8, "LWO2", 4) == 0 || std::memcmp(head + 8, "LWOB", 4) == 0 ||
         std::memcmp(head + 8, "LXOB", 4) == 0 || std::memcmp(head + 8, "LWO3", 4) == 0))
        return Format::Lwo;
    const std::string ext = extensionOf(path);
    if (ext == "lwo" || ext == "lxo") return Format::Lwo;
    if (ext == "obj") return Format::Obj;
    if (ext == "ply") return Format::Ply;
    if (ext == "stl") return Format::Stl;
    if (ext == "gltf" || ext == "glb") return Format::Gltf;
    if (ext == "fbx") return Format::Fbx;
    if (ext == "dae") return Format::Collada;
    std::string text(head, got);
    if (starts("ply")) return Format::Ply;
    if (starts("glTF") || text.find("\"asset\"") != std::string::npos) return Format::Gltf;
    if (starts("Kaydara FBX Binary") || text.find("FBXHeaderExtension") != std::string::npos) return Format::Fbx;
    if (text.find("<COLLADA") != std::string::npos) return Format::Collada;
    if (starts("solid")) return Format::Stl;
    return Format::None;
}

// An importer that knows only the reader for `format`.
void keepReaders(Assimp::Importer &importer, Format format) {
    std::vector<Assimp::BaseImporter *> drop;
    for (size_t i = 0; i < importer.GetImporterCount(); ++i) {
        const aiImporterDesc *d = importer.GetImporterInfo(i);
        std::string name = d && d->mName ? d->mName : "", exts = d && d->mFileExtensions ? d->mFileExtensions : "";
        std::string first = exts.substr(0, exts.find(' '));
        bool keep = (format == Format::Obj && first == "obj") || (format == Format::Lwo && first == "lwo") ||
                    (format == Format::Ply && first == "ply") || (format == Format::Stl && first == "stl") ||
                    (format == Format::Fbx && first == "fbx") || (format == Format::Collada && first == "dae") ||
                    (format == Format::Gltf && name.find("glTF2") != std::string::npos);
        if (!keep) drop.push_back(importer.GetImporter(i));
    }
    // The importer forgets an unregistered reader without deleting it.
    for (Assimp::BaseImporter *reader : drop) {
        importer.UnregisterLoader(reader);
        delete reader;
    }
}

// ---------------------------------------------------------------------------------------------
// Host objects: what assimp does not hand on, read from the file's own chunks.

// A per-point map of a layer's VMAP chunks of one name, its entries in the file's order: the
// point (within the layer's points) and its `dim` values.
struct LwoMap {
    std::string name;
    std::vector<uint32_t> points;
    std::vector<float> values;
};

struct LwoLayer {
    int number = 0;    // the LAYR chunk's number (from 0)
    std::string name;  // as the file gives it
    std::string node;  // the name assimp gives the layer's node
    Vec3 pivot{0, 0, 0};
    int parent = -1;                         // the parent layer's number, -1 for none
    std::vector<float> points;               // x, y, z of each point of the layer's PNTS chunks
    std::vector<LwoMap> weightMaps, uvMaps;  // LWO2 files' WGHT (one value) and TXUV (two) VMAPs
};

struct LwoSurface {
    std::string name;
    Surface surface;
};

struct LwoFile {
    std::string type;  // LWO2 (older LWOB files come repackaged as LWO2), LXOB, LWO3
    std::vector<LwoLayer> layers;
    std::vector<LwoSurface> surfaces;  // LWO2 files' SURF chunks
    std::string fault;                 // a chunk assimp would read past, or empty
};

// Big-endian reads within [p, end); a read past the end gives zeros and clears `ok`.
struct Bytes {
    const uint8_t *p, *end;
    bool ok = true;
    size_t left() const { return static_cast<size_t>(end - p); }
    bool take(size_t n) {
        if (left() < n) {
            ok = false;
            p = end;
            return false;
        }
        return true;
    }
    uint32_t u4() {
        if (!take(4)) return 0;
        uint32_t v = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
        p += 4;
        return v;
    }
    uint16_t u2() {
        if (!take(2)) return 0;
        uint16_t v = static_cast<uint16_t>((p[0] << 8) | p[1]);
        p += 2;
        return v;
    }
    float f4() {
        uint32_t bits = u4();
        float f;
        std::memcpy(&f, &bits, 4);
        return f;
    }
    // A NUL-terminated string padded to an even length.
    std::string s0() {
        const uint8_t *start = p;
        while (p < end && *p) ++p;
        std::string s(reinterpret_cast<const char *>(start), static_cast<size_t>(p - start));
        size_t used = static_cast<size_t>(p - start) + 1;
        if (used % 2) ++used;
        p = start + std::min(used, static_cast<size_t>(end - start));
        return s;
    }
};

// A number from the file within [lo, hi], or `def` when it is not a finite number.
double within(double v, double lo, double hi, double def) {
    if (!std::isfinite(v)) return def;
    return std::min(hi, std::max(lo, v));
}

// The base values of an LWO2 surface: COLR, DIFF, LUMI, SPEC, GLOS, REFL, TRAN, TRNL, CLRH, CLRF,
// RIND, SMAN and SIDE (envelopes, textures and shaders are not read). What the chunk leaves out
// takes the host's defaults, as assimp's reader does.
Surface lwo2Surface(Bytes b, const std::string &name) {
    Surface s;
    s.name = name;
    s.color = {200 / 255.0, 200 / 255.0, 200 / 255.0};
    s.smoothing = false;
    b.s0();  // the source surface
    while (b.left() >= 6) {
        uint32_t id = b.u4();
        uint16_t length = b.u2();
        if (length > b.left()) break;
        Bytes sub{b.p, b.p + length};
        b.p += length + (length & 1 && b.left() > length ? 1 : 0);
        auto is = [&](const char *tag) {
            return id == (uint32_t(uint8_t(tag[0])) << 24 | uint32_t(uint8_t(tag[1])) << 16 |
                          uint32_t(uint8_t(tag[2])) << 8 | uint8_t(tag[3]));
        };
        if (length < 2) continue;
        if (is("SIDE")) {
            s.doubleSided = (sub.u2() & 2) != 0;
            continue;
        }
        if (length < 4) continue;
        if (is("COLR")) {
            if (length < 12) continue;
            for (int c = 0; c < 3; ++c) s.color[c] = within(sub.f4(), 0, 1e6, s.color[c]);
            continue;
        }
        double v = sub.f4();
        if (is("DIFF")) s.diffuse = within(v, 0, 10, s.diffuse);
        if (is("LUMI")) s.luminosity = within(v, 0, 1e6, s.luminosity);
        if (is("SPEC")) s.specular = within(v, 0, 10, s.specular);
        if (is("GLOS")) s.glossiness = within(v, 0, 1, s.glossiness);
        if (is("REFL")) s.mirror = within(v, 0, 1, s.mirror);
        if (is("TRAN")) s.transparency = within(v, 0, 1, s.transparency);
        if (is("TRNL")) s.translucency = within(v, 0, 1, s.translucency);
        if (is("CLRH")) s.colorHighlights = within(v, 0, 1, s.colorHighlights);
        if (is("CLRF")) s.colorFilter = within(v, 0, 1, s.colorFilter);
        if (is("RIND")) s.eta = within(v, 0.01, 10, s.eta);
        if (is("SMAN")) {
            double angle = within(v, 0, kPi, 0);
            s.smoothing = angle > 0;
            s.smoothingAngle = angle > 0 ? angle : kNoSmoothingLimit;
        }
    }
    return s;
}

// ---------------------------------------------------------------------------------------------
// Older host objects (FORM type LWOB, the format before LWO2), repackaged as current ones (LWO2).
//
// assimp 5.2's own reader of the older format fails on every file: its default layer (number -1,
// kept as 65535 among the layers' nodes) and the root node are filed under the same key, so the
// root loses the layer's node ("LWO: Unable to build a valid node graph"). The file is therefore
// repackaged in memory as the current format, which assimp and the chunk walk below read as any
// other: a LAYR chunk (layer 0, unnamed, no parent, pivot 0); the points of every PNTS chunk in
// one PNTS chunk; the SRFS chunk's surface names as the TAGS chunk; the polygons of every POLS
// chunk in one POLS chunk of faces, with a PTAG chunk naming each one's surface; and each surface's
// base values as a current SURF chunk. One chunk of each kind, because assimp 5.2 keeps only the
// last POLS chunk of a layer. Texture sub-chunks are left out (no host object's textures are
// read, and the older format's are projections, which bring no UV maps); so are curves (CRVS),
// patches (PCHS) and other chunks, which assimp's own reader of the format skips as well.
//
// The repackaged file is at most twice the size of the file and 1 MB: polygon records grow by at
// most twice (a point number or polygon number from 0xFF00 up takes four bytes, where the older
// format gives two), points and names stay as they are, and each kept surface (one per name that
// a polygon can give, at most 32768) grows by less than 32 bytes beyond twice its own.

constexpr uint32_t fourcc(const char *id) {
    return uint32_t(uint8_t(id[0])) << 24 | uint32_t(uint8_t(id[1])) << 16 | uint32_t(uint8_t(id[2])) << 8 |
           uint8_t(id[3]);
}

// Big-endian writes.
void putU2(std::string &o, uint32_t v) {
    o += static_cast<char>((v >> 8) & 0xFF);
    o += static_cast<char>(v & 0xFF);
}
void putU4(std::string &o, uint32_t v) {
    putU2(o, v >> 16);
    putU2(o, v & 0xFFFF);
}
void putF4(std::string &o, float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    putU4(o, bits);
}
// A variable-length index (VX): two bytes below 0xFF00, else four, the first 0xFF.
void putVX(std::string &o, uint32_t v) {
    if (v < 0xFF00)
        putU2(o, v);
    else
        putU4(o, 0xFF000000u | v);
}
// A NUL-terminated string padded to an even length.
void putS0(std::string &o, const std::string &s) { o.append(s).append(s.size() % 2 ? 1 : 2, '\0'); }
// A chunk's ID and a length to come; endChunk writes the length (the bytes since) and pads it.
size_t beginChunk(std::string &o, const char *id) {
    o.append(id, 4);
    putU4(o, 0);
    return o.size();
}
void endChunk(std::string &o, size_t start) {
    uint32_t length = static_cast<uint32_t>(o.size() - start);
    for (int k = 0; k < 4; ++k) o[start - 4 + k] = static_cast<char>(length >> (24 - 8 * k));
    if (length & 1) o += '\0';
}
// A SURF sub-chunk of floats, with an envelope (VX, none) after them where the format has one.
void putSub(std::string &o, const char *id, std::initializer_list<float> values, bool envelope) {
    o.append(id, 4);
    putU2(o, static_cast<uint32_t>(4 * values.size() + (envelope ? 2 : 0)));
    for (float v : values) putF4(o, v);
    if (envelope) putU2(o, 0);
}

bool isLwob(const std::string &data) {
    return data.size() >= 12 && data.compare(0, 4, "FORM") == 0 && data.compare(8, 4, "LWOB") == 0;
}

// The LWO2 form of the LWOB file `in`, in `out`; false, with what is wrong in `why` ("its POLS
// chunk ends inside a polygon"), for a file that does not hold together.
//
// Polygon records: a point count (U2), the points (U2 each, from the start of the last PNTS chunk
// before the POLS chunk) and a surface number (I2, from 1; negative when detail polygons follow:
// their count (U2) comes next and they follow as ordinary records, on the surface of the number's
// size). Records of no points are left out. Surface sub-chunks: COLR (three bytes, 255 = 1), DIFF,
// LUMI, SPEC, REFL and TRAN (I2, 256 = 1) or their float forms VDIF, VLUM, VSPC, VRFL and VTRN
// (which take precedence), GLOS (a Blinn-Phong exponent, 16 to 1024, as the host's glossiness g
// with 2^(2 + 10 g) = the exponent, as glossinessOf below), RIND, and from FLAG: double-sidedness
// (bit 0x100), colour highlights (0x8) and colour filter (0x10), each at 1 where set. A surface
// smooths where FLAG's bit 0x4 is set or a SMAN sub-chunk gives an angle (as assimp's reader takes
// it), within SMAN's angle, else 89.5 degrees. Other sub-chunks (textures, reflection options,
// edges, shaders) are left out.
bool lwobAsLwo2(const std::string &in, std::string &out, std::string &why) {
    constexpr size_t kSurfaceNumbers = 32768;  // surfaces a polygon record can give: |I2|
    constexpr uint64_t kVxMost = 0xFFFFFF;     // the largest index a VX holds
    const uint8_t *begin = reinterpret_cast<const uint8_t *>(in.data());
    Bytes head{begin, begin + in.size()};
    head.u4();  // FORM
    uint32_t formSize = head.u4();
    head.u4();  // LWOB
    const size_t body = formSize >= 4 ? std::min<size_t>(formSize - 4, head.left()) : 0;
    const bool whole = body == head.left();
    const uint8_t *from = head.p, *to = head.p + body;
    auto fail = [&](const std::string &what) {
        why = what;
        return false;
    };
    // Calls visit(id, chunk) for each chunk, in the file's order; false on a chunk that runs past
    // the end or one that visit refuses.
    auto walk = [&](const auto &visit) {
        Bytes b{from, to};
        while (b.left() >= 8) {
            std::string tag(reinterpret_cast<const char *>(b.p), 4);
            uint32_t id = b.u4(), length = b.u4();
            bool printable = std::all_of(tag.begin(), tag.end(), [](char c) { return c >= ' ' && c <= '~'; });
            if (length > b.left())
                return fail((printable ? "its " + tag + " chunk" : std::string("a chunk")) +
                            " runs past the end of " + (whole ? "the file" : "its FORM chunk"));
            Bytes chunk{b.p, b.p + length};
            b.p += length;
            if (length & 1 && b.left()) ++b.p;
            if (!visit(id, chunk)) return false;
        }
        return true;
    };
    auto tooLarge = [&]() {
        return out.size() > io::kMaxMeshBytes &&
               fail("repackaged as a current-format host object it would take more than " +
                    io::byteText(io::kMaxMeshBytes));
    };
    // One polygon record, its point numbers at `first`.
    auto polygon = [&](Bytes &c, uint32_t &count, const uint8_t *&first, int &surface) {
        count = c.u2();
        if (!c.ok || c.left() < 2 * size_t(count) + 2) return fail("its POLS chunk ends inside a polygon");
        first = c.p;
        c.p += 2 * size_t(count);
        surface = static_cast<int16_t>(c.u2());
        if (surface < 0) {
            c.u2();  // the number of detail polygons
            if (!c.ok) return fail("its POLS chunk ends inside a polygon");
            surface = -surface;
        }
        if (count > 1023)
            return fail("a polygon of its POLS chunk has " + std::to_string(count) +
                        " points, more than the 1023 of a current-format host object polygon");
        return true;
    };

    // The surface names polygons can give (empty ones included: they count) and the points.
    std::vector<std::string> tags;
    uint64_t points = 0;
    if (!walk([&](uint32_t id, Bytes chunk) {
            if (id == fourcc("SRFS"))
                while (chunk.left() > 0 && tags.size() < kSurfaceNumbers) tags.push_back(chunk.s0());
            if (id != fourcc("PNTS")) return true;
            if (chunk.left() % 12)
                return fail("its PNTS chunk's length " + std::to_string(chunk.left()) +
                            " is not a whole number of points (12 bytes each)");
            points += chunk.left() / 12;
            return points <= kMaxLayerPoints || fail("its PNTS chunks hold more than the " +
                                                     std::to_string(kMaxLayerPoints) + " points of a layer");
        }))
        return false;

    out.clear();
    out.reserve(in.size() + in.size() / 4 + 4096);
    out.append("FORM", 4);
    putU4(out, 0);
    out.append("LWO2", 4);
    size_t at = beginChunk(out, "LAYR");
    putU2(out, 0);  // number
    putU2(out, 0);  // flags
    for (int c = 0; c < 3; ++c) putF4(out, 0);
    putS0(out, "");
    endChunk(out, at);

    // Names, without the empty ones, which assimp skips (the numbers after them would shift):
    // polygons on an empty or missing name have no surface.
    std::vector<int32_t> tagOf(tags.size(), -1);
    std::set<std::string> named;  // lower case, as assimp matches names to SURF chunks
    int32_t names = 0;
    at = beginChunk(out, "TAGS");
    for (size_t i = 0; i < tags.size(); ++i) {
        if (tags[i].empty()) continue;
        tagOf[i] = names++;
        putS0(out, tags[i]);
        named.insert(lower(tags[i]));
    }
    if (names)
        endChunk(out, at);
    else
        out.resize(at - 8);

    if (points) {
        at = beginChunk(out, "PNTS");
        walk([&](uint32_t id, Bytes chunk) {
            if (id == fourcc("PNTS")) out.append(reinterpret_cast<const char *>(chunk.p), chunk.left());
            return true;
        });
        if (tooLarge()) return false;
        endChunk(out, at);
    }

    at = beginChunk(out, "POLS");
    out.append("FACE", 4);
    uint64_t polygons = 0, seen = 0, start = 0;  // points so far; where the last PNTS chunk starts
    if (!walk([&](uint32_t id, Bytes chunk) {
            if (id == fourcc("PNTS")) {
                start = seen;
                seen += chunk.left() / 12;
            }
            if (id != fourcc("POLS")) return true;
            while (chunk.left() > 0) {
                uint32_t count = 0;
                const uint8_t *p = nullptr;
                int surface = 0;
                if (!polygon(chunk, count, p, surface)) return false;
                if (count == 0) continue;
                if (++polygons > kVxMost + 1)
                    return fail("its POLS chunks hold more than the " + std::to_string(kVxMost + 1) +
                                " polygons a current-format host object's polygon tags can number");
                putU2(out, count);  // flags 0
                for (uint32_t k = 0; k < count; ++k) {
                    uint64_t v = start + (uint32_t(p[2 * k]) << 8 | p[2 * k + 1]);
                    if (v >= points)
                        return fail("its POLS chunk names point " + std::to_string(v) + ", past its " +
                                    std::to_string(points) + " points");
                    if (v > kVxMost)
                        return fail("its POLS chunk names point " + std::to_string(v) + ", past the " +
                                    std::to_string(kVxMost + 1) +
                                    " a current-format host object's polygons can name");
                    putVX(out, static_cast<uint32_t>(v));
                }
            }
            return true;
        }))
        return false;
    if (tooLarge()) return false;
    if (polygons) {
        endChunk(out, at);
        // Each polygon's surface: its name's number among the TAGS, or 0xFFFF (none) for a
        // polygon on no name (assimp gives it its default surface, which the import leaves to
        // the caller).
        at = beginChunk(out, "PTAG");
        out.append("SURF", 4);
        uint32_t k = 0;
        walk([&](uint32_t id, Bytes chunk) {
            while (id == fourcc("POLS") && chunk.left() > 0) {
                uint32_t count = 0;
                const uint8_t *p = nullptr;
                int surface = 0;
                polygon(chunk, count, p, surface);  // read once already
                if (count == 0) continue;
                putVX(out, k++);
                size_t raw = static_cast<size_t>(surface) - 1;  // surface 0 wraps past every name
                putU2(out, raw < tagOf.size() && tagOf[raw] >= 0 ? static_cast<uint32_t>(tagOf[raw]) : 0xFFFF);
            }
            return true;
        });
        if (tooLarge()) return false;
        endChunk(out, at);
    } else {
        out.resize(at - 8);
    }

    // Surfaces: the first SURF chunk of each name a polygon can give (assimp and the import take
    // the first); the others could not be used.
    std::set<std::string> done;
    if (!walk([&](uint32_t id, Bytes chunk) {
            if (id != fourcc("SURF")) return true;
            std::string name = chunk.s0(), key = lower(name);
            if (!named.count(key) || !done.insert(key).second) return true;
            // The values given in 1/256 (fixed) or as floats (which win), with their LWO2 sub-chunk.
            struct Value {
                const char *fixedId, *realId;  // the fixed one is also the LWO2 name
                bool fixed = false, real = false;
                float f = 0, r = 0;
            } values[] = {
                {"DIFF", "VDIF"}, {"LUMI", "VLUM"}, {"SPEC", "VSPC"}, {"REFL", "VRFL"}, {"TRAN", "VTRN"}};
            bool color = false, flagged = false, glossy = false, refracts = false, angled = false;
            float rgb[3] = {0, 0, 0}, eta = 1, angle = 0;
            uint32_t flags = 0, exponent = 0;
            while (chunk.left() >= 6) {
                uint32_t sid = chunk.u4(), length = chunk.u2();
                if (length > chunk.left())
                    return fail("its SURF chunk of surface " + quote(name) + " ends inside a sub-chunk");
                Bytes sub{chunk.p, chunk.p + length};
                chunk.p += length;
                if (length & 1 && chunk.left()) ++chunk.p;
                for (Value &v : values) {
                    if (sid == fourcc(v.fixedId) && length >= 2) {
                        v.fixed = true;
                        v.f = static_cast<int16_t>(sub.u2()) / 256.0f;
                    } else if (sid == fourcc(v.realId) && length >= 4) {
                        v.real = true;
                        v.r = sub.f4();
                    }
                }
                if (sid == fourcc("COLR") && length >= 3) {
                    color = true;
                    for (float &c : rgb) c = *sub.p++ / 255.0f;
                } else if (sid == fourcc("FLAG") && length >= 2) {
                    flagged = true;
                    flags = sub.u2();
                } else if (sid == fourcc("GLOS") && length >= 2) {
                    glossy = true;
                    exponent = sub.u2();
                } else if (sid == fourcc("RIND") && length >= 4) {
                    refracts = true;
                    eta = sub.f4();
                } else if (sid == fourcc("SMAN") && length >= 4) {
                    angled = true;
                    angle = std::fabs(sub.f4());
                }
            }
            size_t surf = beginChunk(out, "SURF");
            putS0(out, name);
            putS0(out, "");  // no source surface
            if (color) putSub(out, "COLR", {rgb[0], rgb[1], rgb[2]}, true);
            for (const Value &v : values)
                if (v.fixed || v.real) putSub(out, v.fixedId, {v.real ? v.r : v.f}, true);
            if (glossy)
                putSub(out, "GLOS", {static_cast<float>(within((std::log2(exponent) - 2) / 10, 0, 1, 0))}, true);
            if (refracts) putSub(out, "RIND", {eta}, true);
            if (flagged) {
                out.append("SIDE", 4);
                putU2(out, 2);
                putU2(out, flags & 0x100 ? 3 : 1);
                if (flags & 0x8) putSub(out, "CLRH", {1.0f}, true);
                if (flags & 0x10) putSub(out, "CLRF", {1.0f}, true);
            }
            if (angled || (flags & 0x4)) putSub(out, "SMAN", {angled ? angle : 1.56207f}, false);  // 89.5 degrees
            endChunk(out, surf);
            return true;
        }))
        return false;
    if (tooLarge()) return false;
    uint32_t form = static_cast<uint32_t>(out.size() - 8);
    for (int k = 0; k < 4; ++k) out[4 + k] = static_cast<char>(form >> (24 - 8 * k));
    return true;
}

// Walks the chunks of a host object: layers (number, name, pivot, parent and points) and, in LWO2
// files, the layers' weight and UV maps and the surfaces' base values. What does not fit is left
// for assimp to refuse.
LwoFile readLwoChunks(const std::string &data) {
    LwoFile f;
    Bytes b{reinterpret_cast<const uint8_t *>(data.data()),
            reinterpret_cast<const uint8_t *>(data.data()) + data.size()};
    if (b.u4() != 0x464F524Du) return f;  // FORM
    uint32_t formSize = b.u4();
    f.type.assign(reinterpret_cast<const char *>(b.p), std::min<size_t>(4, b.left()));
    b.u4();
    if (formSize - 4 < b.left()) b.end = b.p + (formSize >= 4 ? formSize - 4 : 0);
    int unnamed = 0;
    size_t lastPoints = 0;  // points of the layer before its last PNTS chunk: indices start there
    auto current = [&]() -> LwoLayer & {
        if (f.layers.empty()) {
            f.layers.emplace_back();
            f.layers.back().node = "<LWODefault>";
        }
        return f.layers.back();
    };
    // A variable-length index: two bytes, or four when the first is 0xFF.
    auto vx = [](Bytes &c) -> uint32_t {
        if (c.left() >= 1 && c.p[0] == 0xFF) return c.u4() & 0x00FFFFFFu;
        return c.u2();
    };
    const bool lwo2 = f.type == "LWO2" || f.type == "LXOB";
    std::map<std::string, size_t> weightNamed, uvNamed;  // the current layer's maps by name
    while (b.left() >= 8 && f.fault.empty()) {
        uint32_t id = b.u4(), length = b.u4();
        if (length > b.left()) break;
        Bytes chunk{b.p, b.p + length};
        b.p += length;
        if (length & 1 && b.left()) ++b.p;
        std::string tag(reinterpret_cast<const char *>(chunk.p) - 8, 4);
        auto fault = [&](const std::string &what) { f.fault = "its " + tag + " chunk " + what; };
        // assimp 5.2 reads these chunks' entries without bounds: a polygon whose point numbers
        // run past its chunk (or the file) is read from beyond it, and a point number equal to the
        // layer's point count passes its check. Every entry must fit its chunk, whole, and name
        // points the layer has.
        if (lwo2 && id == 0x504F4C53u) {  // POLS
            chunk.u4();
            size_t have = f.layers.empty() ? 0 : f.layers.back().points.size() / 3;
            while (chunk.left() > 0 && f.fault.empty()) {
                uint32_t count = chunk.u2() & 0x03FF;
                for (uint32_t k = 0; k < count && chunk.ok; ++k)
                    if (lastPoints + vx(chunk) >= have && chunk.ok) fault("names a point the layer does not have");
                if (!chunk.ok) fault("ends inside a polygon");
            }
            continue;
        }
        if (lwo2 && (id == 0x50544147u || id == 0x564D4150u || id == 0x564D4144u)) {  // PTAG, VMAP, VMAD
            uint32_t type = chunk.u4();
            uint32_t dim = id == 0x50544147u ? 0 : chunk.u2();
            std::string name = id != 0x50544147u ? chunk.s0() : std::string();
            // A weight or UV map's entries are kept (VMAD's per-polygon values are not): those
            // naming a point the layer has (assimp skips the others too), with finite values.
            size_t have = f.layers.empty() ? 0 : f.layers.back().points.size() / 3;
            bool weight = type == 0x57474854u && dim == 1, uv = type == 0x54585556u && dim == 2;  // WGHT, TXUV
            LwoMap *map = nullptr;
            if (f.type == "LWO2" && id == 0x564D4150u && have && chunk.ok && (weight || uv)) {
                std::vector<LwoMap> &maps = weight ? f.layers.back().weightMaps : f.layers.back().uvMaps;
                auto named = (weight ? weightNamed : uvNamed).emplace(name, maps.size());
                if (named.second) {
                    maps.emplace_back();
                    maps.back().name = name;
                }
                map = &maps[named.first->second];
            }
            // Entries: a point, (VMAD) a polygon, then (PTAG) a tag or (VMAP, VMAD) dim values.
            while (chunk.left() > 0 && chunk.ok) {
                uint64_t point = lastPoints + vx(chunk);
                if (id == 0x564D4144u) vx(chunk);
                if (id == 0x50544147u) chunk.u2();
                float value[2] = {0, 0};
                for (uint32_t k = 0; k < dim && chunk.ok; ++k) value[k < 2 ? k : 1] = chunk.f4();
                if (map && chunk.ok && point < have && std::isfinite(value[0]) && std::isfinite(value[1])) {
                    map->points.push_back(static_cast<uint32_t>(point));
                    map->values.insert(map->values.end(), value, value + dim);
                }
            }
            if (!chunk.ok) fault("ends inside an entry");
            continue;
        }
        if (id == 0x4C415952u) {  // LAYR
            LwoLayer layer;
            layer.number = chunk.u2();
            chunk.u2();  // flags
            for (int c = 0; c < 3; ++c) layer.pivot[c] = chunk.f4();
            layer.name = chunk.s0();
            layer.node = layer.name.empty() ? "Layer_" + std::to_string(unnamed++) : layer.name;
            if (chunk.left() >= 2) layer.parent = chunk.u2();
            if (layer.parent == 0xFFFF) layer.parent = -1;
            f.layers.push_back(std::move(layer));
            lastPoints = 0;
            weightNamed.clear();
            uvNamed.clear();
        } else if (id == 0x504E5453u) {  // PNTS
            LwoLayer &layer = current();
            lastPoints = layer.points.size() / 3;
            size_t n = length / 12;
            if (n > kMaxLayerPoints || layer.points.size() / 3 + n > kMaxLayerPoints) break;
            layer.points.reserve(layer.points.size() + n * 3);
            for (size_t i = 0; i < n * 3; ++i) layer.points.push_back(chunk.f4());
        } else if (id == 0x53555246u && f.type == "LWO2") {  // SURF
            LwoSurface surface;
            surface.name = chunk.s0();
            surface.surface = lwo2Surface(chunk, surface.name);
            f.surfaces.push_back(std::move(surface));
        }
    }
    return f;
}

// ---------------------------------------------------------------------------------------------
// Materials.

bool getColor(const aiMaterial &m, const char *key, unsigned type, unsigned index, Vec3 &out) {
    aiColor3D c;
    if (m.Get(key, type, index, c) != AI_SUCCESS) return false;
    out = {c.r, c.g, c.b};
    return true;
}

bool getFloat(const aiMaterial &m, const char *key, unsigned type, unsigned index, double &out) {
    ai_real v = 0;
    if (m.Get(key, type, index, v) != AI_SUCCESS) return false;
    out = v;
    return true;
}

bool getInt(const aiMaterial &m, const char *key, unsigned type, unsigned index, int &out) {
    int v = 0;
    if (m.Get(key, type, index, v) != AI_SUCCESS) return false;
    out = v;
    return true;
}

// The host's glossiness for a Blinn-Phong exponent: 2^(2 + 10 g) = exponent.
double glossinessOf(double exponent) { return within((std::log2(exponent) - 2) / 10, 0, 1, 0.4); }

// A host object surface from what assimp's LWO reader made of it, where the file's own chunk was not
// read (LWO3 and LXOB files). The reader folds the file's values into a material (assimp's
// LWOMaterial.cpp, ConvertMaterial): diffuse colour = colour x diffuse (x 1 with a colour
// texture), specular strength = specularity, shininess = (10 g + 2)^2 for glossiness g when both
// are non-zero, specular colour =
// white mixed towards the colour by colour highlights, emissive = 0.8 x luminosity, opacity =
// 1 - transparency (or the additive transparency, with an additive blend), refraction index,
// two-sidedness, and a flat shading model when the smoothing angle is 0. Undone here: colour (with
// the diffuse level folded in, diffuse 1), specularity, glossiness (where specularity is not 0),
// luminosity, transparency, refraction index, sidedness and smoothing. Lost: the diffuse level
// apart from the colour, colour highlights (the colour they mix towards is the folded one),
// reflection, translucency, colour filter, additive transparency and the smoothing angle.
Surface lwoSurfaceFromMaterial(const aiMaterial &m, const std::string &name) {
    Surface s;
    s.name = name;
    Vec3 c;
    if (getColor(m, AI_MATKEY_COLOR_DIFFUSE, c))
        for (int k = 0; k < 3; ++k) s.color[k] = within(c[k], 0, 1e6, s.color[k]);
    double v = 0;
    if (getFloat(m, AI_MATKEY_SHININESS_STRENGTH, v)) s.specular = within(v, 0, 10, 0);
    if (getFloat(m, AI_MATKEY_SHININESS, v))
        s.glossiness = within((std::sqrt(std::max(0.0, v)) - 2) / 10, 0, 1, 0.4);
    else if (s.specular > 0)
        s.glossiness = 0;
    if (getColor(m, AI_MATKEY_COLOR_EMISSIVE, c)) s.luminosity = within(c[0] / 0.8, 0, 1e6, 0);
    int blend = aiBlendMode_Default;
    getInt(m, AI_MATKEY_BLEND_FUNC, blend);
    if (blend == aiBlendMode_Default && getFloat(m, AI_MATKEY_OPACITY, v)) s.transparency = within(1 - v, 0, 1, 0);
    if (getFloat(m, AI_MATKEY_REFRACTI, v)) s.eta = within(v, 0.01, 10, 1);
    int flag = 0;
    if (getInt(m, AI_MATKEY_TWOSIDED, flag)) s.doubleSided = flag != 0;
    if (getInt(m, AI_MATKEY_SHADING_MODEL, flag)) s.smoothing = flag != aiShadingMode_Flat;
    return s;
}

// A surface from another format's material: diffuse (or base) colour, specular colour times
// strength, shininess as the Blinn-Phong exponent, emissive colour as luminosity, opacity,
// reflectivity, refraction index, two-sidedness and flat shading as they are given. Channels the
// material does not give keep the host's defaults.
Surface surfaceFromMaterial(const aiMaterial &m, const std::string &name) {
    Surface s;
    s.name = name;
    Vec3 c;
    if (getColor(m, AI_MATKEY_COLOR_DIFFUSE, c) || getColor(m, AI_MATKEY_BASE_COLOR, c))
        for (int k = 0; k < 3; ++k) s.color[k] = within(c[k], 0, 1e6, s.color[k]);
    double v = 0, strength = 1;
    getFloat(m, AI_MATKEY_SHININESS_STRENGTH, strength);
    if (getColor(m, AI_MATKEY_COLOR_SPECULAR, c))
        s.specular = within(std::max({c[0], c[1], c[2]}) * strength, 0, 10, 0);
    if (getFloat(m, AI_MATKEY_SHININESS, v) && v > 0) s.glossiness = glossinessOf(v);
    if (getColor(m, AI_MATKEY_COLOR_EMISSIVE, c)) s.luminosity = within(std::max({c[0], c[1], c[2]}), 0, 1e6, 0);
    if (getFloat(m, AI_MATKEY_OPACITY, v)) s.transparency = within(1 - v, 0, 1, 0);
    // Reflection: the reflective colour times its factor (FBX and Collada give both; a factor
    // alone, with no colour, is taken as it is).
    if (getFloat(m, AI_MATKEY_REFLECTIVITY, v)) {
        double tint = getColor(m, AI_MATKEY_COLOR_REFLECTIVE, c) ? std::max({c[0], c[1], c[2]}) : 1.0;
        s.mirror = within(v * tint, 0, 1, 0);
    }
    if (getFloat(m, AI_MATKEY_REFRACTI, v)) s.eta = within(v, 0.01, 10, 1);
    int flag = 0;
    if (getInt(m, AI_MATKEY_TWOSIDED, flag)) s.doubleSided = flag != 0;
    if (getInt(m, AI_MATKEY_SHADING_MODEL, flag)) s.smoothing = flag != aiShadingMode_Flat;
    return s;
}

// ---------------------------------------------------------------------------------------------
// Welding: points found by exact position (0 and -0 alike), in an open-addressed table of point
// numbers over the layer's own points.

class PointTable {
public:
    explicit PointTable(const std::vector<MeshPoint> &points) : points_(points) {}

    void reserve(size_t n) {
        size_t size = 16;
        while (size < 2 * n) size *= 2;
        if (size > slots_.size()) rehash(size);
    }
    // The point at `p`, or -1.
    int find(const float p[3]) const {
        if (slots_.empty()) return -1;
        for (size_t i = hash(p) & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
            int32_t k = slots_[i];
            if (k < 0) return -1;
            if (same(points_[static_cast<size_t>(k)].pos, p)) return k;
        }
    }
    // Records point `k` (already among the points) unless one at its position is there; returns
    // the point at that position.
    int add(int k) {
        if (2 * (count_ + 1) > slots_.size()) rehash(std::max<size_t>(16, 2 * slots_.size()));
        const float *p = points_[static_cast<size_t>(k)].pos;
        for (size_t i = hash(p) & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
            int32_t &slot = slots_[i];
            if (slot < 0) {
                slot = k;
                ++count_;
                return k;
            }
            if (same(points_[static_cast<size_t>(slot)].pos, p)) return slot;
        }
    }
    static uint64_t bytesFor(size_t n) { return 16 * n + 64; }

private:
    static uint32_t bits(float f) {
        if (f == 0) f = 0;  // -0 welds with 0
        uint32_t u;
        std::memcpy(&u, &f, 4);
        return u;
    }
    static size_t hash(const float p[3]) {
        uint64_t h = bits(p[0]) * 0x9E3779B97F4A7C15ull;
        h = (h ^ (h >> 29) ^ bits(p[1])) * 0xBF58476D1CE4E5B9ull;
        h = (h ^ (h >> 31) ^ bits(p[2])) * 0x94D049BB133111EBull;
        return static_cast<size_t>(h ^ (h >> 32));
    }
    static bool same(const float a[3], const float b[3]) { return a[0] == b[0] && a[1] == b[1] && a[2] == b[2]; }
    void rehash(size_t size) {
        std::vector<int32_t> old;
        old.swap(slots_);
        slots_.assign(size, -1);
        count_ = 0;
        for (int32_t k : old)
            if (k >= 0) add(k);
    }
    const std::vector<MeshPoint> &points_;
    std::vector<int32_t> slots_;
    size_t count_ = 0;
};

// ---------------------------------------------------------------------------------------------
// The import.

class Import {
public:
    Import(std::string path, std::string label, uint64_t limit)
        : path_(std::move(path)), label_(std::move(label)), limit_(limit) {}

    bool file(int layer, ImportedMesh &out, std::string &error) {
        uint64_t size = 0;
        std::string why;
        int fd = io::openRegularFile(path_, io::kMaxMeshBytes, "mesh file", size, why);
        if (fd < 0) return refuse(error, "cannot open mesh file " + quoteFile(path_) + ": " + why);
        char head[4096] = {};
        ssize_t got = ::pread(fd, head, sizeof head, 0);
        ::close(fd);
        got = std::max<ssize_t>(got, 0);
        // Zip archives (Collada's .zae among them) are not opened: what they hold could not be checked.
        if (got >= 4 && std::memcmp(head, "PK\x03\x04", 4) == 0)
            return refuse(error, label_ + " is a zip archive, which is not read");
        Format format = formatOf(path_, head, static_cast<size_t>(got));
        if (format == Format::None)
            return refuse(error, label_ +
                                     " is not a mesh file of a kind read here (host object, OBJ, PLY, STL, "
                                     "glTF 2, FBX or Collada)");
        out.files.push_back(path_);
        if (format == Format::Obj) {
            std::string text;
            if (!io::readFile(path_, io::kMaxMeshBytes, "mesh file", text, why))
                return refuse(error, "cannot open mesh file " + quoteFile(path_) + ": " + why);
            if (layer > 1) return refuse(error, label_ + " has one layer, not " + std::to_string(layer));
            return obj(text, true, out, error);
        }
        uint64_t factor = format == Format::Lwo   ? kLwoFactor
                          : !binary(head, got)    ? kTextFactor
                          : format == Format::Ply ? kBinaryPlyFactor
                          : format == Format::Stl ? kBinaryStlFactor
                                                  : kBinaryFactor;
        uint64_t estimate = size * factor;
        if (!fits(estimate, error)) return false;
        if (format != Format::Lwo) {
            if (layer > 1) return refuse(error, label_ + " has one layer, not " + std::to_string(layer));
            if (format == Format::Ply && !plyHeader(error)) return false;
            if (format == Format::Collada || format == Format::Gltf) {
                std::string text;
                if (!io::readFile(path_, io::kMaxMeshBytes, "mesh file", text, why))
                    return refuse(error, "cannot open mesh file " + quoteFile(path_) + ": " + why);
                if (format == Format::Collada ? !colladaIndices(text, error) : !gltfBounds(text, error))
                    return false;
                return other(format, text.size(), estimate, true, out, error, &text);
            }
            // PLY files have no materials: the one assimp makes up is not the file's.
            return other(format, size, estimate, format != Format::Ply, out, error);
        }
        std::string data;
        if (!io::readFile(path_, io::kMaxMeshBytes, "mesh file", data, why))
            return refuse(error, "cannot open mesh file " + quoteFile(path_) + ": " + why);
        return lwo(data, layer, estimate, out, error);
    }

    // OBJ text: checked and its points read by checkObj, then read by assimp with each point
    // statement replaced by the point's number.
    bool obj(std::string &text, bool sideFiles, ImportedMesh &out, std::string &error) {
        // The points read on the way take at most 12 bytes for each 7 of text ("v 0 0 0\n").
        if (!fits(3 * uint64_t(text.size()), error)) return false;
        ObjCounts counts;
        std::vector<float> filePoints;
        if (!checkObj(text, label_, counts, error, &filePoints)) return false;
        if (counts.faces == 0) return refuse(error, label_ + " has no polygons");
        filePoints.shrink_to_fit();
        uint64_t estimate = 2 * text.size() + counts.bytes;
        if (!fits(estimate, error)) return false;
        std::string numbered = numberObjPoints(text);
        auto importer =
            read(Format::Obj, path_, &numbered, numbered.size(), sideFiles, "material", kTextFactor, 0, estimate);
        if (!importer) return refuseImport(error);
        const aiScene *scene = importer->GetScene();
        numbered.clear();
        numbered.shrink_to_fit();

        out.layers.emplace_back();
        MeshLayer &layer = out.layers.back().mesh;
        layer.points.resize(counts.points);
        for (size_t i = 0; i < counts.points; ++i)
            for (int c = 0; c < 3; ++c) layer.points[i].pos[c] = filePoints[i * 3 + c];
        filePoints = std::vector<float>();
        // Points at one position become one: the first in the file.
        std::vector<int> weld(layer.points.size());
        {
            PointTable table(layer.points);
            table.reserve(layer.points.size());
            std::vector<MeshPoint> kept;
            kept.reserve(layer.points.size());
            for (size_t i = 0; i < layer.points.size(); ++i) {
                int first = table.add(static_cast<int>(i));
                weld[i] = first == static_cast<int>(i) ? static_cast<int>(kept.size())
                                                       : weld[static_cast<size_t>(first)];
                if (first == static_cast<int>(i)) kept.push_back(layer.points[i]);
            }
            if (kept.size() != layer.points.size()) layer.points.swap(kept);
        }
        std::vector<int> surfaceOf = surfaces(*scene, nullptr, out);
        uint64_t faces = 0;
        for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
            const aiMesh &mesh = *scene->mMeshes[m];
            auto pointOf = [&](unsigned v) -> int {
                if (v >= mesh.mNumVertices) return -1;
                const aiVector3D &p = mesh.mVertices[v];
                int64_t k = objPointNumber(p.x, p.y, p.z);
                return k < 0 || static_cast<uint64_t>(k) >= weld.size() ? -1 : weld[static_cast<size_t>(k)];
            };
            if (!polygons(mesh, surfaceOf, pointOf, false, layer, error)) return false;
            for (unsigned f = 0; f < mesh.mNumFaces; ++f) faces += mesh.mFaces[f].mNumIndices >= 3;
            maps(mesh, pointOf, layer);
        }
        if (faces != counts.faces)
            return refuse(error, label_ + ": the importer read " + std::to_string(faces) +
                                     " polygons where the file has " + std::to_string(counts.faces));
        return finish(out, error);
    }

private:
    // A PLY file's header, checked before assimp reads it: assimp 5.2's reader loops for ever on a
    // header without an end_header line, reads out of bounds (and crashes) when an element is
    // declared twice with different properties, and makes room for as many elements as the header
    // declares, whatever the file holds. The header must end within its first megabyte, name each
    // element once, and what its elements would take must fit the memory limit.
    bool plyHeader(std::string &error) {
        constexpr size_t kMost = 1 << 20;
        std::string head(kMost, '\0'), why;
        uint64_t size = 0;
        int fd = io::openRegularFile(path_, io::kMaxMeshBytes, "mesh file", size, why);
        if (fd < 0) return refuse(error, "cannot open mesh file " + quoteFile(path_) + ": " + why);
        ssize_t got = ::pread(fd, &head[0], kMost, 0);
        ::close(fd);
        head.resize(got > 0 ? static_cast<size_t>(got) : 0);
        uint64_t bytes = 0, count = 0, properties = 0;
        std::vector<std::string> elements;
        auto element = [&]() {
            // Each element a record of its properties (8 bytes each, lists three entries), and
            // for faces the corners and polygons built from them.
            bytes += count * (64 + 8 * properties) * 4;
            properties = 0;
        };
        size_t at = 0;
        while (at < head.size()) {
            size_t end = head.find_first_of("\r\n", at);
            if (end == std::string::npos) break;
            std::string line = head.substr(at, end - at);
            at = end + 1;
            std::string word = line.substr(0, line.find(' '));
            if (word == "end_header") {
                element();
                return fits(bytes, error);
            }
            if (word == "element") {
                element();
                std::string name = line.substr(std::min(line.size(), size_t(8)));
                name = name.substr(0, name.find(' '));
                if (std::find(elements.begin(), elements.end(), name) != elements.end())
                    return refuse(error, label_ + ": the PLY header declares element " + quote(name) + " twice");
                elements.push_back(name);
                size_t space = line.find_last_of(' ');
                count = std::strtoull(line.c_str() + (space == std::string::npos ? line.size() : space + 1),
                                      nullptr, 10);
                if (count > kMaxLayerPoints)
                    return refuse(error, label_ + ": the PLY header declares more elements than a layer holds");
            } else if (word == "property") {
                properties += line.compare(0, 14, "property list ") == 0 ? 3 : 1;
            }
        }
        return refuse(error, label_ + ": the PLY header has no end_header line in its first megabyte");
    }

    // The index lists of a Collada file (<p>, <h>, <v>, <vcount>) and its data arrays, checked
    // before assimp reads them: assimp 5.2's reader appends indices for ever, its memory growing
    // without bound, when a list holds anything but whole numbers, and crashes on a data array
    // without a count.
    bool colladaIndices(const std::string &text, std::string &error) {
        static const char *const lists[] = {"<p>", "<p ", "<h>", "<h ", "<v>", "<v ", "<vcount>", "<vcount "};
        static const char *const arrays[] = {"<float_array", "<int_array", "<Name_array", "<IDREF_array",
                                             "<bool_array"};
        auto lineOf = [&](size_t k) {
            return std::to_string(1 + std::count(text.begin(), text.begin() + static_cast<long>(k), '\n'));
        };
        for (size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
            for (const char *tag : arrays) {
                if (text.compare(at, std::strlen(tag), tag) != 0) continue;
                size_t close = text.find('>', at);
                std::string start = text.substr(at, close == std::string::npos ? std::string::npos : close - at);
                if (start.find(" count=") == std::string::npos && start.find("\tcount=") == std::string::npos &&
                    start.find("\ncount=") == std::string::npos)
                    return refuse(error, label_ + ", line " + lineOf(at) + ": a data array without a count");
            }
            bool list = false;
            for (const char *tag : lists) list = list || text.compare(at, std::strlen(tag), tag) == 0;
            if (!list) continue;
            size_t from = text.find('>', at);
            if (from == std::string::npos) break;
            size_t to = text.find('<', from);
            if (to == std::string::npos) to = text.size();
            for (size_t k = from + 1; k < to; ++k) {
                char c = text[k];
                if (!(c >= '0' && c <= '9') && c != ' ' && c != '\t' && c != '\n' && c != '\r') {
                    char shown[16];
                    std::snprintf(shown, sizeof shown, c > 0x20 && c < 0x7F ? "\"%c\"" : "byte 0x%02X",
                                  c > 0x20 && c < 0x7F ? c : static_cast<unsigned char>(c));
                    return refuse(error, label_ + ", line " + lineOf(k) + ": an index list holds " + shown +
                                             ", not only whole numbers");
                }
            }
            at = to - 1;  // the next tag starts at `to`
        }
        return true;
    }

    // A glTF file's accessors and buffer views, checked before assimp reads them: assimp 5.2 reads
    // an accessor's data without checking that it lies within its buffer view (an accessor's offset
    // is not counted), past the end of the buffer. Every buffer view must lie within its buffer's
    // declared length, and every accessor (and sparse accessor) within its buffer view. Whether the
    // buffers hold their declared lengths assimp checks itself.
    bool gltfBounds(const std::string &data, std::string &error) {
        using json = nlohmann::json;
        std::string text = data;
        if (data.size() >= 20 && data.compare(0, 4, "glTF") == 0) {  // binary: the JSON chunk
            auto u4 = [&](size_t at) {
                return uint32_t(uint8_t(data[at])) | uint32_t(uint8_t(data[at + 1])) << 8 |
                       uint32_t(uint8_t(data[at + 2])) << 16 | uint32_t(uint8_t(data[at + 3])) << 24;
            };
            uint32_t length = u4(12);
            if (length > data.size() - 20)
                return refuse(error, label_ + ": the glTF JSON chunk runs past the file");
            text = data.substr(20, length);
        }
        // assimp's JSON reader recurses once a nesting level: deep nesting would exhaust the stack.
        int depth = 0;
        bool quoted = false;
        for (size_t k = 0; k < text.size(); ++k) {
            char c = text[k];
            if (quoted) {
                if (c == '\\')
                    ++k;
                else if (c == '"')
                    quoted = false;
            } else if (c == '"') {
                quoted = true;
            } else if (c == '[' || c == '{') {
                if (++depth > 128) return refuse(error, label_ + ": its JSON nests deeper than 128 levels");
            } else if (c == ']' || c == '}') {
                --depth;
            }
        }
        // What this reading cannot check (not JSON, not UTF-8: assimp's own reader is laxer) is
        // refused rather than left to assimp.
        json root = json::parse(text, nullptr, false);
        if (root.is_discarded() || !root.is_object())
            return refuse(error, label_ + ": its glTF JSON is not a valid JSON object (in UTF-8)");
        auto number = [](const json &o, const char *key, uint64_t def) -> uint64_t {
            auto it = o.find(key);
            if (it == o.end() || !it->is_number_unsigned()) return def;
            return it->get<uint64_t>();
        };
        auto list = [&](const char *key) -> const json & {
            static const json none = json::array();
            auto it = root.find(key);
            return it != root.end() && it->is_array() ? *it : none;
        };
        const json &buffers = list("buffers"), &views = list("bufferViews"), &accessors = list("accessors");
        // assimp 5.2 dereferences a skin's inverse bind matrices without looking: a skin without
        // them (the glTF default, identity matrices) crashes it.
        const json &skins = list("skins");
        for (size_t i = 0; i < skins.size(); ++i)
            if (!skins[i].is_object() || !skins[i].contains("inverseBindMatrices"))
                return refuse(error, label_ + ": skin " + std::to_string(i) +
                                         " has no inverse bind matrices, which assimp 5.2 cannot read");
        const uint64_t kNo = ~0ull;
        auto bad = [&](const std::string &what) {
            return refuse(error, label_ + ": " + what + " lies outside its data");
        };
        std::vector<uint64_t> viewLength;
        for (size_t i = 0; i < views.size(); ++i) {
            const json &v = views[i];
            uint64_t buffer = v.is_object() ? number(v, "buffer", kNo) : kNo;
            uint64_t offset = v.is_object() ? number(v, "byteOffset", 0) : 0,
                     length = v.is_object() ? number(v, "byteLength", 0) : 0;
            uint64_t have = buffer < buffers.size() && buffers[buffer].is_object()
                                ? number(buffers[buffer], "byteLength", 0)
                                : 0;
            if (offset > have || length > have - offset) return bad("buffer view " + std::to_string(i));
            viewLength.push_back(length);
        }
        auto within = [&](uint64_t view, uint64_t offset, uint64_t count, uint64_t element, uint64_t stride) {
            if (view == kNo) return true;  // no buffer view: zeros
            if (view >= viewLength.size() || element == 0) return false;
            if (count == 0) return offset <= viewLength[view];
            if (count > (1ull << 40) || stride > (1ull << 20)) return false;
            uint64_t need = offset + stride * (count - 1) + element;
            return need <= viewLength[view];
        };
        for (size_t i = 0; i < accessors.size(); ++i) {
            const json &a = accessors[i];
            if (!a.is_object()) continue;
            uint64_t component = 0;
            switch (number(a, "componentType", 0)) {
                case 5120:
                case 5121:
                    component = 1;
                    break;
                case 5122:
                case 5123:
                    component = 2;
                    break;
                case 5125:
                case 5126:
                    component = 4;
                    break;
                default:
                    break;
            }
            std::string type = a.contains("type") && a["type"].is_string() ? a["type"].get<std::string>() : "";
            uint64_t parts = type == "SCALAR"                   ? 1
                             : type == "VEC2"                   ? 2
                             : type == "VEC3"                   ? 3
                             : type == "VEC4" || type == "MAT2" ? 4
                             : type == "MAT3"                   ? 9
                             : type == "MAT4"                   ? 16
                                                                : 0;
            uint64_t element = component * parts, view = number(a, "bufferView", kNo);
            uint64_t stride =
                view < views.size() && views[view].is_object() ? number(views[view], "byteStride", 0) : 0;
            if (!within(view, number(a, "byteOffset", 0), number(a, "count", 0), element,
                        stride ? stride : element))
                return bad("accessor " + std::to_string(i));
            auto sparse = a.find("sparse");
            if (sparse != a.end() && sparse->is_object()) {
                uint64_t count = number(*sparse, "count", 0);
                auto indices = sparse->find("indices"), values = sparse->find("values");
                if (indices != sparse->end() && indices->is_object()) {
                    uint64_t size = number(*indices, "componentType", 0) == 5125   ? 4
                                    : number(*indices, "componentType", 0) == 5123 ? 2
                                                                                   : 1;
                    if (!within(number(*indices, "bufferView", kNo), number(*indices, "byteOffset", 0), count,
                                size, size))
                        return bad("accessor " + std::to_string(i) + "'s sparse indices");
                }
                if (values != sparse->end() && values->is_object() &&
                    !within(number(*values, "bufferView", kNo), number(*values, "byteOffset", 0), count, element,
                            element))
                    return bad("accessor " + std::to_string(i) + "'s sparse values");
            }
        }
        return true;
    }

    static bool binary(const char *head, ssize_t got) {
        for (ssize_t i = 0; i < got; ++i)
            if (head[i] == 0) return true;
        return got >= 4 && (std::memcmp(head, "glTF", 4) == 0 || std::memcmp(head, "Kaydara", 7) == 0);
    }

    bool refuse(std::string &error, const std::string &message) {
        error = message;
        return false;
    }

    bool fits(uint64_t bytes, std::string &error) {
        if (!limit_ || bytes <= limit_) return true;
        return refuse(error, label_ + " would need about " + io::byteText(bytes) + " of memory, more than the " +
                                 io::byteText(limit_) + " left for the scene");
    }

    // Why the import failed: a file refused on the way, or the importer's own message.
    bool refuseImport(std::string &error) {
        if (!refusal_.empty()) return refuse(error, refusal_);
        std::string why = importError_.empty() ? "not a mesh file assimp reads" : importError_;
        while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == ' ')) why.pop_back();
        return refuse(error, label_ + ": " + excerpt(why, 4 * kExcerpt));
    }

    // Runs assimp over the mesh file with only our files and readers; null on failure (the reason
    // in refusal_ or importError_).
    std::unique_ptr<Assimp::Importer> read(Format format, const std::string &mainPath, const std::string *data,
                                           uint64_t size, bool sideFiles, const char *sideKind, uint64_t factor,
                                           int layer, uint64_t estimate) {
        auto importer = std::make_unique<Assimp::Importer>();
        keepReaders(*importer, format);
        auto *io = new BoundedIO(mainPath, data, size, sideFiles, sideKind, factor, limit_, estimate);
        importer->SetIOHandler(io);  // the importer owns it
        importer->SetPropertyBool(AI_CONFIG_IMPORT_COLLADA_IGNORE_UP_DIRECTION, true);
        importer->SetPropertyBool(AI_CONFIG_IMPORT_FBX_READ_CAMERAS, false);
        importer->SetPropertyBool(AI_CONFIG_IMPORT_FBX_READ_LIGHTS, false);
        importer->SetPropertyBool(AI_CONFIG_IMPORT_FBX_READ_ANIMATIONS, false);
        importer->SetPropertyBool(AI_CONFIG_IMPORT_NO_SKELETON_MESHES, true);
        if (layer > 0) importer->SetPropertyInteger(AI_CONFIG_IMPORT_LWO_ONE_LAYER_ONLY, layer);
        const aiScene *scene = nullptr;
        try {
            scene = importer->ReadFile(mainPath, aiProcess_ValidateDataStructure);
        } catch (const std::exception &e) {
            importError_ = e.what();
        }
        refusal_ = io->refusal;
        sideFiles_ = io->files;
        if (!scene) {
            if (importError_.empty()) importError_ = importer->GetErrorString();
            return nullptr;
        }
        if (!refusal_.empty()) return nullptr;
        return importer;
    }

    // The file's materials as surfaces, one per name; the index of each material's surface, -1
    // for assimp's own default material (polygons the file gives no surface).
    std::vector<int> surfaces(const aiScene &scene, const LwoFile *lwo, ImportedMesh &out) {
        std::vector<int> index(scene.mNumMaterials, -1);
        for (unsigned i = 0; i < scene.mNumMaterials; ++i) {
            const aiMaterial &m = *scene.mMaterials[i];
            aiString n;
            std::string name = m.Get(AI_MATKEY_NAME, n) == AI_SUCCESS ? std::string(n.C_Str()) : std::string();
            if (name == AI_DEFAULT_MATERIAL_NAME || name == "LWODefaultSurface") continue;
            if (name.empty()) name = "Material " + std::to_string(i + 1);
            for (size_t k = 0; k < out.surfaces.size() && index[i] < 0; ++k)
                if (out.surfaces[k].name == name) index[i] = static_cast<int>(k);
            if (index[i] >= 0) continue;
            index[i] = static_cast<int>(out.surfaces.size());
            const LwoSurface *raw = nullptr;
            if (lwo) {
                for (const LwoSurface &s : lwo->surfaces)
                    if (!raw && s.name == name) raw = &s;
                for (const LwoSurface &s : lwo->surfaces)
                    if (!raw && lower(s.name) == lower(name)) raw = &s;  // as assimp matches tags
            }
            if (raw) {
                out.surfaces.push_back(raw->surface);
                out.surfaces.back().name = name;
            } else if (lwo) {
                out.surfaces.push_back(lwoSurfaceFromMaterial(m, name));
            } else {
                out.surfaces.push_back(surfaceFromMaterial(m, name));
            }
        }
        return index;
    }

    // Adds a mesh's faces of three or more corners as polygons (reversed when `flip`), each
    // corner's point given by `pointOf` (-1: the importer named a point the file lacks).
    template <typename PointOf>
    bool polygons(const aiMesh &mesh, const std::vector<int> &surfaceOf, const PointOf &pointOf, bool flip,
                  MeshLayer &layer, std::string &error) {
        int surface = mesh.mMaterialIndex < surfaceOf.size() ? surfaceOf[mesh.mMaterialIndex] : -1;
        for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
            const aiFace &face = mesh.mFaces[f];
            if (face.mNumIndices < 3) continue;
            if (layer.polygons.size() >= kMaxLayerPoints)
                return refuse(
                    error, label_ + " has more than " + std::to_string(kMaxLayerPoints) + " polygons in a layer");
            MeshPolygon poly;
            poly.surface = surface;
            poly.points.resize(face.mNumIndices);
            for (unsigned k = 0; k < face.mNumIndices; ++k) {
                int p = pointOf(face.mIndices[flip ? face.mNumIndices - 1 - k : k]);
                if (p < 0) return refuse(error, label_ + ": the importer gave a point that is not in the file");
                poly.points[k] = p;
            }
            layer.polygons.push_back(std::move(poly));
        }
        return true;
    }

    // The mesh's UV channels and bone weights as the layer's UV and weight maps, by name, each
    // point taking the value of the first corner that gives it one.
    template <typename PointOf>
    void maps(const aiMesh &mesh, const PointOf &pointOf, MeshLayer &layer) {
        size_t n = layer.points.size();
        for (unsigned ch = 0; ch < AI_MAX_NUMBER_OF_TEXTURECOORDS; ++ch) {
            if (!mesh.mTextureCoords[ch]) continue;
            const aiString *given = mesh.GetTextureCoordsName(ch);
            std::string name =
                given && given->length ? std::string(given->C_Str()) : "UV" + (ch ? std::to_string(ch + 1) : "");
            UVMap *map = nullptr;
            for (UVMap &m : layer.uvMaps)
                if (m.name == name) map = &m;
            if (!map) {
                layer.uvMaps.emplace_back();
                map = &layer.uvMaps.back();
                map->name = name;
            }
            map->values.resize(2 * n, 0.0f);  // points added since the map was made have none
            map->has.resize(n, 0);
            for (unsigned v = 0; v < mesh.mNumVertices; ++v) {
                int p = pointOf(v);
                const aiVector3D &uv = mesh.mTextureCoords[ch][v];
                if (p < 0 || map->has[static_cast<size_t>(p)] || !std::isfinite(uv.x) || !std::isfinite(uv.y))
                    continue;
                map->has[static_cast<size_t>(p)] = 1;
                map->values[2 * static_cast<size_t>(p)] = uv.x;
                map->values[2 * static_cast<size_t>(p) + 1] = uv.y;
            }
        }
        for (unsigned b = 0; b < mesh.mNumBones; ++b) {
            const aiBone *bone = mesh.mBones[b];
            if (!bone || !bone->mWeights) continue;
            std::string name = bone->mName.C_Str();
            if (name.empty()) continue;
            WeightMap *map = nullptr;
            for (WeightMap &m : layer.weightMaps)
                if (m.name == name) map = &m;
            if (!map) {
                layer.weightMaps.emplace_back();
                map = &layer.weightMaps.back();
                map->name = name;
            }
            map->values.resize(n, 0.0f);
            map->has.resize(n, 0);
            for (unsigned w = 0; w < bone->mNumWeights; ++w) {
                int p = pointOf(bone->mWeights[w].mVertexId);
                float value = bone->mWeights[w].mWeight;
                if (p < 0 || map->has[static_cast<size_t>(p)] || !std::isfinite(value)) continue;
                map->has[static_cast<size_t>(p)] = 1;
                map->values[static_cast<size_t>(p)] = value;
            }
        }
    }

    // A host object layer's own weight and UV maps, from its VMAP chunks, each file point at its
    // place among the layer's points (points at one position are one), the first value given to a
    // place kept. The file's UV maps take the place of assimp's texture coordinates, which come
    // unnamed, only for the maps a texture uses, and with per-polygon (VMAD) values mixed in; a
    // layer without TXUV maps of its own keeps assimp's. A weight map of a name assimp gave is
    // left as assimp gave it.
    void fileMaps(const LwoLayer &raw, const std::vector<int> &placeOf, MeshLayer &layer) {
        size_t n = layer.points.size();
        auto add = [&](const LwoMap &from, size_t dim, auto &map) {
            map.name = from.name;
            map.values.assign(dim * n, 0.0f);
            map.has.assign(n, 0);
            for (size_t e = 0; e < from.points.size(); ++e) {
                size_t p = static_cast<size_t>(placeOf[from.points[e]]);
                if (map.has[p]) continue;
                map.has[p] = 1;
                for (size_t k = 0; k < dim; ++k) map.values[dim * p + k] = from.values[dim * e + k];
            }
        };
        size_t given = layer.weightMaps.size();
        for (const LwoMap &w : raw.weightMaps) {
            bool known = false;
            for (size_t k = 0; k < given; ++k) known = known || layer.weightMaps[k].name == w.name;
            if (known) continue;
            layer.weightMaps.emplace_back();
            add(w, 1, layer.weightMaps.back());
        }
        if (!raw.uvMaps.empty()) layer.uvMaps.clear();
        for (const LwoMap &u : raw.uvMaps) {
            layer.uvMaps.emplace_back();
            add(u, 2, layer.uvMaps.back());
        }
    }

    // Host objects: layers from the file's own chunks, polygons from assimp's nodes. An older
    // object (LWOB) is repackaged as a current one first, in `data`.
    bool lwo(std::string &data, int layer, uint64_t estimate, ImportedMesh &out, std::string &error) {
        if (isLwob(data)) {
            if (layer > 1) return refuse(error, label_ + " has one layer, not " + std::to_string(layer));
            std::string current, why;
            if (!lwobAsLwo2(data, current, why)) return refuse(error, label_ + ": " + why);
            data.swap(current);
            current = std::string();
            // What assimp takes grows with the file it reads: the repackaged one.
            estimate = std::max<uint64_t>(estimate, data.size() * kLwoFactor);
            if (!fits(estimate, error)) return false;
        }
        LwoFile file = readLwoChunks(data);
        if (!file.fault.empty()) return refuse(error, label_ + ": " + file.fault);
        if (layer > 0) {
            bool found = false;
            std::string numbers;
            for (const LwoLayer &l : file.layers) {
                found = found || l.number + 1 == layer;
                numbers += (numbers.empty() ? "" : ", ") + std::to_string(l.number + 1);
            }
            if (!found)
                return refuse(error, label_ + " has no layer " + std::to_string(layer) +
                                         (numbers.empty() ? "" : " (its layers: " + excerpt(numbers, 80) + ")"));
        }
        // The file's weight and UV maps, each a value for every point of its layer, and their entries
        // (assimp makes its own of each VMAP too, as large).
        for (const LwoLayer &l : file.layers) {
            if (layer > 0 && l.number + 1 != layer) continue;
            uint64_t n = l.points.size() / 3;
            for (const LwoMap &w : l.weightMaps) estimate += 2 * n * 5 + w.points.size() * 4 + w.values.size() * 4;
            for (const LwoMap &u : l.uvMaps) estimate += 2 * n * 9 + u.points.size() * 4 + u.values.size() * 4;
            if (!l.weightMaps.empty() || !l.uvMaps.empty()) estimate += n * 4;  // the points' places
        }
        if (!fits(estimate, error)) return false;
        // assimp picks a layer by its LAYR number; geometry before any LAYR chunk is not one.
        bool pick = layer > 0 && !file.layers.empty() && file.layers.front().node != "<LWODefault>";
        auto importer = read(Format::Lwo, path_, &data, data.size(), false, "", 0, pick ? layer : 0, estimate);
        if (!importer) return refuseImport(error);
        const aiScene *scene = importer->GetScene();
        std::vector<int> surfaceOf = surfaces(*scene, &file, out);

        // The layers kept, in the file's order, each with its points welded.
        std::vector<size_t> kept;
        for (size_t i = 0; i < file.layers.size(); ++i)
            if (layer <= 0 || file.layers[i].number + 1 == layer) kept.push_back(i);
        out.layers.reserve(kept.size());  // the tables below hold on to the layers' point lists
        std::vector<std::unique_ptr<PointTable>> tables;
        std::vector<std::vector<int>> placeOf(kept.size());  // each file point's place among the layer's
        for (size_t i = 0; i < kept.size(); ++i) {
            LwoLayer &raw = file.layers[kept[i]];
            for (float c : raw.points)
                if (!(std::fabs(c) <= kMaxCoordinate))
                    return refuse(error, label_ + ": a point's coordinate is not a number within " +
                                             numberText(kMaxCoordinate));
            out.layers.emplace_back();
            ImportedLayer &l = out.layers.back();
            l.index = raw.number + 1;
            l.name = raw.name;
            l.pivot = raw.pivot;
            size_t n = raw.points.size() / 3;
            std::vector<MeshPoint> points(n);
            for (size_t k = 0; k < n; ++k)
                for (int c = 0; c < 3; ++c) points[k].pos[c] = raw.points[k * 3 + c];
            raw.points = std::vector<float>();
            tables.push_back(std::make_unique<PointTable>(l.mesh.points));
            PointTable &table = *tables.back();
            table.reserve(n);
            l.mesh.points.reserve(n);
            bool mapped = !raw.weightMaps.empty() || !raw.uvMaps.empty();
            if (mapped) placeOf[i].resize(n);
            for (size_t k = 0; k < n; ++k) {
                l.mesh.points.push_back(points[k]);
                int first = table.add(static_cast<int>(l.mesh.points.size() - 1));
                if (first != static_cast<int>(l.mesh.points.size() - 1)) l.mesh.points.pop_back();
                if (mapped) placeOf[i][k] = first;
            }
        }
        for (size_t i = 0; i < kept.size(); ++i) {
            int parent = file.layers[kept[i]].parent;
            for (size_t k = 0; k < kept.size() && out.layers[i].parent < 0; ++k)
                if (k != i && file.layers[kept[k]].number == parent) out.layers[i].parent = static_cast<int>(k);
        }

        // assimp's layer nodes carry the layers' meshes (one per surface), z negated and each
        // polygon reversed: the importer turns the file right-handed.
        std::vector<uint8_t> matched(kept.size(), 0);
        std::vector<const aiNode *> stack{scene->mRootNode};
        while (!stack.empty()) {
            const aiNode *node = stack.back();
            stack.pop_back();
            if (!node) continue;
            for (unsigned c = node->mNumChildren; c-- > 0;) stack.push_back(node->mChildren[c]);
            if (!node->mNumMeshes) continue;
            std::string name = node->mName.C_Str();
            auto found = [&](size_t i, const aiVector3D &v) {
                float p[3] = {v.x, v.y, -v.z};
                return tables[i]->find(p) >= 0;
            };
            const aiMesh *first =
                node->mMeshes[0] < scene->mNumMeshes ? scene->mMeshes[node->mMeshes[0]] : nullptr;
            size_t at = kept.size();
            for (size_t i = 0; i < kept.size() && at == kept.size(); ++i)
                if (!matched[i] && file.layers[kept[i]].node == name &&
                    (!first || !first->mNumVertices || found(i, first->mVertices[0])))
                    at = i;
            if (at == kept.size())
                return refuse(error,
                              label_ + ": the importer gave a layer " + quote(name) + " the file does not have");
            matched[at] = 1;
            MeshLayer &target = out.layers[at].mesh;
            const PointTable &table = *tables[at];
            for (unsigned k = 0; k < node->mNumMeshes; ++k) {
                if (node->mMeshes[k] >= scene->mNumMeshes) continue;
                const aiMesh &mesh = *scene->mMeshes[node->mMeshes[k]];
                auto pointOf = [&](unsigned v) -> int {
                    if (v >= mesh.mNumVertices) return -1;
                    float p[3] = {mesh.mVertices[v].x, mesh.mVertices[v].y, -mesh.mVertices[v].z};
                    return table.find(p);
                };
                if (!polygons(mesh, surfaceOf, pointOf, true, target, error)) return false;
                maps(mesh, pointOf, target);
            }
        }
        for (size_t i = 0; i < kept.size(); ++i) fileMaps(file.layers[kept[i]], placeOf[i], out.layers[i].mesh);
        return finish(out, error);
    }

    // Any other format: one layer, every mesh of every node placed by the node's transform, points
    // welded in the order the polygons first use them.
    bool other(Format format, uint64_t size, uint64_t estimate, bool materials, ImportedMesh &out,
               std::string &error, const std::string *data = nullptr) {
        auto importer = read(format, path_, data, size, true, "", kBinaryFactor, 0, estimate);
        if (!importer) return refuseImport(error);
        const aiScene *scene = importer->GetScene();
        std::vector<int> surfaceOf =
            materials ? surfaces(*scene, nullptr, out) : std::vector<int>(scene->mNumMaterials, -1);
        out.layers.emplace_back();
        MeshLayer &layer = out.layers.back().mesh;
        PointTable table(layer.points);
        struct Placed {
            const aiNode *node;
            aiMatrix4x4 toFile;
            int depth;
        };
        std::vector<Placed> stack{
            {scene->mRootNode, scene->mRootNode ? scene->mRootNode->mTransformation : aiMatrix4x4(), 0}};
        while (!stack.empty()) {
            Placed at = stack.back();
            stack.pop_back();
            if (!at.node) continue;
            if (at.depth > 1024) return refuse(error, label_ + ": its nodes nest deeper than 1024 levels");
            for (unsigned c = at.node->mNumChildren; c-- > 0;) {
                const aiNode *child = at.node->mChildren[c];
                if (child) stack.push_back({child, at.toFile * child->mTransformation, at.depth + 1});
            }
            bool identity = at.toFile.IsIdentity();
            for (unsigned k = 0; k < at.node->mNumMeshes; ++k) {
                if (at.node->mMeshes[k] >= scene->mNumMeshes) continue;
                const aiMesh &mesh = *scene->mMeshes[at.node->mMeshes[k]];
                // Points are welded as the polygons first use them; corners the polygons do not use
                // are left out.
                std::vector<int> pointAt(mesh.mNumVertices, -1);
                std::string bad;
                auto place = [&](unsigned v) -> int {
                    if (v >= mesh.mNumVertices) return -1;
                    if (pointAt[v] >= 0) return pointAt[v];
                    aiVector3D p = mesh.mVertices[v];
                    MeshPoint mp;
                    if (identity) {
                        mp.pos[0] = p.x;
                        mp.pos[1] = p.y;
                        mp.pos[2] = p.z;
                    } else {
                        const aiMatrix4x4 &t = at.toFile;
                        double x = p.x, y = p.y, z = p.z;
                        mp.pos[0] = static_cast<float>(t.a1 * x + t.a2 * y + t.a3 * z + t.a4);
                        mp.pos[1] = static_cast<float>(t.b1 * x + t.b2 * y + t.b3 * z + t.b4);
                        mp.pos[2] = static_cast<float>(t.c1 * x + t.c2 * y + t.c3 * z + t.c4);
                    }
                    for (float c : mp.pos)
                        if (!(std::fabs(c) <= kMaxCoordinate)) {
                            bad = label_ + ": a point's coordinate is not a number within " +
                                  numberText(kMaxCoordinate);
                            return -1;
                        }
                    int found = table.find(mp.pos);
                    if (found < 0) {
                        if (layer.points.size() >= kMaxLayerPoints) {
                            bad = label_ + " has more than " + std::to_string(kMaxLayerPoints) +
                                  " points in a layer";
                            return -1;
                        }
                        layer.points.push_back(mp);
                        found = table.add(static_cast<int>(layer.points.size() - 1));
                    }
                    return pointAt[v] = found;
                };
                if (!polygons(mesh, surfaceOf, place, false, layer, error))
                    return bad.empty() ? false : refuse(error, bad);
                maps(
                    mesh, [&](unsigned v) { return v < pointAt.size() ? pointAt[v] : -1; }, layer);
            }
        }
        return finish(out, error);
    }
    // The last checks: limits, finite coordinates, at least one polygon; and the bytes taken.
    // Surfaces no polygon uses (materials a file defines but does not use, or that the importer
    // made up) are left out.
    bool finish(ImportedMesh &out, std::string &error) {
        std::vector<int> used(out.surfaces.size(), -1);
        std::vector<Surface> kept;
        for (ImportedLayer &l : out.layers)
            for (MeshPolygon &p : l.mesh.polygons) {
                if (p.surface < 0 || static_cast<size_t>(p.surface) >= used.size()) {
                    p.surface = -1;
                    continue;
                }
                int &to = used[static_cast<size_t>(p.surface)];
                if (to < 0) {
                    to = static_cast<int>(kept.size());
                    kept.push_back(std::move(out.surfaces[static_cast<size_t>(p.surface)]));
                }
                p.surface = to;
            }
        out.surfaces = std::move(kept);
        for (const std::string &f : sideFiles_)
            if (std::find(out.files.begin(), out.files.end(), f) == out.files.end()) out.files.push_back(f);
        uint64_t polygons = 0, bytes = 0;
        for (ImportedLayer &l : out.layers) {
            MeshLayer &m = l.mesh;
            uint64_t corners = 0;
            for (const MeshPolygon &p : m.polygons) corners += p.points.size();
            if (m.points.size() > kMaxLayerPoints || m.polygons.size() > kMaxLayerPoints ||
                corners > kMaxLayerCorners)
                return refuse(error, label_ + " has more than " + std::to_string(kMaxLayerPoints) +
                                         " points or polygons in a layer");
            for (const MeshPoint &p : m.points)
                for (float c : p.pos)
                    if (!(std::fabs(c) <= kMaxCoordinate))
                        return refuse(error, label_ + ": a point's coordinate is not a number within " +
                                                 numberText(kMaxCoordinate));
            for (UVMap &u : m.uvMaps) {
                u.values.resize(2 * m.points.size(), 0.0f);
                u.has.resize(m.points.size(), 0);
            }
            for (WeightMap &w : m.weightMaps) {
                w.values.resize(m.points.size(), 0.0f);
                w.has.resize(m.points.size(), 0);
            }
            polygons += m.polygons.size();
            bytes += meshBytes(m.points.size(), m.polygons.size(), corners);
            for (const UVMap &u : m.uvMaps) bytes += u.values.size() * 4 + u.has.size();
            for (const WeightMap &w : m.weightMaps) bytes += w.values.size() * 4 + w.has.size();
            m.index = l.index;
        }
        if (polygons == 0) return refuse(error, label_ + " has no polygons");
        out.bytes = bytes;
        return true;
    }

    std::string path_, label_;
    uint64_t limit_;
    std::string refusal_, importError_;
    std::vector<std::string> sideFiles_;
};

}  // namespace

bool importMesh(const std::string &path, int layer, ImportedMesh &out, std::string &error, uint64_t memoryLimit) {
    out = ImportedMesh();
    error.clear();
    try {
        Import import(path, "mesh file " + quoteFile(path), memoryLimit);
        if (import.file(layer, out, error)) return true;
    } catch (const std::bad_alloc &) {
        error = "mesh file " + quoteFile(path) + " needs more memory than there is";
    } catch (const std::exception &e) {
        error = "mesh file " + quoteFile(path) + ": " + excerpt(e.what(), 4 * kExcerpt);
    }
    out = ImportedMesh();
    return false;
}

bool importObjText(const std::string &text, const std::string &label, ImportedMesh &out, std::string &error) {
    out = ImportedMesh();
    error.clear();
    try {
        std::string copy = text;
        Import import("<text>.obj", label, 0);
        if (import.obj(copy, false, out, error)) return true;
    } catch (const std::bad_alloc &) {
        error = label + ": the mesh needs more memory than there is";
    } catch (const std::exception &e) {
        error = label + ": " + excerpt(e.what(), 4 * kExcerpt);
    }
    out = ImportedMesh();
    return false;
}

}  // namespace host::scene
