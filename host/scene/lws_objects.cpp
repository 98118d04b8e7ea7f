// SPDX-License-Identifier: Apache-2.0
// The host scene reader's objects and the scene's completion: object files found and loaded,
// surfaces, parenting, smoothing and unique names.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "host/scene/lws_pvt.h"

namespace host::scene {

namespace {

using util::numberText;
using util::quote;

}  // namespace

std::string LwsReader::findObjectFile(std::string file) const {
    std::replace(file.begin(), file.end(), '\\', '/');
    std::vector<std::string> tries;
    if (!file.empty() && file[0] == '/') tries.push_back(file);
    tries.push_back(folder_ + "/" + file);
    tries.push_back(folder_ + "/../" + file);
    size_t slash = file.find_last_of('/');
    if (slash != std::string::npos) tries.push_back(folder_ + "/" + file.substr(slash + 1));
    for (const std::string &t : tries)
        if (io::fileId(t).valid) return t;
    return {};
}

void LwsReader::loadObject(ObjectItem &obj, const std::string &file, int layer) {
    std::string path = findObjectFile(file);
    if (path.empty())
        fail(quote(line_) + ": object file " + quote(file) + " not found (looked beside the scene file, in " +
             "the content folder above it and for its bare name)");
    if (meshBytes_ >= memoryLimit_)
        fail(quote(line_) + ": the objects loaded so far take the " + io::byteText(memoryLimit_) +
             " of memory the scene may take");
    ImportedMesh mesh;
    util::Diagnostic why;
    if (!importMesh(path, layer, mesh, why, memoryLimit_ - meshBytes_)) fail(quote(line_) + ": " + why.text());
    if (mesh.layers.empty()) fail(quote(line_) + ": object file " + quote(file) + " has no layer to load");
    meshBytes_ += mesh.bytes;

    // Surfaces are shared by name across the scene's objects: the first object to bring a
    // name defines it, as the scene's overlay and shaders address surfaces by name.
    std::vector<int> surfaceIndex;
    for (Surface &s : mesh.surfaces) surfaceIndex.push_back(addSurface(std::move(s)));
    int fallback = -1;  // polygons the file gives no surface
    for (ImportedLayer &l : mesh.layers) {
        for (MeshPolygon &p : l.mesh.polygons) {
            if (p.surface >= 0 && static_cast<size_t>(p.surface) < surfaceIndex.size()) {
                p.surface = surfaceIndex[static_cast<size_t>(p.surface)];
            } else {
                if (fallback < 0) fallback = defaultSurface();
                p.surface = fallback;
            }
        }
        l.mesh.index = l.index;
        finishLayer(l.mesh);
        obj.layers.push_back(std::move(l.mesh));
    }
    obj.filename = path;
    // Named by the file; a layer loaded alone adds its name (or its number past the first).
    obj.name = baseName(file);
    if (layer > 0) {
        const ImportedLayer &l = mesh.layers.front();
        if (!l.name.empty())
            obj.name += ":" + l.name;
        else if (layer > 1)
            obj.name += ":" + std::to_string(layer);
        layerPivot_[&obj] = l.pivot;
    }
    scene_->inputFiles.insert(scene_->inputFiles.end(), mesh.files.begin(), mesh.files.end());
    objectLine_[&obj] = lines_.number();
    scene_->objects.push_back(&obj);
}

int LwsReader::addSurface(Surface s) {
    auto found = surfaceByName_.find(s.name);
    if (found != surfaceByName_.end()) return found->second;
    int i = static_cast<int>(scene_->surfaces.size());
    surfaceByName_[s.name] = i;
    scene_->surfaces.push_back(std::make_unique<Surface>(std::move(s)));
    return i;
}

int LwsReader::defaultSurface() {
    Surface s;
    s.name = "Default";
    return addSurface(std::move(s));
}

void LwsReader::finish() {
    for (const Parenting &p : parents_) {
        auto found = ids_.find(p.id);
        if (found == ids_.end()) failAt(p.line, "the parent " + hexId(p.id) + " is no item of the scene");
        if (found->second.item == p.child) failAt(p.line, "an item cannot be its own parent");
        p.child->parent = found->second.item;
    }
    // Loops are refused, and chains deeper than a transform walks (kMaxParentDepth), as JSON
    // scenes refuse them: an item further down would lose its upper ancestors' motion. Every item
    // is checked, as a bone's owner gives it a parent without a ParentItem line.
    std::map<const Item *, int> lineOf;  // the item's ParentItem line, else the line adding it
    for (const auto &entry : ids_) lineOf[entry.second.item] = entry.second.line;
    for (const Parenting &p : parents_) lineOf[p.child] = p.line;
    for (const auto &owned : scene_->items) {
        const Item *child = owned.get();
        int line = lineOf[child];
        int depth = 0;
        for (const Item *up = child->parent; up; up = up->parent) {
            if (up == child) failAt(line, "the parenting makes a loop: the item is its own ancestor");
            if (++depth > kMaxParentDepth)
                failAt(line, "the parent chain is deeper than " + std::to_string(kMaxParentDepth));
        }
    }
    // A layer loaded alone turns about its own pivot unless the scene gives one.
    for (const auto &lp : layerPivot_)
        if (!pivotGiven_.count(lp.first)) lp.first->motion.pivot = lp.second;

    RenderOptions &r = scene_->render;
    if (r.frameEnd < r.frameStart)
        failAt(
            lastFrameLine_ ? lastFrameLine_ : firstFrameLine_,
            "LastFrame " + std::to_string(r.frameEnd) + " is before FirstFrame " + std::to_string(r.frameStart));
    if (scene_->cameras.empty()) failAt(lines_.number(), "the scene has no camera (AddCamera)");
    scene_->camera = scene_->cameras.front();
    auto own = cameraSizes_.find(scene_->cameras.front());
    bool global = globalCameras_.count(scene_->cameras.front()) && globalSize_.first > 0;
    std::pair<int, int> size = own != cameraSizes_.end() && !global ? own->second
                               : globalSize_.first > 0              ? globalSize_
                                                                    : std::make_pair(r.width, r.height);
    r.width = size.first;
    r.height = size.second;
    if (scene_->surfaces.empty()) defaultSurface();
    smoothAll();
    uniqueNames();
}

void LwsReader::smoothAll() {
    for (ObjectItem *obj : scene_->objects)
        for (MeshLayer &layer : obj->layers) {
            uint64_t bytes = cornerNormalBytes(layer, scene_->surfaces);
            if (bytes > memoryLimit_ || meshBytes_ > memoryLimit_ - bytes)
                failAt(objectLine_[obj], "the corner normals of " + quote(obj->name) + " would need about " +
                                             io::byteText(bytes) + " of memory, more than the " +
                                             io::byteText(memoryLimit_ - std::min(meshBytes_, memoryLimit_)) +
                                             " left for the scene");
            meshBytes_ += bytes;
            smoothCorners(layer, scene_->surfaces);
        }
}

void LwsReader::uniqueNames() {
    std::set<std::string> taken;
    std::map<std::string, long long> next;  // the next suffix to try for a name
    for (const auto &it : scene_->items) {
        std::string name = it->name;
        if (taken.count(name)) {
            long long &n = next[it->name];
            if (n < 2) n = 2;
            do name = it->name + " (" + std::to_string(n++) + ")";
            while (taken.count(name));
        }
        it->name = name;
        taken.insert(name);
    }
}

}  // namespace host::scene
