// SPDX-License-Identifier: Apache-2.0
#include "shading/gateway.h"

#include "base/host_globals.h"
#include "base/vector3d.h"
#include "lights/light_model.h"
#include "lights/light_tags.h"

namespace velmora {

int illuminationGateway(int *flag, LWShaderAccess *sa, LWItemID light, const double position[3], double dir[3],
                        double color[3]) {
    if (light == LWITEM_RADIOSITY || light == LWITEM_CAUSTICS || !flag)
        return illuminateTagged(sa, light, position, dir, color);
    if (*flag) return 0;  // nested inside this thread's own shadow query

    // The flag is this thread's alone: no lock, no atomic.
    Vector3d shadowed = {0.0, 0.0, 0.0};
    *flag = 1;
    int lit = illuminateTagged(sa, light, position, dir, &shadowed.x);
    *flag = 0;

    // Coloured shadows: add the shadow colour by the mean light, per channel, that the shadow took.
    const LWLightInfo *info = shaderGlobals.lightInfo;
    if (info) {
        const int type = info->type(light);
        if ((type == LWLIGHT_DISTANT || type == LWLIGHT_POINT || type == LWLIGHT_SPOT) &&
            info->shadowType(light)) {
            Vector3d unshadowed, scratch, shadowColor = {0.0, 0.0, 0.0};
            lightUnshadowed(light, position, &scratch.x, &unshadowed.x);
            info->shadowColor(light, renderTime, &shadowColor.x);
            const double m =
                ((unshadowed.x - shadowed.x) + ((unshadowed.z - shadowed.z) + (unshadowed.y - shadowed.y))) *
                0.3333333333333333;
            Vector3d add;
            vecAddTo(shadowed, vecScale(add, shadowColor, m));
            lit = 1;
        }
    }
    asVector(color) = shadowed;
    return lit;
}

}  // namespace velmora
