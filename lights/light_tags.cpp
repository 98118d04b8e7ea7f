// Placeholder: does nothing until this subsystem lands.
#include "lights/light_tags.h"

namespace velmora {

LightTagRecord *lightTagsGet(LWItemID) { return nullptr; }
void lightTagsClear() {}
void readTagInt(LWItemID, const char *, const char *, int *) {}
void readTagReal(LWItemID, const char *, const char *, double *) {}
int illuminateTagged(LWShaderAccess *sa, LWItemID light, const double position[3], double dir[3], double color[3]) {
    return sa && sa->illuminate ? sa->illuminate(light, position, dir, color) : 0;
}

}  // namespace velmora
