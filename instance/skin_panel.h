// The options panel of a SkinInstance: control, data-description and hint tables, and the get and
// set callbacks that map control identifiers to the instance's fields.
#pragma once

#include "sdk/sdk.h"

namespace velmora {

struct SkinInstance;

extern LWXPanelControl panelControls[];
extern LWXPanelDataDesc panelDataDescs[];
extern LWXPanelHint panelHints[];

LWXPanelID panelCreate(SkinInstance *inst);  // null when the host gives no panel
void *panelGet(void *inst, unsigned int id);
int panelSet(void *inst, unsigned int id, void *value);

}  // namespace velmora
