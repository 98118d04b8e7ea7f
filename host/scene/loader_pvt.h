// SPDX-License-Identifier: Apache-2.0
// Shared by the JSON scene loader's files (loader.cpp, loader_json.cpp, loader_surfaces.cpp,
// loader_overlay.cpp, loader_items.cpp); not for use outside host/scene.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "host/io/file_io.h"
#include "host/scene/loader.h"
#include "host/scene/mesh_import.h"
#include "host/scene/obj_check.h"
#include "host/scene/primitives.h"
#include "host/util/diagnostic.h"
#include "host/util/text.h"

namespace host::scene {

using util::excerpt;
using util::kExcerpt;
using util::numberText;
using util::quote;
using util::quoteFile;

using json = nlohmann::json;

// "a string", "an object", ...: how refusals name the kind of value found.
std::string jsonTypeName(const json &j);
constexpr double kDegree = 3.14159265358979323846 / 180.0;
constexpr double kHuge = kMaxCoordinate;
constexpr int kMaxDepth = 256;    // deepest item hierarchy; worldTransform walks no further
constexpr int kMaxNesting = 128;  // deepest nesting of JSON arrays and objects

// Refuses the document at the JSON path of the offending value (the file is named where the
// refusal is caught).
[[noreturn]] inline void fail(const std::string &path, const std::string &message) {
    throw util::Diagnostic::at(util::FileLoc::atPath("", path), message);
}

// A refusal caught at the top of a document, in `file`: at "/" when it names no path.
inline util::Diagnostic refusalIn(const util::Diagnostic &d, const std::string &file) {
    util::Diagnostic in = d.in(file);
    if (in.loc.path.empty() && in.loc.line < 0) in.loc.path = "/";
    return in;
}

// An input string quoted for a message.
inline std::string q(const std::string &s) { return quote(s); }

// A file name quoted for a message: longer than other quotes, since the folder matters.
inline std::string qf(const std::string &s) { return quoteFile(s); }

// The memory a scene may take while it is loaded and rendered: loading charges every large
// allocation here before making it, so a small file cannot ask for more than the machine has.
class MemoryBudget {
public:
    explicit MemoryBudget(uint64_t limit) : limit_(limit) {
        if (limit_) return;
        // Half of the free memory, the rest being the renderer's; without a figure, a fixed 8 GB.
        uint64_t avail = io::availableMemory();
        limit_ = avail ? avail / 2 : (8ull << 30);
    }
    // Refuses at `path` when `bytes` more would pass the limit.
    void charge(uint64_t bytes, const std::string &path, const std::string &what) {
        if (bytes > limit_ || used_ > limit_ - bytes)
            fail(path, what + " would need about " + io::byteText(bytes) + " of memory, more than the " +
                           io::byteText(limit_ - used_) + " left for the scene");
        used_ += bytes;
    }
    uint64_t left() const { return limit_ - used_; }

private:
    uint64_t limit_ = 0, used_ = 0;
};

double asNumber(const json &j, const std::string &path, double lo, double hi);
int asInt(const json &j, const std::string &path, int lo, int hi);

// An object being read: hands out its fields and, on finish, refuses any field nobody read.
class ObjectFields {
public:
    ObjectFields(const json &j, std::string path) : j_(j), path_(std::move(path)) {
        if (!j.is_object()) fail(path_.empty() ? "/" : path_, "expected an object, found " + jsonTypeName(j));
    }
    const std::string &path() const { return path_; }
    std::string at(const std::string &key) const { return path_ + "/" + key; }

