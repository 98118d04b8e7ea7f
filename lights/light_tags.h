// Light tags: "QZ_lightParam:" tag lines that give point and spot lights sampled area shadows.
#pragma once

#include "sdk/sdk.h"

namespace velmora {

struct LightTagRecord {
    int areashadow;
    double areashadow_size;
    int areashadow_sample;
    double userid1, userid2, userid3, userid4;
};

// The light's record, read from its tags on first use; valid until the next lightTagsClear.
LightTagRecord *lightTagsGet(LWItemID light);
void lightTagsClear();
void readTagInt(LWItemID light, const char *prefix, const char *key, int *out);
void readTagReal(LWItemID light, const char *prefix, const char *key, double *out);

// The per-light illumination entry: the host's illuminate, or sampled area shadows when tagged.
int illuminateTagged(LWShaderAccess *sa, LWItemID light, const double position[3], double dir[3],
                     double color[3]);

}  // namespace velmora
