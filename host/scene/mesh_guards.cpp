// SPDX-License-Identifier: Apache-2.0
// The checks that keep assimp 5.2 from its own faults: its internal checks made to throw, and the
// PLY, Collada and glTF files that would make its readers loop, grow without bound or read out of
// bounds, refused before it reads them.
#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>

#include <nlohmann/json.hpp>

#include "host/scene/mesh_pvt.h"
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

namespace host::scene::mesh_pvt {

// A PLY file's header, checked before assimp reads it: assimp 5.2's reader loops for ever on a
// header without an end_header line, reads out of bounds (and crashes) when an element is
// declared twice with different properties, and makes room for as many elements as the header
// declares, whatever the file holds. The header must end within its first megabyte, name each
// element once, and what its elements would take must fit the memory limit.
bool MeshImport::plyHeader(util::Diagnostic &error) {
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
                return refuseFile(error, "the PLY header declares element " + quote(name) + " twice");
            elements.push_back(name);
            size_t space = line.find_last_of(' ');
            count =
                std::strtoull(line.c_str() + (space == std::string::npos ? line.size() : space + 1), nullptr, 10);
            if (count > kMaxLayerPoints)
                return refuseFile(error, "the PLY header declares more elements than a layer holds");
        } else if (word == "property") {
            properties += line.compare(0, 14, "property list ") == 0 ? 3 : 1;
        }
    }
    return refuseFile(error, "the PLY header has no end_header line in its first megabyte");
}