    const json *get(const std::string &key) {
        used_.insert(key);
        auto it = j_.find(key);
        return it == j_.end() ? nullptr : &*it;
    }
    const json &need(const std::string &key) {
        const json *v = get(key);
        if (!v) fail(path_.empty() ? "/" : path_, "missing field \"" + key + "\"");
        return *v;
    }
    double num(const std::string &key, double def, double lo = -kHuge, double hi = kHuge) {
        const json *v = get(key);
        return v ? asNumber(*v, at(key), lo, hi) : def;
    }
    int integer(const std::string &key, int def, int lo, int hi) {
        const json *v = get(key);
        return v ? asInt(*v, at(key), lo, hi) : def;
    }
    bool boolean(const std::string &key, bool def) {
        const json *v = get(key);
        if (!v) return def;
        if (!v->is_boolean()) fail(at(key), "expected true or false, found " + jsonTypeName(*v));
        return v->get<bool>();
    }
    std::string str(const std::string &key, const std::string &def) {
        const json *v = get(key);
        if (!v) return def;
        if (!v->is_string()) fail(at(key), "expected a string, found " + jsonTypeName(*v));
        return v->get<std::string>();
    }
    Vec3 vec3(const std::string &key, const Vec3 &def, double lo = -kHuge, double hi = kHuge) {
        const json *v = get(key);
        if (!v) return def;
        if (!v->is_array() || v->size() != 3) fail(at(key), "expected an array of three numbers");
        Vec3 r;
        for (int i = 0; i < 3; ++i) r[i] = asNumber((*v)[i], at(key) + "/" + std::to_string(i), lo, hi);
        return r;
    }
    // One of a fixed set of words.
    int choice(const std::string &key, const std::vector<std::string> &words, int def) {
        const json *v = get(key);
        if (!v) return def;
        if (!v->is_string()) fail(at(key), "expected a string, found " + jsonTypeName(*v));
        std::string w = v->get<std::string>();
        for (size_t i = 0; i < words.size(); ++i)
            if (words[i] == w) return static_cast<int>(i);
        std::string list;
        for (const std::string &x : words) list += (list.empty() ? "" : ", ") + x;
        fail(at(key), "unknown value " + q(w) + " (expected one of: " + list + ")");
    }
    void finish() const {
        for (auto it = j_.begin(); it != j_.end(); ++it)
            if (!used_.count(it.key())) fail(at(excerpt(it.key())), "unknown field " + q(it.key()));
    }

private:
    const json &j_;
    std::string path_;
    std::set<std::string> used_;
};

// A number, or {"keys": [[seconds, value], ...], "spline": bool}; values are multiplied by scale.
Channel readChannel(const json &j, const std::string &path, double lo, double hi, double scale);
Channel optChannel(ObjectFields &o, const std::string &key, double def, double lo, double hi, double scale = 1.0);
Channel3 readChannel3(ObjectFields &o, const std::string &key, const Vec3 &def, double scale = 1.0);
inline Vec3 readColor(ObjectFields &o, const std::string &key, const Vec3 &def) {
    return o.vec3(key, def, 0.0, 1e6);
}

// Parses JSON text as scene files are read: a first pass checks the syntax and nesting and
// estimates what the document will take, `charge` is told that before any of it is built (and
// may refuse by throwing a util::Diagnostic), and the second builds it, refusing a key given twice. On a
// syntax fault returns false with the line and column in `error`.
bool parseJson(const std::string &text, const std::string &label, const std::function<void(uint64_t)> &charge,
               json &root, util::Diagnostic &error);

// The scene file's document as read (Scene::sourceText, with any overlay's fields), or an empty
// object for a scene without one.
json sourceDocument(const Scene &scene);

class JsonLoader {
public:
    JsonLoader(std::string label, std::string baseDir, uint64_t memoryLimit = 0)
        : label_(std::move(label)), baseDir_(std::move(baseDir)), budget_(memoryLimit) {}

    std::unique_ptr<Scene> load(const json &root);

    // Corner normals for the layers with polygons on surfaces that smooth within an angle, once
    // every surface has its final values.
    void smoothAll();

private:
    std::string resolve(const std::string &file) const;

    int imageRef(ObjectFields &o, const std::string &key);

    int defaultSurface();

    int surfaceRef(ObjectFields &o, const std::string &key);

    void readImages(const json &j, const std::string &path);

    EnvironmentOptions readEnvironment(ObjectFields &parent, const std::string &key);

    void readSurfaces(const json &j, const std::string &path);

public:
    // Reads a surface's fields (all but its name) over the values `s` has: fields the object gives
    // replace them, fields it leaves out keep them. A texture or shader list given replaces the
    // surface's own.
    void readSurfaceFields(ObjectFields &o, Surface &surface);

private:
    // Saved instance data: {"format": "text", "data": TEXT} or {"format": "binary", "data": HEX}.
    void readState(const json &j, const std::string &path, ShaderRef &ref);

