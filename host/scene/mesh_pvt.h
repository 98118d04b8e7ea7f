// SPDX-License-Identifier: Apache-2.0
// Shared by the mesh import's files: bounded reading (mesh_streams.cpp), the checks that keep
// assimp from its own faults (mesh_guards.cpp), host object chunks (mesh_lwo_chunks.cpp), the older
// host object converter (mesh_lwob.cpp), materials (mesh_materials.cpp), point welding
// (mesh_weld.cpp) and the import itself (mesh_input.cpp); not for use outside host/scene.
#pragma once

#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

#include <assimp/material.h>
#include <assimp/scene.h>
#include <assimp/IOStream.hpp>
#include <assimp/IOSystem.hpp>
#include <assimp/Importer.hpp>

#include "host/io/file_io.h"
#include "host/scene/mesh_import.h"
#include "host/scene/obj_check.h"
#include "host/util/diagnostic.h"
#include "host/util/paths.h"
#include "host/util/text.h"

namespace host::scene::mesh_pvt {

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
// Files as the importer reads them (mesh_streams.cpp).

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

    bool Exists(const char *file) const override;
    char getOsSeparator() const override { return '/'; }
    void Close(Assimp::IOStream *stream) override { delete stream; }
    Assimp::IOStream *Open(const char *file, const char *mode) override;

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
Format formatOf(const std::string &path, const char *head, size_t got);

// Leaves the importer only the reader of `format`.
void keepReaders(Assimp::Importer &importer, Format format);

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
inline double within(double v, double lo, double hi, double def) {
    if (!std::isfinite(v)) return def;
    return std::min(hi, std::max(lo, v));
}

// ---------------------------------------------------------------------------------------------
// Host objects: chunks (mesh_lwo_chunks.cpp), the older format (mesh_lwob.cpp).

// The most layers (LAYR chunks) a host object may have: assimp 5.2's reader takes time quadratic
// in their number (20,000 one-triangle layers take it 24 s).
constexpr uint64_t kMaxLwoLayers = 4096;

// Walks the chunks of a host object: layers (number, name, pivot, parent and points) and, in LWO2
// files, the layers' weight and UV maps and the surfaces' base values. What does not fit is left
// for assimp to refuse.
LwoFile readLwoChunks(const std::string &data);

// Whether a file is an older host object (FORM type LWOB).
bool isLwob(const std::string &data);

// An older host object repackaged as a current one; false with `why` when it cannot be.
bool lwobAsLwo2(const std::string &in, std::string &out, std::string &why);

// ---------------------------------------------------------------------------------------------
// Materials (mesh_materials.cpp).

// The base values of an LWO2 surface: COLR, DIFF, LUMI, SPEC, GLOS, REFL, TRAN, TRNL, CLRH, CLRF,
// RIND, SMAN and SIDE (envelopes, textures and shaders are not read). What the chunk leaves out
// takes the host's defaults, as assimp's reader does.
Surface lwo2Surface(Bytes b, const std::string &name);

// A host object surface from what assimp's LWO reader made of it (LWO3 and LXOB files, whose own
// chunks are not read).
Surface lwoSurfaceFromMaterial(const aiMaterial &m, const std::string &name);

// A surface from another format's material.
Surface surfaceFromMaterial(const aiMaterial &m, const std::string &name);

// ---------------------------------------------------------------------------------------------
// Welding (mesh_weld.cpp): points found by exact position (0 and -0 alike), in an open-addressed
// table of point numbers over the layer's own points.

class PointTable {
public:
    explicit PointTable(const std::vector<MeshPoint> &points) : points_(points) {}

    void reserve(size_t n);
    // The point at `p`, or -1.
    int find(const float p[3]) const;
    // Records point `k` (already among the points) unless one at its position is there; returns
    // the point at that position.
    int add(int k);
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
    void rehash(size_t size);
    const std::vector<MeshPoint> &points_;
    std::vector<int32_t> slots_;
    size_t count_ = 0;
};

// ---------------------------------------------------------------------------------------------
// The import of one mesh file or OBJ text (mesh_input.cpp; the checks against assimp's faults in
// mesh_guards.cpp, materials in mesh_materials.cpp).

class MeshImport {
public:
    MeshImport(std::string path, std::string label, uint64_t limit)
        : path_(std::move(path)), label_(std::move(label)), limit_(limit) {}

    bool file(int layer, ImportedMesh &out, util::Diagnostic &error);

    // OBJ text: checked and its points read by checkObj, then read by assimp with each point
    // statement replaced by the point's number.
    bool obj(std::string &text, bool sideFiles, ImportedMesh &out, util::Diagnostic &error);

private:
    // A PLY file's header, checked before assimp reads it: assimp 5.2's reader loops for ever on a
    // header without an end_header line, reads out of bounds (and crashes) when an element is
    // declared twice with different properties, and makes room for as many elements as the header
    // declares, whatever the file holds. The header must end within its first megabyte, name each
    // element once, and what its elements would take must fit the memory limit.
    bool plyHeader(util::Diagnostic &error);

