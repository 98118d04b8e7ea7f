// SPDX-License-Identifier: Apache-2.0
// The JSON scene loader's images, surfaces, shader references and textures.
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

int JsonLoader::imageRef(ObjectFields &o, const std::string &key) {
    std::string name = o.str(key, "");
    if (name.empty()) return -1;
    int i = scene_->findImage(name);
    if (i < 0) fail(o.at(key), "no image named " + q(name));
    return i;
}

int JsonLoader::defaultSurface() {
    int i = scene_->findSurface("Default");
    if (i >= 0) return i;
    auto s = std::make_unique<Surface>();
    s->name = "Default";
    scene_->surfaces.push_back(std::move(s));
    return static_cast<int>(scene_->surfaces.size() - 1);
}

int JsonLoader::surfaceRef(ObjectFields &o, const std::string &key) {
    const json *v = o.get(key);
    if (!v) return defaultSurface();
    if (!v->is_string()) fail(o.at(key), "expected a surface name, found " + jsonTypeName(*v));
    int i = scene_->findSurface(v->get<std::string>());
    if (i < 0) fail(o.at(key), "no surface named " + q(v->get<std::string>()));
    return i;
}

void JsonLoader::readImages(const json &j, const std::string &path) {
    if (!j.is_array()) fail(path, "expected an array of images");
    for (size_t i = 0; i < j.size(); ++i) {
        ObjectFields o(j[i], path + "/" + std::to_string(i));
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

EnvironmentOptions JsonLoader::readEnvironment(ObjectFields &parent, const std::string &key) {
    EnvironmentOptions env;
    const json *v = parent.get(key);
    if (!v) return env;
    ObjectFields o(*v, parent.at(key));
    env.option = o.choice("mode", {"backdrop", "raytrace", "image", "raytrace_image"}, 1);
    env.image = imageRef(o, "image");
    env.seamAngle = o.num("seam_angle", 0, -36000, 36000) * kDegree;
    o.finish();
    return env;
}

void JsonLoader::readSurfaces(const json &j, const std::string &path) {
    if (!j.is_array()) fail(path, "expected an array of surfaces");
    for (size_t i = 0; i < j.size(); ++i) {
        ObjectFields o(j[i], path + "/" + std::to_string(i));
        auto s = std::make_unique<Surface>();
        s->name = o.str("name", "");
        if (s->name.empty()) fail(o.path(), "missing field \"name\"");
        if (scene_->findSurface(s->name) >= 0) fail(o.at("name"), "a second surface named " + q(s->name));
        readSurfaceFields(o, *s);
        given_[s->name] = Given{&j[i], o.path()};
        scene_->surfaces.push_back(std::move(s));
    }
}

void JsonLoader::readSurfaceFields(ObjectFields &o, Surface &surface) {
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
        ObjectFields to(*t, o.at("textures"));
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
            ObjectFields so((*sh)[k], o.at("shaders") + "/" + std::to_string(k));
            ShaderRef ref;
            if (!givenIn_.empty()) {
                ref.givenIn = givenIn_;
                ref.givenAt = so.path();
            }
            ref.server = so.str("server", "");
            if (ref.server.empty()) fail(so.path(), "missing field \"server\"");
            const json *set = so.get("settings");
            const json *st = so.get("state");
            if (set && st) fail(so.path(), "give either \"settings\" or \"state\", not both");
            if (set) {
                if (!set->is_object()) fail(so.at("settings"), "expected an object");
                for (auto it = set->begin(); it != set->end(); ++it)
                    ref.settings.push_back({it.key(), readSetting(*it, true)});
            }
            if (st) readState(*st, so.at("state"), ref);
            so.finish();
            s->shaders.push_back(std::move(ref));
        }
    }
    o.finish();
}

void JsonLoader::readState(const json &j, const std::string &path, ShaderRef &ref) {
    ObjectFields o(j, path);
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

SettingValue JsonLoader::readSetting(const json &j, bool top) {
    using Kind = SettingValue::Kind;
    SettingValue v;
    switch (j.type()) {
        case json::value_t::boolean:
            return SettingValue::ofFlag(j.get<bool>());
        case json::value_t::string:
            return SettingValue::ofText(j.get<std::string>());
        case json::value_t::number_integer:
        case json::value_t::number_unsigned:
            v = SettingValue::ofWhole(j.get<long long>());
            v.number = j.get<double>();
            return v;
        case json::value_t::number_float:
            return SettingValue::ofNumber(j.get<double>());
        case json::value_t::array:
            v.kind = Kind::List;
            for (const json &e : j) v.items.push_back(readSetting(e, false));
            return v;
        case json::value_t::object:
            break;
        default:
            return v;
    }
    auto firstOther = [&](const char *a, const char *b) {
        for (auto it = j.begin(); it != j.end(); ++it)
            if (it.key() != a && it.key() != b)
                return SettingFault{"/" + it.key(), "unknown field \"" + it.key() + "\""};
        return SettingFault{};
    };
    if (top && j.contains("texture")) {
        // A texture over a value: the texture is read now, against the scene's images.
        v.kind = Kind::Textured;
        v.fault = firstOther("texture", "value");
        if (j.contains("value")) v.items.push_back(readSetting(j["value"], false));
        try {
            v.texture = std::make_shared<const TextureSpec>(readTexture(j["texture"], "/texture"));
        } catch (const util::Diagnostic &e) {
            v.textureFault = {e.loc.path, e.message};
        } catch (const std::exception &e) {
            v.textureFault = {"/texture", e.what()};
        }
    } else if (j.contains("keys")) {
        v.kind = Kind::Envelope;
        v.fault = firstOther("keys", "spline");
        if (j.contains("spline")) {
            if (!j["spline"].is_boolean()) {
                if (v.fault.empty()) v.fault = {"/spline", "expected true or false"};
            } else {
                v.spline = j["spline"].get<bool>();
            }
        }
        const json &keys = j["keys"];
        v.keyList = keys.is_array();
        if (v.keyList)
            for (const json &k : keys) v.items.push_back(readSetting(k, false));
    } else {
        v.kind = Kind::Object;
    }
    return v;
}

TextureSpec JsonLoader::readColorTexture(const json &j, const std::string &path) {
    ObjectFields to(j, path);
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
    t.givenIn = givenIn_;
    t.layers.push_back(l);
    return t;
}

TextureSpec JsonLoader::readTexture(const json &j, const std::string &path) {
    ObjectFields o(j, path);
    TextureSpec t;
    t.path = path;
    t.givenIn = givenIn_;
    const json &layers = o.need("layers");
    if (!layers.is_array() || layers.empty()) fail(o.at("layers"), "expected a non-empty array of layers");
    if (layers.size() > 64) fail(o.at("layers"), "more than 64 layers");
    for (size_t i = 0; i < layers.size(); ++i)
        t.layers.push_back(readLayer(layers[i], o.at("layers") + "/" + std::to_string(i)));
    o.finish();
    return t;
}

TextureLayerSpec JsonLoader::readLayer(const json &j, const std::string &path) {
    ObjectFields o(j, path);
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

}  // namespace host::scene
