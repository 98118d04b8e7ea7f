// SPDX-License-Identifier: Apache-2.0
#include "host/scene/mesh_import.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <new>
#include <set>
#include <stdexcept>

#include <assimp/config.h>
#include <assimp/postprocess.h>

#include "host/scene/mesh_pvt.h"

namespace host::scene::mesh_pvt {

// ---------------------------------------------------------------------------------------------
// The import.

bool MeshImport::file(int layer, ImportedMesh &out, util::Diagnostic &error) {
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
        return refuseSentence(error, "is a zip archive, which is not read");
    Format format = formatOf(path_, head, static_cast<size_t>(got));
    if (format == Format::None)
        return refuseSentence(error,
                              "is not a mesh file of a kind read here (host object, OBJ, PLY, STL, "
                              "glTF 2, FBX or Collada)");
    out.files.push_back(path_);
    if (format == Format::Obj) {
        std::string text;
        if (!io::readFile(path_, io::kMaxMeshBytes, "mesh file", text, why))
            return refuse(error, "cannot open mesh file " + quoteFile(path_) + ": " + why);
        if (layer > 1) return refuseSentence(error, "has one layer, not " + std::to_string(layer));
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
        if (layer > 1) return refuseSentence(error, "has one layer, not " + std::to_string(layer));
        if (format == Format::Ply && !plyHeader(error)) return false;
        if (format == Format::Collada || format == Format::Gltf || format == Format::Fbx) {
            std::string text;
            if (!io::readFile(path_, io::kMaxMeshBytes, "mesh file", text, why))
                return refuse(error, "cannot open mesh file " + quoteFile(path_) + ": " + why);
            if (format == Format::Collada ? !colladaIndices(text, error)
                : format == Format::Gltf  ? !gltfBounds(text, error)
                                          : !fbxArrays(text, error))
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
bool MeshImport::obj(std::string &text, bool sideFiles, ImportedMesh &out, util::Diagnostic &error) {
    // The points read on the way take at most 12 bytes for each 7 of text ("v 0 0 0\n").
    if (!fits(3 * uint64_t(text.size()), error)) return false;
    ObjCounts counts;
    std::vector<float> filePoints;
    if (!checkObj(text, label_, counts, error, &filePoints)) return false;
    if (counts.faces == 0) return refuseSentence(error, "has no polygons");
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
            weld[i] =
                first == static_cast<int>(i) ? static_cast<int>(kept.size()) : weld[static_cast<size_t>(first)];
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
        return refuseFile(error, "the importer read " + std::to_string(faces) + " polygons where the file has " +
                                     std::to_string(counts.faces));
    return finish(out, error);
}

bool MeshImport::binary(const char *head, ssize_t got) {
    for (ssize_t i = 0; i < got; ++i)
        if (head[i] == 0) return true;
    return got >= 4 && (std::memcmp(head, "glTF", 4) == 0 || std::memcmp(head, "Kaydara", 7) == 0);
}

bool MeshImport::refuse(util::Diagnostic &error, util::Diagnostic why) {
    error = std::move(why);
    return false;
}

bool MeshImport::refuse(util::Diagnostic &error, const std::string &message) {
    return refuse(error, util::Diagnostic::plain(message));
}

bool MeshImport::refuseFile(util::Diagnostic &error, const std::string &message) {
    return refuse(error, util::Diagnostic::at(util::FileLoc::ofFile(label_), message));
}

bool MeshImport::refuseSentence(util::Diagnostic &error, const std::string &predicate) {
    return refuse(error, util::Diagnostic::of(label_, predicate));
}

bool MeshImport::refuseLine(util::Diagnostic &error, long long line, const std::string &message) {
    return refuse(error, util::Diagnostic::at(util::FileLoc::atLine(label_, line), message));
}

bool MeshImport::fits(uint64_t bytes, util::Diagnostic &error) {
    if (!limit_ || bytes <= limit_) return true;
    return refuseSentence(error, "would need about " + io::byteText(bytes) + " of memory, more than the " +
                                     io::byteText(limit_) + " left for the scene");
}

// Why the import failed: a file refused on the way, or the importer's own message.
bool MeshImport::refuseImport(util::Diagnostic &error) {
    if (!refusal_.empty()) return refuse(error, refusal_);
    std::string why = importError_.empty() ? "not a mesh file assimp reads" : importError_;
    while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == ' ')) why.pop_back();
    return refuseFile(error, excerpt(why, 4 * kExcerpt));
}

// Runs assimp over the mesh file with only our files and readers; null on failure (the reason
// in refusal_ or importError_).
std::unique_ptr<Assimp::Importer> MeshImport::read(Format format, const std::string &mainPath,
                                                   const std::string *data, uint64_t size, bool sideFiles,
                                                   const char *sideKind, uint64_t factor, int layer,
                                                   uint64_t estimate) {
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

// Adds a mesh's faces of three or more corners as polygons (reversed when `flip`), each
// corner's point given by `pointOf` (-1: the importer named a point the file lacks).
template <typename PointOf>
bool MeshImport::polygons(const aiMesh &mesh, const std::vector<int> &surfaceOf, const PointOf &pointOf, bool flip,
                          MeshLayer &layer, util::Diagnostic &error) {
    int surface = mesh.mMaterialIndex < surfaceOf.size() ? surfaceOf[mesh.mMaterialIndex] : -1;
    for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
        const aiFace &face = mesh.mFaces[f];
        if (face.mNumIndices < 3) continue;
        if (layer.polygons.size() >= kMaxLayerPoints)
            return refuseSentence(error,
                                  "has more than " + std::to_string(kMaxLayerPoints) + " polygons in a layer");
        MeshPolygon poly;
        poly.surface = surface;
        poly.points.resize(face.mNumIndices);
        for (unsigned k = 0; k < face.mNumIndices; ++k) {
            int p = pointOf(face.mIndices[flip ? face.mNumIndices - 1 - k : k]);
            if (p < 0) return refuseFile(error, "the importer gave a point that is not in the file");
            poly.points[k] = p;
        }
        layer.polygons.push_back(std::move(poly));
    }
    return true;
}

// The mesh's UV channels and bone weights as the layer's UV and weight maps, by name, each
// point taking the value of the first corner that gives it one.
template <typename PointOf>
void MeshImport::maps(const aiMesh &mesh, const PointOf &pointOf, MeshLayer &layer) {
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
void MeshImport::fileMaps(const LwoLayer &raw, const std::vector<int> &placeOf, MeshLayer &layer) {
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
bool MeshImport::lwo(std::string &data, int layer, uint64_t estimate, ImportedMesh &out, util::Diagnostic &error) {
    if (isLwob(data)) {
        if (layer > 1) return refuseSentence(error, "has one layer, not " + std::to_string(layer));
        std::string current, why;
        if (!lwobAsLwo2(data, current, why)) return refuseFile(error, why);
        data.swap(current);
        current = std::string();
        // What assimp takes grows with the file it reads: the repackaged one.
        estimate = std::max<uint64_t>(estimate, data.size() * kLwoFactor);
        if (!fits(estimate, error)) return false;
    }
    LwoFile file = readLwoChunks(data);
    if (!file.fault.empty()) return refuseFile(error, file.fault);
    if (layer > 0) {
        bool found = false;
        std::string numbers;
        for (const LwoLayer &l : file.layers) {
            found = found || l.number + 1 == layer;
            numbers += (numbers.empty() ? "" : ", ") + std::to_string(l.number + 1);
        }
        if (!found)
            return refuseSentence(error,
                                  "has no layer " + std::to_string(layer) +
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
                return refuseFile(error,
                                  "a point's coordinate is not a number within " + numberText(kMaxCoordinate));
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
        const aiMesh *first = node->mMeshes[0] < scene->mNumMeshes ? scene->mMeshes[node->mMeshes[0]] : nullptr;
        size_t at = kept.size();
        for (size_t i = 0; i < kept.size() && at == kept.size(); ++i)
            if (!matched[i] && file.layers[kept[i]].node == name &&
                (!first || !first->mNumVertices || found(i, first->mVertices[0])))
                at = i;
        if (at == kept.size())
            return refuseFile(error, "the importer gave a layer " + quote(name) + " the file does not have");
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
bool MeshImport::other(Format format, uint64_t size, uint64_t estimate, bool materials, ImportedMesh &out,
                       util::Diagnostic &error, const std::string *data) {
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
        if (at.depth > 1024) return refuseFile(error, "its nodes nest deeper than 1024 levels");
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
            util::Diagnostic bad;
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
                        bad = util::Diagnostic::at(
                            util::FileLoc::ofFile(label_),
                            "a point's coordinate is not a number within " + numberText(kMaxCoordinate));
                        return -1;
                    }
                int found = table.find(mp.pos);
                if (found < 0) {
                    if (layer.points.size() >= kMaxLayerPoints) {
                        bad = util::Diagnostic::of(
                            label_, "has more than " + std::to_string(kMaxLayerPoints) + " points in a layer");
                        return -1;
                    }
                    layer.points.push_back(mp);
                    found = table.add(static_cast<int>(layer.points.size() - 1));
                }
                return pointAt[v] = found;
            };
            if (!polygons(mesh, surfaceOf, place, false, layer, error))
                return bad.empty() ? false : refuse(error, std::move(bad));
            maps(
                mesh, [&](unsigned v) { return v < pointAt.size() ? pointAt[v] : -1; }, layer);
        }
    }
    return finish(out, error);
}

// The last checks: limits, finite coordinates, at least one polygon; and the bytes taken.
// Surfaces no polygon uses (materials a file defines but does not use, or that the importer
// made up) are left out.
bool MeshImport::finish(ImportedMesh &out, util::Diagnostic &error) {
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
        if (m.points.size() > kMaxLayerPoints || m.polygons.size() > kMaxLayerPoints || corners > kMaxLayerCorners)
            return refuseSentence(
                error, "has more than " + std::to_string(kMaxLayerPoints) + " points or polygons in a layer");
        for (const MeshPoint &p : m.points)
            for (float c : p.pos)
                if (!(std::fabs(c) <= kMaxCoordinate))
                    return refuseFile(error,
                                      "a point's coordinate is not a number within " + numberText(kMaxCoordinate));
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
    if (polygons == 0) return refuseSentence(error, "has no polygons");
    out.bytes = bytes;
    return true;
}

}  // namespace host::scene::mesh_pvt

namespace host::scene {

using mesh_pvt::MeshImport;
using util::excerpt;
using util::kExcerpt;
using util::quoteFile;

bool importMeshInProcess(const std::string &path, int layer, ImportedMesh &out, util::Diagnostic &error,
                         uint64_t memoryLimit) {
    out = ImportedMesh();
    error = util::Diagnostic();
    std::string label = "mesh file " + quoteFile(path);
    try {
        MeshImport import(path, label, memoryLimit);
        if (import.file(layer, out, error)) return true;
    } catch (const std::bad_alloc &) {
        error = util::Diagnostic::of(label, "needs more memory than there is");
    } catch (const std::exception &e) {
        error = util::Diagnostic::at(util::FileLoc::ofFile(label), excerpt(e.what(), 4 * kExcerpt));
    }
    out = ImportedMesh();
    return false;
}

bool importMesh(const std::string &path, int layer, ImportedMesh &out, std::string &error, uint64_t memoryLimit) {
    util::Diagnostic why;
    bool ok = importMesh(path, layer, out, why, memoryLimit);
    error = ok ? std::string() : why.text();
    return ok;
}

bool importObjText(const std::string &text, const std::string &label, ImportedMesh &out, util::Diagnostic &error) {
    out = ImportedMesh();
    error = util::Diagnostic();
    try {
        std::string copy = text;
        MeshImport import("<text>.obj", label, 0);
        if (import.obj(copy, false, out, error)) return true;
    } catch (const std::bad_alloc &) {
        error = util::Diagnostic::at(util::FileLoc::ofFile(label), "the mesh needs more memory than there is");
    } catch (const std::exception &e) {
        error = util::Diagnostic::at(util::FileLoc::ofFile(label), excerpt(e.what(), 4 * kExcerpt));
    }
    out = ImportedMesh();
    return false;
}

}  // namespace host::scene
