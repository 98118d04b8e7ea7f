// SPDX-License-Identifier: Apache-2.0
// Ray and light functions the host hands to shaders through LWShaderAccess and LWMicropol.
// They act for the calling render thread; any non-zero direction is accepted and its unit vector
// used, and a zero direction reports no hit.
#pragma once

#include "host_types.h"

struct LWShaderAccess;

// Light arriving at a position from a light (or LWITEM_RADIOSITY / LWITEM_CAUSTICS), with shadows.
// Returns non-zero when lit; dir is the direction from the light to the position.
typedef int LWIlluminateFunc(LWItemID light, const LWDVector position, LWDVector dir, LWDVector color);
// Traces and shades a ray; returns the hit distance (negative when nothing is hit) and its colour.
typedef double LWRayTraceFunc(const LWDVector position, const LWDVector direction, LWDVector color);
// Distance to the first surface along a ray, negative when nothing is hit.
typedef double LWRayCastFunc(const LWDVector position, const LWDVector direction);
// Fills an access record for the first hit without shading it; returns the distance or negative.
typedef double LWRayShadeFunc(const LWDVector position, const LWDVector direction, LWShaderAccess *sa);
