// SPDX-License-Identifier: Apache-2.0
// Fuzzes the mesh import (host::importMeshInProcess: assimp in the fuzzer's own process) with
// mesh files. The first byte picks the file's name (.lwo, .obj, .ply, .stl, .gltf, .glb, .fbx,
// .dae; the reader is told by content as well), the rest is the file, written to a private
// folder. Every input must end in a short refusal that names the file, or layers whose polygons
// name existing points and surfaces, whose points are finite and within the coordinate limit, and
// which the renderer can finish.
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/scene/mesh_import.h"

namespace {

std::string gFolder;

const char *const kNames[] = {"m.lwo", "m.obj", "m.ply", "m.stl", "m.gltf", "m.glb", "m.fbx", "m.dae"};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    char pattern[] = "/tmp/velmora_fuzz_mesh_XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    gFolder = pattern;
    std::atexit([] { std::system(("rm -rf '" + gFolder + "'").c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const std::string path = gFolder + "/" + kNames[data[0] % 8];
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size > 1 && std::fwrite(data + 1, 1, size - 1, f) != size - 1) std::abort();
    std::fclose(f);

    host::scene::ImportedMesh mesh;
    host::util::Diagnostic why;
    // A limit well under the fuzzer's own, so that the estimates are what refuses large asks.
    bool ok = host::scene::importMeshInProcess(path, data[0] / 8 % 3, mesh, why, 256ull << 20);
    std::string error = why.text();
    ::unlink(path.c_str());
    if (!ok) {
        if (error.find(path) == std::string::npos || error.size() > 1024) std::abort();
        if (!mesh.layers.empty() || !mesh.surfaces.empty()) std::abort();
        return 0;
    }
    if (mesh.files.empty() || mesh.files[0] != path || mesh.layers.empty()) std::abort();
    size_t polygons = 0;
    for (host::scene::ImportedLayer &layer : mesh.layers) {
        host::scene::MeshLayer &m = layer.mesh;
        if (layer.parent < -1 || layer.parent >= static_cast<int>(mesh.layers.size())) std::abort();
        const size_t points = m.points.size();
        for (const host::scene::MeshPoint &p : m.points)
            for (float c : p.pos)
                if (!(std::fabs(c) <= 1e9f)) std::abort();
        for (const host::scene::MeshPolygon &poly : m.polygons) {
            if (poly.points.size() < 3) std::abort();
            if (poly.surface < -1 || poly.surface >= static_cast<int>(mesh.surfaces.size())) std::abort();
            for (int k : poly.points)
                if (k < 0 || static_cast<size_t>(k) >= points) std::abort();
        }
        for (const host::scene::UVMap &u : m.uvMaps)
            if (u.values.size() != 2 * points || u.has.size() != points) std::abort();
        for (const host::scene::WeightMap &w : m.weightMaps)
            if (w.values.size() != points || w.has.size() != points) std::abort();
        polygons += m.polygons.size();
        host::scene::finishLayer(m);
        for (int k : m.triangles)
            if (k < 0 || static_cast<size_t>(k) >= points) std::abort();
    }
    if (polygons == 0) std::abort();
    for (const host::scene::Surface &s : mesh.surfaces) {
        if (s.name.empty()) std::abort();
        for (double v : {s.color[0], s.color[1], s.color[2], s.luminosity, s.diffuse, s.specular, s.glossiness,
                         s.mirror, s.transparency, s.eta, s.translucency, s.smoothingAngle})
            if (!std::isfinite(v) || v < 0) std::abort();
    }
    return 0;
}
