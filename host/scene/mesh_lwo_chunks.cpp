// SPDX-License-Identifier: Apache-2.0
// What assimp does not hand on from a host object, read from the file's own chunks.
#include <algorithm>

#include "host/scene/mesh_pvt.h"

namespace host::scene::mesh_pvt {

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
    uint64_t layerChunks = 0;
    while (b.left() >= 8 && f.fault.empty()) {
        uint32_t id = b.u4(), length = b.u4();
        if (length > b.left()) break;
        Bytes chunk{b.p, b.p + length};
        b.p += length;
        if (length & 1 && b.left()) ++b.p;
        std::string tag(reinterpret_cast<const char *>(chunk.p) - 8, 4);
        auto fault = [&](const std::string &what) { f.fault = "its " + tag + " chunk " + what; };
        // assimp's reader takes time quadratic in the layers: past the most read, the rest of
        // the file is only counted.
        if (id == 0x4C415952u) ++layerChunks;
        if (layerChunks > kMaxLwoLayers) continue;
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
    if (layerChunks > kMaxLwoLayers && f.fault.empty())
        f.fault = "it has " + std::to_string(layerChunks) + " layers (LAYR chunks), more than the " +
                  std::to_string(kMaxLwoLayers) + " read";
    return f;
}

}  // namespace host::scene::mesh_pvt
