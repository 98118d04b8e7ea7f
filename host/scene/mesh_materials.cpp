// SPDX-License-Identifier: Apache-2.0
// Mesh files' materials as host surfaces: a host object's own SURF chunks, what assimp's readers
// made of other materials, and the surfaces of an import.
#include <algorithm>
#include <map>

#include "host/scene/mesh_pvt.h"

namespace host::scene::mesh_pvt {

// The base values of an LWO2 surface: COLR, DIFF, LUMI, SPEC, GLOS, REFL, TRAN, TRNL, CLRH, CLRF,
// RIND, SMAN and SIDE (envelopes, textures and shaders are not read). What the chunk leaves out
// takes the host's defaults, as assimp's reader does.
Surface lwo2Surface(Bytes b, const std::string &name) {
    Surface s;
    s.name = name;
    s.color = {200 / 255.0, 200 / 255.0, 200 / 255.0};
    s.smoothing = false;
    b.s0();  // the source surface
    while (b.left() >= 6) {
        uint32_t id = b.u4();
        uint16_t length = b.u2();
        if (length > b.left()) break;
        Bytes sub{b.p, b.p + length};
        b.p += length + (length & 1 && b.left() > length ? 1 : 0);
        auto is = [&](const char *tag) {
            return id == (uint32_t(uint8_t(tag[0])) << 24 | uint32_t(uint8_t(tag[1])) << 16 |
                          uint32_t(uint8_t(tag[2])) << 8 | uint8_t(tag[3]));
        };
        if (length < 2) continue;
        if (is("SIDE")) {
            s.doubleSided = (sub.u2() & 2) != 0;
            continue;
        }
        if (length < 4) continue;
        if (is("COLR")) {
            if (length < 12) continue;
            for (int c = 0; c < 3; ++c) s.color[c] = within(sub.f4(), 0, 1e6, s.color[c]);
            continue;
        }
        double v = sub.f4();
        if (is("DIFF")) s.diffuse = within(v, 0, 10, s.diffuse);
        if (is("LUMI")) s.luminosity = within(v, 0, 1e6, s.luminosity);
        if (is("SPEC")) s.specular = within(v, 0, 10, s.specular);
        if (is("GLOS")) s.glossiness = within(v, 0, 1, s.glossiness);
        if (is("REFL")) s.mirror = within(v, 0, 1, s.mirror);
        if (is("TRAN")) s.transparency = within(v, 0, 1, s.transparency);
        if (is("TRNL")) s.translucency = within(v, 0, 1, s.translucency);
        if (is("CLRH")) s.colorHighlights = within(v, 0, 1, s.colorHighlights);
        if (is("CLRF")) s.colorFilter = within(v, 0, 1, s.colorFilter);
        if (is("RIND")) s.eta = within(v, 0.01, 10, s.eta);
        if (is("SMAN")) {
            double angle = within(v, 0, kPi, 0);
            s.smoothing = angle > 0;
            s.smoothingAngle = angle > 0 ? angle : kNoSmoothingLimit;
        }
    }
    return s;
}

// ---------------------------------------------------------------------------------------------
// Materials.

bool getColor(const aiMaterial &m, const char *key, unsigned type, unsigned index, Vec3 &out) {
    aiColor3D c;
    if (m.Get(key, type, index, c) != AI_SUCCESS) return false;
    out = {c.r, c.g, c.b};
    return true;
}

bool getFloat(const aiMaterial &m, const char *key, unsigned type, unsigned index, double &out) {
    ai_real v = 0;
    if (m.Get(key, type, index, v) != AI_SUCCESS) return false;
    out = v;
    return true;
}

bool getInt(const aiMaterial &m, const char *key, unsigned type, unsigned index, int &out) {
    int v = 0;
    if (m.Get(key, type, index, v) != AI_SUCCESS) return false;
    out = v;
    return true;
}

// The host's glossiness for a Blinn-Phong exponent: 2^(2 + 10 g) = exponent.
double glossinessOf(double exponent) { return within((std::log2(exponent) - 2) / 10, 0, 1, 0.4); }

// A host object surface from what assimp's LWO reader made of it, where the file's own chunk was not
// read (LWO3 and LXOB files). The reader folds the file's values into a material (assimp's
// LWOMaterial.cpp, ConvertMaterial): diffuse colour = colour x diffuse (x 1 with a colour
// texture), specular strength = specularity, shininess = (10 g + 2)^2 for glossiness g when both
// are non-zero, specular colour =
// white mixed towards the colour by colour highlights, emissive = 0.8 x luminosity, opacity =
// 1 - transparency (or the additive transparency, with an additive blend), refraction index,
// two-sidedness, and a flat shading model when the smoothing angle is 0. Undone here: colour (with
// the diffuse level folded in, diffuse 1), specularity, glossiness (where specularity is not 0),
// luminosity, transparency, refraction index, sidedness and smoothing. Lost: the diffuse level
// apart from the colour, colour highlights (the colour they mix towards is the folded one),
// reflection, translucency, colour filter, additive transparency and the smoothing angle.
Surface lwoSurfaceFromMaterial(const aiMaterial &m, const std::string &name) {
    Surface s;
    s.name = name;
    Vec3 c;
    if (getColor(m, AI_MATKEY_COLOR_DIFFUSE, c))
        for (int k = 0; k < 3; ++k) s.color[k] = within(c[k], 0, 1e6, s.color[k]);
    double v = 0;
    if (getFloat(m, AI_MATKEY_SHININESS_STRENGTH, v)) s.specular = within(v, 0, 10, 0);
    if (getFloat(m, AI_MATKEY_SHININESS, v))
        s.glossiness = within((std::sqrt(std::max(0.0, v)) - 2) / 10, 0, 1, 0.4);
    else if (s.specular > 0)
        s.glossiness = 0;
    if (getColor(m, AI_MATKEY_COLOR_EMISSIVE, c)) s.luminosity = within(c[0] / 0.8, 0, 1e6, 0);
    int blend = aiBlendMode_Default;
    getInt(m, AI_MATKEY_BLEND_FUNC, blend);
    if (blend == aiBlendMode_Default && getFloat(m, AI_MATKEY_OPACITY, v)) s.transparency = within(1 - v, 0, 1, 0);
    if (getFloat(m, AI_MATKEY_REFRACTI, v)) s.eta = within(v, 0.01, 10, 1);
    int flag = 0;
    if (getInt(m, AI_MATKEY_TWOSIDED, flag)) s.doubleSided = flag != 0;
    if (getInt(m, AI_MATKEY_SHADING_MODEL, flag)) s.smoothing = flag != aiShadingMode_Flat;
    return s;
}

// A surface from another format's material: diffuse (or base) colour, specular colour times
// strength, shininess as the Blinn-Phong exponent, emissive colour as luminosity, opacity,
// reflectivity, refraction index, two-sidedness and flat shading as they are given. Channels the
// material does not give keep the host's defaults.
Surface surfaceFromMaterial(const aiMaterial &m, const std::string &name) {
    Surface s;
    s.name = name;
    Vec3 c;
    if (getColor(m, AI_MATKEY_COLOR_DIFFUSE, c) || getColor(m, AI_MATKEY_BASE_COLOR, c))
        for (int k = 0; k < 3; ++k) s.color[k] = within(c[k], 0, 1e6, s.color[k]);
    double v = 0, strength = 1;
    getFloat(m, AI_MATKEY_SHININESS_STRENGTH, strength);
    if (getColor(m, AI_MATKEY_COLOR_SPECULAR, c))
        s.specular = within(std::max({c[0], c[1], c[2]}) * strength, 0, 10, 0);
    if (getFloat(m, AI_MATKEY_SHININESS, v) && v > 0) s.glossiness = glossinessOf(v);
    if (getColor(m, AI_MATKEY_COLOR_EMISSIVE, c)) s.luminosity = within(std::max({c[0], c[1], c[2]}), 0, 1e6, 0);
    if (getFloat(m, AI_MATKEY_OPACITY, v)) s.transparency = within(1 - v, 0, 1, 0);
    // Reflection: the reflective colour times its factor (FBX and Collada give both; a factor
    // alone, with no colour, is taken as it is).
    if (getFloat(m, AI_MATKEY_REFLECTIVITY, v)) {
        double tint = getColor(m, AI_MATKEY_COLOR_REFLECTIVE, c) ? std::max({c[0], c[1], c[2]}) : 1.0;
        s.mirror = within(v * tint, 0, 1, 0);
    }
    if (getFloat(m, AI_MATKEY_REFRACTI, v)) s.eta = within(v, 0.01, 10, 1);
    int flag = 0;
    if (getInt(m, AI_MATKEY_TWOSIDED, flag)) s.doubleSided = flag != 0;
    if (getInt(m, AI_MATKEY_SHADING_MODEL, flag)) s.smoothing = flag != aiShadingMode_Flat;
    return s;
}

// The file's materials as surfaces, one per name; the index of each material's surface, -1
// for assimp's own default material (polygons the file gives no surface).
std::vector<int> MeshImport::surfaces(const aiScene &scene, const LwoFile *lwo, ImportedMesh &out) {
    std::vector<int> index(scene.mNumMaterials, -1);
    for (unsigned i = 0; i < scene.mNumMaterials; ++i) {
        const aiMaterial &m = *scene.mMaterials[i];
        aiString n;
        std::string name = m.Get(AI_MATKEY_NAME, n) == AI_SUCCESS ? std::string(n.C_Str()) : std::string();
        if (name == AI_DEFAULT_MATERIAL_NAME || name == "LWODefaultSurface") continue;
        if (name.empty()) name = "Material " + std::to_string(i + 1);
        for (size_t k = 0; k < out.surfaces.size() && index[i] < 0; ++k)
            if (out.surfaces[k].name == name) index[i] = static_cast<int>(k);
        if (index[i] >= 0) continue;
        index[i] = static_cast<int>(out.surfaces.size());
        const LwoSurface *raw = nullptr;
        if (lwo) {
            for (const LwoSurface &s : lwo->surfaces)
                if (!raw && s.name == name) raw = &s;
            for (const LwoSurface &s : lwo->surfaces)
                if (!raw && lower(s.name) == lower(name)) raw = &s;  // as assimp matches tags
        }
        if (raw) {
            out.surfaces.push_back(raw->surface);
            out.surfaces.back().name = name;
        } else if (lwo) {
            out.surfaces.push_back(lwoSurfaceFromMaterial(m, name));
        } else {
            out.surfaces.push_back(surfaceFromMaterial(m, name));
        }
    }
    return index;
}

}  // namespace host::scene::mesh_pvt
