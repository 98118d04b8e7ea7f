// SPDX-License-Identifier: Apache-2.0
// The JSON scene loader's items: objects and their meshes (inline, from files, primitives) and
// weight maps, lights, cameras and bones.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <new>
#include <set>

#include "host/scene/loader_pvt.h"

namespace host::scene {

void JsonLoader::readItems(const json &j, const std::string &path) {
    if (!j.is_array()) fail(path, "expected an array of items");
    // First pass: every item with its own fields; names are known before any reference.
    struct Pending {
        Item *item;
        std::string path, parent;
        std::vector<std::string> exclude;
    };
    std::vector<Pending> pending;
    std::map<std::string, Item *> byName;
    for (size_t i = 0; i < j.size(); ++i) {
        ObjectFields o(j[i], path + "/" + std::to_string(i));
        int kind = o.choice("type", {"object", "light", "camera", "bone"}, -1);
        if (kind < 0) fail(o.path(), "missing field \"type\"");
        std::unique_ptr<Item> item;
        Pending p;
        p.path = o.path();
        if (kind == 0) {
            auto obj = std::make_unique<ObjectItem>();
            readObject(o, *obj, p.exclude);
            scene_->objects.push_back(obj.get());
            item = std::move(obj);
        } else if (kind == 1) {
            auto light = std::make_unique<LightItem>();
            readLight(o, *light);
            scene_->lights.push_back(light.get());
            item = std::move(light);
        } else if (kind == 2) {
            auto cam = std::make_unique<CameraItem>();
            const json *fov = o.get("fov");
            if (fov && o.get("zoom"))
                fail(o.path(), "give either \"fov\" or \"zoom\", not both: each sets the other");
            if (fov) {
                double a = asNumber(*fov, o.at("fov"), 1, 179);
                cam->zoom = Channel::fixed(1.0 / std::tan(a * kDegree / 2));
            } else {
                cam->zoom = optChannel(o, "zoom", 3.2, 0.01, 1000);
            }
            scene_->cameras.push_back(cam.get());
            item = std::move(cam);
        } else {
            auto bone = std::make_unique<BoneItem>();
            bone->restLength = o.num("rest_length", 1.0, 0, 1e6);
            scene_->bones.push_back(bone.get());
            item = std::move(bone);
        }
        item->name = o.str("name", "");
        if (item->name.empty()) fail(o.path(), "missing field \"name\"");
        if (byName.count(item->name)) fail(o.at("name"), "a second item named " + q(item->name));
        byName[item->name] = item.get();
        Motion &m = item->motion;
        m.position = readChannel3(o, "position", {0, 0, 0});
        m.rotation = readChannel3(o, "rotation", {0, 0, 0}, kDegree);
        m.scale = readChannel3(o, "scale", {1, 1, 1});
        m.pivot = o.vec3("pivot", m.pivot);
        Vec3 pr = o.vec3("pivot_rotation", {0, 0, 0});
        m.pivotRotation = {pr[0] * kDegree, pr[1] * kDegree, pr[2] * kDegree};
        if (const json *tags = o.get("tags")) {
            if (!tags->is_array()) fail(o.at("tags"), "expected an array of strings");
            for (size_t k = 0; k < tags->size(); ++k) {
                if (!(*tags)[k].is_string()) fail(o.at("tags") + "/" + std::to_string(k), "expected a string");
                item->tags.push_back((*tags)[k].get<std::string>());
            }
        }
        p.parent = o.str("parent", "");
        if (kind == 3 && p.parent.empty()) fail(o.path(), "a bone needs a \"parent\" object or bone");
        o.finish();
        p.item = item.get();
        pending.push_back(p);
        scene_->items.push_back(std::move(item));
    }
    // Second pass: parents and light exclusions.
    for (Pending &p : pending) {
        if (!p.parent.empty()) {
            auto it = byName.find(p.parent);
            if (it == byName.end()) fail(p.path + "/parent", "no item named " + q(p.parent));
            if (p.item->kind == ItemKind::Bone && it->second->kind != ItemKind::Object &&
                it->second->kind != ItemKind::Bone)
                fail(p.path + "/parent", "a bone's parent must be an object or a bone");
            p.item->parent = it->second;
        }
        for (size_t k = 0; k < p.exclude.size(); ++k) {
            auto it = byName.find(p.exclude[k]);
            if (it == byName.end() || it->second->kind != ItemKind::Light)
                fail(p.path + "/exclude_lights/" + std::to_string(k), "no light named " + q(p.exclude[k]));
            static_cast<ObjectItem *>(p.item)->excludedLights.push_back(it->second);
        }
    }
    for (Pending &p : pending) {
        int depth = 0;
        for (const Item *a = p.item->parent; a; a = a->parent) {
            if (a == p.item) fail(p.path + "/parent", "the parent chain loops");
            if (++depth > kMaxDepth)
                fail(p.path + "/parent", "the parent chain is deeper than " + std::to_string(kMaxDepth));
        }
    }
    for (BoneItem *b : scene_->bones) {
        const Item *a = b->parent;
        while (a && a->kind == ItemKind::Bone) a = a->parent;
        b->object = const_cast<Item *>(a);
        if (!a || a->kind != ItemKind::Object) fail("/items", "bone " + q(b->name) + " belongs to no object");
    }
}

void JsonLoader::readObject(ObjectFields &o, ObjectItem &obj, std::vector<std::string> &exclude) {
    obj.castShadows = o.boolean("cast_shadows", true);
    obj.excludeRadiosity = o.boolean("exclude_radiosity", false);
    if (const json *ex = o.get("exclude_lights")) {
        if (!ex->is_array()) fail(o.at("exclude_lights"), "expected an array of light names");
        for (size_t k = 0; k < ex->size(); ++k) {
            if (!(*ex)[k].is_string()) fail(o.at("exclude_lights") + "/" + std::to_string(k), "expected a string");
            exclude.push_back((*ex)[k].get<std::string>());
        }
    }
    const json *mesh = o.get("mesh");
    const json *layers = o.get("layers");
    if (mesh && layers) fail(o.path(), "give either \"mesh\" or \"layers\", not both");
    if (mesh) {
        obj.layers.emplace_back();
        readMesh(*mesh, o.at("mesh"), obj.layers.back(), obj);
    } else if (layers) {
        if (!layers->is_array() || layers->empty()) fail(o.at("layers"), "expected a non-empty array of meshes");
        for (size_t k = 0; k < layers->size(); ++k) {
            obj.layers.emplace_back();
            obj.layers.back().index = static_cast<int>(k + 1);
            readMesh((*layers)[k], o.at("layers") + "/" + std::to_string(k), obj.layers.back(), obj);
        }
    } else {
        fail(o.path(), "an object needs a \"mesh\"");
    }
}

void JsonLoader::readMesh(const json &j, const std::string &path, MeshLayer &layer, ObjectItem &obj) {
    ObjectFields o(j, path);
    const json *prim = o.get("primitive");
    const json *file = o.get("file");
    const json *points = o.get("points");
    int given = (prim ? 1 : 0) + (file ? 1 : 0) + (points ? 1 : 0);
    if (given != 1) fail(path, "a mesh needs exactly one of \"primitive\", \"file\" or \"points\"");
    int surface = surfaceRef(o, "surface");
    if (prim) {
        if (!prim->is_string()) fail(o.at("primitive"), "expected a string");
        std::string kind = prim->get<std::string>();
        obj.filename = "primitive:" + kind;
        if (kind == "sphere") {
            double radius = o.num("radius", 1, 1e-6, 1e6);
            int segments = o.integer("segments", 48, 3, 4096), rings = o.integer("rings", 24, 2, 4096);
            uint64_t polygons = uint64_t(segments) * rings;
            budget_.charge(meshBytes(polygons, polygons, 4 * polygons), path, "the sphere");
            makeSphere(layer, radius, segments, rings, surface);
        } else if (kind == "box") {
            makeBox(layer, o.vec3("size", {1, 1, 1}, 1e-6, 1e6), surface);
        } else if (kind == "plane" || kind == "grid") {
            const json *sz = o.get("size");
            double sx = 10, sz2 = 10;
            if (sz) {
                if (!sz->is_array() || sz->size() != 2) fail(o.at("size"), "expected [width, depth]");
                sx = asNumber((*sz)[0], o.at("size") + "/0", 1e-6, 1e6);
                sz2 = asNumber((*sz)[1], o.at("size") + "/1", 1e-6, 1e6);
            }
            int div = kind == "grid" ? o.integer("divisions", 10, 1, 4096) : 1;
            uint64_t polygons = uint64_t(div) * div;
            budget_.charge(meshBytes(polygons + 2 * div + 1, polygons, 4 * polygons), path, "the grid");
            makeGrid(layer, sx, sz2, div, div, surface);
        } else if (kind == "disc") {
            makeDisc(layer, o.num("radius", 1, 1e-6, 1e6), o.integer("segments", 48, 3, 4096), surface);
        } else {
            fail(o.at("primitive"), "unknown primitive " + q(kind) + " (expected sphere, box, plane, grid, disc)");
        }
    } else if (file) {
        if (!file->is_string()) fail(o.at("file"), "expected a file name");
        obj.filename = resolve(file->get<std::string>());
        readFile(obj.filename, o.at("file"), o.integer("layer", 0, 1, 65536), layer, surface);
    } else {
        obj.filename = "inline";
        readInline(o, *points, layer, surface);
    }
    // Move the mesh into place before the item's own motion: offset and size.
    Vec3 offset = o.vec3("offset", {0, 0, 0});
    double scale = o.num("scale", 1.0, 1e-9, 1e9);
    for (MeshPoint &p : layer.points)
        for (int c = 0; c < 3; ++c) p.pos[c] = static_cast<float>(p.pos[c] * scale + offset[c]);
    finishLayer(layer);
    if (const json *maps = o.get("weight_maps")) readWeightMaps(*maps, o.at("weight_maps"), layer);
    o.finish();
}

void JsonLoader::readInline(ObjectFields &o, const json &points, MeshLayer &layer, int surface) {
    if (!points.is_array()) fail(o.at("points"), "expected an array of [x, y, z] points");
    const json &polys = o.need("polygons");
    if (!polys.is_array()) fail(o.at("polygons"), "expected an array of point index lists");
    if (points.size() > kMaxLayerPoints || polys.size() > kMaxLayerPoints)
        fail(o.path(), "more than " + std::to_string(kMaxLayerPoints) + " points or polygons");
    uint64_t corners = 0;
    for (const json &poly : polys) corners += poly.is_array() ? poly.size() : 0;
    budget_.charge(meshBytes(points.size(), polys.size(), corners), o.path(), "the mesh");
    layer.points.reserve(points.size());
    layer.polygons.reserve(polys.size());
    for (size_t i = 0; i < points.size(); ++i) {
        std::string pp = o.at("points") + "/" + std::to_string(i);
        if (!points[i].is_array() || points[i].size() != 3) fail(pp, "expected [x, y, z]");
        MeshPoint p;
        for (int c = 0; c < 3; ++c) p.pos[c] = static_cast<float>(asNumber(points[i][c], pp, -kHuge, kHuge));
        layer.points.push_back(p);
    }
    std::vector<int> surfaces;
    if (const json *ps = o.get("polygon_surfaces")) {
        if (!ps->is_array() || ps->size() != polys.size())
            fail(o.at("polygon_surfaces"), "expected one surface name per polygon");
        for (size_t i = 0; i < ps->size(); ++i) {
            std::string sp = o.at("polygon_surfaces") + "/" + std::to_string(i);
            if (!(*ps)[i].is_string()) fail(sp, "expected a surface name");
            int s = scene_->findSurface((*ps)[i].get<std::string>());
            if (s < 0) fail(sp, "no surface named " + q((*ps)[i].get<std::string>()));
            surfaces.push_back(s);
        }
    }
    int n = static_cast<int>(layer.points.size());
    for (size_t i = 0; i < polys.size(); ++i) {
        std::string pp = o.at("polygons") + "/" + std::to_string(i);
        if (!polys[i].is_array() || polys[i].size() < 3) fail(pp, "a polygon needs at least three points");
        MeshPolygon poly;
        for (size_t k = 0; k < polys[i].size(); ++k)
            poly.points.push_back(asInt(polys[i][k], pp + "/" + std::to_string(k), 0, n - 1));
        poly.surface = surfaces.empty() ? surface : surfaces[i];
        layer.polygons.push_back(std::move(poly));
    }
}

void JsonLoader::readFile(const std::string &filename, const std::string &path, int fileLayer, MeshLayer &layer,
                          int surface) {
    ImportedMesh mesh;
    util::Diagnostic error;
    if (!importMesh(filename, fileLayer, mesh, error, budget_.left())) fail(path, error.text());
    for (const std::string &f : mesh.files) scene_->inputFiles.push_back(f);
    budget_.charge(mesh.bytes, path, "mesh file " + qf(filename));
    std::vector<int> surfaces;
    for (const Surface &s : mesh.surfaces) surfaces.push_back(fileSurface(s));
    for (ImportedLayer &l : mesh.layers) {
        MeshLayer &m = l.mesh;
        int offset = static_cast<int>(layer.points.size());
        if (layer.points.size() + m.points.size() > kMaxLayerPoints ||
            layer.polygons.size() + m.polygons.size() > kMaxLayerPoints)
            fail(path, "mesh file " + qf(filename) + " has more than " + std::to_string(kMaxLayerPoints) +
                           " points or polygons in all");
        for (MeshPolygon &p : m.polygons) {
            p.surface = p.surface >= 0 && static_cast<size_t>(p.surface) < surfaces.size()
                            ? surfaces[static_cast<size_t>(p.surface)]
                            : surface;
            for (int &k : p.points) k += offset;
        }
        if (layer.points.empty()) {
            layer.points = std::move(m.points);
            layer.polygons = std::move(m.polygons);
            layer.weightMaps = std::move(m.weightMaps);
            layer.uvMaps = std::move(m.uvMaps);
            continue;
        }
        // Maps of one layer only leave the other layers' points without values.
        size_t before = layer.points.size(), after = before + m.points.size();
        layer.points.insert(layer.points.end(), m.points.begin(), m.points.end());
        std::move(m.polygons.begin(), m.polygons.end(), std::back_inserter(layer.polygons));
        appendMaps(layer.weightMaps, m.weightMaps, before, after, 1);
        appendMaps(layer.uvMaps, m.uvMaps, before, after, 2);
    }
}

int JsonLoader::fileSurface(const Surface &from) {
    int i = scene_->findSurface(from.name);
    if (i < 0) {
        scene_->surfaces.push_back(std::make_unique<Surface>(from));
        merged_.insert(from.name);
        return static_cast<int>(scene_->surfaces.size() - 1);
    }
    if (merged_.insert(from.name).second) {
        Surface s = from;
        auto it = given_.find(from.name);
        if (it != given_.end()) {
            ObjectFields o(*it->second.object, it->second.path);
            readSurfaceFields(o, s);
        }
        *scene_->surfaces[static_cast<size_t>(i)] = std::move(s);
    }
    return i;
}

void JsonLoader::readWeightMaps(const json &j, const std::string &path, MeshLayer &layer) {
    if (!j.is_array()) fail(path, "expected an array of weight maps");
    for (size_t i = 0; i < j.size(); ++i) {
        ObjectFields o(j[i], path + "/" + std::to_string(i));
        WeightMap map;
        map.name = o.str("name", "");
        if (map.name.empty()) fail(o.path(), "missing field \"name\"");
        size_t n = layer.points.size();
        budget_.charge(n * (sizeof(float) + 1), o.path(), "the weight map");
        map.values.assign(n, 0.0f);
        map.has.assign(n, 0);
        if (const json *vals = o.get("values")) {
            if (!vals->is_array() || vals->size() != n)
                fail(o.at("values"), "expected one value per point (" + std::to_string(n) + ")");
            for (size_t k = 0; k < n; ++k) {
                if ((*vals)[k].is_null()) continue;
                map.values[k] = static_cast<float>(
                    asNumber((*vals)[k], o.at("values") + "/" + std::to_string(k), -kHuge, kHuge));
                map.has[k] = 1;
            }
        } else {
            int axis = o.choice("axis", {"x", "y", "z"}, 1);
            double from = o.num("from", -1), to = o.num("to", 1);
            if (from == to) fail(o.at("to"), "\"from\" and \"to\" must differ");
            for (size_t k = 0; k < n; ++k) {
                double t = (layer.points[k].pos[axis] - from) / (to - from);
                map.values[k] = static_cast<float>(std::min(1.0, std::max(0.0, t)));
                map.has[k] = 1;
            }
        }
        o.finish();
        layer.weightMaps.push_back(std::move(map));
    }
}

void JsonLoader::readLight(ObjectFields &o, LightItem &l) {
    l.type = static_cast<LightType>(o.choice("light", {"distant", "point", "spot", "linear", "area"}, 1));
    l.color = readColor(o, "color", l.color);
    l.intensity = optChannel(o, "intensity", 1.0, 0, 1e6);
    l.falloff =
        static_cast<Falloff>(o.choice("falloff", {"off", "linear", "inverse_distance", "inverse_square"}, 0));
    l.range = optChannel(o, "range", 1.0, 1e-6, 1e9);
    l.coneAngle = optChannel(o, "cone_angle", 30.0, 0.01, 179.9, kDegree);
    l.coneEdge = optChannel(o, "cone_edge", 5.0, 0, 179.9, kDegree);
    l.projectionImage = imageRef(o, "projection_image");
    l.shadow = static_cast<ShadowType>(o.choice("shadow", {"off", "raytrace", "map"}, 1));
    l.shadowColor = readColor(o, "shadow_color", l.shadowColor);
    l.noDiffuse = o.boolean("no_diffuse", false);
    l.noSpecular = o.boolean("no_specular", false);
    l.noCaustics = o.boolean("no_caustics", false);
    bool sized = l.type == LightType::Area || l.type == LightType::Linear;
    if (const json *v = o.get("size")) {
        if (!sized) fail(o.at("size"), "only area and linear lights have a size");
        if (l.type == LightType::Linear) {
            l.size[0] = asNumber(*v, o.at("size"), 0, 1e6);
            l.size[1] = 0;
        } else {
            if (!v->is_array() || v->size() != 2) fail(o.at("size"), "expected [width, height]");
            for (int i = 0; i < 2; ++i)
                l.size[i] = asNumber((*v)[i], o.at("size") + "/" + std::to_string(i), 0, 1e6);
        }
    } else if (l.type == LightType::Linear) {
        l.size[1] = 0;
    }
    if (const json *v = o.get("samples")) {
        if (!sized) fail(o.at("samples"), "only area and linear lights take samples");
        l.samples = asInt(*v, o.at("samples"), 1, 1024);
    }
}

}  // namespace host::scene
