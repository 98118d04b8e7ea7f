// SPDX-License-Identifier: Apache-2.0
// The mesh importer's answer as it crosses the pipe from the importer process: a refusal, or the
// imported mesh. The reader trusts nothing it is given: every count is bounded, every index
// checked, and memory grows only with the bytes that actually arrive.
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "host/scene/mesh_pvt.h"

namespace host::scene {

namespace {

constexpr char kMagic[8] = {'V', 'M', 'E', 'S', 'H', 'I', 'M', '1'};
constexpr char kEnd[4] = {'E', 'N', 'D', '.'};
constexpr uint32_t kMaxString = 1 << 16;  // names, paths and messages
constexpr uint32_t kMaxFiles = 1 << 16;
constexpr uint32_t kMaxSurfaces = 1 << 20;
constexpr uint32_t kMaxLayers = 1 << 16;
constexpr uint32_t kMaxMaps = 1 << 12;
constexpr size_t kBlock = 1 << 16;  // elements read at a time, so memory follows the bytes

// Collects the answer into blocks written to a descriptor.
class Writer {
public:
    explicit Writer(int fd) : fd_(fd) { buf_.reserve(1 << 20); }
    void bytes(const void *p, size_t n) {
        const char *c = static_cast<const char *>(p);
        while (n && ok_) {
            size_t take = std::min(n, (1u << 20) - buf_.size());
            buf_.append(c, take);
            c += take;
            n -= take;
            if (buf_.size() >= (1u << 20)) flush();
        }
    }
    template <typename T>
    void put(T v) {
        bytes(&v, sizeof v);
    }
    void str(const std::string &s) {
        uint32_t n = static_cast<uint32_t>(std::min<size_t>(s.size(), kMaxString));
        put(n);
        bytes(s.data(), n);
    }
    template <typename T>
    void array(const std::vector<T> &v) {
        put(static_cast<uint64_t>(v.size()));
        bytes(v.data(), v.size() * sizeof(T));
    }
    bool flush() {
        size_t done = 0;
        while (ok_ && done < buf_.size()) {
            ssize_t n = ::write(fd_, buf_.data() + done, buf_.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0)
                ok_ = false;
            else
                done += static_cast<size_t>(n);
        }
        buf_.clear();
        return ok_;
    }

private:
    int fd_;
    std::string buf_;
    bool ok_ = true;
};

// Reads the answer; the first fault is kept and every later read fails.
class Reader {
public:
    Reader(const PullBytes &pull, uint64_t maxBytes) : pull_(pull), max_(maxBytes) {}
    bool bytes(void *p, size_t n) {
        char *out = static_cast<char *>(p);
        while (n && fault.empty()) {
            if (at_ == have_) {
                size_t got = pull_(buf_.data(), buf_.size());
                have_ = got;
                at_ = 0;
                if (got == 0) return bad("it ends early");
                total_ += got;
                if (total_ > max_) return bad("it is longer than the " + io::byteText(max_) + " it may take");
            }
            size_t take = std::min(n, have_ - at_);
            std::memcpy(out, buf_.data() + at_, take);
            at_ += take;
            out += take;
            n -= take;
        }
        return fault.empty();
    }
    template <typename T>
    T get() {
        T v{};
        bytes(&v, sizeof v);
        return v;
    }
    std::string str() {
        uint32_t n = get<uint32_t>();
        if (n > kMaxString) return bad("a text is longer than " + std::to_string(kMaxString) + " bytes"), "";
        std::string s(n, '\0');
        bytes(&s[0], n);
        return s;
    }
    // A count of at most `most` things, each taking at least `least` bytes of what may still
    // arrive.
    uint64_t count(uint64_t most, const char *what, uint64_t least = 1) {
        uint64_t n = get<uint64_t>();
        if (n > most) bad(std::string("it gives more ") + what + " than a mesh may have");
        if (fault.empty() && n > (max_ - total_ + (have_ - at_)) / least)
            bad(std::string("it gives more ") + what + " than it may take bytes");
        return fault.empty() ? n : 0;
    }
    // An array of `n` elements read a block at a time.
    template <typename T>
    void array(std::vector<T> &v, uint64_t n) {
        v.clear();
        for (uint64_t done = 0; done < n && fault.empty();) {
            size_t take = static_cast<size_t>(std::min<uint64_t>(n - done, kBlock));
            v.resize(static_cast<size_t>(done) + take);
            bytes(&v[static_cast<size_t>(done)], take * sizeof(T));
            done += take;
        }
    }
    bool bad(const std::string &why) {
        if (fault.empty()) fault = why;
        return false;
    }
    // Whether nothing follows what was read.
    bool finished() {
        char more;
        return at_ == have_ && pull_(&more, 1) == 0;
    }
    std::string fault;

private:
    const PullBytes &pull_;
    uint64_t max_, total_ = 0;
    std::vector<char> buf_ = std::vector<char>(1 << 16);  // a pipe holds 64 KB
    size_t at_ = 0, have_ = 0;
};

void putEnvironment(Writer &w, const EnvironmentOptions &e) {
    w.put<int32_t>(e.option);
    w.put<int32_t>(e.image);
    w.put<double>(e.seamAngle);
}

EnvironmentOptions getEnvironment(Reader &r) {
    EnvironmentOptions e;
    e.option = r.get<int32_t>();
    e.image = r.get<int32_t>();
    e.seamAngle = r.get<double>();
    return e;
}

// The numbers of a surface, in one order for both ends.
template <typename F>
void surfaceNumbers(Surface &s, F &&each) {
    for (int c = 0; c < 3; ++c) each(s.color[c]);
    for (double *v : {&s.luminosity, &s.diffuse, &s.specular, &s.glossiness, &s.mirror, &s.transparency, &s.eta,
                      &s.translucency, &s.colorHighlights, &s.colorFilter, &s.smoothingAngle})
        each(*v);
}

}  // namespace

bool writeImporterAnswer(int fd, bool ok, const ImportedMesh &mesh, const util::Diagnostic &why) {
    Writer w(fd);
    w.bytes(kMagic, sizeof kMagic);
    w.put<uint8_t>(ok ? 1 : 0);
    if (!ok) {
        w.str(why.loc.file);
        w.put<int64_t>(why.loc.line);
        w.put<int64_t>(why.loc.column);
        w.str(why.loc.path);
        w.str(why.message);
        w.put<uint8_t>(why.sentence);
    } else {
        w.put<uint32_t>(static_cast<uint32_t>(mesh.files.size()));
        for (const std::string &f : mesh.files) w.str(f);
        // Imported surfaces carry values only: the import makes no textures and no shaders.
        w.put<uint32_t>(static_cast<uint32_t>(mesh.surfaces.size()));
        for (Surface s : mesh.surfaces) {
            w.str(s.name);
            surfaceNumbers(s, [&](double &v) { w.put<double>(v); });
            w.put<uint8_t>(s.doubleSided);
            w.put<uint8_t>(s.smoothing);
            putEnvironment(w, s.reflection);
            putEnvironment(w, s.refraction);
        }
        w.put<uint32_t>(static_cast<uint32_t>(mesh.layers.size()));
        for (const ImportedLayer &l : mesh.layers) {
            w.put<int32_t>(l.index);
            w.str(l.name);
            w.put<int32_t>(l.parent);
            for (int c = 0; c < 3; ++c) w.put<double>(l.pivot[c]);
            const MeshLayer &m = l.mesh;
            w.put<int32_t>(m.index);
            w.array(m.points);
            w.put<uint64_t>(m.polygons.size());
            for (const MeshPolygon &p : m.polygons) {
                w.put<int32_t>(p.surface);
                w.bytes(p.normal, sizeof p.normal);
                w.array(p.points);
            }
            w.put<uint32_t>(static_cast<uint32_t>(m.weightMaps.size()));
            for (const WeightMap &map : m.weightMaps) {
                w.str(map.name);
                w.array(map.values);
                w.array(map.has);
            }
            w.put<uint32_t>(static_cast<uint32_t>(m.uvMaps.size()));
            for (const UVMap &map : m.uvMaps) {
                w.str(map.name);
                w.array(map.values);
                w.array(map.has);
            }
        }
        w.put<uint64_t>(mesh.bytes);
    }
    w.bytes(kEnd, sizeof kEnd);
    return w.flush();
}

bool readImporterAnswer(const PullBytes &pull, uint64_t maxBytes, bool &ok, ImportedMesh &mesh,
                        util::Diagnostic &why, std::string &fault) {
    ok = false;
    mesh = ImportedMesh();
    why = util::Diagnostic();
    Reader r(pull, maxBytes);
    char magic[sizeof kMagic] = {};
    if (r.bytes(magic, sizeof magic) && std::memcmp(magic, kMagic, sizeof magic) != 0)
        r.bad("it does not start as an answer of this build's importer");
    uint8_t status = r.get<uint8_t>();
    if (r.fault.empty() && status > 1) r.bad("its status is neither a mesh nor a refusal");
    if (r.fault.empty() && status == 0) {
        why.loc.file = r.str();
        why.loc.line = r.get<int64_t>();
        why.loc.column = r.get<int64_t>();
        why.loc.path = r.str();
        why.message = r.str();
        why.sentence = r.get<uint8_t>() != 0;
        if (r.fault.empty() && why.message.empty()) r.bad("its refusal has no message");
    } else if (r.fault.empty()) {
        uint32_t files = r.get<uint32_t>();
        if (files > kMaxFiles) r.bad("it names too many files");
        for (uint32_t i = 0; i < files && r.fault.empty(); ++i) mesh.files.push_back(r.str());
        uint32_t surfaces = r.get<uint32_t>();
        if (surfaces > kMaxSurfaces) r.bad("it gives too many surfaces");
        for (uint32_t i = 0; i < surfaces && r.fault.empty(); ++i) {
            Surface s;
            s.name = r.str();
            surfaceNumbers(s, [&](double &v) {
                v = r.get<double>();
                if (!std::isfinite(v)) r.bad("a surface value is not a number");
            });
            s.doubleSided = r.get<uint8_t>() != 0;
            s.smoothing = r.get<uint8_t>() != 0;
            s.reflection = getEnvironment(r);
            s.refraction = getEnvironment(r);
            mesh.surfaces.push_back(std::move(s));
        }
        uint32_t layers = r.get<uint32_t>();
        if (layers > kMaxLayers) r.bad("it gives too many layers");
        uint64_t corners = 0;
        for (uint32_t i = 0; i < layers && r.fault.empty(); ++i) {
            mesh.layers.emplace_back();
            ImportedLayer &l = mesh.layers.back();
            l.index = r.get<int32_t>();
            l.name = r.str();
            l.parent = r.get<int32_t>();
            for (int c = 0; c < 3; ++c) l.pivot[c] = r.get<double>();
            if (l.parent < -1 || l.parent >= static_cast<int64_t>(layers))
                r.bad("a layer's parent is not a layer");
            MeshLayer &m = l.mesh;
            m.index = r.get<int32_t>();
            r.array(m.points, r.count(kMaxLayerPoints, "points", sizeof(MeshPoint)));
            for (const MeshPoint &p : m.points)
                for (float c : p.pos)
                    if (!(std::fabs(c) <= kMaxCoordinate)) r.bad("a point's coordinate is out of range");
            // Each polygon takes at least its surface, normal, corner count and three corners.
            uint64_t polygons = r.count(kMaxLayerPoints, "polygons", 4 + 12 + 8 + 3 * 4);
            m.polygons.reserve(static_cast<size_t>(polygons));
            const int64_t points = static_cast<int64_t>(m.points.size());
            for (uint64_t k = 0; k < polygons && r.fault.empty(); ++k) {
                m.polygons.emplace_back();
                MeshPolygon &p = m.polygons.back();
                p.surface = r.get<int32_t>();
                r.bytes(p.normal, sizeof p.normal);
                uint64_t n = r.count(kMaxLayerCorners - corners, "polygon corners");
                if (r.fault.empty() && n < 3) r.bad("a polygon has fewer than three corners");
                corners += n;
                r.array(p.points, n);
                if (p.surface < -1 || p.surface >= static_cast<int64_t>(mesh.surfaces.size()))
                    r.bad("a polygon's surface is not one of the mesh's");
                for (int q : p.points)
                    if (q < 0 || q >= points) r.bad("a polygon names a point the layer lacks");
            }
            auto maps = [&](auto &list, size_t dim) {
                uint32_t n = r.get<uint32_t>();
                if (n > kMaxMaps) r.bad("it gives too many maps");
                for (uint32_t k = 0; k < n && r.fault.empty(); ++k) {
                    list.emplace_back();
                    auto &map = list.back();
                    map.name = r.str();
                    r.array(map.values, r.count(dim * kMaxLayerPoints, "map values"));
                    r.array(map.has, r.count(kMaxLayerPoints, "map entries"));
                    if (r.fault.empty() &&
                        (map.has.size() != m.points.size() || map.values.size() != dim * m.points.size()))
                        r.bad("a map's size is not its layer's");
                }
            };
            maps(m.weightMaps, 1);
            maps(m.uvMaps, 2);
        }
        mesh.bytes = r.get<uint64_t>();
        if (r.fault.empty() && mesh.layers.empty()) r.bad("its mesh has no layers");
    }
    char end[sizeof kEnd] = {};
    if (r.bytes(end, sizeof end) && std::memcmp(end, kEnd, sizeof end) != 0)
        r.bad("it does not end where it should");
    if (r.fault.empty() && !r.finished()) r.bad("it goes on past its end");
    fault = r.fault;
    if (!fault.empty()) {
        mesh = ImportedMesh();
        why = util::Diagnostic();
        return false;
    }
    ok = status == 1;
    return true;
}

}  // namespace host::scene
