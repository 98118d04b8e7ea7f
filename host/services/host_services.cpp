// SPDX-License-Identifier: Apache-2.0
#include "host/services/host_services.h"

#include "host/animation/envelopes.h"
#include "host/panel/panel_model.h"
#include "host/services/global_lookup.h"
#include "host/services/scene_services.h"
#include "host/texture/texture_system.h"
#include "host/vparm/vparm_service.h"

namespace host::services {

namespace {

// Texture image layers read scene images (and images loaded through the image list) by id.
class SceneImageSource : public texture::ImageSource {
public:
    bool colorAt(LWImageID id, double u, double v, double rgb[3]) const override {
        const image::Image *image = imageFromID(id);
        if (!image) return false;
        image->sample(u, v, true, rgb);
        return true;
    }
};

const SceneImageSource sceneImages;

void *table(const void *t) { return const_cast<void *>(t); }

}  // namespace

void publishHostServices(const scene::Scene &scene) {
    registerSceneServices(scene);
    registerService(LWENVELOPEFUNCS_GLOBAL, table(animation::envelopeFuncs()));
    registerService(LWCHANNELINFO_GLOBAL, table(animation::channelInfo()));
    registerService(LWTEXTUREFUNCS_GLOBAL, table(texture::textureFuncs()));
    registerService(LWVPARMFUNCS_GLOBAL, table(vparm::vparmFuncs()));
    registerService(LWXPANELFUNCS_GLOBAL, table(panel::xpanelFuncs()));
    texture::setImageSource(&sceneImages);
}

void withdrawHostServices() {
    for (const char *name : {LWENVELOPEFUNCS_GLOBAL, LWCHANNELINFO_GLOBAL, LWTEXTUREFUNCS_GLOBAL,
                             LWVPARMFUNCS_GLOBAL, LWXPANELFUNCS_GLOBAL})
        registerService(name, nullptr);
    texture::setImageSource(nullptr);
    withdrawSceneServices();
}

}  // namespace host::services
