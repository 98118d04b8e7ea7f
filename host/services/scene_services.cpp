#include "host/services/scene_services.h"

namespace host {

// No scene-backed service is written yet: each registers itself here as it lands.
void publishSceneServices(const Scene &) {}

}  // namespace host
