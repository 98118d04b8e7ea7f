// SPDX-License-Identifier: Apache-2.0
// Mesh files through assimp (host/scene/mesh_import.h), checked against what the files say: the
// assimp test models (Debian's assimp-testmodels, /usr/share/assimp/models; tests that need them
// skip when the folder is absent), and small files written here. Also the scene loader's use of
// them: file surfaces merged with the scene's, smoothing angles, and overlays.
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <assimp/material.h>
#include <assimp/scene.h>
#include <assimp/Importer.hpp>

#include <gtest/gtest.h>

#include "host/scene/loader.h"
#include "host/scene/mesh_import.h"

namespace {

const std::string kModels = "/usr/share/assimp/models";
constexpr double kDeg = 3.14159265358979323846 / 180.0;

bool haveModels() {
    struct stat st;
    return ::stat((kModels + "/LWO/LWO2/hierarchy.lwo").c_str(), &st) == 0;
}

#define NEED_MODELS() \
    if (!haveModels()) GTEST_SKIP() << kModels << " is absent (Debian package assimp-testmodels)"

struct Box {
    float lo[3] = {1e30f, 1e30f, 1e30f}, hi[3] = {-1e30f, -1e30f, -1e30f};
};

Box bounds(const host::scene::MeshLayer &m) {
    Box b;
    for (const host::scene::MeshPoint &p : m.points)
        for (int c = 0; c < 3; ++c) {
            b.lo[c] = std::min(b.lo[c], p.pos[c]);
            b.hi[c] = std::max(b.hi[c], p.pos[c]);
        }
    return b;
}

const host::scene::Surface *surface(const host::scene::ImportedMesh &m, const std::string &name) {
    for (const host::scene::Surface &s : m.surfaces)
        if (s.name == name) return &s;
    return nullptr;
}

// The names of the surfaces a layer's polygons use, in order of first use.
std::vector<std::string> surfacesOf(const host::scene::ImportedMesh &m, const host::scene::MeshLayer &layer) {
    std::vector<std::string> names;
    for (const host::scene::MeshPolygon &p : layer.polygons) {
        std::string n = p.surface < 0 ? "(none)" : m.surfaces.at(static_cast<size_t>(p.surface)).name;
        if (std::find(names.begin(), names.end(), n) == names.end()) names.push_back(n);
    }
    return names;
}

// Every polygon names existing points, three or more.
void expectSound(const host::scene::ImportedMesh &m) {
    for (const host::scene::ImportedLayer &l : m.layers)
        for (const host::scene::MeshPolygon &p : l.mesh.polygons) {
            ASSERT_GE(p.points.size(), 3u);
            for (int k : p.points) ASSERT_TRUE(k >= 0 && static_cast<size_t>(k) < l.mesh.points.size());
            ASSERT_TRUE(p.surface == -1 || (p.surface >= 0 && static_cast<size_t>(p.surface) < m.surfaces.size()));
        }
}

// What one file holds: points and polygons in all, the bounds of its points in host coordinates,
// the surfaces its polygons use and the files read.
struct FileCase {
    const char *file;
    size_t layers, points, polygons;
    Box box;
    std::vector<std::string> surfaces;  // of the first layer, in order of first use
    size_t files;
};

TEST(MeshImport, TestModelsHoldWhatTheirFilesSay) {
    NEED_MODELS();
    const FileCase cases[] = {
        // Host objects: the numbers of the PNTS chunk (z as the file has it), one layer.
        {"LWS/simple_cube.lwo", 1, 8, 6, {{-1.45f, 0, -1.2f}, {1.25f, 1.9f, 0.9f}}, {"Default"}, 1},
        {"LWO/LWO2/sphere_with_mat_gloss_10pc.lwo",
         1,
         266,
         288,
         {{-2.15f, -2.1f, -2.6f}, {2.15f, 2.1f, 2.5f}},
         {"Default"},
         1},
        {"LWO/LWO2/transparency.lwo",
         1,
         274,
         294,
         {{-4.2f, -4.65f, -2.95f}, {4.5f, 4.65f, 3.35f}},
         {"Default"},
         1},
        // Older host objects (LWOB), repackaged: the numbers of the PNTS chunk, one layer, the
        // POLS records (a concave polygon of 66 corners; a polygon of 24); the last file, without
        // an extension, is told by its FORM type.
        {"LWO/LWOB/ConcavePolygon.lwo",
         1,
         64,
         1,
         {{-1.146f, 1.6575f, -3.0905f}, {-1.146f, 3.1425f, -1.6055f}},
         {"test_Smoothing"},
         1},
        {"LWO/LWOB/sphere_with_mat_gloss_10pc.lwo",
         1,
         266,
         288,
         {{-2.15f, -2.1f, -2.6f}, {2.15f, 2.1f, 2.5f}},
         {"Default"},
         1},
        {"LWO/LWOB/sphere_with_mat_gloss_50pc.lwo",
         1,
         266,
         288,
         {{-2.15f, -2.1f, -2.6f}, {2.15f, 2.1f, 2.5f}},
         {"Default"},
         1},
        {"LWO/LWOB/MappingModes/bluewithcylindrictexz.lwo",
         1,
         8,
         6,
         {{-1.2f, 0, -1.25f}, {1.2f, 2.35f, 1.3f}},
         {"Test"},
         1},
        {"LWO/LWOB/formatDetection", 1, 24, 1, {{-3.85f, 0, -0.9f}, {-0.25f, 0, 2.3f}}, {"Default"}, 1},
        // OBJ: 762 point statements at 722 positions; 1368 polygons on four of the five materials
        // of its material file (surfaces in order of first use).
        {"OBJ/spider.obj",
         1,
         722,
         1368,
         {{-92.6552f, -42.2338f, -106.691f}, {57.9362f, 37.504f, 86.6912f}},
         {"HLeibTex", "Skin", "BeinTex", "Augentex"},
         2},
        {"OBJ/box.obj", 1, 8, 6, {{-0.5f, -0.5f, -0.5f}, {0.5f, 0.5f, 0.5f}}, {"Default"}, 1},
        // PLY: no materials of its own (the file's polygons take the caller's surface).
        {"PLY/cube.ply", 1, 8, 6, {{0, 0, 0}, {1, 1, 1}}, {"(none)"}, 1},
        {"PLY/cube_binary.ply", 1, 8, 12, {{0, 0, 0}, {1, 1, 1}}, {"(none)"}, 1},
        // STL: a triangle a facet, corners welded to the shared points.
        {"STL/Spider_binary.stl",
         1,
         722,
         1368,
         {{-3.11489f, -4, -1.64933f}, {3.11489f, 4, 1.64933f}},
         {"(none)"},
         1},
        {"STL/triangle.stl", 1, 3, 1, {{-1, -1, 0}, {1, 1, 0}}, {"(none)"}, 1},
        // glTF 2: 24 corners (a UV per face) on 8 points; the buffer file is read and listed.
        {"glTF2/BoxTextured-glTF/BoxTextured.gltf",
         1,
         8,
         12,
         {{-0.5f, -0.5f, -0.5f}, {0.5f, 0.5f, 0.5f}},
         {"Texture"},
         2},
        {"glTF2/BoxTextured-glTF-Binary/BoxTextured.glb",
         1,
         8,
         12,
         {{-0.5f, -0.5f, -0.5f}, {0.5f, 0.5f, 0.5f}},
         {"Texture"},
         1},
        {"Collada/duck.dae",
         1,
         2108,
         2144,
         {{-0.692985f, 0.0992937f, -0.613282f}, {0.961799f, 1.6397f, 0.539252f}},
         {"blinn3"},
         1},
        {"FBX/box.fbx",
         1,
         8,
         12,
         {{-0.226096f, -0.161864f, -0.0646463f}, {0.284462f, 0.244348f, 0.46466f}},
         {"Material_50"},
         1},
    };
    for (const FileCase &c : cases) {
        SCOPED_TRACE(c.file);
        host::scene::ImportedMesh m;
        std::string error;
        ASSERT_TRUE(host::scene::importMesh(kModels + "/" + c.file, 0, m, error)) << error;
        expectSound(m);
        ASSERT_EQ(m.layers.size(), c.layers);
        size_t points = 0, polygons = 0;
        for (const host::scene::ImportedLayer &l : m.layers) {
            points += l.mesh.points.size();
            polygons += l.mesh.polygons.size();
        }
        EXPECT_EQ(points, c.points);
        EXPECT_EQ(polygons, c.polygons);
        Box b = bounds(m.layers[0].mesh);
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(b.lo[k], c.box.lo[k], 1e-4 * (1 + std::fabs(c.box.lo[k]))) << "axis " << k;
            EXPECT_NEAR(b.hi[k], c.box.hi[k], 1e-4 * (1 + std::fabs(c.box.hi[k]))) << "axis " << k;
        }
        EXPECT_EQ(surfacesOf(m, m.layers[0].mesh), c.surfaces);
        ASSERT_EQ(m.files.size(), c.files);
        EXPECT_EQ(m.files[0], kModels + "/" + c.file);
        EXPECT_GT(m.bytes, 0u);
    }
}

