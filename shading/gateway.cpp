// Placeholder: does nothing until this subsystem lands.
#include "shading/gateway.h"

#include "lights/light_tags.h"

namespace velmora {

int illuminationGateway(int *, LWShaderAccess *sa, LWItemID light, const double position[3], double dir[3],
                        double color[3]) {
    return illuminateTagged(sa, light, position, dir, color);
}

}  // namespace velmora
