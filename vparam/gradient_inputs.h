// The 36 gradient inputs the module adds to the host's gradient layers, and their shared context.
#pragma once

#include "sdk/sdk.h"

namespace velmora {

class ItemParamCache;

constexpr int kGradientInputCount = 36;
extern const LWTxtrParamDesc gradientInputs[kGradientInputCount + 1];  // ended by an all-zero row

extern LWTxtrContextID gradientContext;  // none until the first successful gradientContextGet

// Per-time data handed to the host by gradientTime and back with every value request.
struct GradientTimeData {
    LWTime time;
    LWFrame frame;
    ItemParamCache *cache;  // private snapshot at `time`, or null
};

LWTxtrContextID gradientContextGet();  // creates the context on first need; null without textures
void gradientContextDestroy();         // at module unload

double gradientEvaluate(LWTxtrParamDesc *desc, int paramNb, LWMicropol *mp, gParamData data);
gParamData gradientTime(void *userData, LWTxtrParamDesc *desc, int paramNb, LWTime time, LWFrame frame);
void gradientCleanup(LWTxtrParamDesc *desc, int paramNb, gParamData data);

}  // namespace velmora