// UV channels and bones' weights come as the layer's UV and weight maps, a value for each point
// (the first corner's), and which points have one.
TEST(MeshImport, UVAndWeightMapsComeWithTheMesh) {
    NEED_MODELS();
    host::scene::ImportedMesh m;
    std::string error;
    ASSERT_TRUE(host::scene::importMesh(kModels + "/glTF2/BoxTextured-glTF/BoxTextured.gltf", 0, m, error))
        << error;
    const host::scene::MeshLayer &box = m.layers.at(0).mesh;
    ASSERT_EQ(box.uvMaps.size(), 1u);
    EXPECT_EQ(box.uvMaps[0].values.size(), 2 * box.points.size());
    for (uint8_t has : box.uvMaps[0].has) EXPECT_EQ(has, 1);
    ASSERT_TRUE(host::scene::importMesh(kModels + "/glTF2/simple_skin/simple_skin.gltf", 0, m, error)) << error;
    const host::scene::MeshLayer &skin = m.layers.at(0).mesh;
    ASSERT_EQ(skin.weightMaps.size(), 2u);  // two joints
    for (size_t k = 0; k < skin.points.size(); ++k) {
        double sum = 0;
        for (const host::scene::WeightMap &w : skin.weightMaps) sum += w.has[k] ? w.values[k] : 0;
        EXPECT_NEAR(sum, 1.0, 1e-6) << "point " << k << ": its weights add up to 1";
    }
}

