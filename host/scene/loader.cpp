#include "host/scene/loader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <new>
#include <set>

#include "host/io/file_io.h"
#include "host/scene/mesh_import.h"
#include "host/scene/obj_check.h"
#include "host/scene/primitives.h"
#include "host/util/text.h"

namespace host::scene {

namespace {

using util::excerpt;
using util::kExcerpt;
using util::numberText;
using util::quote;
using util::quoteFile;

using json = nlohmann::json;
constexpr double kDegree = 3.14159265358979323846 / 180.0;
constexpr double kHuge = kMaxCoordinate;
constexpr int kMaxDepth = 256;    // deepest item hierarchy; worldTransform walks no further
constexpr int kMaxNesting = 128;  // deepest nesting of JSON arrays and objects

// A refusal: the JSON path of the offending value and what is wrong with it.
struct LoadError {
    std::string path;
    std::string message;
};

[[noreturn]] void fail(const std::string &path, const std::string &message) { throw LoadError{path, message}; }

// An input string quoted for a message.
std::string q(const std::string &s) { return quote(s); }

// A file name quoted for a message: longer than other quotes, since the folder matters.
std::string qf(const std::string &s) { return quoteFile(s); }

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

// JSON text read through a pointer that remembers the last byte the parser took, so that SAX
// handlers know where in the text they are.
class TrackingIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char *;
    using reference = const char &;

    TrackingIterator(const char *p, const char **last) : p_(p), last_(last) {}
    const char &operator*() const {
        *last_ = p_;
        return *p_;
    }
    TrackingIterator &operator++() {
        ++p_;
        return *this;
    }
    TrackingIterator operator++(int) {
        TrackingIterator before = *this;
        ++p_;
        return before;
    }
    bool operator==(const TrackingIterator &o) const { return p_ == o.p_; }
    bool operator!=(const TrackingIterator &o) const { return p_ != o.p_; }

private:
    const char *p_;
    const char **last_;
};

// Memory of the parsed JSON document, estimated value by value while the text is checked, and
// where nesting first goes deeper than kMaxNesting. Reads through a TrackingIterator, whose last
// byte read is the bracket just opened.
class JsonCost : public nlohmann::json_sax<json> {
public:
    JsonCost(const char *text, const char *const *last) : text_(text), last_(last) {}

    uint64_t bytes = 0;
    bool tooDeep = false;
    size_t tooDeepAt = 0;  // offset of the first bracket past the limit
    size_t errorByte = 0;
    std::string errorText;

    // Each value is a 16-byte slot in its container, whose storage may be twice what it holds.
    bool null() override { return value(0); }
    bool boolean(bool) override { return value(0); }
    bool number_integer(number_integer_t) override { return value(0); }
    bool number_unsigned(number_unsigned_t) override { return value(0); }
    bool number_float(number_float_t, const string_t &) override { return value(0); }
    bool string(string_t &s) override { return value(64 + s.size()); }
    bool binary(binary_t &b) override { return value(64 + b.size()); }
    bool start_object(std::size_t) override { return open(80); }
    bool key(string_t &k) override { return value(96 + k.size()); }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(56); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t byte, const std::string &token, const nlohmann::detail::exception &e) override {
        errorByte = byte;
        // A number too large for a double is only known once read: place it at its first digit.
        if (dynamic_cast<const nlohmann::detail::out_of_range *>(&e) && !token.empty() && token.size() <= byte)
            errorByte = byte - token.size() + 1;
        errorText = e.what();
        return false;
    }

private:
    const char *text_;
    const char *const *last_;
    int depth_ = 0;
    bool value(uint64_t extra) {
        bytes += 32 + extra;
        return true;
    }
    bool open(uint64_t extra) {
        tooDeep = ++depth_ > kMaxNesting;
        if (tooDeep) tooDeepAt = static_cast<size_t>(*last_ - text_);
        return !tooDeep && value(extra);
    }
    bool close() {
        --depth_;
        return true;
    }
};

// Builds the document from SAX events read through a TrackingIterator, refusing a key its object
// already has: the parser's own reading would keep the last silently. The object itself answers
// whether a key is taken, so the check costs no memory of its own.
class DomBuilder : public nlohmann::json_sax<json> {
public:
    DomBuilder(json &root, const std::string &text, const char *const *last)
        : root_(root), text_(text), last_(last) {}

    std::string duplicate;   // the key given twice
    size_t duplicateAt = 0;  // offset of its second opening quote
    size_t errorByte = 0;
    std::string errorText;

