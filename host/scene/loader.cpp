// SPDX-License-Identifier: Apache-2.0
// Reading JSON scene files: the scene's top level, render settings and backdrop, and the entry
// points (scene text and files, overlays, OBJ text, textures).
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

std::unique_ptr<Scene> JsonLoader::load(const json &root) {
    scene_ = std::make_unique<Scene>();
    scene_->filename = label_;
    ObjectFields o(root, "");
    scene_->name = o.str("name", "untitled");
    if (const json *v = o.get("images")) readImages(*v, o.at("images"));
    if (const json *v = o.get("surfaces")) readSurfaces(*v, o.at("surfaces"));
    if (const json *v = o.get("render")) readRender(*v, o.at("render"), scene_->render);
    if (const json *v = o.get("ambient")) {
        ObjectFields a(*v, o.at("ambient"));
        scene_->ambientColor = readColor(a, "color", scene_->ambientColor);
        scene_->ambientIntensity = a.num("intensity", scene_->ambientIntensity, 0, 1e6);
        a.finish();
    }
    if (const json *v = o.get("backdrop")) readBackdrop(*v, o.at("backdrop"));
    if (const json *v = o.get("items")) readItems(*v, o.at("items"));
    std::string cameraName = o.str("camera", "");
    o.finish();

    if (scene_->cameras.empty()) fail("/items", "the scene has no camera");
    if (cameraName.empty()) {
        scene_->camera = scene_->cameras.front();
    } else {
        Item *c = scene_->findItem(cameraName);
        if (!c || c->kind != ItemKind::Camera) fail("/camera", "no camera named " + q(cameraName));
        scene_->camera = static_cast<CameraItem *>(c);
    }
    if (scene_->surfaces.empty()) defaultSurface();
    smoothAll();
    return std::move(scene_);
}

void JsonLoader::smoothAll() {
    for (ObjectItem *obj : scene_->objects)
        for (MeshLayer &layer : obj->layers) {
            if (uint64_t bytes = cornerNormalBytes(layer, scene_->surfaces))
                budget_.charge(bytes, "/items", "the corner normals of " + q(obj->name));
            smoothCorners(layer, scene_->surfaces);
        }
}

std::string JsonLoader::resolve(const std::string &file) const {
    if (file.empty() || file[0] == '/' || baseDir_.empty()) return file;
    return baseDir_ + "/" + file;
}

