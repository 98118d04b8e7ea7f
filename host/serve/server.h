// SPDX-License-Identifier: Apache-2.0
// velmora-render --serve: the look-development page over HTTP (cpp-httplib). Listens on
// `address` (loopback unless told otherwise), prints the page's address with a random token every
// request must carry (http.h, gate.h) on stdout, and serves until SIGINT or SIGTERM, which cancel
// any render and end it cleanly.
#pragma once

#include <functional>
#include <string>

#include "host/scene/scene.h"
#include "host/serve/lookdev.h"

namespace host::serve {

// Status 0 after a clean stop, 2 for bad input (the address or port, a setting the scene's
// shaders refuse), 1 for any other failure, with `message`. `listening`, when given, is told the
// port once it is bound (port 0 binds any free one) and the token.
int serve(scene::Scene &scene, const LookdevConfig &config, const std::string &address, int port,
          std::string &message,
          const std::function<void(int port, const std::string &token)> &listening = nullptr);

}  // namespace host::serve
