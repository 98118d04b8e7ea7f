// SPDX-License-Identifier: Apache-2.0
// Fuzzes the OBJ reader with mesh text. Every input must end in a short refusal that names the
// mesh, or a layer whose polygons name existing points, whose points are finite, and which the
// renderer can finish (normals and triangles) as it is.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/scene/loader.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    setenv("VELMORA_MEMORY_LIMIT", "1G", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string label = "fuzz.obj";
    std::string text(reinterpret_cast<const char *>(data), size), error;
    host::scene::MeshLayer layer;
    if (!host::scene::parseObjText(text, label, layer, error)) {
        if (error.compare(0, label.size(), label) != 0 || error.size() > 1024) std::abort();
        return 0;
    }
    const size_t points = layer.points.size();
    for (const host::scene::MeshPoint &p : layer.points)
        for (float c : p.pos)
            if (!std::isfinite(c)) std::abort();
    for (const host::scene::MeshPolygon &poly : layer.polygons) {
        if (poly.points.size() < 3) std::abort();
        for (int k : poly.points)
            if (k < 0 || static_cast<size_t>(k) >= points) std::abort();
    }
    host::scene::finishLayer(layer);
    for (int k : layer.triangles)
        if (k < 0 || static_cast<size_t>(k) >= points) std::abort();
    return 0;
}