void JsonLoader::readRender(const json &j, const std::string &path, RenderOptions &r) {
    ObjectFields o(j, path);
    r.width = o.integer("width", r.width, 1, 16384);
    r.height = o.integer("height", r.height, 1, 16384);
    r.pixelAspect = o.num("pixel_aspect", r.pixelAspect, 0.1, 10);
    r.samples = o.integer("samples", r.samples, 1, 1024);
    r.shadows = o.boolean("shadows", r.shadows);
    r.reflection = o.boolean("reflection", r.reflection);
    r.refraction = o.boolean("refraction", r.refraction);
    r.recursionLimit = o.integer("recursion_limit", r.recursionLimit, 0, 64);
    r.rayCutoff = o.num("ray_cutoff", r.rayCutoff, 0, 1);
    r.fps = o.num("fps", r.fps, 0.001, 10000);
    r.exposure = o.num("exposure", r.exposure, -20, 20);
    r.filmDisplay = o.choice("display", {"srgb", "film"}, r.filmDisplay ? 1 : 0) == 1;
    if (const json *v = o.get("radiosity")) {
        ObjectFields ro(*v, o.at("radiosity"));
        r.radiosity = static_cast<Radiosity>(
            ro.choice("mode", {"off", "backdrop", "monte_carlo", "interpolated"}, static_cast<int>(r.radiosity)));
        r.radiosityRays = ro.integer("rays", r.radiosityRays, 1, 4096);
        r.radiositySecondaryRays = ro.integer("secondary_rays", (r.radiosityRays + 3) / 4, 1, 4096);
        r.radiosityBounces = ro.integer("bounces", r.radiosityBounces, 1, kMaxRadiosityBounces);
        r.radiosityTolerance = ro.num("tolerance", r.radiosityTolerance, 0.01, 1);
        r.radiosityMinSpacing = ro.num("min_spacing", r.radiosityMinSpacing, 0.1, 1000);
        r.radiosityMaxSpacing =
            ro.num("max_spacing", std::max(r.radiosityMaxSpacing, r.radiosityMinSpacing), 0.1, 10000);
        if (r.radiosityMaxSpacing < r.radiosityMinSpacing)
            fail(ro.at("max_spacing"), "must not be less than min_spacing");
        double perSpot = r.radiosityRays;
        for (int b = 1; b < r.radiosityBounces; ++b) perSpot *= r.radiositySecondaryRays;
        if (r.radiosity == Radiosity::MonteCarlo && perSpot > kMaxGatheringRays)
            fail(o.at("radiosity"), "rays x secondary_rays^(bounces - 1) = " + util::numberText(perSpot) +
                                        " gathering rays per spot is more than " +
                                        util::numberText(kMaxGatheringRays) +
                                        ", which no render finishes; lower them, or use \"interpolated\"");
        ro.finish();
    }
    if (const json *v = o.get("adaptive")) {
        ObjectFields ad(*v, o.at("adaptive"));
        r.adaptive = true;
        r.adaptiveThreshold = ad.num("threshold", r.adaptiveThreshold, 1e-6, 1);
        r.adaptiveMaxSamples = ad.integer("max_samples", 0, 1, 1024);
        r.adaptiveMinSamples = ad.integer("min_samples", r.adaptiveMinSamples, 1, 1024);
        if (r.adaptiveMaxSamples > 0 && r.adaptiveMinSamples > r.adaptiveMaxSamples)
            fail(ad.at("min_samples"), "must not be more than max_samples");
        ad.finish();
    }
    if (const json *v = o.get("frames")) {
        if (!v->is_array() || v->size() != 2) fail(o.at("frames"), "expected [first, last]");
        r.frameStart = asInt((*v)[0], o.at("frames") + "/0", -1000000, 1000000);
        r.frameEnd = asInt((*v)[1], o.at("frames") + "/1", -1000000, 1000000);
        if (r.frameEnd < r.frameStart) fail(o.at("frames"), "the last frame comes before the first");
    }
    r.frameStep = o.integer("frame_step", r.frameStep, 1, 1000000);
    o.finish();
}

void JsonLoader::readBackdrop(const json &j, const std::string &path) {
    ObjectFields o(j, path);
    Backdrop &b = scene_->backdrop;
    int kind = o.choice("type", {"solid", "gradient", "image"}, 0);
    b.kind = kind == 0 ? BackdropKind::Solid : kind == 1 ? BackdropKind::Gradient : BackdropKind::Image;
    b.color = readColor(o, "color", b.color);
    b.zenith = readColor(o, "zenith", b.zenith);
    b.sky = readColor(o, "sky", b.sky);
    b.ground = readColor(o, "ground", b.ground);
    b.nadir = readColor(o, "nadir", b.nadir);
    b.skySqueeze = o.num("sky_squeeze", b.skySqueeze, 0.01, 1000);
    b.groundSqueeze = o.num("ground_squeeze", b.groundSqueeze, 0.01, 1000);
    b.image = imageRef(o, "image");
    b.seamAngle = o.num("seam_angle", 0, -36000, 36000) * kDegree;
    if (b.kind == BackdropKind::Image && b.image < 0) fail(o.path(), "an image backdrop needs \"image\"");
    o.finish();
}

LoadResult loadSceneText(const std::string &text, const std::string &label, const std::string &baseDir,
                         uint64_t memoryLimit) {
    LoadResult result;
    try {
        JsonLoader loader(label, baseDir, memoryLimit);
        json root;
        if (!parseJson(
                text, label, [&](uint64_t bytes) { loader.charge(bytes, "the scene's text"); }, root,
                result.diagnostic)) {
            result.error = result.diagnostic.text();
            return result;
        }
        result.scene = loader.load(root);
        result.scene->filename = label;
        result.scene->sourceText = text;
        result.scene->folder = baseDir;
    } catch (const util::Diagnostic &e) {
        result.diagnostic = refusalIn(e, label);
        result.scene.reset();
    } catch (const std::bad_alloc &) {
        result.diagnostic =
            util::Diagnostic::at(util::FileLoc::atPath(label, "/"), "the scene needs more memory than there is");
        result.scene.reset();
    } catch (const std::exception &e) {
        result.diagnostic = util::Diagnostic::at(util::FileLoc::ofFile(label), excerpt(e.what(), 4 * kExcerpt));
        result.scene.reset();
    }
    if (!result.diagnostic.empty()) result.error = result.diagnostic.text();
    return result;
}

