// SPDX-License-Identifier: Apache-2.0
#include "instance/skin_panel.h"

#include <cstdint>
#include <cstring>

#include "base/host_globals.h"
#include "instance/skin_instance.h"
#include "vparam/vparam.h"

namespace velmora {

namespace {

enum : unsigned int {
    kIdKsub = 0x8001,
    kIdSkinColor = 0x8002,
    kIdScatterWrap = 0x8003,
    kIdShadowAmount = 0x8004,
    kIdDiffRough = 0x8005,
    kIdKsheen = 0x8006,
    kIdSheenColor = 0x8007,
    kIdKa = 0x8008,
    kIdSkinPrefix = 0x8009,
    kIdSheenPrefix = 0x800a,
    kIdSheenTrace = 0x800b,
    kIdTraceEps = 0x800c,
    kIdSheenDecay = 0x800d,
    kIdTabs = 0x800e,
    kIdStandard = 0x800f,
    kIdExperimental = 0x8010,
};

// A machine word of the hint list.
LWXPanelHint word(uintptr_t value) { return reinterpret_cast<LWXPanelHint>(value); }
LWXPanelHint text(const char *s) { return const_cast<char *>(s); }

// The variant parameter behind an "-env" control, or null for any other id.
Vparam *vparamFor(SkinInstance *skin, unsigned int id) {
    switch (id) {
        case kIdKsub:
            return skin->Ksub;
        case kIdSkinColor:
            return skin->skin_color;
        case kIdScatterWrap:
            return skin->scatter_wrap;
        case kIdShadowAmount:
            return skin->shadow_amount;
        case kIdDiffRough:
            return skin->diff_rough;
        case kIdKsheen:
            return skin->Ksheen;
        case kIdSheenColor:
            return skin->sheen_color;
        case kIdKa:
            return skin->Ka;
        default:
            return nullptr;
    }
}

// Clears all 17 bytes, then copies at most 16 characters: the prefix always ends in a zero.
void setPrefix(char prefix[kPrefixSize], const char *value) {
    std::memset(prefix, 0, kPrefixSize);
    if (!value) return;
    for (int i = 0; i < kPrefixSize - 1 && value[i]; ++i) prefix[i] = value[i];
}

}  // namespace

LWXPanelControl panelControls[] = {
    {kIdSkinColor, "Skin color:", "color-env"},
    {kIdSheenColor, "Sheen color:", "color-env"},
    {kIdKsub, "Ksub:", "percent-env"},
    {kIdKsheen, "Ksheen:", "percent-env"},
    {kIdScatterWrap, "Scattering wrap:", "float-env"},
    {kIdShadowAmount, "Shadow amount:", "percent-env"},
    {kIdDiffRough, "Diffuse roughness:", "percent-env"},
    {kIdKa, "Ambient amount:", "percent-env"},
    {kIdSkinPrefix, "Prefix:", "string"},
    {kIdSheenPrefix, "Prefix:", "string"},
    {kIdSheenTrace, "Use Sheen shadowings", "iBoolean"},
    {kIdTraceEps, "Sheen trace eps:", "distance"},
    {kIdSheenDecay, "Sheen decay:", "distance"},
    {0, nullptr, nullptr},
};

// The wrap control's data name carries a colon, unlike its parameter and saved entry.
LWXPanelDataDesc panelDataDescs[] = {
    {kIdSkinColor, "skin_color", "color-env"},
    {kIdSheenColor, "sheen_color", "color-env"},
    {kIdKsub, "Ksub", "percent-env"},
    {kIdKsheen, "Ksheen", "percent-env"},
    {kIdScatterWrap, "scatter_wrap:", "float-env"},
    {kIdShadowAmount, "shadow_amount", "percent-env"},
    {kIdDiffRough, "diff_rough", "percent-env"},
    {kIdKa, "Ka", "percent-env"},
    {kIdSkinPrefix, "skin_prefix", "string"},
    {kIdSheenPrefix, "sheen_prefix", "string"},
    {kIdSheenTrace, "sheen_trace", "integer"},
    {kIdTraceEps, "trace_eps", "distance"},
    {kIdSheenDecay, "sheen_decay", "distance"},
    {0, nullptr, nullptr},
};

LWXPanelHint panelHints[] = {
    // Title of the whole panel.
    word(XPTAG_LABEL),
    word(0),
    text("QZ's Velmora Shader version 0.33e Options"),
    word(0),
    // Groups 1 to 4, unlabelled: skin, sheen, diffuse, sheen tracing.
    word(XPTAG_GROUP),
    word(1),
    word(kIdSkinColor),
    word(kIdKsub),
    word(kIdScatterWrap),
    word(kIdSkinPrefix),
    word(0),
    word(XPTAG_GROUP),
    word(2),
    word(kIdSheenColor),
    word(kIdKsheen),
    word(kIdSheenPrefix),
    word(0),
    word(XPTAG_GROUP),
    word(3),
    word(kIdDiffRough),
    word(kIdShadowAmount),
    word(kIdKa),
    word(0),
    word(XPTAG_GROUP),
    word(4),
    word(kIdSheenTrace),
    word(kIdTraceEps),
    word(kIdSheenDecay),
    word(0),
    // Two tab pages: groups 1 to 3, and group 4.
    word(XPTAG_GROUP),
    word(kIdStandard),
    word(1),
    word(2),
    word(3),
    word(0),
    word(XPTAG_GROUP),
    word(kIdExperimental),
    word(4),
    word(0),
    word(XPTAG_LABEL),
    word(kIdStandard),
    text("Standard"),
    word(0),
    word(XPTAG_LABEL),
    word(kIdExperimental),
    text("Experimental"),
    word(0),
    word(XPTAG_TABS),
    word(kIdTabs),
    word(kIdStandard),
    word(kIdExperimental),
    word(0),
    // Trace eps and decay follow the sheen shadowing toggle.
    word(XPTAG_ENABLE),
    word(kIdSheenTrace),
    word(0),
    word(0),
    word(0),
    word(kIdTraceEps),
    word(kIdSheenDecay),
    word(0),
    word(XPTAG_END),
};

LWXPanelID panelCreate(SkinInstance *inst) {
    LWXPanelFuncs *xp = panelFuncs;
    if (!xp) return nullptr;
    LWXPanelID panel = xp->create(LWXP_VIEW, panelControls);
    if (!panel) return nullptr;
    xp->hint(panel, 0, panelHints);
    xp->describe(panel, panelDataDescs, panelGet, panelSet);
    xp->viewInst(panel, inst);
    xp->setData(panel, 0, inst);
    return panel;
}

void *panelGet(void *inst, unsigned int id) {
    SkinInstance *skin = static_cast<SkinInstance *>(inst);
    if (!skin) return nullptr;
    if (id >= kIdKsub && id <= kIdKa) {
        Vparam *vp = vparamFor(skin, id);
        return vp ? vp->parameter : nullptr;
    }
    switch (id) {
        case kIdSkinPrefix:
            return skin->skin_prefix;
        case kIdSheenPrefix:
            return skin->sheen_prefix;
        case kIdSheenTrace:
            return &skin->sheen_trace;
        case kIdTraceEps:
            return &skin->trace_eps;
        case kIdSheenDecay:
            return &skin->sheen_decay;
        default:
            return nullptr;
    }
}

int panelSet(void *inst, unsigned int id, void *value) {
    SkinInstance *skin = static_cast<SkinInstance *>(inst);
    if (!skin) return LWXPRC_NONE;
    // The host edits the variant parameters itself.
    if (id >= kIdKsub && id <= kIdKa) return LWXPRC_DFLT;
    switch (id) {
        case kIdSkinPrefix:
            setPrefix(skin->skin_prefix, static_cast<const char *>(value));
            break;
        case kIdSheenPrefix:
            setPrefix(skin->sheen_prefix, static_cast<const char *>(value));
            break;
        case kIdSheenTrace:
            if (value) skin->sheen_trace = *static_cast<const int *>(value);
            break;
        case kIdTraceEps:
            if (value) skin->trace_eps = *static_cast<const double *>(value);
            break;
        case kIdSheenDecay:
            if (value) skin->sheen_decay = *static_cast<const double *>(value);
            break;
        default:
            return LWXPRC_NONE;
    }
    return LWXPRC_DFLT;
}

}  // namespace velmora