    // The older single-image form of a colour texture: one image layer.
    TextureSpec readColorTexture(const json &j, const std::string &path);

public:
    // {"layers": [LAYER, ...]}, top layer first.
    TextureSpec readTexture(const json &j, const std::string &path);

    // A shader setting's value (host/scene/setting.h); at the top of a setting (`top`) an object
    // with a "texture" is a texture over a value, its texture read here.
    SettingValue readSetting(const json &j, bool top);

    // Applies an overlay document to the scene in use: every field is checked before anything
    // changes, then surfaces, render options and item tags change together, the layers' corner
    // normals follow the surfaces' smoothing, and the scene's own document takes the overlay's
    // fields (so that a scene saved from it keeps them). The shaders and textures it gives keep
    // the overlay's file and their place in it, for refusals that come later (a shader's settings
    // are checked when its instance is made).
    void overlay(const json &root);

    // Charges memory taken outside the loader, such as the parsed document, at the top of the file.
    void charge(uint64_t bytes, const std::string &what) { budget_.charge(bytes, "/", what); }

    void useScene(Scene *scene) { scene_.reset(scene); }
    Scene *releaseScene() { return scene_.release(); }

private:
    TextureLayerSpec readLayer(const json &j, const std::string &path);

    // Render options over the values `r` has.
    void readRender(const json &j, const std::string &path, RenderOptions &r);

    void readBackdrop(const json &j, const std::string &path);

    void readItems(const json &j, const std::string &path);

    void readObject(ObjectFields &o, ObjectItem &obj, std::vector<std::string> &exclude);

    void readMesh(const json &j, const std::string &path, MeshLayer &layer, ObjectItem &obj);

    void readInline(ObjectFields &o, const json &points, MeshLayer &layer, int surface);

    // A mesh file (any format importMesh reads): its layers, or the one `fileLayer` names (0:
    // all of them, one after the other), as one layer whose polygons keep the file's surfaces
    // (merged into the scene's by name) or, where the file gives none, take `surface`.
    void readFile(const std::string &filename, const std::string &path, int fileLayer, MeshLayer &layer,
                  int surface);

    template <typename Map>
    static void appendMaps(std::vector<Map> &to, std::vector<Map> &from, size_t before, size_t after, size_t dim) {
        for (Map &add : from) {
            Map *into = nullptr;
            for (Map &m : to)
                if (m.name == add.name) into = &m;
            if (!into) {
                to.emplace_back();
                into = &to.back();
                into->name = add.name;
            }
            into->values.resize(before * dim, 0.0f);
            into->has.resize(before, 0);
            into->values.insert(into->values.end(), add.values.begin(), add.values.end());
            into->has.insert(into->has.end(), add.has.begin(), add.has.end());
        }
        for (Map &m : to) {
            m.values.resize(after * dim, 0.0f);
            m.has.resize(after, 0);
        }
    }

    // The scene surface a mesh file's surface becomes: a new one with the file's values, unless
    // the scene has one of that name. A surface the scene file gave (or the implicit "Default")
    // that no mesh file has brought yet takes the file's values under its own fields: fields the
    // scene file gives win, the others are the file's.
    int fileSurface(const Surface &from);

    // Weight maps: explicit values per point, or a ramp along an axis of the object's space.
    void readWeightMaps(const json &j, const std::string &path, MeshLayer &layer);

    void readLight(ObjectFields &o, LightItem &l);

    // The surfaces the scene file gives, by name: their fields, read again over a mesh file's
    // surface of the same name.
    struct Given {
        const json *object;
        std::string path;
    };
    std::map<std::string, Given> given_;
    std::set<std::string> merged_;  // surfaces that have taken a mesh file's values

    std::string label_, baseDir_;
    std::string givenIn_;  // the overlay being read; empty for a scene file
    std::unique_ptr<Scene> scene_;
    MemoryBudget budget_;
};

}  // namespace host::scene
