// SPDX-License-Identifier: Apache-2.0
#include "host/plugin/texture_build.h"

#include "host/texture/texture_system.h"

namespace host::plugin {

namespace {

bool knownInput(LWTextureID tex, const std::string &name, std::string &known) {
    for (int i = 0; texture::kHostInputs[i]; ++i) {
        if (name == texture::kHostInputs[i]) return true;
        known += std::string(known.empty() ? "" : ", ") + texture::kHostInputs[i];
    }
    for (const std::string &in : texture::contextInputs(texture::textureContext(tex))) {
        if (name == in) return true;
        known += ", " + in;
    }
    return false;
}

texture::LayerSettings settingsOf(const scene::TextureLayerSpec &l) {
    texture::LayerSettings s;
    s.opacity = l.opacity;
    s.blend = static_cast<texture::Blend>(l.blend);
    s.projection = l.spherical ? texture::Projection::Spherical : texture::Projection::Planar;
    s.axis = l.axis;
    for (int c = 0; c < 3; ++c) {
        s.center[c] = l.center[c];
        s.size[c] = l.size[c];
        s.color[c] = l.color[c];
    }
    s.worldCoords = l.world;
    s.value = l.value;
    s.octaves = l.octaves;
    if (l.type == scene::TextureLayerSpec::Type::Gradient) {
        s.input = l.input;
        for (const scene::TextureLayerSpec::Key &k : l.keys) {
            texture::GradientKey g;
            g.position = k.position;
            for (int c = 0; c < 3; ++c) g.value[c] = k.value[c];
            g.alpha = k.alpha;
            s.keys.push_back(g);
        }
    }
    return s;
}

}  // namespace

bool buildTexture(LWTextureID tex, const scene::TextureSpec &spec, const scene::Scene &scene, std::string &error) {
    auto refuse = [&](const std::string &path, const std::string &why) {
        error = (spec.givenIn.empty() ? scene.filename : spec.givenIn) + ": " + path + ": " + why;
        return false;
    };
    if (!texture::isTexture(tex)) return refuse(spec.path, "the host could not make a texture here");
    for (auto it = spec.layers.rbegin(); it != spec.layers.rend(); ++it) {
        const scene::TextureLayerSpec &l = *it;
        texture::LayerSettings s = settingsOf(l);
        std::string known;
        if (l.type == scene::TextureLayerSpec::Type::Gradient && !knownInput(tex, l.input, known))
            return refuse(l.path + "/input",
                          "unknown gradient input \"" + l.input + "\" (expected one of: " + known + ")");
        if (!l.item.empty()) {
            const scene::Item *item = scene.findItem(l.item);
            if (!item) return refuse(l.path + "/item", "no item named \"" + l.item + "\"");
            s.pickedItem = scene::itemID(item);
        }
        int type = l.type == scene::TextureLayerSpec::Type::Image   ? TLT_IMAGE
                   : l.type == scene::TextureLayerSpec::Type::Noise ? TLT_PROC
                                                                    : TLT_GRAD;
        LWTLayerID layer = texture::addLayer(tex, type);
        if (!layer || !texture::setLayer(layer, s)) return refuse(l.path, "the host's texture refused the layer");
        if (l.image >= 0) {
            LWImageID image = scene.images[static_cast<size_t>(l.image)].get();
            texture::textureFuncs()->setParam(layer, TXTAG_IMAGE, &image);
        }
    }
    return true;
}

bool SurfaceTextures::build(const scene::Scene &scene, std::string &error) {
    destroy();
    bool any = false;
    for (const auto &s : scene.surfaces)
        for (const scene::TextureSpec &t : s->textures) any = any || !t.empty();
    if (!any) return true;
    const LWTextureFuncs &tf = *texture::textureFuncs();
    table_.assign(scene.surfaces.size(), Row{});
    for (size_t si = 0; si < scene.surfaces.size(); ++si) {
        const scene::Surface &surf = *scene.surfaces[si];
        for (int c = 0; c < scene::kSurfaceChannels; ++c) {
            if (surf.textures[c].empty()) continue;
            std::string name = surf.name + "." + scene::kSurfaceChannelNames[c];
            LWTextureID tex =
                tf.create(c == scene::kChannelColor ? TRT_COLOR : TRT_PERCENT, name.c_str(), nullptr, nullptr);
            table_[si][c] = tex;
            if (!buildTexture(tex, surf.textures[c], scene, error)) return false;
        }
    }
    return true;
}

void SurfaceTextures::newTime(double time, int frame) {
    for (Row &row : table_)
        for (LWTextureID t : row)
            if (t) texture::textureFuncs()->newtime(t, time, frame);
}

void SurfaceTextures::cleanup() {
    for (Row &row : table_)
        for (LWTextureID t : row)
            if (t) texture::textureFuncs()->cleanup(t);
}

void SurfaceTextures::destroy() {
    for (Row &row : table_)
        for (LWTextureID t : row)
            if (t) texture::textureFuncs()->destroy(t);
    table_.clear();
}

}  // namespace host::plugin
