// SPDX-License-Identifier: Apache-2.0
// Overlays: a second JSON file that changes settings of a loaded scene.
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

void JsonLoader::overlay(const json &root) {
    givenIn_ = label_;
    ObjectFields o(root, "");
    std::map<int, Surface> surfaces;  // by index, the surfaces as they will be
    const json *list = o.get("surfaces");
    if (list) {
        if (!list->is_array()) fail(o.at("surfaces"), "expected an array of surfaces");
        for (size_t i = 0; i < list->size(); ++i) {
            ObjectFields so((*list)[i], o.at("surfaces") + "/" + std::to_string(i));
            std::string name = so.str("name", "");
            if (name.empty()) fail(so.path(), "missing field \"name\"");
            int at = scene_->findSurface(name);
            if (at < 0) fail(so.at("name"), "the scene has no surface named " + q(name));
            auto it = surfaces.find(at);
            if (it == surfaces.end()) it = surfaces.emplace(at, *scene_->surfaces[static_cast<size_t>(at)]).first;
            readSurfaceFields(so, it->second);
        }
    }
    RenderOptions render = scene_->render;
    const json *renderJson = o.get("render");
    if (renderJson) readRender(*renderJson, o.at("render"), render);
    std::vector<std::pair<Item *, std::string>> tags;
    const json *items = o.get("items");
    if (items) {
        if (!items->is_array()) fail(o.at("items"), "expected an array of items");
        for (size_t i = 0; i < items->size(); ++i) {
            ObjectFields io((*items)[i], o.at("items") + "/" + std::to_string(i));
            std::string name = io.str("name", "");
            if (name.empty()) fail(io.path(), "missing field \"name\"");
            Item *item = scene_->findItem(name);
            if (!item) fail(io.at("name"), "the scene has no item named " + q(name));
            if (const json *t = io.get("tags")) {
                if (!t->is_array()) fail(io.at("tags"), "expected an array of strings");
                for (size_t k = 0; k < t->size(); ++k) {
                    if (!(*t)[k].is_string()) fail(io.at("tags") + "/" + std::to_string(k), "expected a string");
                    tags.emplace_back(item, (*t)[k].get<std::string>());
                }
            }
            io.finish();
        }
    }
    o.finish();

    for (auto &changed : surfaces)
        *scene_->surfaces[static_cast<size_t>(changed.first)] = std::move(changed.second);
    scene_->render = render;
    for (auto &t : tags) t.first->tags.push_back(std::move(t.second));
    if (!surfaces.empty())
        for (ObjectItem *obj : scene_->objects)
            for (MeshLayer &layer : obj->layers) smoothCorners(layer, scene_->surfaces);

    json source = sourceDocument(*scene_);
    if (list)
        for (const json &add : *list) {
            json &entries = source["surfaces"];
            if (!entries.is_array()) entries = json::array();
            json *entry = nullptr;
            for (json &e : entries)
                if (e.is_object() && e.value("name", std::string()) == add["name"].get<std::string>()) entry = &e;
            if (!entry) {
                entries.push_back(add);  // a surface a mesh file brought: the overlay's fields over it
                continue;
            }
            for (auto f = add.begin(); f != add.end(); ++f) {
                if (f.key() == "textures" && (*entry)["textures"].is_object()) {
                    for (auto c = f->begin(); c != f->end(); ++c) (*entry)["textures"][c.key()] = *c;
                } else {
                    (*entry)[f.key()] = *f;
                }
                if (f.key() == "color_texture" && (*entry)["textures"].is_object())
                    (*entry)["textures"].erase("color");
                if (f.key() == "textures" && f->contains("color")) entry->erase("color_texture");
            }
        }
    if (renderJson) {
        json &r = source["render"];
        if (!r.is_object()) r = json::object();
        for (auto f = renderJson->begin(); f != renderJson->end(); ++f) {
            if (f.key() == "radiosity" && r["radiosity"].is_object())
                for (auto k = f->begin(); k != f->end(); ++k) r["radiosity"][k.key()] = *k;
            else
                r[f.key()] = *f;
        }
    }
    if (items && source["items"].is_array())
        for (const json &add : *items) {
            if (!add.contains("tags")) continue;
            for (json &e : source["items"])
                if (e.is_object() && e.value("name", std::string()) == add["name"].get<std::string>()) {
                    json &t = e["tags"];
                    if (!t.is_array()) t = json::array();
                    for (const json &line : add["tags"]) t.push_back(line);
                }
        }
    scene_->sourceText = source.dump();
}

}  // namespace host::scene