// Host objects are left-handed with +Y up, as the host is: assimp negates z and reverses the
// polygons, and the import undoes both.
TEST(MeshImport, HostObjectPolygonsKeepTheFilesPointOrder) {
    NEED_MODELS();
    host::scene::ImportedMesh m;
    std::string error;
    ASSERT_TRUE(host::scene::importMesh(kModels + "/LWS/simple_cube.lwo", 0, m, error)) << error;
    const host::scene::MeshLayer &l = m.layers.at(0).mesh;
    // PNTS: (-1.45, 0, -1.2), (1.25, 0, -1.2), (1.25, 0, 0.9), (-1.45, 0, 0.9), then y = 1.9.
    EXPECT_EQ(l.points.at(0).pos[2], -1.2f);
    EXPECT_EQ(l.points.at(2).pos[0], 1.25f);
    EXPECT_EQ(l.points.at(2).pos[2], 0.9f);
    EXPECT_EQ(l.points.at(4).pos[1], 1.9f);
    // POLS: the first face is 0 1 2 3, the second 0 4 5 1 (facing -Y and -Z in the file).
    EXPECT_EQ(l.polygons.at(0).points, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(l.polygons.at(1).points, (std::vector<int>{0, 4, 5, 1}));
    host::scene::MeshLayer finished = l;
    host::scene::finishLayer(finished);
    EXPECT_NEAR(finished.polygons[0].normal[1], -1.0, 1e-6);
    EXPECT_NEAR(finished.polygons[1].normal[2], -1.0, 1e-6);
    // Older objects (LWOB) too, repackaged. PNTS: (-1.2, 0, -1.25), (1.2, 0, -1.25), (1.2, 0, 1.3),
    // (-1.2, 0, 1.3), then y = 2.35; POLS: 0 1 2 3, then 0 4 5 1, as above.
    ASSERT_TRUE(host::scene::importMesh(kModels + "/LWO/LWOB/MappingModes/bluewithcylindrictexz.lwo", 0, m, error))
        << error;
    host::scene::MeshLayer older = m.layers.at(0).mesh;
    EXPECT_EQ(older.points.at(0).pos[2], -1.25f);
    EXPECT_EQ(older.points.at(2).pos[0], 1.2f);
    EXPECT_EQ(older.points.at(2).pos[2], 1.3f);
    EXPECT_EQ(older.points.at(4).pos[1], 2.35f);
    EXPECT_EQ(older.polygons.at(0).points, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(older.polygons.at(1).points, (std::vector<int>{0, 4, 5, 1}));
    host::scene::finishLayer(older);
    EXPECT_NEAR(older.polygons[0].normal[1], -1.0, 1e-6);
    EXPECT_NEAR(older.polygons[1].normal[2], -1.0, 1e-6);
    // The concave polygon: 66 point numbers, from 30 31 28 24 to 18 22 26.
    ASSERT_TRUE(host::scene::importMesh(kModels + "/LWO/LWOB/ConcavePolygon.lwo", 0, m, error)) << error;
    const std::vector<int> &corners = m.layers.at(0).mesh.polygons.at(0).points;
    ASSERT_EQ(corners.size(), 66u);
    EXPECT_EQ(std::vector<int>(corners.begin(), corners.begin() + 4), (std::vector<int>{30, 31, 28, 24}));
    EXPECT_EQ(std::vector<int>(corners.end() - 3, corners.end()), (std::vector<int>{18, 22, 26}));
}

struct LayerCase {
    int index;
    const char *name;
    const char *parent;  // the parent layer's name, "" for none
    host::scene::Vec3 pivot;
    size_t points, polygons;
    Box box;
    std::vector<std::string> surfaces;
};

TEST(MeshImport, LayeredObjectKeepsLayersParentsAndPivots) {
    NEED_MODELS();
    const LayerCase layers[] = {
        {4,
         "ChildOfRoot0",
         "RootOfHierarchy",
         {0, 0, 0},
         8,
         6,
         {{-1.7f, 0, -1.2f}, {1.7f, 2.5f, 1.15f}},
         {"BoxOnLayer3"}},
        {5,
         "RootOfHierarchy",
         "",
         {0, 0, 0},
         266,
         288,
         {{-2.05f, -2.1f, -1.95f}, {2.25f, 2.1f, 1.65f}},
         {"Default"}},
        {3,
         "GrandChildOfRoot0",
         "ChildOfRoot0",
         {0.8, 0, 1.35},
         8,
         6,
         {{-1.45f, 0, -1.6f}, {1.8f, 2.55f, 0.8f}},
         {"Default"}},
        {2,
         "ChildOfRoot1",
         "RootOfHierarchy",
         {-2.75, 0, -0.85},
         8,
         6,
         {{-1.8f, 0, -0.05f}, {-0.05f, 5.05f, 1.25f}},
         {"RedBox"}},
    };
    host::scene::ImportedMesh m;
    std::string error;
    ASSERT_TRUE(host::scene::importMesh(kModels + "/LWO/LWO2/hierarchy.lwo", 0, m, error)) << error;
    expectSound(m);
    ASSERT_EQ(m.layers.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        const LayerCase &c = layers[i];
        const host::scene::ImportedLayer &l = m.layers[i];
        SCOPED_TRACE(c.name);
        EXPECT_EQ(l.index, c.index);
        EXPECT_EQ(l.mesh.index, c.index);
        EXPECT_EQ(l.name, c.name);
        EXPECT_EQ(l.parent < 0 ? std::string() : m.layers.at(static_cast<size_t>(l.parent)).name, c.parent);
        for (int k = 0; k < 3; ++k)
            EXPECT_FLOAT_EQ(static_cast<float>(l.pivot[k]), static_cast<float>(c.pivot[k]));
        EXPECT_EQ(l.mesh.points.size(), c.points);
        EXPECT_EQ(l.mesh.polygons.size(), c.polygons);
        Box b = bounds(l.mesh);
        for (int k = 0; k < 3; ++k) {
            EXPECT_FLOAT_EQ(b.lo[k], c.box.lo[k]);
            EXPECT_FLOAT_EQ(b.hi[k], c.box.hi[k]);
        }
        EXPECT_EQ(surfacesOf(m, l.mesh), c.surfaces);
    }
    // Layer 3 alone: the one layer, without its parent (not read).
    ASSERT_TRUE(host::scene::importMesh(kModels + "/LWO/LWO2/hierarchy.lwo", 3, m, error)) << error;
    ASSERT_EQ(m.layers.size(), 1u);
    EXPECT_EQ(m.layers[0].name, "GrandChildOfRoot0");
    EXPECT_EQ(m.layers[0].parent, -1);
    EXPECT_EQ(m.layers[0].pivot, (host::scene::Vec3{0.800000011920929, 0, 1.350000023841858}));
    EXPECT_EQ(m.layers[0].mesh.polygons.size(), 6u);
    EXPECT_FALSE(host::scene::importMesh(kModels + "/LWO/LWO2/hierarchy.lwo", 9, m, error));
    EXPECT_NE(error.find("has no layer 9 (its layers: 4, 5, 3, 2)"), std::string::npos) << error;
}

struct SurfaceCase {
    const char *file, *name;
    host::scene::Vec3 color;
    double diffuse, specular, glossiness, transparency, translucency;
    bool doubleSided, smoothing;
    double smoothingDegrees;  // 180: no limit
};

// The surfaces' base values, as the files' SURF chunks give them: what assimp's material folds
// together or drops (reflection, translucency, the smoothing angle) comes through.
TEST(MeshImport, HostObjectSurfacesKeepTheFilesValues) {
    NEED_MODELS();
    const double grey = 200 / 255.0;
    const SurfaceCase cases[] = {
        {"LWO/LWO2/hierarchy.lwo", "RedBox", {1, 0, 0}, 1, 0, 0.4, 0, 0, false, true, 89.5},
        {"LWO/LWO2/hierarchy.lwo",
         "BoxOnLayer3",
         {128 / 255.0, 128 / 255.0, 192 / 255.0},
         1,
         0,
         0.4,
         0,
         0,
         false,
         true,
         89.5},
        {"LWO/LWO2/hierarchy.lwo", "Default", {grey, grey, grey}, 1, 0, 0.4, 0, 0, false, false, 180},
        {"LWO/LWO2/transparency.lwo", "Default", {1, 128 / 255.0, 0}, 1, 1, 0.6, 0.5, 0.3, true, true, 89.52},
        // "10pc" in the name, 0.2 in the file's GLOS chunk (the Blinn-Phong exponent 16).
        {"LWO/LWO2/sphere_with_mat_gloss_10pc.lwo",
         "Default",
         {1, 128 / 255.0, 192 / 255.0},
         1,
         1,
         0.2,
         0,
         0,
         false,
         true,
         89.53},
        // Older host objects (LWOB), as their SURF chunks give them: COLR bytes / 255, VDIF and VSPC
        // (over DIFF and SPEC, 256 = 1), GLOS exponents 64, 16 and 256 as 0.4, 0.2 and 0.6
        // (2^(2 + 10 g)), FLAG's smoothing bit with SMAN's angle (1.5625 and 1.5625932 radians).
        {"LWO/LWOB/ConcavePolygon.lwo",
         "test_Smoothing",
         {36 / 255.0, 47 / 255.0, 105 / 255.0},
         1,
         0,
         0.4,
         0,
         0,
         false,
         true,
         89.52},
        {"LWO/LWOB/sphere_with_mat_gloss_10pc.lwo",
         "Default",
         {1, 128 / 255.0, 192 / 255.0},
         1,
         1,
         0.2,
         0,
         0,
         false,
         true,
         89.53},
        {"LWO/LWOB/sphere_with_mat_gloss_50pc.lwo",
         "Default",
         {1, 128 / 255.0, 192 / 255.0},
         1,
         1,
         0.6,
         0,
         0,
         false,
         true,
         89.53},
        // FLAG 0 and no SMAN: no smoothing; VSPC 0.3 (SPEC 77 / 256 = 0.3008).
        {"LWO/LWOB/MappingModes/bluewithcylindrictexz.lwo",
         "Test",
         {0, 128 / 255.0, 192 / 255.0},
         1,
         0.3,
         0.4,
         0,
         0,
         false,
         false,
         180},
        {"LWO/LWOB/formatDetection", "Default", {grey, grey, grey}, 1, 0, 0.4, 0, 0, false, false, 180},
    };
    for (const SurfaceCase &c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.name);
        host::scene::ImportedMesh m;
        std::string error;
        ASSERT_TRUE(host::scene::importMesh(kModels + "/" + c.file, 0, m, error)) << error;
        const host::scene::Surface *s = surface(m, c.name);
        ASSERT_TRUE(s);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(s->color[k], c.color[k], 2e-3);
        EXPECT_NEAR(s->diffuse, c.diffuse, 1e-6);
        EXPECT_NEAR(s->specular, c.specular, 1e-6);
        EXPECT_NEAR(s->glossiness, c.glossiness, 1e-6);
        EXPECT_NEAR(s->transparency, c.transparency, 1e-6);
        EXPECT_NEAR(s->translucency, c.translucency, 1e-6);
        EXPECT_EQ(s->doubleSided, c.doubleSided);
        EXPECT_EQ(s->smoothing, c.smoothing);
        EXPECT_NEAR(s->smoothingAngle / kDeg, c.smoothingDegrees, 0.01);
    }
}

// assimp's LWO reader folds a surface's values into its material (LWOMaterial.cpp): the values
// read from the file give back every folded value assimp's own reading has.
TEST(MeshImport, HostObjectSurfacesAgreeWithAssimpsFoldedMaterials) {
    NEED_MODELS();
    for (const char *file : {"LWO/LWO2/hierarchy.lwo", "LWO/LWO2/transparency.lwo",
                             "LWO/LWO2/sphere_with_mat_gloss_10pc.lwo", "LWS/simple_cube.lwo"}) {
        SCOPED_TRACE(file);
        host::scene::ImportedMesh m;
        std::string error;
        ASSERT_TRUE(host::scene::importMesh(kModels + "/" + file, 0, m, error)) << error;
        Assimp::Importer importer;
        const aiScene *scene = importer.ReadFile(kModels + "/" + file, 0);
        ASSERT_TRUE(scene) << importer.GetErrorString();
        for (unsigned i = 0; i < scene->mNumMaterials; ++i) {
            const aiMaterial &mat = *scene->mMaterials[i];
            aiString name;
            mat.Get(AI_MATKEY_NAME, name);
            const host::scene::Surface *s = surface(m, name.C_Str());
            if (!s) continue;  // a surface no polygon uses
            SCOPED_TRACE(name.C_Str());
            aiColor3D diffuse, emissive;
            float opacity = 0, strength = 0, refraction = 0, shininess = 0;
            int twoSided = 0, shading = 0;
            ASSERT_EQ(mat.Get(AI_MATKEY_COLOR_DIFFUSE, diffuse), AI_SUCCESS);
            EXPECT_NEAR(diffuse.r, s->color[0] * s->diffuse, 1e-6);  // colour x diffuse
            EXPECT_NEAR(diffuse.b, s->color[2] * s->diffuse, 1e-6);
            ASSERT_EQ(mat.Get(AI_MATKEY_OPACITY, opacity), AI_SUCCESS);
            EXPECT_NEAR(opacity, 1 - s->transparency, 1e-6);
            ASSERT_EQ(mat.Get(AI_MATKEY_SHININESS_STRENGTH, strength), AI_SUCCESS);
            EXPECT_NEAR(strength, s->specular, 1e-6);
            if (s->specular > 0) {  // (10 g + 2)^2, not the 2^(2 + 10 g) the host means
                ASSERT_EQ(mat.Get(AI_MATKEY_SHININESS, shininess), AI_SUCCESS);
                EXPECT_NEAR(shininess, std::pow(10 * s->glossiness + 2, 2), 1e-4);
            }
            ASSERT_EQ(mat.Get(AI_MATKEY_COLOR_EMISSIVE, emissive), AI_SUCCESS);
            EXPECT_NEAR(emissive.g, 0.8 * s->luminosity, 1e-6);
            ASSERT_EQ(mat.Get(AI_MATKEY_REFRACTI, refraction), AI_SUCCESS);
            EXPECT_NEAR(refraction, s->eta, 1e-6);
            ASSERT_EQ(mat.Get(AI_MATKEY_TWOSIDED, twoSided), AI_SUCCESS);
            EXPECT_EQ(twoSided != 0, s->doubleSided);
            ASSERT_EQ(mat.Get(AI_MATKEY_SHADING_MODEL, shading), AI_SUCCESS);
            EXPECT_EQ(shading == aiShadingMode_Flat, !s->smoothing);
        }
    }
}

struct Refusal {
    const char *what;
    std::string file;
    int layer;
    std::string message;  // found in the refusal, which names the file
};

TEST(MeshImport, FilesAssimpCannotReadAreRefusedNamingTheFile) {
    NEED_MODELS();
    const Refusal cases[] = {
        // An older host object (LWOB) has one layer.
        {"older host object, second layer", kModels + "/LWO/LWOB/ConcavePolygon.lwo", 2, "has one layer, not 2"},
        {"missing glTF buffer", kModels + "/glTF2/MissingBin/BoxTextured.gltf", 0,
         "could not open referenced file \"BoxTextured0.bin\""},
        {"recursive glTF nodes", kModels + "/glTF2/RecursiveNodes/RecursiveNodes.gltf", 0, "recursive reference"},
        {"infinite glTF points", kModels + "/glTF2/BoxWithInfinites-glTF-Binary/BoxWithInfinites.glb", 0,
         "a point's coordinate is not a number within 1e+09"},
        {"points only", kModels + "/PLY/points.ply", 0, "contains no faces"},
        {"lines only", kModels + "/OBJ/testline.obj", 0, "has no polygons"},
        {"not a mesh", kModels + "/OBJ/SpiderTex.jpg", 0,
         "is not a mesh file of a kind read here (host object, OBJ, PLY, STL, glTF 2, FBX or Collada)"},
        {"zip archive", kModels + "/Collada/duck.zae", 0, "is a zip archive, which is not read"},
        {"glTF buffer view past its buffer", kModels + "/glTF2/IncorrectVertexArrays/Cube.gltf", 0,
         "buffer view 2 lies outside its data"},
        {"second layer of a one-layer format", kModels + "/PLY/cube.ply", 2, "has one layer, not 2"},
        {"OBJ text refused with its line", kModels + "/OBJ/number_formats.obj", 0,
         ", line 11: \"v 1e+2 2.e+1 3.1+e2\": expected three numbers"},
        {"missing file", kModels + "/none.obj", 0, "cannot open mesh file \"" + kModels + "/none.obj\": "},
        {"folder", kModels + "/OBJ", 0, "cannot open mesh file \"" + kModels + "/OBJ\": is a folder"},
    };
    for (const Refusal &c : cases) {
        SCOPED_TRACE(c.what);
        host::scene::ImportedMesh m;
        std::string error;
        EXPECT_FALSE(host::scene::importMesh(c.file, c.layer, m, error));
        EXPECT_NE(error.find(c.file), std::string::npos) << error;
        EXPECT_NE(error.find(c.message), std::string::npos) << "got: " << error << "\nwant: " << c.message;
        EXPECT_LE(error.size(), 600u);
        EXPECT_TRUE(m.layers.empty() && m.surfaces.empty() && m.files.empty());
    }
}

// A fresh folder for one test's files, removed with them afterwards.
class MeshFiles : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "/velmora_meshes_XXXXXX";
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
    std::string write(const std::string &name, const std::string &text) {
        std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    std::string dir_;
};

// OBJ points are read exactly (assimp's own reading is off by a unit in the last place for
// about one number in five) and keep the file's order, unused ones included; points at one
// position become one.
TEST_F(MeshFiles, ObjPointsAreReadExactlyInTheFilesOrder) {
    std::string file = write("m.obj",
                             "v -1.01096 0.09528 2.66898\n"
                             "v 1.3019 0.12262 2.55006\n"
                             "v 0.1 0.2 0.3 2\n"  // a weight, not a divisor
                             "v 9 9 9\n"
                             "v 0.1 0.2 0.3\n"
                             " f 1 2 3\n"  // a leading space, which assimp alone would skip
                             "f 2 5 1\n");
    host::scene::ImportedMesh m;
    std::string error;
    ASSERT_TRUE(host::scene::importMesh(file, 0, m, error)) << error;
    const host::scene::MeshLayer &l = m.layers.at(0).mesh;
    ASSERT_EQ(l.points.size(), 4u);
    const float want[4][3] = {
        {std::strtof("-1.01096", nullptr), std::strtof("0.09528", nullptr), std::strtof("2.66898", nullptr)},
        {std::strtof("1.3019", nullptr), std::strtof("0.12262", nullptr), std::strtof("2.55006", nullptr)},
        {0.1f, 0.2f, 0.3f},
        {9, 9, 9}};
    for (int i = 0; i < 4; ++i)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(l.points[i].pos[c], want[i][c]) << i << " " << c;
    ASSERT_EQ(l.polygons.size(), 2u);
    EXPECT_EQ(l.polygons[0].points, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(l.polygons[1].points, (std::vector<int>{1, 2, 0}));
}

// Inputs on which assimp 5.2 itself hangs, grows without bound, aborts, crashes or reads out of
// bounds are refused before it reads them (or, for its own failed checks, by it).
TEST_F(MeshFiles, AssimpsTrapsAreRefused) {
    std::string collada;
    {
        std::ifstream in("/usr/share/assimp/models/Collada/ConcavePolygon.dae", std::ios::binary);
        collada.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    auto replaced = [&](const std::string &from, const std::string &to) {
        std::string t = collada;
        size_t at = t.find(from);
        return at == std::string::npos ? t : t.replace(at, from.size(), to);
    };
    std::string lwo, lwob;
    {
        std::ifstream in("/usr/share/assimp/models/LWO/LWO2/box_2uv_1unused.lwo", std::ios::binary);
        lwo.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        std::ifstream older("/usr/share/assimp/models/LWO/LWOB/MappingModes/bluewithcylindrictexz.lwo",
                            std::ios::binary);
        lwob.assign(std::istreambuf_iterator<char>(older), std::istreambuf_iterator<char>());
    }
    struct Case {
        const char *what, *name;
        std::string text, message;
    } cases[] = {
        // The PLY reader loops for ever on a header without end_header.
        {"PLY header without end", "a.ply", "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\n",
         "the PLY header has no end_header line in its first megabyte"},
        // ... and reads out of bounds when an element is declared twice.
        {"PLY element twice", "b.ply",
         "ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\nelement vertex 20000\nproperty float t\n"
         "end_header\n4 20",
         "the PLY header declares element \"vertex\" twice"},
        {"PLY header asking for too much", "c.ply",
         "ply\nformat ascii 1.0\nelement vertex 400000000\nproperty float x\nend_header\n",
         "the PLY header declares more elements than a layer holds"},
        // The Collada reader appends indices for ever when an index list holds a word.
        {"Collada index list with a word", "d.dae", replaced("<p>26 22 18", "<p>26 x 18"),
         ", line 116: an index list holds \"x\", not only whole numbers"},
        // ... and crashes on a data array without a count.
        {"Collada array without count", "e.dae", replaced("count=\"192\">-1.146", "cXount=\"192\">-1.146"),
         ", line 37: a data array without a count"},
        // The glTF reader reads an accessor past its buffer view.
        {"glTF accessor past its view", "f.gltf",
         R"({"asset": {"version": "2.0"}, "buffers": [{"byteLength": 8, "uri": "data:application/octet-stream;base64,AAAAAAAAAAA="}],
             "bufferViews": [{"buffer": 0, "byteLength": 8}],
             "accessors": [{"bufferView": 0, "byteOffset": 4, "componentType": 5126, "count": 1, "type": "VEC3"}]})",
         "accessor 0 lies outside its data"},
        // ... and crashes on a skin without inverse bind matrices.
        {"glTF skin without inverse bind matrices", "s.gltf",
         R"({"asset": {"version": "2.0"}, "skins": [{"joints": [0]}]})",
         "skin 0 has no inverse bind matrices, which assimp 5.2 cannot read"},
        // The host object reader reads a polygon's point numbers past the end of its chunk.
        {"host object polygon past its chunk", "p.lwo", lwo.substr(0, lwo.find("POLS") + 14), ""},
        {"glTF nested too deep", "g.gltf", "{\"a\": " + std::string(1000, '[') + std::string(1000, ']') + "}",
         "its JSON nests deeper than 128 levels"},
        // A host object VMAD entry naming a point its polygon lacks fails assimp's own check, which
        // aborts the process unless the import takes the check's place.
        {"host object VMAD point not in its polygon", "h.lwo", lwo, ""},
        // Older host objects (LWOB), which the import repackages as current ones, checking them
        // on the way (assimp's own reader of them read polygons unchecked): a polygon naming a
        // point past the PNTS chunk, a file cut inside its SURF chunk, and a POLS chunk that ends
        // inside its second polygon.
        {"older host object polygon past its points", "q.lwo", lwob,
         "its POLS chunk names point 8, past its 8 points"},
        {"older host object cut short", "r.lwo", lwob.substr(0, 0x120),
         "its SURF chunk runs past the end of the file"},
        {"older host object polygon past its chunk", "s.lwo", lwob.substr(0, lwob.find("POLS") + 22),
         "its POLS chunk ends inside a polygon"},
    };
    // The VMAD case: the first VMAD entry's polygon changed to one without the point.
    size_t vmad = lwo.find("VMAD");
    ASSERT_NE(vmad, std::string::npos);
    // VMAD: type TXUV, dimension, name, then (point VX, polygon VX, u, v) entries.
    size_t entries = lwo.find('\0', vmad + 14) + 1;
    entries += entries % 2;
    cases[9].text[entries + 3] = 5;  // the polygon of the first entry: 0 -> 5
    cases[9].message = "assimp's own check \"had\" failed";
    // The POLS chunk cut after its first polygon's count, its length unchanged: the file's FORM
    // and the chunk claim more than there is, so the chunk's length is made to fit.
    {
        std::string &cut = cases[7].text;
        size_t pols = cut.find("POLS");
        uint32_t length = static_cast<uint32_t>(cut.size() - pols - 8);
        for (int k = 0; k < 4; ++k) cut[pols + 4 + k] = static_cast<char>(length >> (24 - 8 * k));
        uint32_t form = static_cast<uint32_t>(cut.size() - 8);
        for (int k = 0; k < 4; ++k) cut[4 + k] = static_cast<char>(form >> (24 - 8 * k));
        cases[7].message = "its POLS chunk ends inside a polygon";
    }
    // The older object's POLS chunk: records of a point count, the points and a surface number;
    // the first polygon's third point 2 -> 8 (the file has 8).
    ASSERT_EQ(lwob.compare(8, 4, "LWOB"), 0);
    cases[10].text[lwob.find("POLS") + 8 + 2 + 2 * 2 + 1] = 8;
    // Cut after the first polygon (12 bytes) and the second's point count, the POLS chunk's and
    // the file's lengths made to fit.
    {
        std::string &cut = cases[12].text;
        size_t pols = cut.find("POLS");
        uint32_t length = static_cast<uint32_t>(cut.size() - pols - 8),
                 form = static_cast<uint32_t>(cut.size() - 8);
        for (int k = 0; k < 4; ++k) cut[pols + 4 + k] = static_cast<char>(length >> (24 - 8 * k));
        for (int k = 0; k < 4; ++k) cut[4 + k] = static_cast<char>(form >> (24 - 8 * k));
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string file = write(c.name, c.text), error;
        host::scene::ImportedMesh m;
        EXPECT_FALSE(host::scene::importMesh(file, 0, m, error));
        EXPECT_NE(error.find("mesh file \"" + file + "\""), std::string::npos) << error;
        EXPECT_NE(error.find(c.message), std::string::npos) << "got: " << error << "\nwant: " << c.message;
    }
}

// An older host object (LWOB) as the import repackages it: detail polygons are ordinary ones on
// their own surface, a record of no points is left out, and polygons on an empty or missing
// surface name take the caller's surface; surfaces take FLAG's bits, fixed-point values (256 = 1)
// or their float forms (which win), GLOS's exponent, and the first SURF chunk of each name (names
// matched without case, as assimp matches them).
TEST_F(MeshFiles, OlderHostObjectsKeepDetailPolygonsAndSurfaceFlags) {
    auto u2 = [](unsigned v) {
        return std::string{static_cast<char>(v >> 8 & 0xFF), static_cast<char>(v & 0xFF)};
    };
    auto f4 = [&](float f) {
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        return u2(bits >> 16) + u2(bits & 0xFFFF);
    };
    auto s0 = [](const std::string &s) { return s + std::string(s.size() % 2 ? 1 : 2, '\0'); };
    auto bytes = [](std::initializer_list<int> b) {
        std::string s;
        for (int c : b) s += static_cast<char>(c);
        return s;
    };
    auto chunk = [&](const std::string &id, const std::string &data) {
        return id + u2(0) + u2(static_cast<unsigned>(data.size())) + data + std::string(data.size() % 2, '\0');
    };
    auto sub = [&](const std::string &id, const std::string &data) {
        return id + u2(static_cast<unsigned>(data.size())) + data;
    };
    auto polygon = [&](std::vector<unsigned> points, int surface) {
        std::string r = u2(static_cast<unsigned>(points.size()));
        for (unsigned k : points) r += u2(k);
        return r + u2(static_cast<unsigned>(surface) & 0xFFFF);
    };
    std::string points;
    for (float c : {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 2, 2, 2}) points += f4(c);
    std::string body =
        "LWOB" + chunk("SRFS", s0("Red") + s0("") + s0("Blue")) + chunk("PNTS", points) +
        chunk("POLS", polygon({0, 1, 2}, -1) + u2(1) +  // one detail polygon follows, on surface 3
                          polygon({0, 2, 3}, 3) + polygon({}, 1) + polygon({1, 2, 3, 4}, 2) +
                          polygon({2, 3, 4}, 9)) +
        // Double-sided, colour highlights and smoothing; diffuse 128 / 256; VSPC over SPEC; GLOS
        // 1024; TRAN 64 / 256; a texture.
        chunk("SURF", s0("Red") + sub("COLR", bytes({255, 0, 0, 0})) + sub("FLAG", u2(0x10C)) +
                          sub("DIFF", u2(128)) + sub("VSPC", f4(0.3f)) + sub("SPEC", u2(64)) +
                          sub("GLOS", u2(1024)) + sub("TRAN", u2(64)) + sub("CTEX", s0("Planar Image Map"))) +
        // Colour filter; the first of two SURF chunks for the name "Blue"; one no polygon names.
        chunk("SURF", s0("blue") + sub("COLR", bytes({0, 0, 255, 0})) + sub("FLAG", u2(0x10))) +
        chunk("SURF", s0("Blue") + sub("COLR", bytes({0, 255, 0, 0}))) +
        chunk("SURF", s0("Unused") + sub("COLR", bytes({9, 9, 9, 0})));
    std::string file = write("older.lwo", "FORM" + u2(0) + u2(static_cast<unsigned>(body.size())) + body), error;
    host::scene::ImportedMesh m;
    ASSERT_TRUE(host::scene::importMesh(file, 0, m, error)) << error;
    expectSound(m);
    ASSERT_EQ(m.layers.size(), 1u);
    EXPECT_EQ(m.layers[0].index, 1);
    EXPECT_EQ(m.layers[0].name, "");
    const host::scene::MeshLayer &l = m.layers[0].mesh;
    EXPECT_EQ(l.points.size(), 5u);
    ASSERT_EQ(l.polygons.size(), 4u);
    EXPECT_EQ(l.polygons[0].points, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(l.polygons[1].points, (std::vector<int>{0, 2, 3}));
    EXPECT_EQ(l.polygons[2].points, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(l.polygons[3].points, (std::vector<int>{2, 3, 4}));
    EXPECT_EQ(surfacesOf(m, l), (std::vector<std::string>{"Red", "blue", "(none)"}));
    EXPECT_EQ(l.polygons[3].surface, -1);
    ASSERT_EQ(m.surfaces.size(), 2u);
    const host::scene::Surface *red = surface(m, "Red"), *blue = surface(m, "blue");
    ASSERT_TRUE(red && blue);
    EXPECT_EQ(red->color, (host::scene::Vec3{1, 0, 0}));
    EXPECT_NEAR(red->diffuse, 0.5, 1e-6);
    EXPECT_NEAR(red->specular, 0.3, 1e-6);
    EXPECT_NEAR(red->glossiness, 0.8, 1e-6);
    EXPECT_NEAR(red->transparency, 0.25, 1e-6);
    EXPECT_TRUE(red->doubleSided);
    EXPECT_EQ(red->colorHighlights, 1.0);
    EXPECT_EQ(red->colorFilter, 0.0);
    EXPECT_TRUE(red->smoothing);
    EXPECT_NEAR(red->smoothingAngle / kDeg, 89.5, 0.01);
    EXPECT_EQ(blue->color, (host::scene::Vec3{0, 0, 1}));
    EXPECT_EQ(blue->colorFilter, 1.0);
    EXPECT_FALSE(blue->doubleSided);
    EXPECT_FALSE(blue->smoothing);
    // Its one layer by number; no second one.
    ASSERT_TRUE(host::scene::importMesh(file, 1, m, error)) << error;
    EXPECT_EQ(m.layers.at(0).mesh.polygons.size(), 4u);
    EXPECT_FALSE(host::scene::importMesh(file, 2, m, error));
    EXPECT_NE(error.find("mesh file \"" + file + "\" has one layer, not 2"), std::string::npos) << error;
}

// Host objects' own weight (WGHT) and UV (TXUV) maps, from their VMAP chunks: the maps of each
// layer by name, and values at points numbered as the layer's (points at one position welded, the
// first value kept), VMAD values left out. Numbers decoded from the files' bytes.
struct HostMapCase {
    const char *file;
    int layer;  // the layer's number
    bool uv;
    std::vector<std::string> names;  // the layer's maps of the kind
    size_t points, withValue;        // of the first map
    int point;
    float u, v;  // the first map's at `point` (v unused for weights)
};

const HostMapCase kHostMaps[] = {
    // Layer 5's 266 points, each weighted 1 in both maps; the other layers have none.
    {"LWO/LWO2/hierarchy.lwo", 5, false, {"Weight=", "Weight0"}, 266, 266, 265, 1, 0},
    {"LWO/LWO2/hierarchy.lwo", 4, false, {}, 8, 0, 0, 0, 0},
    {"LWO/LWO2/hierarchy_smoothed.lwo", 5, false, {"Weight=", "Weight0"}, 266, 266, 0, 1, 0},
    // Two maps under the file's names, one of them no texture uses (assimp's are unnamed); point 3
    // has VMAP value u 0.884 and a VMAD value of -0.116 on polygon 4.
    {"LWO/LWO2/box_2uv_1unused.lwo",
     1,
     true,
     {"testUV0", "testUV1"},
     8,
     8,
     3,
     0.8842160701751709f,
     0.3905486762523651f},
    // 64 file points at 25 positions: place 5 is file point 7 (first at its position), place 24 is
    // file point 46.
    {"LWO/LWO2/uvtest.lwo", 1, true, {"uvtest"}, 25, 25, 5, 0.5f, 0.75f},
    {"LWO/LWO2/uvtest.lwo", 1, true, {"uvtest"}, 25, 25, 24, 1.0f, 0.5f},
};

void expectHostMaps(const host::scene::ImportedMesh &m, const HostMapCase &c) {
    const host::scene::MeshLayer *layer = nullptr;
    for (const host::scene::ImportedLayer &l : m.layers)
        if (l.index == c.layer) layer = &l.mesh;
    ASSERT_NE(layer, nullptr);
    ASSERT_EQ(layer->points.size(), c.points);
    std::vector<std::string> names;
    for (const host::scene::WeightMap &w : layer->weightMaps)
        if (!c.uv) names.push_back(w.name);
    for (const host::scene::UVMap &u : layer->uvMaps)
        if (c.uv) names.push_back(u.name);
    ASSERT_EQ(names, c.names);
    if (names.empty()) return;
    const std::vector<float> &values = c.uv ? layer->uvMaps[0].values : layer->weightMaps[0].values;
    const std::vector<uint8_t> &has = c.uv ? layer->uvMaps[0].has : layer->weightMaps[0].has;
    size_t dim = c.uv ? 2 : 1;
    ASSERT_EQ(values.size(), dim * c.points);
    EXPECT_EQ(static_cast<size_t>(std::count(has.begin(), has.end(), 1)), c.withValue);
    EXPECT_EQ(values[dim * c.point], c.u);
    if (c.uv) {
        EXPECT_EQ(values[dim * c.point + 1], c.v);
    }
}

TEST_F(MeshFiles, HostObjectsBringTheirOwnWeightAndUVMaps) {
    NEED_MODELS();
    for (const HostMapCase &c : kHostMaps) {
        SCOPED_TRACE(std::string(c.file) + " layer " + std::to_string(c.layer));
        host::scene::ImportedMesh m;
        std::string error;
        ASSERT_TRUE(host::scene::importMesh(kModels + "/" + c.file, 0, m, error)) << error;
        expectHostMaps(m, c);
    }
    // Entries naming a point past the layer's 266 (0x0FFF) or with a value that is not a number are
    // left out, as assimp leaves them: point 0 has no value in either map.
    std::ifstream in(kModels + "/LWO/LWO2/hierarchy.lwo", std::ios::binary);
    std::string lwo((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // VMAP: type WGHT, dimension 1, "Weight=\0" or "Weight0\0", then (point, value) entries.
    size_t first = lwo.find("VMAP"), second = lwo.find("VMAP", first + 4);
    ASSERT_EQ(lwo.compare(first + 8, 4, "WGHT"), 0);
    lwo[first + 22] = 0x0F, lwo[first + 23] = static_cast<char>(0xFF);
    lwo.replace(second + 24, 4, "\x7F\xC0\0\0", 4);  // a NaN
    host::scene::ImportedMesh m;
    std::string error;
    ASSERT_TRUE(host::scene::importMesh(write("w.lwo", lwo), 5, m, error)) << error;
    expectHostMaps(m, {"", 5, false, {"Weight=", "Weight0"}, 266, 265, 1, 1, 0});
    for (const host::scene::WeightMap &w : m.layers.at(0).mesh.weightMaps) EXPECT_EQ(w.has.at(0), 0) << w.name;
}

TEST_F(MeshFiles, ImportStaysWithinItsMemoryLimit) {
    std::string file = write("m.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    host::scene::ImportedMesh m;
    std::string error;
    EXPECT_FALSE(host::scene::importMesh(file, 0, m, error, 64));
    EXPECT_NE(error.find("mesh file \"" + file + "\" would need about"), std::string::npos) << error;
    EXPECT_NE(error.find("more than the 64 bytes left for the scene"), std::string::npos) << error;
    EXPECT_TRUE(host::scene::importMesh(file, 0, m, error, 1 << 20)) << error;
}

TEST_F(MeshFiles, SmoothingAngleKeepsCornersApart) {
    // A unit cube whose faces meet at 90 degrees, and a bent strip of two quads at 20 degrees.
    std::string cube = R"("points": [[0,0,0],[1,0,0],[1,1,0],[0,1,0],[0,0,1],[1,0,1],[1,1,1],[0,1,1]],
        "polygons": [[0,3,2,1],[4,5,6,7],[0,1,5,4],[2,3,7,6],[1,2,6,5],[0,4,7,3]])";
    auto load = [&](const std::string &surface) {
        return host::scene::loadSceneText(R"({"surfaces": [)" + surface + R"(],
            "items": [{"type": "camera", "name": "c"},
                      {"type": "object", "name": "o", "mesh": {"surface": "S", )" +
                                              cube + "}}]}",
                                          "scene.json", dir_);
    };
    // No angle: point normals as before, no corner normals.
    host::scene::LoadResult r = load(R"({"name": "S", "smoothing": true})");
    ASSERT_TRUE(r.scene) << r.error;
    const host::scene::MeshLayer &plain = r.scene->objects[0]->layers[0];
    EXPECT_TRUE(plain.cornerNormals.empty());
    // 89.5 degrees: each corner keeps its face's normal.
    r = load(R"({"name": "S", "smoothing_angle": 89.5})");
    ASSERT_TRUE(r.scene) << r.error;
    const host::scene::MeshLayer &hard = r.scene->objects[0]->layers[0];
    ASSERT_EQ(hard.cornerNormals.size(), hard.triangles.size() * 3);
    for (size_t t = 0; t < hard.triPolygon.size(); ++t)
        for (int k = 0; k < 3; ++k)
            for (int c = 0; c < 3; ++c)
                EXPECT_FLOAT_EQ(hard.cornerNormals[t * 9 + k * 3 + c],
                                hard.polygons[hard.triPolygon[t]].normal[c]);
    // 90.5 degrees: the corner shares with all three faces, as the point normal does.
    r = load(R"({"name": "S", "smoothing_angle": 90.5})");
    ASSERT_TRUE(r.scene) << r.error;
    const host::scene::MeshLayer &soft = r.scene->objects[0]->layers[0];
    ASSERT_FALSE(soft.cornerNormals.empty());
    for (size_t i = 0; i < soft.triangles.size(); ++i)
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(soft.cornerNormals[i * 3 + c], soft.points[soft.triangles[i]].normal[c], 1e-6);
    // Smoothing off: the angle does not matter.
    r = load(R"({"name": "S", "smoothing": false, "smoothing_angle": 30})");
    ASSERT_TRUE(r.scene) << r.error;
    EXPECT_TRUE(r.scene->objects[0]->layers[0].cornerNormals.empty());
    r = load(R"({"name": "S", "smoothing_angle": 181})");
    EXPECT_NE(r.error.find("/surfaces/0/smoothing_angle: value 181 is out of range [0, 180]"), std::string::npos)
        << r.error;
}

// A scene surface of a file surface's name overrides or extends it: fields the scene gives win,
// the others are the file's, and shaders go there.
TEST(MeshImportScene, SceneSurfacesOverrideOrExtendFileSurfaces) {
    NEED_MODELS();
    std::string text = R"({"surfaces": [
        {"name": "RedBox", "specular": 0.5, "smoothing": true, "shaders": [{"server": "QZ_velmora"}]},
        {"name": "Mine", "color": [0, 1, 0]}],
      "items": [{"type": "camera", "name": "c"},
        {"type": "object", "name": "h", "mesh": {"file": ")" +
                       kModels + R"(/LWO/LWO2/hierarchy.lwo", "surface": "Mine"}},
        {"type": "object", "name": "cube", "mesh": {"file": ")" +
                       kModels + R"(/PLY/cube.ply", "surface": "Mine"}}]})";
    host::scene::LoadResult r = host::scene::loadSceneText(text, "scene.json", "/");
    ASSERT_TRUE(r.scene) << r.error;
    const host::scene::Scene &s = *r.scene;
    int red = s.findSurface("RedBox"), box = s.findSurface("BoxOnLayer3"), def = s.findSurface("Default");
    ASSERT_EQ(red, 0);  // the scene's own, in place
    ASSERT_GE(box, 2);  // new from the file
    ASSERT_GE(def, 2);
    const host::scene::Surface &redBox = *s.surfaces[static_cast<size_t>(red)];
    EXPECT_EQ(redBox.color, (host::scene::Vec3{1, 0, 0}));  // the file's
    EXPECT_EQ(redBox.specular, 0.5);                        // the scene's
    EXPECT_TRUE(redBox.smoothing);                          // given by both
    EXPECT_NEAR(redBox.smoothingAngle / kDeg, 89.5, 0.01);  // the file's
    ASSERT_EQ(redBox.shaders.size(), 1u);
    EXPECT_EQ(redBox.shaders[0].server, "QZ_velmora");
    EXPECT_NEAR(s.surfaces[static_cast<size_t>(box)]->color[2], 192 / 255.0, 1e-6);
    // Every layer of the file in one: 4 layers' points and polygons, on the file's surfaces.
    const host::scene::MeshLayer &layer = s.objects.at(0)->layers.at(0);
    EXPECT_EQ(layer.points.size(), 8u + 266 + 8 + 8);
    EXPECT_EQ(layer.polygons.size(), 6u + 288 + 6 + 6);
    EXPECT_EQ(layer.polygons.back().surface, red);  // the last layer is the red box
    EXPECT_FALSE(layer.cornerNormals.empty());      // RedBox smooths within 89.5 degrees
    // The PLY file gives no surfaces: its polygons take the mesh's.
    for (const host::scene::MeshPolygon &p : s.objects.at(1)->layers.at(0).polygons) EXPECT_EQ(p.surface, 1);
    // Every file read is listed.
    EXPECT_NE(std::find(s.inputFiles.begin(), s.inputFiles.end(), kModels + "/PLY/cube.ply"), s.inputFiles.end());
    // One layer of the file, by number.
    text.replace(text.find(R"(hierarchy.lwo", )"), 16, R"(hierarchy.lwo", "layer": 2, )");
    r = host::scene::loadSceneText(text, "scene.json", "/");
    ASSERT_TRUE(r.scene) << r.error;
    EXPECT_EQ(r.scene->objects.at(0)->layers.at(0).polygons.size(), 6u);
    EXPECT_EQ(r.scene->objects[0]->layers[0].polygons[0].surface, 0);
}

class Overlay : public MeshFiles {
protected:
    host::scene::LoadResult scene() {
        return host::scene::loadSceneText(
            R"({"surfaces": [{"name": "Skin", "color": [1, 0.5, 0.5], "diffuse": 0.9}],
            "render": {"width": 320, "radiosity": {"mode": "backdrop", "rays": 8}},
            "items": [{"type": "camera", "name": "c"},
                      {"type": "light", "name": "key", "tags": ["one"]},
                      {"type": "object", "name": "o", "mesh": {"primitive": "box", "surface": "Skin"}}]})",
            "scene.json", dir_);
    }
};

TEST_F(Overlay, ChangesSurfacesRenderOptionsAndTags) {
    host::scene::LoadResult r = scene();
    ASSERT_TRUE(r.scene) << r.error;
    std::string overlay = write("overlay.json", R"({
      "surfaces": [{"name": "Skin", "specular": 0.4, "smoothing_angle": 30,
                    "shaders": [{"server": "QZ_velmora", "settings": {"Ksub": 0.5}}]}],
      "render": {"samples": 4, "radiosity": {"rays": 32}},
      "items": [{"name": "key", "tags": ["QZ_lightParam: areashadow = 1", "QZ_lightParam: samples = 4"]}]})");
    std::string error;
    ASSERT_TRUE(host::scene::applyOverlay(*r.scene, overlay, error)) << error;
    const host::scene::Surface &skin = *r.scene->surfaces.at(0);
    EXPECT_EQ(skin.color, (host::scene::Vec3{1, 0.5, 0.5}));  // kept
    EXPECT_EQ(skin.diffuse, 0.9);                             // kept
    EXPECT_EQ(skin.specular, 0.4);                            // the overlay's
    EXPECT_NEAR(skin.smoothingAngle, 30 * kDeg, 1e-12);
    ASSERT_EQ(skin.shaders.size(), 1u);
    ASSERT_NE(skin.shaders[0].setting("Ksub"), nullptr);
    EXPECT_EQ(skin.shaders[0].setting("Ksub")->number, 0.5);
    EXPECT_FALSE(r.scene->objects[0]->layers[0].cornerNormals.empty());  // the box's edges are now hard
    EXPECT_EQ(r.scene->render.width, 320);
    EXPECT_EQ(r.scene->render.samples, 4);
    EXPECT_EQ(r.scene->render.radiosity, host::scene::Radiosity::Backdrop);  // kept
    EXPECT_EQ(r.scene->render.radiosityRays, 32);
    EXPECT_EQ(r.scene->lights.at(0)->tags,
              (std::vector<std::string>{"one", "QZ_lightParam: areashadow = 1", "QZ_lightParam: samples = 4"}));
    // The scene's document has the overlay's fields, for a scene saved from it.
    const nlohmann::json src = nlohmann::json::parse(r.scene->sourceText);
    EXPECT_EQ(src["surfaces"][0]["specular"], 0.4);
    EXPECT_EQ(src["surfaces"][0]["color"][1], 0.5);
    EXPECT_EQ(src["render"]["radiosity"]["mode"], "backdrop");
    EXPECT_EQ(src["render"]["radiosity"]["rays"], 32);
    EXPECT_EQ(src["items"][1]["tags"].size(), 3u);
    host::scene::LoadResult again = host::scene::loadSceneText(src.dump(), "saved.json", dir_);
    ASSERT_TRUE(again.scene) << again.error;
    EXPECT_EQ(again.scene->surfaces[0]->specular, 0.4);
}

TEST_F(Overlay, FaultsAreRefusedNamingTheOverlayAndLeaveTheSceneAlone) {
    struct Case {
        const char *what;
        std::string text;
        std::string message;  // after "OVERLAY: "
    } cases[] = {
        {"unknown surface", R"({"surfaces": [{"name": "Skin", "specular": 1}, {"name": "Hair"}]})",
         "/surfaces/1/name: the scene has no surface named \"Hair\""},
        {"unknown item", R"({"items": [{"name": "fill", "tags": ["x"]}]})",
         "/items/0/name: the scene has no item named \"fill\""},
        {"tag not a string", R"({"items": [{"name": "key", "tags": [1]}]})", "/items/0/tags/0: expected a string"},
        {"bad value", R"({"render": {"samples": 0}, "surfaces": [{"name": "Skin", "specular": 1}]})",
         "/render/samples: value 0 is out of range [1, 1024]"},
        {"misspelt field", R"({"surfaces": [{"name": "Skin", "colour": [1, 1, 1]}]})",
         "/surfaces/0/colour: unknown field \"colour\""},
        {"unknown top field", R"({"camera": "c"})", "/camera: unknown field \"camera\""},
        {"syntax", "{\n  \"render\": {\"samples\": 4,}\n}", "line 2, column 27: syntax error"},
        {"duplicate key", "{\"render\": {\"samples\": 4,\n \"samples\": 2}}",
         "line 2, column 2: duplicate key \"samples\" (an object names each key once)"},
        {"nesting", std::string(200, '[') + std::string(200, ']'),
         "line 1, column 129: arrays and objects nest deeper than 128 levels"},
        {"not an object", "[1]", "/: expected an object, found an array"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        host::scene::LoadResult r = scene();
        ASSERT_TRUE(r.scene) << r.error;
        std::string overlay = write("overlay.json", c.text), error;
        EXPECT_FALSE(host::scene::applyOverlay(*r.scene, overlay, error));
        EXPECT_EQ(error.rfind(overlay + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(c.message), std::string::npos) << "got: " << error << "\nwant: " << c.message;
        EXPECT_EQ(r.scene->surfaces[0]->specular, 0.0);
        EXPECT_EQ(r.scene->render.samples, 1);
        EXPECT_EQ(r.scene->lights[0]->tags.size(), 1u);
    }
    host::scene::LoadResult r = scene();
    std::string error;
    EXPECT_FALSE(host::scene::applyOverlay(*r.scene, dir_ + "/none.json", error));
    EXPECT_NE(error.find("none.json: cannot open the overlay file: No such file"), std::string::npos) << error;
}

}  // namespace
