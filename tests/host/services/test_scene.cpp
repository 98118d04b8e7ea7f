// SPDX-License-Identifier: Apache-2.0
#include "tests/host/services/test_scene.h"

#include <cstring>
#include <filesystem>
#include <random>

namespace scenesvc_test {

using namespace host::scene;

namespace {

template <typename T>
T *add(Scene &s, const std::string &name) {
    auto item = std::make_unique<T>();
    item->name = name;
    T *raw = item.get();
    s.items.push_back(std::move(item));
    return raw;
}

MeshLayer quadAndTriangle(int index, int quadSurface, int triSurface, float x0) {
    MeshLayer l;
    l.index = index;
    const float pts[6][3] = {{x0, 0, 0}, {x0 + 1, 0, 0}, {x0 + 1, 1, 0},
                             {x0, 1, 0}, {x0 + 2, 0, 0}, {x0 + 2, 1, 0}};
    for (const auto &p : pts) {
        MeshPoint mp;
        std::memcpy(mp.pos, p, sizeof mp.pos);
        l.points.push_back(mp);
    }
    MeshPolygon quad, tri;
    quad.points = {0, 1, 2, 3};
    quad.surface = quadSurface;
    tri.points = {1, 4, 5};
    tri.surface = triSurface;
    l.polygons = {quad, tri};
    finishLayer(l);
    return l;
}

}  // namespace

std::unique_ptr<TestScene> makeScene() {
    auto t = std::make_unique<TestScene>();
    Scene &s = t->scene;
    s.name = "test";

    auto skin = std::make_unique<Surface>();
    skin->name = "Skin";
    skin->color = {0.9, 0.6, 0.5};
    skin->specular = 0.25;
    skin->reflection = {3, 0, 0.5};
    skin->refraction = {2, -1, 0.0};
    auto ground = std::make_unique<Surface>();
    ground->name = "Ground";
    ground->reflection = {0, 1, 0.0};
    s.surfaces.push_back(std::move(skin));
    s.surfaces.push_back(std::move(ground));

    // checker: columns alternate black and white; the bottom row is red.
    auto checker = std::make_unique<host::image::Image>();
    checker->name = "checker";
    checker->filename = "/nowhere/checker.png";
    checker->width = 4;
    checker->height = 2;
    checker->rgb = {0, 0, 0, 1, 1, 1, 0, 0, 0, 1, 1, 1, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0};
    auto grey = std::make_unique<host::image::Image>();
    grey->name = "grey";
    grey->filename = "/nowhere/grey.png";
    grey->width = grey->height = 2;
    grey->rgb.assign(12, 0.5f);
    s.images.push_back(std::move(checker));
    s.images.push_back(std::move(grey));

    t->body = add<ObjectItem>(s, "Body");
    t->body->filename = "/models/body.obj";
    t->body->motion.position = Channel3::fixed(1, 2, 3);
    t->body->motion.position.c[0].keys = {{0.0, 1.0}, {1.0, 11.0}};
    t->body->motion.rotation = Channel3::fixed(0.3, 0.2, 0.1);
    t->body->layers.push_back(quadAndTriangle(1, 0, 1, 0));
    t->body->layers.push_back(quadAndTriangle(3, 0, 0, 10));
    WeightMap wm;
    wm.name = "wm";
    wm.values = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f};
    wm.has = {1, 1, 1, 1, 0, 1};
    t->body->layers[0].weightMaps.push_back(wm);
    UVMap uv;
    uv.name = "uv";
    uv.values = {0, 0, 1, 0, 1, 1, 0, 1, 0.5f, 0.25f, 9, 9};
    uv.has = {1, 1, 1, 1, 1, 0};
    t->body->layers[1].uvMaps.push_back(uv);
    t->body->excludeRadiosity = true;

    t->floor = add<ObjectItem>(s, "Floor");
    t->floor->filename = "/models/floor.obj";
    t->floor->layers.push_back(quadAndTriangle(1, 1, 1, 0));

    t->key = add<LightItem>(s, "Key");
    t->key->type = LightType::Point;
    t->key->color = {1, 0.5, 0.25};
    t->key->intensity.keys = {{0.0, 1.0}, {2.0, 3.0}};
    t->key->falloff = Falloff::InverseSquare;
    t->key->range = Channel::fixed(3);
    t->key->motion.position = Channel3::fixed(0, 5, -2);
    t->key->tags = {"QZ_lightParam: areashadow = 1", "second line"};

    t->spot = add<LightItem>(s, "Spot");
    t->spot->type = LightType::Spot;
    t->spot->coneAngle = Channel::fixed(0.4);
    t->spot->coneEdge = Channel::fixed(0.1);
    t->spot->projectionImage = 0;
    t->spot->shadow = ShadowType::Map;
    t->spot->shadowColor = {0.1, 0.2, 0.3};
    t->spot->noDiffuse = true;
    t->spot->falloff = Falloff::Linear;

    t->sun = add<LightItem>(s, "Sun");
    t->sun->type = LightType::Distant;
    t->sun->shadow = ShadowType::Off;
    t->sun->noSpecular = true;
    t->sun->noCaustics = true;
    t->sun->parent = t->body;

    t->camera = add<CameraItem>(s, "Camera");
    t->bone1 = add<BoneItem>(s, "B1");
    t->bone1->object = t->body;
    t->bone1->parent = t->body;
    t->bone2 = add<BoneItem>(s, "B2");
    t->bone2->object = t->body;
    t->bone2->parent = t->bone1;
    t->bone3 = add<BoneItem>(s, "B3");
    t->bone3->object = t->floor;
    t->bone3->parent = t->floor;

    t->body->excludedLights = {t->spot};
    s.objects = {t->body, t->floor};
    s.lights = {t->key, t->spot, t->sun};
    s.cameras = {t->camera};
    s.bones = {t->bone1, t->bone3, t->bone2};  // file order mixes the objects' bones
    s.camera = t->camera;
    s.ambientColor = {1, 0.5, 0.5};
    s.ambientIntensity = 0.2;
    s.backdrop.kind = BackdropKind::Gradient;
    return t;
}

TempDir::TempDir() {
    std::random_device rd;
    dir_ = (std::filesystem::temp_directory_path() / ("velmora_scenesvc_" + std::to_string(rd()))).string();
    std::filesystem::create_directories(dir_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

}  // namespace scenesvc_test
