// Placeholder: does nothing until this subsystem lands.
#include "vparam/gradient_inputs.h"

namespace velmora {

const LWTxtrParamDesc gradientInputs[kGradientInputCount + 1] = {};
LWTxtrContextID gradientContext = nullptr;

LWTxtrContextID gradientContextGet() { return nullptr; }
void gradientContextDestroy() {}
double gradientEvaluate(LWTxtrParamDesc *, int, LWMicropol *, gParamData) { return 1.0; }
gParamData gradientTime(void *, LWTxtrParamDesc *, int, LWTime, LWFrame) { return nullptr; }
void gradientCleanup(LWTxtrParamDesc *, int, gParamData) {}

}  // namespace velmora
