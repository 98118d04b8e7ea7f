// SPDX-License-Identifier: Apache-2.0
// The shader server: the handler record a "ShaderHandler" activation fills, and the shading access
// record the host passes to evaluate for every shaded spot.
#pragma once

#include "host_types.h"
#include "io_state.h"
#include "ray_funcs.h"

#define LWSHADER_HCLASS "ShaderHandler"
#define LWSHADER_ICLASS "ShaderInterface"
#define LWSHADER_VERSION 4

// Flag bits returned by the flags operation.
#define LWSHF_NORMAL (1 << 0)
#define LWSHF_COLOR (1 << 1)
#define LWSHF_LUMINOUS (1 << 2)
#define LWSHF_DIFFUSE (1 << 3)
#define LWSHF_SPECULAR (1 << 4)
#define LWSHF_MIRROR (1 << 5)
#define LWSHF_TRANSP (1 << 6)
#define LWSHF_ETA (1 << 7)
#define LWSHF_ROUGH (1 << 8)
#define LWSHF_TRANSLUCENT (1 << 9)
#define LWSHF_RAYTRACE (1 << 10)

// Bits of LWShaderAccess::flags: the kind of ray that reached the spot.
#define LWRT_SHADOW (1 << 0)
#define LWRT_PREVIEW (1 << 1)
#define LWRT_POLYSIDE (1 << 2)
#define LWRT_SAMPLEDRAY (1 << 3)
#define LWRT_RADIOSITY (1 << 4)
#define LWRT_CAMERA (1 << 5)
#define LWRT_REFLECTION (1 << 6)
#define LWRT_REFRACTION (1 << 7)

// Shading access: the host fills it for one spot on one render thread; it lives for that call.
struct LWShaderAccess {
    double sx, sy;        // pixel coordinates of the sample (may carry sub-pixel positions)
    double oPos[3];       // position in object space
    double wPos[3];       // position in world space
    double gNorm[3];      // geometric normal, world space
    double spotSize;      // approximate diameter of the spot
    double raySource[3];  // origin of the incoming ray
    double rayLength;     // distance from the ray's origin to the spot
    double cosine;        // cosine between the incoming ray and the normal
    double oXfrm[9];      // object-to-world 3x3 transform, row after row
    double wXfrm[9];      // world-to-object 3x3 transform, row after row
    LWItemID objID;       // the object shaded
    int polNum;           // polygon number within the object
    double wNorm0[3];     // interpolated (smoothed) normal before bump and shaders
    double wNorm[3];      // shading normal, may be changed by shaders
    double bumpHeight;
    double color[3];  // the surface's colour
    double luminous, diffuse, specular, mirror, transparency, eta, roughness;
    double translucency;
    double colorHL;  // highlight colour tint amount
    double colorFL;  // transparency colour filter amount
    double addTransparency;
    LWIlluminateFunc *illuminate;
    LWRayTraceFunc *rayTrace;
    LWRayCastFunc *rayCast;
    LWRayShadeFunc *rayShade;
    int flags;                      // LWRT_* bits
    int bounces;                    // ray recursion depth of this spot
    LWItemID sourceID;              // the item whose ray reached the spot (camera, light) or null
    LWPntID verts[4];               // points around the spot, null where unused
    float weights[4];               // their interpolation weights
    float vertsWPos[4][3];          // their world positions
    LWPolID polygon;                // the polygon shaded, or null
    double replacement_percentage;  // share of the shader's replacement_color in the result
    double replacement_color[3];
};

// Instance operations, shared by every handler class.
struct LWInstanceFuncs {
    void *priv;
    LWInstance (*create)(void *priv, void *context, LWError *err);  // context: the surface ID
    void (*destroy)(LWInstance inst);
    LWError (*copy)(LWInstance to, LWInstance from);
    LWError (*load)(LWInstance inst, const LWLoadState *load);
    LWError (*save)(LWInstance inst, const LWSaveState *save);
    const char *(*descln)(LWInstance inst);  // one-line description, owned by the instance
};

struct LWItemFuncs {
    const LWItemID *(*useItems)(LWInstance inst);  // null-terminated list, or null
    void (*changeID)(LWInstance inst, const LWItemID *ids);
};

struct LWRenderFuncs {
    LWError (*init)(LWInstance inst, int mode);
    void (*cleanup)(LWInstance inst);
    LWError (*newTime)(LWInstance inst, LWFrame frame, LWTime time);
};

#define LWINIT_PREVIEW 0
#define LWINIT_RENDER 1

// Filled by a "ShaderHandler" activation. item may be null, in which case it is left alone.
struct LWShaderHandler {
    LWInstanceFuncs *inst;
    LWItemFuncs *item;
    LWRenderFuncs *rend;
    void (*evaluate)(LWInstance inst, LWShaderAccess *sa);  // called from render threads
    unsigned int (*flags)(LWInstance inst);                 // LWSHF_* bits
};

// Filled by a "ShaderInterface" activation for one instance.
struct LWInterface {
    LWInstance inst;
    LWXPanelID panel;                     // the options panel, or null
    LWError (*options)(LWInstance inst);  // classic options dialog, or null
    LWError (*command)(LWInstance inst, const char *command);
};

