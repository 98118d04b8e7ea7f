// SPDX-License-Identifier: Apache-2.0
// SkinInstance: one shader instance per surface, its thirteen parameters and its host operations.
#pragma once

#include "sdk/sdk.h"

namespace velmora {

class Vparam;
struct PluginDataEntry;

constexpr int kPrefixSize = 17;  // up to 16 characters and a terminating zero

struct SkinInstance {
    Vparam *skin_color;
    Vparam *sheen_color;
    Vparam *Ksub;
    Vparam *Ksheen;
    char skin_prefix[kPrefixSize];
    char sheen_prefix[kPrefixSize];
    Vparam *scatter_wrap;
    Vparam *shadow_amount;
    Vparam *diff_rough;
    Vparam *Ka;
    int sheen_trace;
    double trace_eps;
    double sheen_decay;
    char description[128];
    LWSurfaceID surface;
};

extern const char kShaderDescription[];  // "QZ's Velmora Shader version 0.33e"

constexpr int kSkinEntryCount = 13;  // rows of an instance's saved data
// Fills the instance's entry table (13 rows pointing into the instance, then the null row).
void skinEntryTable(SkinInstance *skin, PluginDataEntry table[kSkinEntryCount + 1]);

// Host operations, all on the host's main thread; none lets an exception out, and those that
// return an error text always return null.

// A new instance for the surface given as context, with the defaults; null only when the record
// itself cannot be allocated (a parameter that cannot be allocated stays null and is skipped).
LWInstance skinCreate(void *priv, void *context, LWError *err) noexcept;
void skinDestroy(LWInstance inst) noexcept;
// Copies the source's values into the target, which keeps its own parameters and surface.
LWError skinCopy(LWInstance to, LWInstance from) noexcept;
LWError skinLoad(LWInstance inst, const LWLoadState *load) noexcept;  // version 256 only
LWError skinSave(LWInstance inst, const LWSaveState *save) noexcept;
const char *skinDescribe(LWInstance inst) noexcept;      // the instance's own description buffer
unsigned int skinFlags(LWInstance inst) noexcept;        // sets the colour, traces rays: 0x402
const LWItemID *skinUseItems(LWInstance inst) noexcept;  // null: depends on no item
void skinChangeID(LWInstance inst, const LWItemID *ids) noexcept;
// Readies environment and projection images and clears the mesh cache and the light tags.
LWError skinRenderInit(LWInstance inst, int mode) noexcept;
// Each parameter's texture clean-up, then the mesh cache and the light tags are cleared.
void skinRenderCleanup(LWInstance inst) noexcept;
// Sets renderTime, rebuilds the shared item parameter cache and brings the textures to the time.
LWError skinNewTime(LWInstance inst, LWFrame frame, LWTime time) noexcept;

}  // namespace velmora