// The index lists of a Collada file (<p>, <h>, <v>, <vcount>) and its data arrays, checked
// before assimp reads them: assimp 5.2's reader appends indices for ever, its memory growing
// without bound, when a list holds anything but whole numbers, and crashes on a data array
// without a count.
bool MeshImport::colladaIndices(const std::string &text, util::Diagnostic &error) {
    static const char *const lists[] = {"<p>", "<p ", "<h>", "<h ", "<v>", "<v ", "<vcount>", "<vcount "};
    static const char *const arrays[] = {"<float_array", "<int_array", "<Name_array", "<IDREF_array",
                                         "<bool_array"};
    auto lineOf = [&](size_t k) {
        return 1 + static_cast<long long>(std::count(text.begin(), text.begin() + static_cast<long>(k), '\n'));
    };
    for (size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
        for (const char *tag : arrays) {
            if (text.compare(at, std::strlen(tag), tag) != 0) continue;
            size_t close = text.find('>', at);
            std::string start = text.substr(at, close == std::string::npos ? std::string::npos : close - at);
            if (start.find(" count=") == std::string::npos && start.find("\tcount=") == std::string::npos &&
                start.find("\ncount=") == std::string::npos)
                return refuseLine(error, lineOf(at), "a data array without a count");
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
                return refuseLine(error, lineOf(k),
                                  std::string("an index list holds ") + shown + ", not only whole numbers");
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
bool MeshImport::gltfBounds(const std::string &data, util::Diagnostic &error) {
    using json = nlohmann::json;
    std::string text = data;
    if (data.size() >= 20 && data.compare(0, 4, "glTF") == 0) {  // binary: the JSON chunk
        auto u4 = [&](size_t at) {
            return uint32_t(uint8_t(data[at])) | uint32_t(uint8_t(data[at + 1])) << 8 |
                   uint32_t(uint8_t(data[at + 2])) << 16 | uint32_t(uint8_t(data[at + 3])) << 24;
        };
        uint32_t length = u4(12);
        if (length > data.size() - 20) return refuseFile(error, "the glTF JSON chunk runs past the file");
        text = data.substr(20, length);
    }
    // assimp's JSON reader recurses once a nesting level: deep nesting would exhaust the stack.
    if (util::jsonNestingPast(text, 128)) return refuseFile(error, "its JSON nests deeper than 128 levels");
    // What this reading cannot check (not JSON, not UTF-8: assimp's own reader is laxer) is
    // refused rather than left to assimp.
    json root = json::parse(text, nullptr, false);
    if (root.is_discarded() || !root.is_object())
        return refuseFile(error, "its glTF JSON is not a valid JSON object (in UTF-8)");
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
            return refuseFile(error, "skin " + std::to_string(i) +
                                         " has no inverse bind matrices, which assimp 5.2 cannot read");
    const uint64_t kNo = ~0ull;
    auto bad = [&](const std::string &what) { return refuseFile(error, what + " lies outside its data"); };
    std::vector<uint64_t> viewLength;
    for (size_t i = 0; i < views.size(); ++i) {
        const json &v = views[i];
        uint64_t buffer = v.is_object() ? number(v, "buffer", kNo) : kNo;
        uint64_t offset = v.is_object() ? number(v, "byteOffset", 0) : 0,
                 length = v.is_object() ? number(v, "byteLength", 0) : 0;
        uint64_t have =
            buffer < buffers.size() && buffers[buffer].is_object() ? number(buffers[buffer], "byteLength", 0) : 0;
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
        if (!within(view, number(a, "byteOffset", 0), number(a, "count", 0), element, stride ? stride : element))
            return bad("accessor " + std::to_string(i));
        auto sparse = a.find("sparse");
        if (sparse != a.end() && sparse->is_object()) {
            uint64_t count = number(*sparse, "count", 0);
            auto indices = sparse->find("indices"), values = sparse->find("values");
            if (indices != sparse->end() && indices->is_object()) {
                uint64_t size = number(*indices, "componentType", 0) == 5125   ? 4
                                : number(*indices, "componentType", 0) == 5123 ? 2
                                                                               : 1;
                if (!within(number(*indices, "bufferView", kNo), number(*indices, "byteOffset", 0), count, size,
                            size))
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

}  // namespace host::scene::mesh_pvt

namespace host::scene::mesh_pvt {

bool MeshImport::fbxArrays(const std::string &data, util::Diagnostic &error) {
    static const char kMagic[] = "Kaydara FBX Binary  \0\x1a";
    const size_t size = data.size();
    if (size < 27 || std::memcmp(data.data(), kMagic, sizeof kMagic - 1) != 0) return true;
    auto u32 = [&](size_t at) {
        uint32_t v;
        std::memcpy(&v, data.data() + at, 4);
        return uint64_t(v);
    };
    auto u64 = [&](size_t at) {
        uint64_t v;
        std::memcpy(&v, data.data() + at, 8);
        return v;
    };
    const bool wide = u32(23) >= 7500;  // 64-bit offsets and counts from version 7.5
    const size_t header = wide ? 25 : 13;
    constexpr uint64_t kMaxRatio = 1032;  // zlib's best: about 1032 bytes out for each byte in
    constexpr size_t kMaxDepth = 1024;
    std::vector<uint64_t> ends;  // the ends of the records the walk is inside
    size_t p = 27;
    // What does not parse is left for assimp to refuse: the walk only stops.
    for (;;) {
        while (!ends.empty() && p >= ends.back()) {
            p = static_cast<size_t>(ends.back());
            ends.pop_back();
        }
        if (size - p < header) break;
        uint64_t end = wide ? u64(p) : u32(p), count = wide ? u64(p + 8) : u32(p + 4),
                 length = wide ? u64(p + 16) : u32(p + 8);
        size_t nameLength = static_cast<uint8_t>(data[p + header - 1]);
        if (end == 0) {  // the empty record that closes a list
            if (ends.empty()) break;
            p += header;
            continue;
        }
        if (end <= p || end > size || (!ends.empty() && end > ends.back())) break;
        size_t q = p + header + nameLength;
        if (q > end || length > end - q) break;
        const std::string name = data.substr(p + header, nameLength);
        const size_t properties = q + static_cast<size_t>(length);
        for (uint64_t i = 0; i < count && q < properties; ++i) {
            const size_t at = q;
            char type = data[q++];
            size_t element = 0;
            switch (type) {
                case 'C':
                    q += 1;
                    continue;
                case 'Y':
                    q += 2;
                    continue;
                case 'I':
                case 'F':
                    q += 4;
                    continue;
                case 'D':
                case 'L':
                    q += 8;
                    continue;
                case 'S':
                case 'R':
                    if (properties - q < 4) break;
                    q += 4 + static_cast<size_t>(u32(q));
                    continue;
                case 'b':
                    element = 1;
                    break;
                case 'i':
                case 'f':
                    element = 4;
                    break;
                case 'd':
                case 'l':
                    element = 8;
                    break;
                default:
                    break;
            }
            if (!element || properties - q < 12) break;
            uint64_t elements = u32(q), encoding = u32(q + 4), compressed = u32(q + 8);
            q += 12;
            if (encoding == 1 && elements * element > compressed * kMaxRatio + 64) {
                const char *kind = type == 'd'   ? "doubles"
                                   : type == 'f' ? "floats"
                                   : type == 'b' ? "booleans"
                                                 : "integers";
                return refuseFile(error, "the array at byte " + std::to_string(at) + " in record " + quote(name) +
                                             " declares " + std::to_string(elements) + " " + kind +
                                             ", more than its " + std::to_string(compressed) +
                                             " compressed bytes can inflate to");
            }
            q += static_cast<size_t>(std::min<uint64_t>(compressed, properties - q));
        }
        if (properties < end) {  // nested records follow the properties
            if (ends.size() >= kMaxDepth)
                return refuseFile(error, "its nodes nest deeper than " + std::to_string(kMaxDepth) + " levels");
            ends.push_back(end);
            p = properties;
        } else {
            p = static_cast<size_t>(end);
        }
    }
    return true;
}

}  // namespace host::scene::mesh_pvt
