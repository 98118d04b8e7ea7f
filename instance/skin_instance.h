// SkinInstance: one shader instance per surface, its thirteen parameters and its host operations.
#pragma once

#include "sdk/sdk.h"

namespace velmora {

class Vparam;

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

LWInstance skinCreate(void *priv, void *context, LWError *err);
void skinDestroy(LWInstance inst);
LWError skinCopy(LWInstance to, LWInstance from);
LWError skinLoad(LWInstance inst, const LWLoadState *load);
LWError skinSave(LWInstance inst, const LWSaveState *save);
const char *skinDescribe(LWInstance inst);
unsigned int skinFlags(LWInstance inst);
const LWItemID *skinUseItems(LWInstance inst);
void skinChangeID(LWInstance inst, const LWItemID *ids);
LWError skinRenderInit(LWInstance inst, int mode);
void skinRenderCleanup(LWInstance inst);
LWError skinNewTime(LWInstance inst, LWFrame frame, LWTime time);

}  // namespace velmora
