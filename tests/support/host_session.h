// SPDX-License-Identifier: Apache-2.0
// The module loaded into the stand-in host's real services: variant parameters, envelopes and
// channels, textures, and a small image list standing in for the scene's (the scene-backed image
// list lives with the renderer). Shared by the integration tests and the fuzz targets; no test
// framework here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/state/memory_state.h"
#include "sdk/sdk.h"

namespace velmora {
struct SkinInstance;
class Vparam;
}  // namespace velmora

namespace integ {

// The scene's images. With the host's scene-backed services (the Linux host build) they are the
// real image list over a scene holding one image, "skin_albedo.png", whose file is written to a
// scratch folder; elsewhere (the fuzz build) a named list whose saved data is the name alone.
namespace images {
constexpr const char *kAlbedo = "skin_albedo.png";
LWImageID albedo();  // the scene's image of that name
int count();         // images in the list, the scene's and those loads recreated
const LWImageList *list();
// Takes every image away: a load must then recreate its images from their saved data.
void dropAll();
// Back to the scene's own images, forgetting those that loads recreated.
void reset();
}  // namespace images

// Registers the host's services, forgets whatever the module held and activates the shader
// server through the host's global look-up. The handler record stays valid until stop().
class HostSession {
public:
    HostSession();
    ~HostSession();
    HostSession(const HostSession &) = delete;
    HostSession &operator=(const HostSession &) = delete;

    int activation() const { return activation_; }  // the handler activation's result
    const LWShaderHandler &handler() const { return handler_; }

    velmora::SkinInstance *create(LWSurfaceID surface = nullptr) const;
    void destroy(velmora::SkinInstance *skin) const;
    void save(velmora::SkinInstance *skin, host::state::SaveState &state) const;
    void load(velmora::SkinInstance *skin, host::state::LoadState &state) const;
    void newTime(velmora::SkinInstance *skin, LWFrame frame, LWTime time) const;

    // Drops every variant parameter, texture, envelope, group and image the host holds, and the
    // module's gradient context with them.
    static void clearHost();

private:
    LWInstanceFuncs inst_{};
    LWItemFuncs item_{};
    LWRenderFuncs rend_{};
    LWShaderHandler handler_{};
    int activation_ = -1;
};

// What an instance holds, one entry per row of its saved table in table order: for a variant
// parameter its host data, envelopes, layer envelopes and image references as the module writes
// them (binary), for the rest the stored bytes. Two instances hold the same values when their
// entries are equal.
using Entry = std::vector<uint8_t>;
std::vector<Entry> snapshot(velmora::SkinInstance *skin);
// The saved names of the rows, in table order.
std::vector<std::string> entryNames();

// A customised instance: every parameter away from its default, the red of skin_color
// enveloped with keys, Ksub textured with a "World Y Axis" gradient layer over an image layer
// (images::albedo()) whose opacity is animated, 16-character prefixes, the flag on and
// both distances changed.
void customise(velmora::SkinInstance *skin);

// The bytes of a saved instance.
std::vector<uint8_t> saved(const HostSession &host, velmora::SkinInstance *skin, host::state::Format format);

}  // namespace integ