    bool null() override { return put(nullptr); }
    bool boolean(bool b) override { return put(b); }
    bool number_integer(number_integer_t v) override { return put(v); }
    bool number_unsigned(number_unsigned_t v) override { return put(v); }
    bool number_float(number_float_t v, const string_t &) override { return put(v); }
    bool string(string_t &s) override { return put(std::move(s)); }
    bool binary(binary_t &b) override { return put(json::binary(std::move(b))); }
    bool start_object(std::size_t) override { return open(json::object()); }
    bool key(string_t &k) override {
        if (stack_.back()->contains(k)) {
            duplicate = k;
            duplicateAt = openingQuote(static_cast<size_t>(*last_ - text_.data()));
            return false;
        }
        key_ = std::move(k);
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(json::array()); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t byte, const std::string &, const nlohmann::detail::exception &e) override {
        errorByte = byte;
        errorText = e.what();
        return false;
    }

private:
    json &root_;
    const std::string &text_;
    const char *const *last_;
    std::vector<json *> stack_;  // the open arrays and objects, innermost last
    std::string key_;            // the key of the next value in the innermost object

    // Where the next value goes: the root, the end of the innermost array or its object's key.
    json &slot() {
        if (stack_.empty()) return root_;
        json &top = *stack_.back();
        if (!top.is_array()) return top[key_];
        top.emplace_back();
        return top.back();
    }
    template <typename V>
    bool put(V &&v) {
        slot() = json(std::forward<V>(v));
        return true;
    }
    bool open(json &&container) {
        json &at = slot();
        at = std::move(container);
        stack_.push_back(&at);
        return true;
    }
    bool close() {
        stack_.pop_back();
        return true;
    }
    // The opening quote of the string whose closing quote is at `close`: the nearest quote before
    // it not escaped by an odd run of backslashes (a string holds no other).
    size_t openingQuote(size_t close) const {
        for (size_t i = close; i-- > 0;) {
            if (text_[i] != '"') continue;
            size_t slashes = 0;
            while (slashes < i && text_[i - 1 - slashes] == '\\') ++slashes;
            if (slashes % 2 == 0) return i;
        }
        return 0;
    }
};

// A parser's message with its quote of the input ("last read: '...'") cut to an excerpt.
std::string syntaxMessage(const std::string &what) {
    // Without the parser's own prefixes: "[json.exception.parse_error.101] parse error at ...: ".
    size_t from = what.find("syntax error");
    if (from == std::string::npos && what.compare(0, 1, "[") == 0 && what.find("] ") != std::string::npos)
        from = what.find("] ") + 2;
    std::string m = from == std::string::npos ? what : what.substr(from);
    size_t start = m.find('\'');
    if (start == std::string::npos) return excerpt(m, 4 * kExcerpt);
    start += 1;
    size_t end = m.rfind("'; expected");
    if (end == std::string::npos || end < start) end = m.rfind('\'');
    if (end == std::string::npos || end < start) end = m.size();
    std::string tail = m.substr(end);
    if (tail.size() > 2 * kExcerpt) tail = tail.substr(0, 2 * kExcerpt) + "...";
    return m.substr(0, start) + excerpt(m.substr(start, end - start)) + tail;
}

double asNumber(const json &j, const std::string &path, double lo, double hi) {
    if (!j.is_number()) fail(path, "expected a number, found " + jsonTypeName(j));
    double v = j.get<double>();
    if (!std::isfinite(v) || v < lo || v > hi)
        fail(path, "value " + numberText(v) + " is out of range [" + numberText(lo) + ", " + numberText(hi) + "]");
    return v;
}

int asInt(const json &j, const std::string &path, int lo, int hi) {
    if (!j.is_number_integer()) fail(path, "expected a whole number, found " + jsonTypeName(j));
    // Above the signed range a value would wrap to a negative one.
    if (j.is_number_unsigned() && j.get<uint64_t>() > static_cast<uint64_t>(hi))
        fail(path, "value " + std::to_string(j.get<uint64_t>()) + " is out of range [" + std::to_string(lo) +
                       ", " + std::to_string(hi) + "]");
    long long v = j.get<long long>();
    if (v < lo || v > hi)
        fail(path, "value " + std::to_string(v) + " is out of range [" + std::to_string(lo) + ", " +
                       std::to_string(hi) + "]");
    return static_cast<int>(v);
}

