// SPDX-License-Identifier: Apache-2.0
#include "base/server_name.h"

namespace velmora {

const char kServerName[] = "QZ_velmora";

}  // namespace velmora
