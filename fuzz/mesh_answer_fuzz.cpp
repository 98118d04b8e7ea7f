// SPDX-License-Identifier: Apache-2.0
// Fuzzes the renderer's reading of the mesh importer's answer (host::readImporterAnswer), which
// comes from a process that may have been subverted by a hostile mesh file. The input is the
// answer, handed over in pieces whose sizes its own bytes pick. Every input must end in a fault,
// a refusal with a message, or a mesh whose polygons name existing points and surfaces (three or
// more corners), whose points are within the coordinate limit and whose maps match their layers.
// Seeds: answers of velmora-mesh-import for meshes of each format
// (velmora-mesh-import MESH 0 0 0 60 > fuzz/corpus/mesh_answer/NAME).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/scene/mesh_import.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    size_t at = 0, pieces = 0;
    host::scene::PullBytes pull = [&](char *to, size_t most) -> size_t {
        // Pieces as a pipe may give them: alternately all that is asked and 1 to 256 bytes, by
        // the byte at the piece's start.
        size_t n = std::min(most, size - at);
        if (pieces++ % 2 && n) n = std::min<size_t>(n, 1 + data[at]);
        std::memcpy(to, data + at, n);
        at += n;
        return n;
    };
    bool ok = false;
    host::scene::ImportedMesh mesh;
    host::util::Diagnostic why;
    std::string fault;
    if (!host::scene::readImporterAnswer(pull, 16u << 20, ok, mesh, why, fault)) {
        if (fault.empty() || !mesh.layers.empty() || !mesh.surfaces.empty()) std::abort();
        return 0;
    }
    if (!ok) {
        if (why.message.empty() || !mesh.layers.empty()) std::abort();
        return 0;
    }
    if (mesh.layers.empty()) std::abort();
    for (const host::scene::ImportedLayer &layer : mesh.layers) {
        const host::scene::MeshLayer &m = layer.mesh;
        if (layer.parent < -1 || layer.parent >= static_cast<int>(mesh.layers.size())) std::abort();
        for (const host::scene::MeshPoint &p : m.points)
            for (float c : p.pos)
                if (!(std::fabs(c) <= 1e9f)) std::abort();
        for (const host::scene::MeshPolygon &p : m.polygons) {
            if (p.points.size() < 3) std::abort();
            if (p.surface < -1 || p.surface >= static_cast<int>(mesh.surfaces.size())) std::abort();
            for (int k : p.points)
                if (k < 0 || static_cast<size_t>(k) >= m.points.size()) std::abort();
        }
        for (const host::scene::UVMap &u : m.uvMaps)
            if (u.values.size() != 2 * m.points.size() || u.has.size() != m.points.size()) std::abort();
        for (const host::scene::WeightMap &w : m.weightMaps)
            if (w.values.size() != m.points.size() || w.has.size() != m.points.size()) std::abort();
    }
    return 0;
}
