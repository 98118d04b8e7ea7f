// SPDX-License-Identifier: Apache-2.0
// Mesh files read through assimp: host objects (.lwo, the current format; the older LWOB
// format repackaged as the current one first, since assimp 5.2 reads none of those), OBJ, PLY,
// STL, glTF 2 (.gltf, .glb), FBX and Collada (.dae), each told by its content and extension.
// Other formats assimp knows are not offered.
//
// Every file is opened through host/io: only regular files, the mesh file and the files it names
// (OBJ material files, glTF buffers) at most io::kMaxMeshBytes together, and each file the import
// reads is listed. Polygons are kept as the file gives them (no triangulation); points are welded
// by exact position within a layer, so that smoothing reaches across the per-corner copies assimp
// makes.
//
// Coordinates are the file's own numbers:
//  - Host objects are left-handed with +Y up, as the host is. assimp turns them right-handed
//    (it negates z and reverses every polygon); the import undoes both, so host coordinates equal
//    the numbers of the file's PNTS chunk and polygons keep the file's point order. Points come in
//    the order of the layer's PNTS chunks (unused ones included).
//  - OBJ points are read by the host's own checking pass (exact decimal reading, the 1e9 limit,
//    line-numbered refusals) and keep the file's order, unused ones included; assimp gives the
//    polygons and materials.
//  - Other formats are taken as assimp gives them, node transforms applied, without any change of
//    handedness or up axis (a right-handed glTF file appears mirrored in the left-handed host);
//    Collada's up axis is not applied either. Points come in the order the polygons first use
//    them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/scene/scene.h"
#include "host/util/diagnostic.h"

namespace host::scene {

// One layer of a mesh file. Other formats than host objects have one layer, index 1.
struct ImportedLayer {
    int index = 1;        // the layer's number, from 1 (a host object LAYR chunk's number + 1)
    std::string name;     // the layer's name; empty when the file gives none
    int parent = -1;      // index into ImportedMesh::layers of the parent layer; -1 for none
    Vec3 pivot{0, 0, 0};  // the layer's pivot point, in the file's coordinates
    // Points, polygons, weight maps and UV maps. MeshPolygon::surface indexes
    // ImportedMesh::surfaces, or is -1 for a polygon the file gives no surface (the caller's own).
    // Not finished: finishLayer() makes normals and triangles once the points are in place.
    MeshLayer mesh;
};

// What a mesh file holds.
struct ImportedMesh {
    std::vector<ImportedLayer> layers;  // in the file's order
    std::vector<Surface> surfaces;      // the file's surfaces (materials), by name, with their values
    std::vector<std::string> files;     // every file read: the mesh file first, then the files it named
    uint64_t bytes = 0;                 // memory the layers take
};

// Reads a mesh file. `layer` > 0 keeps only that layer of a layered host object file, and
// refuses a number the file lacks; 0 keeps every layer. `memoryLimit` (0: none) bounds what the
// import may take at its peak, estimated before anything is read and checked again as the file
// is read. On refusal returns false with a diagnostic naming the file, whose text reads
// `mesh file "PATH": what is wrong` (with ", line N" after the name for OBJ text),
// `cannot open mesh file "PATH": why` or
// `cannot read material file "MATERIAL": why (named by mesh file "PATH")`; the importer's own
// message is quoted where it gives one. Never throws.
//
// The import runs in a process of its own, the companion program velmora-mesh-import (found
// beside the program like the image codecs), so that assimp's own faults cannot reach the
// renderer: its address space is capped at the memory limit (or the memory available) and some
// room for the program itself, its CPU time and its stack are limited, and it is killed past a
// wall-clock limit (VELMORA_MESH_IMPORT_SECONDS, default 300). A crash, a signal, a limit reached
// or an answer that does not check out refuses the mesh file with one message naming it; so
// does a missing companion, naming the folders searched.
bool importMesh(const std::string &path, int layer, ImportedMesh &out, util::Diagnostic &error,
                uint64_t memoryLimit = 0);
// The same, with the refusal's text.
bool importMesh(const std::string &path, int layer, ImportedMesh &out, std::string &error,
                uint64_t memoryLimit = 0);

// importMesh in the calling process, assimp and all: for the importer process itself and the
// fuzz target. Nothing here guards against assimp's own crashes and hangs.
bool importMeshInProcess(const std::string &path, int layer, ImportedMesh &out, util::Diagnostic &error,
                         uint64_t memoryLimit = 0);

// The importer process's whole work (velmora-mesh-import PATH LAYER MEMORY_LIMIT ADDRESS_LIMIT
// CPU_SECONDS): sets its own limits, imports, and writes the outcome to its standard output.
// Ends the process once it has answered; returns (the exit status) only on a usage error.
int meshImporterMain(int argc, char **argv);

// The importer process's answer (mesh_wire.cpp).

// Writes an import's outcome to `fd`: the mesh when `ok`, else the refusal `why`. False when
// the write fails.
bool writeImporterAnswer(int fd, bool ok, const ImportedMesh &mesh, const util::Diagnostic &why);

// A source of bytes: up to `size` into `to`; 0 at the end (or on failure).
using PullBytes = std::function<size_t(char *to, size_t size)>;

// Reads an answer written by writeImporterAnswer from a source it does not trust, at most
// `maxBytes` of it: `ok` and the mesh, or the refusal in `why`. False, with what is wrong in
// `fault`, when the bytes are not a whole, valid answer: counts beyond the mesh limits, polygons
// naming points or surfaces that are not there, maps not the size of their layer, points out of
// range, bytes missing or left over. Memory grows only with the bytes that arrive.
bool readImporterAnswer(const PullBytes &pull, uint64_t maxBytes, bool &ok, ImportedMesh &mesh,
                        util::Diagnostic &why, std::string &fault);

// The companion program's file name.
constexpr const char *kMeshImporter = "velmora-mesh-import";

// Reads OBJ text as importMesh reads an OBJ file, without opening any file (material files are
// not read, so every polygon is on surface -1 or a material with default values). Refusals start
// with `label`: "LABEL, line N: ..." or "LABEL ...". Never throws.
bool importObjText(const std::string &text, const std::string &label, ImportedMesh &out, util::Diagnostic &error);

}  // namespace host::scene