    // The index lists of a Collada file (<p>, <h>, <v>, <vcount>) and its data arrays, checked
    // before assimp reads them: assimp 5.2's reader appends indices for ever, its memory growing
    // without bound, when a list holds anything but whole numbers, and crashes on a data array
    // without a count.
    bool colladaIndices(const std::string &text, util::Diagnostic &error);

    // A glTF file's accessors and buffer views, checked before assimp reads them: assimp 5.2 reads
    // an accessor's data without checking that it lies within its buffer view (an accessor's offset
    // is not counted), past the end of the buffer. Every buffer view must lie within its buffer's
    // declared length, and every accessor (and sparse accessor) within its buffer view. Whether the
    // buffers hold their declared lengths assimp checks itself.
    bool gltfBounds(const std::string &data, util::Diagnostic &error);

    // A binary FBX file's records, checked before assimp reads them: assimp 5.2 makes room for as
    // many elements as a zlib-compressed array declares, whatever its compressed bytes could
    // inflate to, and recurses once for each level of nesting. No array may declare more bytes
    // than its compressed bytes can inflate to (zlib's best ratio is about 1032:1), and records
    // may nest at most 1024 deep.
    bool fbxArrays(const std::string &data, util::Diagnostic &error);

    static bool binary(const char *head, ssize_t got);

    // Refusals: a diagnostic as it is; a message that names the file itself; a message about the
    // file as a whole ("LABEL: ...") or told as a sentence about it ("LABEL has ..."); a message
    // at a line of it.
    bool refuse(util::Diagnostic &error, util::Diagnostic why);
    bool refuse(util::Diagnostic &error, const std::string &message);
    bool refuseFile(util::Diagnostic &error, const std::string &message);
    bool refuseSentence(util::Diagnostic &error, const std::string &predicate);
    bool refuseLine(util::Diagnostic &error, long long line, const std::string &message);

    bool fits(uint64_t bytes, util::Diagnostic &error);

    // Why the import failed: a file refused on the way, or the importer's own message.
    bool refuseImport(util::Diagnostic &error);

    // Runs assimp over the mesh file with only our files and readers; null on failure (the reason
    // in refusal_ or importError_).
    std::unique_ptr<Assimp::Importer> read(Format format, const std::string &mainPath, const std::string *data,
                                           uint64_t size, bool sideFiles, const char *sideKind, uint64_t factor,
                                           int layer, uint64_t estimate);

    // The file's materials as surfaces, one per name; the index of each material's surface, -1
    // for assimp's own default material (polygons the file gives no surface).
    std::vector<int> surfaces(const aiScene &scene, const LwoFile *lwo, ImportedMesh &out);

    // Adds a mesh's faces of three or more corners as polygons (reversed when `flip`), each
    // corner's point given by `pointOf` (-1: the importer named a point the file lacks).
    template <typename PointOf>
    bool polygons(const aiMesh &mesh, const std::vector<int> &surfaceOf, const PointOf &pointOf, bool flip,
                  MeshLayer &layer, util::Diagnostic &error);

    // The mesh's UV channels and bone weights as the layer's UV and weight maps, by name, each
    // point taking the value of the first corner that gives it one.
    template <typename PointOf>
    void maps(const aiMesh &mesh, const PointOf &pointOf, MeshLayer &layer);

    // A host object layer's own weight and UV maps, from its VMAP chunks, each file point at its
    // place among the layer's points (points at one position are one), the first value given to a
    // place kept. The file's UV maps take the place of assimp's texture coordinates, which come
    // unnamed, only for the maps a texture uses, and with per-polygon (VMAD) values mixed in; a
    // layer without TXUV maps of its own keeps assimp's. A weight map of a name assimp gave is
    // left as assimp gave it.
    void fileMaps(const LwoLayer &raw, const std::vector<int> &placeOf, MeshLayer &layer);

    // Host objects: layers from the file's own chunks, polygons from assimp's nodes. An older
    // object (LWOB) is repackaged as a current one first, in `data`.
    bool lwo(std::string &data, int layer, uint64_t estimate, ImportedMesh &out, util::Diagnostic &error);

    // Any other format: one layer, every mesh of every node placed by the node's transform, points
    // welded in the order the polygons first use them.
    bool other(Format format, uint64_t size, uint64_t estimate, bool materials, ImportedMesh &out,
               util::Diagnostic &error, const std::string *data = nullptr);

    // The last checks: limits, finite coordinates, at least one polygon; and the bytes taken.
    // Surfaces no polygon uses (materials a file defines but does not use, or that the importer
    // made up) are left out.
    bool finish(ImportedMesh &out, util::Diagnostic &error);

    std::string path_, label_;
    uint64_t limit_;
    std::string refusal_, importError_;
    std::vector<std::string> sideFiles_;
};

}  // namespace host::scene::mesh_pvt
