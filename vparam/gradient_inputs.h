// SPDX-License-Identifier: Apache-2.0
// The 36 gradient inputs the module adds to the host's gradient layers, and their shared context.
//
// Values are computed from the library service set (item, light and object information) and the
// spot record; item positions and axes come from the per-time private snapshot that gradientTime
// takes, never from the host per spot.
#pragma once

#include "sdk/sdk.h"

namespace velmora {

class ItemParamCache;

constexpr int kGradientInputCount = 36;
// Input descriptors in the order the host numbers them (from 1), ended by an all-zero row.
extern const LWTxtrParamDesc gradientInputs[kGradientInputCount + 1];

extern LWTxtrContextID gradientContext;  // none until the first successful gradientContextGet

// Per-time data handed to the host by gradientTime and back with every value request; owned by
// the host until gradientCleanup.
struct GradientTimeData {
    LWTime time;
    LWFrame frame;
    ItemParamCache *cache;  // private snapshot at `time`, or null when it could not be created
};

// The shared context, created with the 36 inputs on first need; null without the host's texture
// service (a later call tries again). Main thread.
LWTxtrContextID gradientContextGet();
// Destroys the context through a fresh look-up of the texture service. Run by static tear-down at
// module unload; safe to call again.
void gradientContextDestroy();

// Host callbacks of the context. gradientEvaluate runs on render threads and allocates nothing;
// it gives 1.0 for an input number outside 1 to 36, and 0 for an input whose service, spot
// function or picked item is missing (inputs 23 to 26 also need the light information).
double gradientEvaluate(LWTxtrParamDesc *desc, int paramNb, LWMicropol *mp, gParamData data);
// A new GradientTimeData with its snapshot, or null when desc is null or memory is exhausted.
gParamData gradientTime(void *userData, LWTxtrParamDesc *desc, int paramNb, LWTime time, LWFrame frame);
void gradientCleanup(LWTxtrParamDesc *desc, int paramNb, gParamData data);

}  // namespace velmora
