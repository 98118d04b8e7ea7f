// SPDX-License-Identifier: Apache-2.0
#include "host/cli/build_info.h"

#include <assimp/version.h>

#include "host/image/image_codecs.h"
#include "host/trace/tracer.h"

namespace host::cli {

std::string programVersion() { return std::string("velmora-render ") + kVersion; }

std::string versionReport() {
    std::string why;
    const image::ImageCodecs *codecs = image::imageCodecs(why);
    return programVersion() + " (commit " + kCommit + ")\nEmbree " + trace::embreeVersion() + ", OpenImageIO " +
           (codecs ? codecs->libraryVersion() : "unavailable: " + why) + ", assimp " +
           std::to_string(aiGetVersionMajor()) + "." + std::to_string(aiGetVersionMinor()) + "." +
           std::to_string(aiGetVersionPatch());
}

}  // namespace host::cli
