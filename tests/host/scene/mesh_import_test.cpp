// SPDX-License-Identifier: Apache-2.0
// Mesh files through assimp (host/scene/mesh_import.h), checked against what the files say: the
// assimp test models (Debian's assimp-testmodels, /usr/share/assimp/models; tests that need them
// skip when the folder is absent), and small files written here. mesh_scene_test.cpp has the scene
// loader's use of them.
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
#include "tests/host/scene/mesh_test_support.h"

namespace {

using namespace mesh_test;
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

}  // namespace