// The host's 32-bit x86 layout of these records, as the Windows target lays them out (the 32-bit
// Linux build matches it with -malign-double).
#if defined(__i386__) || defined(_M_IX86)
#include <cstddef>
static_assert(sizeof(LWShaderAccess) == 600, "LWShaderAccess is 600 bytes");
static_assert(offsetof(LWShaderAccess, sx) == 0, "LWShaderAccess::sx");
static_assert(offsetof(LWShaderAccess, sy) == 8, "LWShaderAccess::sy");
static_assert(offsetof(LWShaderAccess, oPos) == 16, "LWShaderAccess::oPos");
static_assert(offsetof(LWShaderAccess, wPos) == 40, "LWShaderAccess::wPos");
static_assert(offsetof(LWShaderAccess, gNorm) == 64, "LWShaderAccess::gNorm");
static_assert(offsetof(LWShaderAccess, spotSize) == 88, "LWShaderAccess::spotSize");
static_assert(offsetof(LWShaderAccess, raySource) == 96, "LWShaderAccess::raySource");
static_assert(offsetof(LWShaderAccess, rayLength) == 120, "LWShaderAccess::rayLength");
static_assert(offsetof(LWShaderAccess, cosine) == 128, "LWShaderAccess::cosine");
static_assert(offsetof(LWShaderAccess, oXfrm) == 136, "LWShaderAccess::oXfrm");
static_assert(offsetof(LWShaderAccess, wXfrm) == 208, "LWShaderAccess::wXfrm");
static_assert(offsetof(LWShaderAccess, objID) == 280, "LWShaderAccess::objID");
static_assert(offsetof(LWShaderAccess, polNum) == 284, "LWShaderAccess::polNum");
static_assert(offsetof(LWShaderAccess, wNorm0) == 288, "LWShaderAccess::wNorm0");
static_assert(offsetof(LWShaderAccess, wNorm) == 312, "LWShaderAccess::wNorm");
static_assert(offsetof(LWShaderAccess, bumpHeight) == 336, "LWShaderAccess::bumpHeight");
static_assert(offsetof(LWShaderAccess, color) == 344, "LWShaderAccess::color");
static_assert(offsetof(LWShaderAccess, luminous) == 368, "LWShaderAccess::luminous");
static_assert(offsetof(LWShaderAccess, diffuse) == 376, "LWShaderAccess::diffuse");
static_assert(offsetof(LWShaderAccess, specular) == 384, "LWShaderAccess::specular");
static_assert(offsetof(LWShaderAccess, mirror) == 392, "LWShaderAccess::mirror");
static_assert(offsetof(LWShaderAccess, transparency) == 400, "LWShaderAccess::transparency");
static_assert(offsetof(LWShaderAccess, eta) == 408, "LWShaderAccess::eta");
static_assert(offsetof(LWShaderAccess, roughness) == 416, "LWShaderAccess::roughness");
static_assert(offsetof(LWShaderAccess, translucency) == 424, "LWShaderAccess::translucency");
static_assert(offsetof(LWShaderAccess, colorHL) == 432, "LWShaderAccess::colorHL");
static_assert(offsetof(LWShaderAccess, colorFL) == 440, "LWShaderAccess::colorFL");
static_assert(offsetof(LWShaderAccess, addTransparency) == 448, "LWShaderAccess::addTransparency");
static_assert(offsetof(LWShaderAccess, illuminate) == 456, "LWShaderAccess::illuminate");
static_assert(offsetof(LWShaderAccess, rayTrace) == 460, "LWShaderAccess::rayTrace");
static_assert(offsetof(LWShaderAccess, rayCast) == 464, "LWShaderAccess::rayCast");
static_assert(offsetof(LWShaderAccess, rayShade) == 468, "LWShaderAccess::rayShade");
static_assert(offsetof(LWShaderAccess, flags) == 472, "LWShaderAccess::flags");
static_assert(offsetof(LWShaderAccess, bounces) == 476, "LWShaderAccess::bounces");
static_assert(offsetof(LWShaderAccess, sourceID) == 480, "LWShaderAccess::sourceID");
static_assert(offsetof(LWShaderAccess, verts) == 484, "LWShaderAccess::verts");
static_assert(offsetof(LWShaderAccess, weights) == 500, "LWShaderAccess::weights");
static_assert(offsetof(LWShaderAccess, vertsWPos) == 516, "LWShaderAccess::vertsWPos");
static_assert(offsetof(LWShaderAccess, polygon) == 564, "LWShaderAccess::polygon");
static_assert(offsetof(LWShaderAccess, replacement_percentage) == 568, "LWShaderAccess::replacement_percentage");
static_assert(offsetof(LWShaderAccess, replacement_color) == 576, "LWShaderAccess::replacement_color");
static_assert(sizeof(LWInstanceFuncs) == 28, "LWInstanceFuncs is 28 bytes");
static_assert(sizeof(LWItemFuncs) == 8, "LWItemFuncs is 8 bytes");
static_assert(sizeof(LWRenderFuncs) == 12, "LWRenderFuncs is 12 bytes");
static_assert(sizeof(LWShaderHandler) == 20, "LWShaderHandler is 20 bytes");
static_assert(offsetof(LWShaderHandler, inst) == 0, "LWShaderHandler::inst");
static_assert(offsetof(LWShaderHandler, item) == 4, "LWShaderHandler::item");
static_assert(offsetof(LWShaderHandler, rend) == 8, "LWShaderHandler::rend");
static_assert(offsetof(LWShaderHandler, evaluate) == 12, "LWShaderHandler::evaluate");
static_assert(offsetof(LWShaderHandler, flags) == 16, "LWShaderHandler::flags");
static_assert(sizeof(LWInterface) == 16, "LWInterface is 16 bytes");
static_assert(offsetof(LWInterface, inst) == 0, "LWInterface::inst");
static_assert(offsetof(LWInterface, panel) == 4, "LWInterface::panel");
static_assert(offsetof(LWInterface, options) == 8, "LWInterface::options");
static_assert(offsetof(LWInterface, command) == 12, "LWInterface::command");
#endif
