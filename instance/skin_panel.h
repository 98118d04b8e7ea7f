// SPDX-License-Identifier: Apache-2.0
// The options panel of a SkinInstance: control, data-description and hint tables, and the get and
// set callbacks that map control identifiers to the instance's fields.
#pragma once

#include "sdk/sdk.h"

namespace velmora {

struct SkinInstance;

// Constant for the life of the module; the host keeps pointers to them.
extern LWXPanelControl panelControls[];    // 13 controls, ended by an all-zero row
extern LWXPanelDataDesc panelDataDescs[];  // their data names and types, same order
extern LWXPanelHint panelHints[];          // machine words (texts as pointers), ended by 0

// A view panel of the instance, from the service found by the interface activation; null when
// there is no service or the host gives no panel. The panel belongs to the host.
LWXPanelID panelCreate(SkinInstance *inst);
// The current value of a control: the variant parameter's id for 0x8001 to 0x8008, the field's
// address for 0x8009 to 0x800d, null for any other id.
void *panelGet(void *inst, unsigned int id);
// Stores a control's new value; 1 (default refresh) for a handled id, 0 otherwise. A prefix keeps
// at most 16 characters.
int panelSet(void *inst, unsigned int id, void *value);

}  // namespace velmora
