// Placeholder: no panel until the options panel lands.
#include "instance/skin_panel.h"

namespace velmora {

LWXPanelID panelCreate(SkinInstance *) { return nullptr; }
void *panelGet(void *, unsigned int) { return nullptr; }
int panelSet(void *, unsigned int, void *) { return 0; }

}  // namespace velmora
