// SPDX-License-Identifier: Apache-2.0
// The host's global look-up: one flat function from a service name to its table. The host
// registers each service it offers; a name it does not know gets null, as a real host without
// that service would answer. Registration happens on the main thread before plug-ins are
// activated; look-ups may come from any thread.
#pragma once

#include <string>

namespace host::services {

// Makes `table` the answer for `name` (null removes the service).
void registerService(const std::string &name, void *table);
void clearServices();

// The GlobalFunc handed to plug-ins.
void *globalLookup(const char *serviceName, int useMode);

}  // namespace host::services
