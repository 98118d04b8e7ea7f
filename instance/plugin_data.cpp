// Placeholder: does nothing until this subsystem lands.
#include "instance/plugin_data.h"

namespace velmora {

void pluginDataSave(const LWSaveState *, const PluginDataEntry *) {}
void pluginDataLoad(const LWLoadState *, const PluginDataEntry *) {}

}  // namespace velmora
