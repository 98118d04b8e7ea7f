// SPDX-License-Identifier: Apache-2.0
// Fuzzes the host scene file reader (.lws) with scene text. Every input must end in one of two
// ways: a refusal that names the file and stays short, or a scene the renderer can take as it is:
// a camera and a surface, every item's world transform finite at the first frame, every parent
// chain within the depth a transform walks and free of loops.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/scene_checks.h"
#include "host/scene/lws_scene.h"

namespace {

constexpr char kLabel[] = "fuzz.lws";

void check(const host::scene::Scene &scene) {
    if (!scene.camera || scene.surfaces.empty()) std::abort();
    if (scene.render.frameEnd < scene.render.frameStart || scene.render.width < 1 || scene.render.height < 1)
        std::abort();
    const double time = scene.frameTime(scene.render.frameStart);
    for (const auto &item : scene.items) {
        int depth = 0;
        for (const host::scene::Item *up = item->parent; up; up = up->parent)
            if (up == item.get() || ++depth > 256) std::abort();
        if (!fuzz::finite(host::scene::worldTransform(*item, time))) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    setenv("VELMORA_MEMORY_LIMIT", "1G", 1);  // the reader refuses what would not fit in this
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    // Relative object files resolve into a folder that does not exist; absolute ones are read.
    host::scene::LoadResult r = host::scene::loadLwsText(text, kLabel, "/nonexistent-velmora-fuzz");
    if (r.scene) {
        check(*r.scene);
    } else if (r.error.compare(0, sizeof kLabel - 1, kLabel) != 0 || r.error.size() > 1024) {
        std::abort();  // a refusal must name the file and quote only a short excerpt
    }
    return 0;
}
