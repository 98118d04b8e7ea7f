// SPDX-License-Identifier: Apache-2.0
// The module's server name, which the entry's server table and every instance use.
#pragma once

namespace velmora {

// The server name both servers carry, also the plug-in and channel-group name of every instance.
extern const char kServerName[];  // "QZ_velmora"

}  // namespace velmora