// An object being read: hands out its fields and, on finish, refuses any field nobody read.
class Obj {
public:
    Obj(const json &j, std::string path) : j_(j), path_(std::move(path)) {
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
Channel readChannel(const json &j, const std::string &path, double lo, double hi, double scale) {
    Channel c;
    if (j.is_number()) {
        c.constant = asNumber(j, path, lo, hi) * scale;
        return c;
    }
    Obj o(j, path);
    c.spline = o.boolean("spline", false);
    const json &keys = o.need("keys");
    if (!keys.is_array() || keys.empty()) fail(o.at("keys"), "expected a non-empty array of [time, value] pairs");
    for (size_t i = 0; i < keys.size(); ++i) {
        std::string kp = o.at("keys") + "/" + std::to_string(i);
        if (!keys[i].is_array() || keys[i].size() != 2) fail(kp, "expected a [time, value] pair");
        Key k{asNumber(keys[i][0], kp + "/0", -kHuge, kHuge), asNumber(keys[i][1], kp + "/1", lo, hi) * scale};
        if (!c.keys.empty() && k.time <= c.keys.back().time) fail(kp + "/0", "key times must increase");
        c.keys.push_back(k);
    }
    o.finish();
    return c;
}

Channel optChannel(Obj &o, const std::string &key, double def, double lo, double hi, double scale = 1.0) {
    const json *v = o.get(key);
    return v ? readChannel(*v, o.at(key), lo, hi, scale) : Channel::fixed(def * scale);
}

Channel3 readChannel3(Obj &o, const std::string &key, const Vec3 &def, double scale = 1.0) {
    const json *v = o.get(key);
    if (!v) return Channel3::fixed(def[0] * scale, def[1] * scale, def[2] * scale);
    if (!v->is_array() || v->size() != 3) fail(o.at(key), "expected an array of three numbers or key lists");
    Channel3 r;
    for (int i = 0; i < 3; ++i)
        r.c[i] = readChannel((*v)[i], o.at(key) + "/" + std::to_string(i), -kHuge, kHuge, scale);
    return r;
}

Vec3 readColor(Obj &o, const std::string &key, const Vec3 &def) { return o.vec3(key, def, 0.0, 1e6); }

class Loader {
public:
    Loader(std::string label, std::string baseDir, uint64_t memoryLimit = 0)
        : label_(std::move(label)), baseDir_(std::move(baseDir)), budget_(memoryLimit) {}

    std::unique_ptr<Scene> load(const json &root) {
        scene_ = std::make_unique<Scene>();
        scene_->filename = label_;
        Obj o(root, "");
        scene_->name = o.str("name", "untitled");
        if (const json *v = o.get("images")) readImages(*v, o.at("images"));
        if (const json *v = o.get("surfaces")) readSurfaces(*v, o.at("surfaces"));
        if (const json *v = o.get("render")) readRender(*v, o.at("render"), scene_->render);
        if (const json *v = o.get("ambient")) {
            Obj a(*v, o.at("ambient"));
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

    // Corner normals for the layers with polygons on surfaces that smooth within an angle, once
    // every surface has its final values.
    void smoothAll() {
        for (ObjectItem *obj : scene_->objects)
            for (MeshLayer &layer : obj->layers) {
                if (uint64_t bytes = cornerNormalBytes(layer, scene_->surfaces))
                    budget_.charge(bytes, "/items", "the corner normals of " + q(obj->name));
                smoothCorners(layer, scene_->surfaces);
            }
    }

private:
    std::string resolve(const std::string &file) const {
        if (file.empty() || file[0] == '/' || baseDir_.empty()) return file;
        return baseDir_ + "/" + file;
    }

    int imageRef(Obj &o, const std::string &key) {
        std::string name = o.str(key, "");
        if (name.empty()) return -1;
        int i = scene_->findImage(name);
        if (i < 0) fail(o.at(key), "no image named " + q(name));
        return i;
    }

    int defaultSurface() {
        int i = scene_->findSurface("Default");
        if (i >= 0) return i;
        auto s = std::make_unique<Surface>();
        s->name = "Default";
        scene_->surfaces.push_back(std::move(s));
        return static_cast<int>(scene_->surfaces.size() - 1);
    }

    int surfaceRef(Obj &o, const std::string &key) {
        const json *v = o.get(key);
        if (!v) return defaultSurface();
        if (!v->is_string()) fail(o.at(key), "expected a surface name, found " + jsonTypeName(*v));
        int i = scene_->findSurface(v->get<std::string>());
        if (i < 0) fail(o.at(key), "no surface named " + q(v->get<std::string>()));
        return i;
    }

    void readImages(const json &j, const std::string &path) {
        if (!j.is_array()) fail(path, "expected an array of images");
        for (size_t i = 0; i < j.size(); ++i) {
            Obj o(j[i], path + "/" + std::to_string(i));
            auto img = std::make_unique<image::Image>();
            img->name = o.str("name", "");
            if (img->name.empty()) fail(o.path(), "missing field \"name\"");
            if (scene_->findImage(img->name) >= 0) fail(o.at("name"), "a second image named " + q(img->name));
            std::string file = o.str("file", "");
            if (file.empty()) fail(o.path(), "missing field \"file\"");
            o.finish();
            std::string why;
            if (!image::loadImage(resolve(file), *img, why))
                fail(o.at("file"), "cannot read image " + qf(resolve(file)) + ": " + why);
            // Pixels may be decoded later, but they count now.
            budget_.charge(uint64_t(img->width) * uint64_t(img->height) * 3 * sizeof(float), o.at("file"),
                           "image " + qf(resolve(file)));
            img->filename = resolve(file);
            scene_->inputFiles.push_back(img->filename);
            scene_->images.push_back(std::move(img));
        }
    }

    EnvironmentOptions readEnvironment(Obj &parent, const std::string &key) {
        EnvironmentOptions env;
        const json *v = parent.get(key);
        if (!v) return env;
        Obj o(*v, parent.at(key));
        env.option = o.choice("mode", {"backdrop", "raytrace", "image", "raytrace_image"}, 1);
        env.image = imageRef(o, "image");
        env.seamAngle = o.num("seam_angle", 0, -36000, 36000) * kDegree;
        o.finish();
        return env;
    }

    void readSurfaces(const json &j, const std::string &path) {
        if (!j.is_array()) fail(path, "expected an array of surfaces");
        for (size_t i = 0; i < j.size(); ++i) {
            Obj o(j[i], path + "/" + std::to_string(i));
            auto s = std::make_unique<Surface>();
            s->name = o.str("name", "");
            if (s->name.empty()) fail(o.path(), "missing field \"name\"");
            if (scene_->findSurface(s->name) >= 0) fail(o.at("name"), "a second surface named " + q(s->name));
            readSurfaceFields(o, *s);
            given_[s->name] = Given{&j[i], o.path()};
            scene_->surfaces.push_back(std::move(s));
        }
    }

public:
    // Reads a surface's fields (all but its name) over the values `s` has: fields the object gives
    // replace them, fields it leaves out keep them. A texture or shader list given replaces the
    // surface's own.
    void readSurfaceFields(Obj &o, Surface &surface) {
        Surface *s = &surface;
        o.get("name");  // read by the caller
        s->color = readColor(o, "color", s->color);
        s->luminosity = o.num("luminosity", s->luminosity, 0, 1e6);
        s->diffuse = o.num("diffuse", s->diffuse, 0, 10);
        s->specular = o.num("specular", s->specular, 0, 10);
        s->glossiness = o.num("glossiness", s->glossiness, 0, 1);
        s->mirror = o.num("reflection", s->mirror, 0, 1);
        s->transparency = o.num("transparency", s->transparency, 0, 1);
        s->eta = o.num("refraction_index", s->eta, 0.01, 10);
        s->translucency = o.num("translucency", s->translucency, 0, 1);
        s->colorHighlights = o.num("color_highlights", s->colorHighlights, 0, 1);
        s->colorFilter = o.num("color_filter", s->colorFilter, 0, 1);
        s->doubleSided = o.boolean("double_sided", s->doubleSided);
        s->smoothing = o.boolean("smoothing", s->smoothing);
        if (o.get("smoothing_angle")) {
            double angle = o.num("smoothing_angle", 180, 0, 180);
            s->smoothingAngle = angle >= 180 ? kNoSmoothingLimit : angle * kDegree;
        }
        if (o.get("reflection_options")) s->reflection = readEnvironment(o, "reflection_options");
        if (o.get("refraction_options")) s->refraction = readEnvironment(o, "refraction_options");
        const json *ctex = o.get("color_texture");
        bool colorTexture = false;
        if (const json *t = o.get("textures")) {
            Obj to(*t, o.at("textures"));
            for (int c = 0; c < kSurfaceChannels; ++c)
                if (const json *v = to.get(kSurfaceChannelNames[c])) {
                    s->textures[c] = readTexture(*v, to.at(kSurfaceChannelNames[c]));
                    colorTexture = colorTexture || c == kChannelColor;
                }
            to.finish();
        }
        if (ctex) {
            if (colorTexture)
                fail(o.at("color_texture"), "give either \"color_texture\" or \"textures\"/color, not both");
            s->textures[kChannelColor] = readColorTexture(*ctex, o.at("color_texture"));
        }
        if (const json *sh = o.get("shaders")) {
            if (!sh->is_array()) fail(o.at("shaders"), "expected an array of shaders");
            s->shaders.clear();
            for (size_t k = 0; k < sh->size(); ++k) {
                Obj so((*sh)[k], o.at("shaders") + "/" + std::to_string(k));
                ShaderRef ref;
                ref.server = so.str("server", "");
                if (ref.server.empty()) fail(so.path(), "missing field \"server\"");
                const json *set = so.get("settings");
                const json *st = so.get("state");
                if (set && st) fail(so.path(), "give either \"settings\" or \"state\", not both");
                if (set) {
                    if (!set->is_object()) fail(so.at("settings"), "expected an object");
                    ref.settings = *set;
                }
                if (st) readState(*st, so.at("state"), ref);
                so.finish();
                s->shaders.push_back(std::move(ref));
            }
        }
        o.finish();
    }

private:
    // Saved instance data: {"format": "text", "data": TEXT} or {"format": "binary", "data": HEX}.
    void readState(const json &j, const std::string &path, ShaderRef &ref) {
        Obj o(j, path);
        ref.binaryState = o.choice("format", {"text", "binary"}, 0) == 1;
        const json &data = o.need("data");
        if (!data.is_string()) fail(o.at("data"), "expected a string, found " + jsonTypeName(data));
        const std::string &d = data.get_ref<const std::string &>();
        ref.hasState = true;
        if (!ref.binaryState) {
            ref.state.assign(d.begin(), d.end());
        } else {
            if (d.size() % 2) fail(o.at("data"), "hex data has an odd number of digits");
            auto digit = [&](char c, size_t at) -> int {
                if (c >= '0' && c <= '9') return c - '0';
                if (c >= 'a' && c <= 'f') return c - 'a' + 10;
                if (c >= 'A' && c <= 'F') return c - 'A' + 10;
                fail(o.at("data"), "character " + std::to_string(at) + " is not a hex digit");
            };
            for (size_t i = 0; i < d.size(); i += 2)
                ref.state.push_back(static_cast<uint8_t>(digit(d[i], i) * 16 + digit(d[i + 1], i + 1)));
        }
        o.finish();
    }

    // The older single-image form of a colour texture: one image layer.
    TextureSpec readColorTexture(const json &j, const std::string &path) {
        Obj to(j, path);
        TextureLayerSpec l;
        l.type = TextureLayerSpec::Type::Image;
        l.path = path;
        l.image = imageRef(to, "image");
        if (l.image < 0) fail(to.path(), "missing field \"image\"");
        l.spherical = to.choice("projection", {"planar", "spherical"}, 0) == 1;
        l.axis = to.choice("axis", {"x", "y", "z"}, 2);
        if (l.spherical) l.axis = 1;  // this form's spheres always had their poles on +Y
        l.center = to.vec3("center", l.center);
        l.size = to.vec3("size", l.size, 1e-6, 1e6);
        l.opacity = to.num("opacity", 1.0, 0, 1);
        to.finish();
        TextureSpec t;
        t.path = path;
        t.layers.push_back(l);
        return t;
    }

public:
    // {"layers": [LAYER, ...]}, top layer first.
    TextureSpec readTexture(const json &j, const std::string &path) {
        Obj o(j, path);
        TextureSpec t;
        t.path = path;
        const json &layers = o.need("layers");
        if (!layers.is_array() || layers.empty()) fail(o.at("layers"), "expected a non-empty array of layers");
        if (layers.size() > 64) fail(o.at("layers"), "more than 64 layers");
        for (size_t i = 0; i < layers.size(); ++i)
            t.layers.push_back(readLayer(layers[i], o.at("layers") + "/" + std::to_string(i)));
        o.finish();
        return t;
    }

    // Applies an overlay document to the scene in use: every field is checked before anything
    // changes, then surfaces, render options and item tags change together, the layers' corner
    // normals follow the surfaces' smoothing, and the scene's own document takes the overlay's
    // fields (so that a scene saved from it keeps them).
    void overlay(const json &root) {
        Obj o(root, "");
        std::map<int, Surface> surfaces;  // by index, the surfaces as they will be
        const json *list = o.get("surfaces");
        if (list) {
            if (!list->is_array()) fail(o.at("surfaces"), "expected an array of surfaces");
            for (size_t i = 0; i < list->size(); ++i) {
                Obj so((*list)[i], o.at("surfaces") + "/" + std::to_string(i));
                std::string name = so.str("name", "");
                if (name.empty()) fail(so.path(), "missing field \"name\"");
                int at = scene_->findSurface(name);
                if (at < 0) fail(so.at("name"), "the scene has no surface named " + q(name));
                auto it = surfaces.find(at);
                if (it == surfaces.end())
                    it = surfaces.emplace(at, *scene_->surfaces[static_cast<size_t>(at)]).first;
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
                Obj io((*items)[i], o.at("items") + "/" + std::to_string(i));
                std::string name = io.str("name", "");
                if (name.empty()) fail(io.path(), "missing field \"name\"");
                Item *item = scene_->findItem(name);
                if (!item) fail(io.at("name"), "the scene has no item named " + q(name));
                if (const json *t = io.get("tags")) {
                    if (!t->is_array()) fail(io.at("tags"), "expected an array of strings");
                    for (size_t k = 0; k < t->size(); ++k) {
                        if (!(*t)[k].is_string())
                            fail(io.at("tags") + "/" + std::to_string(k), "expected a string");
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

        json &source = scene_->source;
        if (!source.is_object()) source = json::object();
        if (list)
            for (const json &add : *list) {
                json &entries = source["surfaces"];
                if (!entries.is_array()) entries = json::array();
                json *entry = nullptr;
                for (json &e : entries)
                    if (e.is_object() && e.value("name", std::string()) == add["name"].get<std::string>())
                        entry = &e;
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
    }

    // Charges memory taken outside the loader, such as the parsed document, at the top of the file.
    void charge(uint64_t bytes, const std::string &what) { budget_.charge(bytes, "/", what); }

    void useScene(Scene *scene) { scene_.reset(scene); }
    Scene *releaseScene() { return scene_.release(); }

private:
    TextureLayerSpec readLayer(const json &j, const std::string &path) {
        Obj o(j, path);
        TextureLayerSpec l;
        l.path = path;
        int type = o.choice("type", {"image", "noise", "gradient"}, -1);
        if (type < 0) fail(o.path(), "missing field \"type\"");
        l.type = static_cast<TextureLayerSpec::Type>(type);
        l.opacity = o.num("opacity", 1.0, 0, 1);
        l.blend = o.choice("blend", {"normal", "additive", "subtractive", "multiply"}, 0);
        if (l.type == TextureLayerSpec::Type::Gradient) {
            l.input = o.str("input", "");
            if (l.input.empty()) fail(o.path(), "missing field \"input\"");
            l.item = o.str("item", "");  // resolved when the texture is built: items come after surfaces
            const json &keys = o.need("keys");
            if (!keys.is_array() || keys.empty() || keys.size() > 4096)
                fail(o.at("keys"), "expected a non-empty array of [position, value] keys");
            for (size_t k = 0; k < keys.size(); ++k) {
                std::string kp = o.at("keys") + "/" + std::to_string(k);
                const json &key = keys[k];
                if (!key.is_array() || key.size() < 2 || key.size() > 3)
                    fail(kp, "expected [position, value] or [position, value, alpha]");
                TextureLayerSpec::Key out;
                out.position = asNumber(key[0], kp + "/0", -kHuge, kHuge);
                if (key[1].is_array()) {
                    if (key[1].size() != 3) fail(kp + "/1", "expected a number or three numbers");
                    for (int c = 0; c < 3; ++c)
                        out.value[c] = asNumber(key[1][c], kp + "/1/" + std::to_string(c), -kHuge, kHuge);
                } else {
                    out.value[0] = asNumber(key[1], kp + "/1", -kHuge, kHuge);
                    out.value[1] = out.value[2] = out.value[0];
                }
                if (key.size() == 3) out.alpha = asNumber(key[2], kp + "/2", 0, 1);
                if (!l.keys.empty() && out.position < l.keys.back().position)
                    fail(kp + "/0", "key positions must not decrease");
                l.keys.push_back(out);
            }
        } else {
            l.spherical = o.choice("projection", {"planar", "spherical"}, 0) == 1;
            l.axis = o.choice("axis", {"x", "y", "z"}, l.type == TextureLayerSpec::Type::Image ? 2 : 1);
            l.center = o.vec3("center", l.center);
            l.size = o.vec3("size", l.size, 1e-6, 1e6);
            l.world = o.boolean("world", false);
            if (l.type == TextureLayerSpec::Type::Image) {
                l.image = imageRef(o, "image");
                if (l.image < 0) fail(o.path(), "missing field \"image\"");
            } else {
                l.color = o.vec3("color", l.color, -1e6, 1e6);
                l.value = o.num("value", l.value);
                l.octaves = o.integer("octaves", l.octaves, 1, 16);
            }
        }
        o.finish();
        return l;
    }

    // Render options over the values `r` has.
    void readRender(const json &j, const std::string &path, RenderOptions &r) {
        Obj o(j, path);
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
            Obj ro(*v, o.at("radiosity"));
            r.radiosity = static_cast<Radiosity>(
                ro.choice("mode", {"off", "backdrop", "monte_carlo"}, static_cast<int>(r.radiosity)));
            r.radiosityRays = ro.integer("rays", r.radiosityRays, 1, 4096);
            r.radiositySecondaryRays = ro.integer("secondary_rays", (r.radiosityRays + 3) / 4, 1, 4096);
            r.radiosityBounces = ro.integer("bounces", r.radiosityBounces, 1, kMaxRadiosityBounces);
            ro.finish();
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

    void readBackdrop(const json &j, const std::string &path) {
        Obj o(j, path);
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

    void readItems(const json &j, const std::string &path) {
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
            Obj o(j[i], path + "/" + std::to_string(i));
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

    void readObject(Obj &o, ObjectItem &obj, std::vector<std::string> &exclude) {
        obj.castShadows = o.boolean("cast_shadows", true);
        obj.excludeRadiosity = o.boolean("exclude_radiosity", false);
        if (const json *ex = o.get("exclude_lights")) {
            if (!ex->is_array()) fail(o.at("exclude_lights"), "expected an array of light names");
            for (size_t k = 0; k < ex->size(); ++k) {
                if (!(*ex)[k].is_string())
                    fail(o.at("exclude_lights") + "/" + std::to_string(k), "expected a string");
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
            if (!layers->is_array() || layers->empty())
                fail(o.at("layers"), "expected a non-empty array of meshes");
            for (size_t k = 0; k < layers->size(); ++k) {
                obj.layers.emplace_back();
                obj.layers.back().index = static_cast<int>(k + 1);
                readMesh((*layers)[k], o.at("layers") + "/" + std::to_string(k), obj.layers.back(), obj);
            }
        } else {
            fail(o.path(), "an object needs a \"mesh\"");
        }
    }

    void readMesh(const json &j, const std::string &path, MeshLayer &layer, ObjectItem &obj) {
        Obj o(j, path);
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
                fail(o.at("primitive"),
                     "unknown primitive " + q(kind) + " (expected sphere, box, plane, grid, disc)");
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

    void readInline(Obj &o, const json &points, MeshLayer &layer, int surface) {
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

    // A mesh file (any format importMesh reads): its layers, or the one `fileLayer` names (0:
    // all of them, one after the other), as one layer whose polygons keep the file's surfaces
    // (merged into the scene's by name) or, where the file gives none, take `surface`.
    void readFile(const std::string &filename, const std::string &path, int fileLayer, MeshLayer &layer,
                  int surface) {
        ImportedMesh mesh;
        std::string error;
        if (!importMesh(filename, fileLayer, mesh, error, budget_.left())) fail(path, error);
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
    int fileSurface(const Surface &from) {
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
                Obj o(*it->second.object, it->second.path);
                readSurfaceFields(o, s);
            }
            *scene_->surfaces[static_cast<size_t>(i)] = std::move(s);
        }
        return i;
    }

    // Weight maps: explicit values per point, or a ramp along an axis of the object's space.
    void readWeightMaps(const json &j, const std::string &path, MeshLayer &layer) {
        if (!j.is_array()) fail(path, "expected an array of weight maps");
        for (size_t i = 0; i < j.size(); ++i) {
            Obj o(j[i], path + "/" + std::to_string(i));
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

    void readLight(Obj &o, LightItem &l) {
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

    // The surfaces the scene file gives, by name: their fields, read again over a mesh file's
    // surface of the same name.
    struct Given {
        const json *object;
        std::string path;
    };
    std::map<std::string, Given> given_;
    std::set<std::string> merged_;  // surfaces that have taken a mesh file's values

    std::string label_, baseDir_;
    std::unique_ptr<Scene> scene_;
    MemoryBudget budget_;
};

std::string syntaxPlace(const std::string &text, size_t byte) {
    size_t line = 1, column = 1;
    for (size_t i = 0; i + 1 < byte && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

}  // namespace

std::string jsonTypeName(const nlohmann::json &j) {
    switch (j.type()) {
        case json::value_t::null:
            return "null";
        case json::value_t::boolean:
            return "a boolean";
        case json::value_t::string:
            return "a string";
        case json::value_t::array:
            return "an array";
        case json::value_t::object:
            return "an object";
        default:
            return "a number";
    }
}

// Parses JSON text as scene files are read: a first pass checks the syntax and nesting and
// estimates what the document will take, `charge` is told that before any of it is built (and
// may refuse by throwing LoadError), and the second builds it, refusing a key given twice. On a
// syntax fault returns false with "LABEL: line L, column C: what is wrong" in `error`.
static bool parseJson(const std::string &text, const std::string &label,
                      const std::function<void(uint64_t)> &charge, json &root, std::string &error) {
    const char *last = text.data();
    const TrackingIterator begin(text.data(), &last), end(text.data() + text.size(), &last);
    JsonCost cost(text.data(), &last);
    if (!json::sax_parse(begin, end, &cost)) {
        if (cost.tooDeep)
            error = label + ": " + syntaxPlace(text, cost.tooDeepAt + 1) +
                    ": arrays and objects nest deeper than " + std::to_string(kMaxNesting) + " levels";
        else
            error = label + ": " + syntaxPlace(text, cost.errorByte) + ": " + syntaxMessage(cost.errorText);
        return false;
    }
    charge(cost.bytes);
    DomBuilder dom(root, text, &last);
    if (!json::sax_parse(begin, end, &dom)) {
        error = label + ": " +
                (dom.duplicate.empty() ? syntaxPlace(text, dom.errorByte) + ": " + syntaxMessage(dom.errorText)
                                       : syntaxPlace(text, dom.duplicateAt + 1) + ": duplicate key " +
                                             q(dom.duplicate) + " (an object names each key once)");
        return false;
    }
    return true;
}

LoadResult loadSceneText(const std::string &text, const std::string &label, const std::string &baseDir,
                         uint64_t memoryLimit) {
    LoadResult result;
    try {
        Loader loader(label, baseDir, memoryLimit);
        json root;
        if (!parseJson(
                text, label, [&](uint64_t bytes) { loader.charge(bytes, "the scene's text"); }, root,
                result.error))
            return result;
        result.scene = loader.load(root);
        result.scene->filename = label;
        result.scene->source = std::move(root);
        result.scene->folder = baseDir;
    } catch (const LoadError &e) {
        result.error = label + ": " + (e.path.empty() ? "/" : e.path) + ": " + e.message;
        result.scene.reset();
    } catch (const std::bad_alloc &) {
        result.error = label + ": /: the scene needs more memory than there is";
        result.scene.reset();
    } catch (const std::exception &e) {
        result.error = label + ": " + excerpt(e.what(), 4 * kExcerpt);
        result.scene.reset();
    }
    return result;
}

bool parseObjText(const std::string &text, const std::string &label, MeshLayer &out, std::string &error) {
    ImportedMesh mesh;
    if (!importObjText(text, label, mesh, error)) return false;
    out = std::move(mesh.layers.at(0).mesh);
    for (MeshPolygon &p : out.polygons) p.surface = 0;
    return true;
}

bool parseTexture(const nlohmann::json &j, const std::string &path, const Scene &scene, TextureSpec &out,
                  std::string &error) {
    Loader loader(scene.filename, "");
    loader.useScene(const_cast<Scene *>(&scene));  // only read: names of images
    bool ok = false;
    try {
        out = loader.readTexture(j, path);
        ok = true;
    } catch (const LoadError &e) {
        error = scene.filename + ": " + e.path + ": " + e.message;
    } catch (const std::exception &e) {
        error = scene.filename + ": " + path + ": " + e.what();
    }
    loader.releaseScene();
    return ok;
}

bool applyOverlay(Scene &scene, const std::string &overlayPath, std::string &error) {
    error.clear();
    std::string text, why;
    if (!io::readFile(overlayPath, io::kMaxSceneBytes, "overlay file", text, why)) {
        const std::string opened = "cannot be opened: ";
        if (why.compare(0, opened.size(), opened) == 0) why.erase(0, opened.size());
        error = overlayPath + ": cannot open the overlay file: " + why;
        return false;
    }
    Loader loader(overlayPath, scene.folder);
    loader.useScene(&scene);
    try {
        json root;
        if (parseJson(
                text, overlayPath, [&](uint64_t bytes) { loader.charge(bytes, "the overlay's text"); }, root,
                error))
            loader.overlay(root);
    } catch (const LoadError &e) {
        error = overlayPath + ": " + (e.path.empty() ? "/" : e.path) + ": " + e.message;
    } catch (const std::bad_alloc &) {
        error = overlayPath + ": /: the overlay needs more memory than there is";
    } catch (const std::exception &e) {
        error = overlayPath + ": " + excerpt(e.what(), 4 * kExcerpt);
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
        r.error = path + ": cannot open the scene file: " + why;
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
