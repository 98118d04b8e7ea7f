// SPDX-License-Identifier: Apache-2.0
// The scene loader's use of mesh files: file surfaces merged with the scene's, smoothing angles,
// and overlays.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/scene/loader.h"
#include "host/scene/mesh_import.h"
#include "tests/host/scene/mesh_test_support.h"

namespace {

using namespace mesh_test;

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
