#include "base/server_name.h"

namespace velmora {

const char kServerName[] = "QZ_velmora";

}  // namespace velmora
