// SPDX-License-Identifier: Apache-2.0
// "LW Light Info 3" over the scene's lights. An identifier that names no light (an object, a
// pseudo-light such as LWITEM_RADIOSITY, a stale pointer) gets type -1, black colours, zero
// angles and range, no flags, no shadows, no falloff and no projection image.
#include "host/services/scene_services.h"
#include "host/services/scene_state.h"

namespace host::services {

namespace {

const scene::LightItem *light(LWItemID id) {
    const SceneState *s = current();
    return s ? findLight(*s, id) : nullptr;
}

void put(LWDVector out, double r, double g, double b) {
    if (!out) return;
    out[0] = r;
    out[1] = g;
    out[2] = b;
}

void lightAmbient(LWTime, LWDVector color) {
    const SceneState *s = current();
    if (!s) return put(color, 0, 0, 0);
    scene::Vec3 a = s->scene->ambient();
    put(color, a[0], a[1], a[2]);
}

int lightType(LWItemID id) {
    const scene::LightItem *l = light(id);
    return l ? static_cast<int>(l->type) : -1;
}

void lightColor(LWItemID id, LWTime time, LWDVector color) {
    const scene::LightItem *l = light(id);
    if (!l) return put(color, 0, 0, 0);
    double k = l->intensity.at(time);
    put(color, l->color[0] * k, l->color[1] * k, l->color[2] * k);
}

int lightShadowType(LWItemID id) {
    const scene::LightItem *l = light(id);
    return l ? static_cast<int>(l->shadow) : LWSHAD_OFF;
}

void lightConeAngles(LWItemID id, LWTime time, double *radius, double *edge) {
    const scene::LightItem *l = light(id);
    if (radius) *radius = l ? l->coneAngle.at(time) : 0.0;
    if (edge) *edge = l ? l->coneEdge.at(time) : 0.0;
}

// A linear falloff ends the light at its range, so it counts as a limited range.
unsigned int lightFlags(LWItemID id) {
    const scene::LightItem *l = light(id);
    if (!l) return 0;
    unsigned int f = 0;
    if (l->falloff == scene::Falloff::Linear) f |= LWLFL_LIMITED_RANGE;
    if (l->noDiffuse) f |= LWLFL_NO_DIFFUSE;
    if (l->noSpecular) f |= LWLFL_NO_SPECULAR;
    if (l->noCaustics) f |= LWLFL_NO_CAUSTICS;
    return f;
}

double lightRange(LWItemID id, LWTime time) {
    const scene::LightItem *l = light(id);
    return l ? l->range.at(time) : 0.0;
}

int lightFalloff(LWItemID id) {
    const scene::LightItem *l = light(id);
    return l ? static_cast<int>(l->falloff) : LWLFALL_OFF;
}

LWImageID lightProjImage(LWItemID id) {
    const SceneState *s = current();
    const scene::LightItem *l = s ? findLight(*s, id) : nullptr;
    return l && l->type == scene::LightType::Spot ? sceneImageID(*s, l->projectionImage) : nullptr;
}

void lightShadowColor(LWItemID id, LWTime, LWDVector color) {
    const scene::LightItem *l = light(id);
    if (!l) return put(color, 0, 0, 0);
    put(color, l->shadowColor[0], l->shadowColor[1], l->shadowColor[2]);
}

// Every slot of the record is filled below; a slot added to the record must be added here too.
static_assert(sizeof(LWLightInfo) == 10 * sizeof(void (*)()), "LWLightInfo has 10 slots");

const LWLightInfo kLightInfo = {
    lightAmbient,      // ambient
    lightType,         // type
    lightColor,        // color
    lightShadowType,   // shadowType
    lightConeAngles,   // coneAngles
    lightFlags,        // flags
    lightRange,        // range
    lightFalloff,      // falloff
    lightProjImage,    // projImage
    lightShadowColor,  // shadowColor
};

}  // namespace

const LWLightInfo *lightInfoTable() { return &kLightInfo; }

}  // namespace host::services
