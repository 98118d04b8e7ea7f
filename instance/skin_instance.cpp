// SPDX-License-Identifier: Apache-2.0
#include "instance/skin_instance.h"

#include <cstring>
#include <new>

#include "base/host_globals.h"
#include "base/server_name.h"
#include "instance/plugin_data.h"
#include "lights/environment.h"
#include "lights/item_cache.h"
#include "lights/light_model.h"
#include "lights/light_tags.h"
#include "mesh/mesh_cache.h"
#include "vparam/vparam.h"

namespace velmora {

const char kShaderDescription[] = "QZ's Velmora Shader version 0.33e";

namespace {

SkinInstance *asSkin(LWInstance inst) { return static_cast<SkinInstance *>(inst); }

// The eight parameters in the order of destruction, copy, clean-up and new-time.
template <typename Fn>
void forEachVparam(SkinInstance *skin, Fn fn) {
    Vparam *all[] = {skin->skin_color, skin->sheen_color,   skin->Ksub,         skin->Ksheen,
                     skin->diff_rough, skin->shadow_amount, skin->scatter_wrap, skin->Ka};
    for (Vparam *vp : all)
        if (vp) fn(vp);
}

// A parameter that cannot be allocated stays null; every operation skips it.
Vparam *newVparam(const char *name, int valueType, int textureKind, LWChanGroupID group, LWSurfaceID surface) {
    return new (std::nothrow) Vparam(name, valueType, textureKind, group, kServerName, surface);
}

void setDefault(Vparam *vp, double r, double g, double b) {
    LWVParmFuncs *funcs = vparamGlobals.vparmFuncs;
    if (!vp || !funcs || !funcs->setVal) return;
    double value[3] = {r, g, b};
    funcs->setVal(vp->parameter, value);
}

}  // namespace

// The entry table of an instance's saved data, in saved order. Prefix rows load with the buffer's
// full size, so a 16-character prefix keeps its last character; the count is not part of the save.
void skinEntryTable(SkinInstance *skin, PluginDataEntry table[kSkinEntryCount + 1]) {
    const PluginDataEntry rows[kSkinEntryCount + 1] = {
        {"skin_color", kTypePVPR, skin->skin_color, 1, nullptr, nullptr},
        {"sheen_color", kTypePVPR, skin->sheen_color, 1, nullptr, nullptr},
        {"Ksub", kTypePVPR, skin->Ksub, 1, nullptr, nullptr},
        {"Ksheen", kTypePVPR, skin->Ksheen, 1, nullptr, nullptr},
        {"skin_prefix", kTypePSTR, skin->skin_prefix, kPrefixSize, nullptr, nullptr},
        {"sheen_prefix", kTypePSTR, skin->sheen_prefix, kPrefixSize, nullptr, nullptr},
        {"scatter_wrap", kTypePVPR, skin->scatter_wrap, 1, nullptr, nullptr},
        {"shadow_amount", kTypePVPR, skin->shadow_amount, 1, nullptr, nullptr},
        {"diff_rough", kTypePVPR, skin->diff_rough, 1, nullptr, nullptr},
        {"Ka", kTypePVPR, skin->Ka, 1, nullptr, nullptr},
        {"sheen_trace", kTypePINT, &skin->sheen_trace, 1, nullptr, nullptr},
        {"trace_eps", kTypePDBL, &skin->trace_eps, 1, nullptr, nullptr},
        {"sheen_decay", kTypePDBL, &skin->sheen_decay, 1, nullptr, nullptr},
        {nullptr, 0, nullptr, 0, nullptr, nullptr},
    };
    std::memcpy(table, rows, sizeof rows);
}

LWInstance skinCreate(void *, void *context, LWError *) noexcept {
    SkinInstance *skin = new (std::nothrow) SkinInstance();
    if (!skin) return nullptr;
    try {
        skin->surface = static_cast<LWSurfaceID>(context);
        LWChanGroupID group = createShaderGroup(kServerName, skin->surface);

        skin->skin_color = newVparam("skin_color", LWVP_COLOR, LWVPDT_COLOR, group, skin->surface);
        skin->sheen_color = newVparam("sheen_color", LWVP_COLOR, LWVPDT_COLOR, group, skin->surface);
        skin->Ksub = newVparam("Ksub", LWVP_PERCENT, LWVPDT_PERCENT, group, skin->surface);
        skin->Ksheen = newVparam("Ksheen", LWVP_PERCENT, LWVPDT_PERCENT, group, skin->surface);
        skin->diff_rough = newVparam("diff_rough", LWVP_PERCENT, LWVPDT_PERCENT, group, skin->surface);
        skin->shadow_amount = newVparam("shadow_amount", LWVP_PERCENT, LWVPDT_PERCENT, group, skin->surface);
        skin->scatter_wrap = newVparam("scatter_wrap", LWVP_FLOAT, LWVPDT_NOTXTR, group, skin->surface);
        skin->Ka = newVparam("Ka", LWVP_PERCENT, LWVPDT_PERCENT, group, skin->surface);

        // Defaults, in construction order; a scalar takes all three components.
        setDefault(skin->skin_color, 0.6, 0.2, 0.0);
        setDefault(skin->sheen_color, 1.0, 1.0, 1.0);
        setDefault(skin->Ksub, 1.0, 1.0, 1.0);
        setDefault(skin->Ksheen, 0.5, 0.5, 0.5);
        setDefault(skin->diff_rough, 0.15, 0.15, 0.15);
        setDefault(skin->shadow_amount, 1.0, 1.0, 1.0);
        setDefault(skin->scatter_wrap, 0.5, 0.5, 0.5);
        setDefault(skin->Ka, 1.0, 1.0, 1.0);
    } catch (...) {
        // Whatever was built stays; missing parameters are null and skipped.
    }
    skin->sheen_trace = 0;
    skin->trace_eps = 0.001;
    skin->sheen_decay = 0.5;
    skin->skin_prefix[0] = '\0';
    skin->sheen_prefix[0] = '\0';
    return skin;
}

void skinDestroy(LWInstance inst) noexcept {
    SkinInstance *skin = asSkin(inst);
    if (!skin) return;
    forEachVparam(skin, [](Vparam *vp) { delete vp; });
    delete skin;
}

LWError skinCopy(LWInstance to, LWInstance from) noexcept {
    SkinInstance *dst = asSkin(to);
    SkinInstance *src = asSkin(from);
    if (!dst || !src || dst == src) return nullptr;

    LWVParmFuncs *funcs = vparamGlobals.vparmFuncs;
    if (funcs && funcs->copy) {
        Vparam *const pairs[][2] = {
            {dst->skin_color, src->skin_color},
            {dst->sheen_color, src->sheen_color},
            {dst->Ksub, src->Ksub},
            {dst->Ksheen, src->Ksheen},
            {dst->diff_rough, src->diff_rough},
            {dst->shadow_amount, src->shadow_amount},
            {dst->scatter_wrap, src->scatter_wrap},
            {dst->Ka, src->Ka},
        };
        for (auto &pair : pairs)
            if (pair[0] && pair[1]) funcs->copy(pair[0]->parameter, pair[1]->parameter);
    }

    // Everything else comes from the source; the target keeps its own parameters and surface.
    std::memcpy(dst->skin_prefix, src->skin_prefix, kPrefixSize);
    std::memcpy(dst->sheen_prefix, src->sheen_prefix, kPrefixSize);
    dst->sheen_trace = src->sheen_trace;
    dst->trace_eps = src->trace_eps;
    dst->sheen_decay = src->sheen_decay;
    std::memcpy(dst->description, src->description, sizeof dst->description);
    return nullptr;
}

LWError skinLoad(LWInstance inst, const LWLoadState *load) noexcept {
    SkinInstance *skin = asSkin(inst);
    if (!skin || !load || !load->readI4) return nullptr;
    try {
        int version = 0;
        load->readI4(load->readData, &version, 1);
        if (version != kSavedVersion) return nullptr;
        PluginDataEntry table[kSkinEntryCount + 1];
        skinEntryTable(skin, table);
        pluginDataLoad(load, table);
    } catch (...) {
    }
    return nullptr;
}

LWError skinSave(LWInstance inst, const LWSaveState *save) noexcept {
    SkinInstance *skin = asSkin(inst);
    if (!skin || !save || !save->writeI4) return nullptr;
    try {
        const int version = kSavedVersion;
        save->writeI4(save->writeData, &version, 1);
        PluginDataEntry table[kSkinEntryCount + 1];
        skinEntryTable(skin, table);
        pluginDataSave(save, table);
    } catch (...) {
    }
    return nullptr;
}

const char *skinDescribe(LWInstance inst) noexcept {
    SkinInstance *skin = asSkin(inst);
    if (!skin) return kShaderDescription;
    static_assert(sizeof kShaderDescription <= sizeof skin->description, "description fits its buffer");
    std::memcpy(skin->description, kShaderDescription, sizeof kShaderDescription);
    return skin->description;
}

unsigned int skinFlags(LWInstance) noexcept { return LWSHF_COLOR | LWSHF_RAYTRACE; }

const LWItemID *skinUseItems(LWInstance) noexcept { return nullptr; }

void skinChangeID(LWInstance, const LWItemID *) noexcept {}

LWError skinRenderInit(LWInstance inst, int) noexcept {
    SkinInstance *skin = asSkin(inst);
    if (!skin) return nullptr;
    try {
        prepareSurfaceEnvImages(skin->surface);
        prepareProjectionImages();
        meshCacheClear();
        lightTagsClear();
    } catch (...) {
    }
    return nullptr;
}

void skinRenderCleanup(LWInstance inst) noexcept {
    SkinInstance *skin = asSkin(inst);
    if (!skin) return;
    try {
        forEachVparam(skin, [](Vparam *vp) { vparamCleanup(vp); });
        meshCacheClear();
        lightTagsClear();
    } catch (...) {
    }
}

LWError skinNewTime(LWInstance inst, LWFrame frame, LWTime time) noexcept {
    renderTime = time;
    SkinInstance *skin = asSkin(inst);
    try {
        itemParamsNewTime(time, frame);
        if (skin) forEachVparam(skin, [time, frame](Vparam *vp) { vparamNewTime(vp, time, frame); });
    } catch (...) {
    }
    return nullptr;
}

}  // namespace velmora
