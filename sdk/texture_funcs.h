// SPDX-License-Identifier: Apache-2.0
// "Texture Functions 3": layered textures, and gradient-input contexts through which a plug-in adds
// inputs to the host's gradient layers. Evaluation may be called from render threads; the rest
// from the main thread.
#pragma once

#include "host_types.h"
#include "io_state.h"
#include "micropol.h"

#define LWTEXTUREFUNCS_GLOBAL "Texture Functions 3"

#define TRT_VECTOR 0
#define TRT_COLOR 1
#define TRT_PERCENT 2
#define TRT_SCALAR 3
#define TRT_DISPLACEMENT 4

// Layer types.
#define TLT_IMAGE 0
#define TLT_PROC 1
#define TLT_GRAD 2

// Layer parameter tags for getParam / setParam.
#define TXTAG_IMAGE 9

typedef void *gParamData;

// One gradient input a plug-in offers; handed to the host by value. The doubles are 8-byte
// aligned, so a row occupies 48 bytes on the 32-bit target.
struct LWTxtrParamDesc {
    const char *name;
    double start, end;  // default range shown by the gradient editor
    int type;           // 2 plain number, 3 distance, 4 percentage, 5 angle
    int flags;
    int itemType;     // -1 none, 0 object, 1 light, 2 camera, 4 weight map
    LWItemID itemID;  // the user's pick, filled by the host
    const char *itemName;
};

#if UINTPTR_MAX == 0xffffffffu
static_assert(sizeof(LWTxtrParamDesc) == 48, "gradient input row is 48 bytes");
#endif

// Callbacks of a gradient-input context, in slot order.
struct LWTxtrParamFuncs {
    // Value of input paramNb (from 1) at a spot, with the data paramTime returned.
    double (*paramEvaluate)(LWTxtrParamDesc *desc, int paramNb, LWMicropol *mp, gParamData data);
    // Per-time data for one texture and time, owned by the host until paramCleanup.
    gParamData (*paramTime)(void *userData, LWTxtrParamDesc *desc, int paramNb, LWTime time, LWFrame frame);
    void (*paramCleanup)(LWTxtrParamDesc *desc, int paramNb, gParamData data);
};

struct LWTextureFuncs {
    LWTxtrContextID (*contextCreate)(LWTxtrParamFuncs funcs);
    void (*contextDestroy)(LWTxtrContextID ctx);
    int (*contextAddParam)(LWTxtrContextID ctx, LWTxtrParamDesc desc);  // returns the input's number
    LWTextureID (*create)(int returnType, const char *name, LWTxtrContextID ctx, void *userData);
    void (*destroy)(LWTextureID tex);
    void (*copy)(LWTextureID to, LWTextureID from);
    void (*newtime)(LWTextureID tex, LWTime time, LWFrame frame);
    void (*cleanup)(LWTextureID tex);
    void (*load)(LWTextureID tex, const LWLoadState *load);
    void (*save)(LWTextureID tex, const LWSaveState *save);
    double (*evaluate)(LWTextureID tex, LWMicropol *mp, double *value);  // returns the alpha
    void (*setEnvGroup)(LWTextureID tex, LWChanGroupID group);
    LWTLayerID (*firstLayer)(LWTextureID tex);
    LWTLayerID (*nextLayer)(LWTextureID tex, LWTLayerID layer);
    int (*layerType)(LWTLayerID layer);
    LWChanGroupID (*layerEnvGroup)(LWTLayerID layer);                 // null when the layer has no channels
    int (*getParam)(LWTLayerID layer, unsigned int tag, void *data);  // non-zero when read
    int (*setParam)(LWTLayerID layer, unsigned int tag, void *data);
};

// The host's 32-bit x86 layout of these records, as the Windows target lays them out (the 32-bit
// Linux build matches it with -malign-double).
#if defined(__i386__) || defined(_M_IX86)
#include <cstddef>
static_assert(sizeof(LWTxtrParamDesc) == 48, "LWTxtrParamDesc is 48 bytes");
static_assert(offsetof(LWTxtrParamDesc, name) == 0, "LWTxtrParamDesc::name");
static_assert(offsetof(LWTxtrParamDesc, start) == 8, "LWTxtrParamDesc::start");
static_assert(offsetof(LWTxtrParamDesc, end) == 16, "LWTxtrParamDesc::end");
static_assert(offsetof(LWTxtrParamDesc, type) == 24, "LWTxtrParamDesc::type");
static_assert(offsetof(LWTxtrParamDesc, flags) == 28, "LWTxtrParamDesc::flags");
static_assert(offsetof(LWTxtrParamDesc, itemType) == 32, "LWTxtrParamDesc::itemType");
static_assert(offsetof(LWTxtrParamDesc, itemID) == 36, "LWTxtrParamDesc::itemID");
static_assert(offsetof(LWTxtrParamDesc, itemName) == 40, "LWTxtrParamDesc::itemName");
static_assert(sizeof(LWTxtrParamFuncs) == 12, "LWTxtrParamFuncs is 12 bytes");
static_assert(sizeof(LWTextureFuncs) == 72, "LWTextureFuncs is 72 bytes");
#endif
