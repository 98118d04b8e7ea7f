// SPDX-License-Identifier: Apache-2.0
// Light tags: "QZ_lightParam:" tag lines that give point and spot lights sampled area shadows.
//
// A tag line "QZ_lightParam: <key> = <value>" sets one field; blanks and the run of "=" are
// optional. Records are read once per light per render into a module-wide table guarded by
// lightTagLock, and freed by lightTagsClear at render initialisation and clean-up.
#pragma once

#include "base/platform.h"
#include "sdk/sdk.h"

namespace velmora {

struct LightTagRecord {
    int areashadow;                             // non-zero turns sampled area shadows on
    double areashadow_size;                     // side length of the square light
    int areashadow_sample;                      // samples per side
    double userid1, userid2, userid3, userid4;  // kept for callers; not used in shading
};

extern const char kLightTagPrefix[];  // "QZ_lightParam:"

// Guards the tag table during find-or-create and clearing; no other module lock is taken while
// it is held.
extern PlatformLock lightTagLock;

// The light's record, read from its tags on first use (defaults for a light without tags); null
// without the host's item information or when memory is exhausted. Valid until the next
// lightTagsClear. Any thread.
LightTagRecord *lightTagsGet(LWItemID light);
// Frees every record. Only while no evaluation runs.
void lightTagsClear();
// Scan the light's tag lines from line 1 and store the value of the first line that sets the
// key; out is left unchanged when none does. Integers beyond the 32-bit range saturate, and so do
// reals beyond the double range.
void readTagInt(LWItemID light, const char *prefix, const char *key, int *out);
void readTagReal(LWItemID light, const char *prefix, const char *key, double *out);

// The per-light illumination entry: sampled area shadows for a tagged point or spot light when
// the scene traces shadows, the host's illuminate otherwise (also without the scene information,
// when the module cannot know that shadows are traced). Returns the host's result, or 1 after
// sampling.
int illuminateTagged(LWShaderAccess *sa, LWItemID light, const double position[3], double dir[3], double color[3]);

}  // namespace velmora
