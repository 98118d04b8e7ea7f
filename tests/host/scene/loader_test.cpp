// SPDX-License-Identifier: Apache-2.0
#include <string>

#include <gtest/gtest.h>

#include "host/scene/loader.h"

namespace {

const std::string kData = VELMORA_HOST_TEST_DATA;

// A valid scene with one camera, into which each case splices one field or item.
std::string sceneWith(const std::string &extraTop, const std::string &extraItem = "") {
    return "{\n  \"items\": [\n    {\"type\": \"camera\", \"name\": \"cam\"}" + extraItem + "\n  ]" + extraTop +
           "\n}\n";
}

TEST(SceneLoader, RefusesBadScenesWithFileAndPlace) {
    struct Case {
        const char *what;
        std::string text;
        std::string message;  // expected in full after "scene.json: "
    } cases[] = {
        {"syntax error", "{\n  \"items\": [\n    {\"type\": \"camera\",, }\n  ]\n}", "line 3, column"},
        {"unknown top field", sceneWith(",\n  \"rendr\": {}"), "/rendr: unknown field \"rendr\""},
        {"unknown item field", sceneWith("", ",\n {\"type\": \"light\", \"name\": \"l\", \"colour\": [1, 1, 1]}"),
         "/items/1/colour: unknown field \"colour\""},
        {"wrong type", sceneWith(",\n  \"render\": {\"width\": \"wide\"}"),
         "/render/width: expected a whole number, found a string"},
        {"out of range", sceneWith(",\n  \"render\": {\"samples\": 0}"),
         "/render/samples: value 0 is out of range"},
        {"bad enum", sceneWith("", ",\n {\"type\": \"light\", \"name\": \"l\", \"light\": \"spott\"}"),
         "/items/1/light: unknown value \"spott\""},
        {"missing mesh file",
         sceneWith("", ",\n {\"type\": \"object\", \"name\": \"o\", \"mesh\": {\"file\": \"nowhere.obj\"}}"),
         "/items/1/mesh/file: cannot open mesh file"},
        {"missing image file", sceneWith(",\n  \"images\": [{\"name\": \"i\", \"file\": \"nowhere.png\"}]"),
         "/images/0/file: cannot read image"},
        {"unknown surface",
         sceneWith("",
                   ",\n {\"type\": \"object\", \"name\": \"o\", \"mesh\": {\"primitive\": \"box\", \"surface\": "
                   "\"S\"}}"),
         "/items/1/mesh/surface: no surface named \"S\""},
        {"unknown parent", sceneWith("", ",\n {\"type\": \"light\", \"name\": \"l\", \"parent\": \"ghost\"}"),
         "/items/1/parent: no item named \"ghost\""},
        {"parent loop",
         "{\"items\": [{\"type\": \"camera\", \"name\": \"a\", \"parent\": \"b\"},"
         " {\"type\": \"camera\", \"name\": \"b\", \"parent\": \"a\"}]}",
         "/items/0/parent: the parent chain loops"},
        {"duplicate name", sceneWith("", ",\n {\"type\": \"camera\", \"name\": \"cam\"}"),
         "/items/1/name: a second item named \"cam\""},
        {"no camera", "{\"items\": []}", "/items: the scene has no camera"},
        {"key times",
         sceneWith("", ",\n {\"type\": \"light\", \"name\": \"l\", \"intensity\": {\"keys\": [[1, 1], [1, 2]]}}"),
         "/items/1/intensity/keys/1/0: key times must increase"},
        {"polygon index",
         sceneWith("",
                   ",\n {\"type\": \"object\", \"name\": \"o\", \"mesh\": {\"points\": [[0,0,0],[1,0,0],[0,1,0]],"
                   " \"polygons\": [[0, 1, 3]]}}"),
         "/items/1/mesh/polygons/0/2: value 3 is out of range [0, 2]"},
        {"not an object", "[1, 2]", "/: expected an object, found an array"},
        {"fov and zoom", sceneWith("", ",\n {\"type\": \"camera\", \"name\": \"c\", \"fov\": 60, \"zoom\": 2}"),
         "/items/1: give either \"fov\" or \"zoom\", not both"},
        {"whole number just past a bound", sceneWith(",\n  \"ambient\": {\"intensity\": 1000001}"),
         "/ambient/intensity: value 1000001 is out of range [0, 1e+06]"},
        {"fraction just past a bound", sceneWith(",\n  \"render\": {\"fps\": 10000.000000000002}"),
         "/render/fps: value 10000.000000000002 is out of range [0.001, 10000]"},
        {"ray cutoff above one", sceneWith(",\n  \"render\": {\"ray_cutoff\": 1.5}"),
         "/render/ray_cutoff: value 1.5 is out of range [0, 1]"},
        {"size on a point light", sceneWith("", ",\n {\"type\": \"light\", \"name\": \"l\", \"size\": 1}"),
         "/items/1/size: only area and linear lights have a size"},
        {"area size of one number",
         sceneWith("", ",\n {\"type\": \"light\", \"name\": \"l\", \"light\": \"area\", \"size\": 1}"),
         "/items/1/size: expected [width, height]"},
        {"negative linear length",
         sceneWith("", ",\n {\"type\": \"light\", \"name\": \"l\", \"light\": \"linear\", \"size\": -1}"),
         "/items/1/size: value -1 is out of range [0, 1e+06]"},
        {"no light samples",
         sceneWith("", ",\n {\"type\": \"light\", \"name\": \"l\", \"light\": \"area\", \"samples\": 0}"),
         "/items/1/samples: value 0 is out of range [1, 1024]"},
        {"too many bounces",
         sceneWith(",\n  \"render\": {\"radiosity\": {\"mode\": \"monte_carlo\", \"bounces\": 5}}"),
         "/render/radiosity/bounces: value 5 is out of range [1, 4]"},
        {"Monte Carlo past the gathering cap",
         sceneWith(
             ",\n  \"render\": {\"radiosity\": {\"mode\": \"monte_carlo\", \"rays\": 4096, \"secondary_rays\": "
             "4096, \"bounces\": 4}}"),
         "/render/radiosity: rays x secondary_rays^(bounces - 1) = 281474976710656 gathering rays per spot is "
         "more than 65536"},
        {"spacings crossed",
         sceneWith(",\n  \"render\": {\"radiosity\": {\"mode\": \"interpolated\", \"min_spacing\": 8, "
                   "\"max_spacing\": 4}}"),
         "/render/radiosity/max_spacing: must not be less than min_spacing"},
        {"adaptive minimum above its maximum",
         sceneWith(",\n  \"render\": {\"adaptive\": {\"min_samples\": 8, \"max_samples\": 4}}"),
         "/render/adaptive/min_samples: must not be more than max_samples"},
        {"infinite point in a mesh file",
         sceneWith("", ",\n {\"type\": \"object\", \"name\": \"o\", \"mesh\": {\"file\": \"nan.obj\"}}"),
         "/items/1/mesh/file: mesh file \"" + kData +
             "/nan.obj\", line 1: \"v 1e39 0 0\": coordinate 1e39 is beyond the limit of 1e+09"},
    };
    for (const Case &c : cases) {
        host::scene::LoadResult r = host::scene::loadSceneText(c.text, "scene.json", kData);
        EXPECT_FALSE(r.scene) << c.what;
        EXPECT_EQ(r.error.rfind("scene.json: ", 0), 0u) << c.what << ": " << r.error;
        EXPECT_NE(r.error.find(c.message), std::string::npos)
            << c.what << ": got \"" << r.error << "\", want \"" << c.message << "\"";
    }
}

TEST(SceneLoader, ReadsMeshesLightsAndSurfaces) {
    std::string text = R"({
      "render": {"ray_cutoff": 0.02},
      "images": [{"name": "rb", "file": "red_blue.png"}],
      "surfaces": [{"name": "S", "color": [0.5, 0.25, 1], "color_texture": {"image": "rb", "axis": "y"},
                    "reflection_options": {"mode": "image", "image": "rb",
                    "seam_angle": 90}, "shaders": [{"server": "X", "settings": {"Ksub": 0.5}}]}],
      "items": [
        {"type": "camera", "name": "cam", "fov": 90},
        {"type": "object", "name": "tri", "mesh": {"file": "two_triangles.obj", "surface": "S",
         "weight_maps": [{"name": "up", "axis": "y", "from": 0, "to": 1}]}},
        {"type": "bone", "name": "b", "parent": "tri"},
        {"type": "light", "name": "spot", "light": "spot", "cone_angle": 45, "shadow": "map",
         "tags": ["QZ_lightParam: areashadow=1"]}
      ]})";
    host::scene::LoadResult r = host::scene::loadSceneText(text, "scene.json", kData);
    ASSERT_TRUE(r.scene) << r.error;
    const host::scene::Scene &s = *r.scene;
    ASSERT_EQ(s.objects.size(), 1u);
    const host::scene::MeshLayer &layer = s.objects[0]->layers[0];
    EXPECT_EQ(layer.points.size(), 4u);
    EXPECT_EQ(layer.polygons.size(), 2u);
    ASSERT_EQ(layer.weightMaps.size(), 1u);
    EXPECT_FLOAT_EQ(layer.weightMaps[0].values[3], 1.0f);
    EXPECT_EQ(s.bones.at(0)->object, s.objects[0]);
    EXPECT_EQ(s.lights.at(0)->type, host::scene::LightType::Spot);
    EXPECT_EQ(s.lights[0]->shadow, host::scene::ShadowType::Map);
    EXPECT_NEAR(s.lights[0]->coneAngle.at(0), 0.7853981633974483, 1e-12);
    EXPECT_EQ(s.lights[0]->tags.at(0), "QZ_lightParam: areashadow=1");
    const host::scene::Surface &surf = *s.surfaces.at(0);
    EXPECT_EQ(surf.reflection.option, 2);
    EXPECT_EQ(surf.reflection.image, 0);
    EXPECT_NEAR(surf.reflection.seamAngle, 1.5707963267948966, 1e-12);
    ASSERT_NE(surf.shaders.at(0).setting("Ksub"), nullptr);
    EXPECT_EQ(surf.shaders.at(0).setting("Ksub")->number, 0.5);
    ASSERT_EQ(surf.textures[host::scene::kChannelColor].layers.size(), 1u);
    EXPECT_EQ(surf.textures[host::scene::kChannelColor].layers[0].image, 0);
    EXPECT_EQ(surf.textures[host::scene::kChannelColor].layers[0].axis, 1);
    EXPECT_NEAR(s.camera->zoom.at(0), 1.0, 1e-12);
    EXPECT_EQ(s.images.at(0)->width, 2);
    EXPECT_EQ(s.render.rayCutoff, 0.02);
}

}  // namespace
