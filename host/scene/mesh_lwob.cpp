// SPDX-License-Identifier: Apache-2.0
// Older host objects repackaged as current ones, for assimp and the chunk walk.
#include <initializer_list>

#include "host/scene/mesh_pvt.h"

namespace host::scene::mesh_pvt {

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

}  // namespace host::scene::mesh_pvt