bool parseObjText(const std::string &text, const std::string &label, MeshLayer &out, std::string &error) {
    ImportedMesh mesh;
    util::Diagnostic why;
    if (!importObjText(text, label, mesh, why)) {
        error = why.text();
        return false;
    }
    out = std::move(mesh.layers.at(0).mesh);
    for (MeshPolygon &p : out.polygons) p.surface = 0;
    return true;
}

SettingValue readSettingValue(const nlohmann::json &j, const Scene &scene) {
    JsonLoader loader(scene.filename, "");
    loader.useScene(const_cast<Scene *>(&scene));  // only read: names of images
    SettingValue v;
    try {
        v = loader.readSetting(j, true);
    } catch (...) {
        loader.releaseScene();
        throw;
    }
    loader.releaseScene();
    return v;
}

std::vector<ShaderSetting> readSettings(const nlohmann::json &object, const Scene &scene) {
    std::vector<ShaderSetting> out;
    if (!object.is_object()) return out;
    for (auto it = object.begin(); it != object.end(); ++it)
        out.push_back({it.key(), readSettingValue(*it, scene)});
    return out;
}

bool applyOverlay(Scene &scene, const std::string &overlayPath, std::string &error) {
    error.clear();
    std::string text, why;
    if (!io::readFile(overlayPath, io::kMaxSceneBytes, "overlay file", text, why)) {
        const std::string opened = "cannot be opened: ";
        if (why.compare(0, opened.size(), opened) == 0) why.erase(0, opened.size());
        error = util::Diagnostic::at(util::FileLoc::ofFile(overlayPath), "cannot open the overlay file: " + why)
                    .text();
        return false;
    }
    JsonLoader loader(overlayPath, scene.folder);
    loader.useScene(&scene);
    try {
        json root;
        util::Diagnostic syntax;
        if (parseJson(
                text, overlayPath, [&](uint64_t bytes) { loader.charge(bytes, "the overlay's text"); }, root,
                syntax))
            loader.overlay(root);
        else
            error = syntax.text();
    } catch (const util::Diagnostic &e) {
        error = refusalIn(e, overlayPath).text();
    } catch (const std::bad_alloc &) {
        error = util::Diagnostic::at(util::FileLoc::atPath(overlayPath, "/"),
                                     "the overlay needs more memory than there is")
                    .text();
    } catch (const std::exception &e) {
        error = util::Diagnostic::at(util::FileLoc::ofFile(overlayPath), excerpt(e.what(), 4 * kExcerpt)).text();
    }
    loader.releaseScene();
    return error.empty();
}

LoadResult loadFileWith(const std::string &path,
                        LoadResult (*fromText)(const std::string &text, const std::string &label,
                                               const std::string &folder)) {
    std::string text, why;
    if (!io::readFile(path, io::kMaxSceneBytes, "scene file", text, why)) {
        LoadResult r;
        const std::string opened = "cannot be opened: ";
        if (why.compare(0, opened.size(), opened) == 0) why.erase(0, opened.size());
        r.diagnostic = util::Diagnostic::at(util::FileLoc::ofFile(path), "cannot open the scene file: " + why);
        r.error = r.diagnostic.text();
        return r;
    }
    size_t slash = path.find_last_of('/');
    LoadResult r = fromText(text, path, slash == std::string::npos ? "." : path.substr(0, slash));
    if (r.scene) r.scene->inputFiles.insert(r.scene->inputFiles.begin(), path);
    return r;
}

LoadResult loadSceneFile(const std::string &path) {
    return loadFileWith(path, [](const std::string &text, const std::string &label, const std::string &folder) {
        return loadSceneText(text, label, folder);
    });
}

}  // namespace host::scene
