// SPDX-License-Identifier: Apache-2.0
// Vparam: the wrapper of one host variant parameter (constant, enveloped or textured value), its
// events, its scene persistence, and the micropolygon through which it is evaluated at a spot.
#pragma once

#include <cstdint>

#include "base/vector3d.h"
#include "sdk/sdk.h"

namespace velmora {

// Block identifiers of a saved parameter.
constexpr LWID kBlockVPRM = LWID_('V', 'P', 'R', 'M');  // "Vparam"
constexpr LWID kBlockVENV = LWID_('V', 'E', 'N', 'V');  // "VparamEnv"
constexpr LWID kBlockPTEX = LWID_('P', 'T', 'E', 'X');  // "Texture"

constexpr int kSavedVersion = 256;  // version word of every block the module versions

class Vparam {
public:
    // Creates and sets up the host parameter: value type LWVP_*, texture kind LWVPDT_* (-1 none).
    Vparam(const char *name, int valueType, int textureKind, LWChanGroupID group, const char *pluginName,
           LWSurfaceID surface);
    virtual ~Vparam();  // destroys the host parameter
    Vparam(const Vparam &) = delete;
    Vparam &operator=(const Vparam &) = delete;

    int valueType;
    int textureKind;
    LWChanGroupID group;
    LWSurfaceID surface;
    LWVParmID parameter;  // owned
    // Printed after the name in a colour's channel name: the address on 32-bit targets, elsewhere
    // a value no other live parameter holds.
    uint32_t channelTag;
};

void vparamNewTime(Vparam *vp, LWTime time, LWFrame frame);  // the texture's new-time, if textured
void vparamCleanup(Vparam *vp);                              // the texture's clean-up, if textured
void vparamSave(Vparam *vp, const LWSaveState *save);
void vparamLoad(Vparam *vp, const LWLoadState *load);

// Host event handler of every Vparam; userData is the Vparam. Always returns 1.
int vparamEvent(LWVParmID parm, void *userData, int eventCode, void *eventData);

// A new channel group named `name` under the surface's group (top level without a surface).
LWChanGroupID createShaderGroup(const char *name, LWSurfaceID surface);

// The box of every polygon of the surface, over all scene objects: x min, x max, y min, y max,
// z min, z max. False, with the box set to ±0.5, when no polygon uses the surface.
bool surfaceBounds(LWSurfaceID surface, double box[6]);
int boundsScanPoly(void *data, LWPolID polygon);

// Fills a micropolygon for evaluating variant parameters at the spot of a shading access record.
void micropolFromAccess(LWMicropol *mp, const LWShaderAccess *sa, LWSurfaceID surface);
// Geometric normal of a polygon's base positions (vertex 0, 1 and the last); false under 3 vertices.
bool basePolygonNormal(LWMeshInfo *mesh, LWPolID polygon, Vector3d &normal);

// A bare texture stored in a plug-in data table: four words, the second the texture.
struct TextureParam {
    uintptr_t reserved0;
    LWTextureID texture;
    uintptr_t reserved2;
    uintptr_t reserved3;
};

void textureParamSave(TextureParam *tp, const LWSaveState *save);
void textureParamLoad(TextureParam *tp, const LWLoadState *load);

}  // namespace velmora
