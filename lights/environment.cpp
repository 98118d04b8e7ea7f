// SPDX-License-Identifier: Apache-2.0
#include "lights/environment.h"

#include <cmath>
#include <initializer_list>

#include "base/host_globals.h"
#include "lights/light_model.h"

namespace velmora {

namespace {

constexpr double kHalfPi = 1.5707963267948966;
constexpr double kPi = 3.141592653589793;
constexpr double kInvTwoPi = 0.15915494309189535;
constexpr double kInvPi = 0.3183098861837907;

// The surface channels and the scene's ray-trace switch of one look-up mode.
struct EnvChannels {
    const char *options;
    const char *image;
    const char *seam;
    int traceBit;
};

const EnvChannels kReflection = {"ReflectionOptions", "ReflectionImage", "ReflectionSeamAngle",
                                 LWROPT_REFLECTTRACE};
const EnvChannels kRefraction = {"RefractionOptions", "RefractionImage", "RefractionSeamAngle",
                                 LWROPT_REFRACTTRACE};

// True when the four services both operations need are there, with the slots they call.
bool environmentServicesReady() {
    const ShaderGlobals &g = shaderGlobals;
    return g.surfaceFuncs && g.backdropInfo && g.sceneInfo && g.imageList && g.surfaceFuncs->getInt &&
           g.surfaceFuncs->getFlt && g.surfaceFuncs->getImg;
}

void setBlack(double c[3]) { c[0] = c[1] = c[2] = 0.0; }

// The surface's image for a channel pair when the option uses one, else null.
LWImageID optionImage(LWSurfaceID surface, const EnvChannels &ch) {
    const int option = shaderGlobals.surfaceFuncs->getInt(surface, ch.options);
    if (option != kEnvImage && option != kEnvTraceThenImage) return nullptr;
    return shaderGlobals.surfaceFuncs->getImg(surface, ch.image);
}

// Samples the spherical image along d, turned by the seam angle; K unchanged without an image.
void sampleSphericalImage(LWSurfaceID surface, const EnvChannels &ch, const double d[3], double K[3]) {
    const LWSurfaceFuncs *sf = shaderGlobals.surfaceFuncs;
    const LWImageID image = sf->getImg(surface, ch.image);
    const double *seamValue = sf->getFlt(surface, ch.seam);
    const double seam = seamValue ? *seamValue : 0.0;
    if (!image) return;
    double heading, pitch;
    directionAngles(d, &heading, &pitch);
    const double u = wrapUnit(1.0 - (heading + seam) * kInvTwoPi);
    const double v = wrapUnit(0.5 - pitch * kInvPi);
    imageSpotRGB(image, u, v, K);
}

}  // namespace

void prepareSurfaceEnvImages(LWSurfaceID surface) {
    if (!environmentServicesReady() || !shaderGlobals.imageList->needAA) return;
    for (const EnvChannels *ch : {&kReflection, &kRefraction}) {
        if (const LWImageID image = optionImage(surface, *ch)) shaderGlobals.imageList->needAA(image);
    }
}

void surfaceEnvironment(LWShaderAccess *sa, LWSurfaceID surface, const double position[3], const double d[3],
                        int mode, double color[3]) {
    if (!environmentServicesReady() || (mode != 0 && mode != 1)) {
        setBlack(color);
        return;
    }
    const EnvChannels &ch = mode == 0 ? kReflection : kRefraction;
    const int option = shaderGlobals.surfaceFuncs->getInt(surface, ch.options);
    double K[3] = {0.0, 0.0, 0.0};

    if (option == kEnvBackdrop && shaderGlobals.backdropInfo->backdrop)
        shaderGlobals.backdropInfo->backdrop(renderTime, d, K);

    // Traced look-up; t < 0 means the ray found nothing or tracing is off for the scene.
    double t = 0.0;
    if (option == kEnvRayTrace || option == kEnvTraceThenImage) {
        if ((shaderGlobals.sceneInfo->renderOpts & ch.traceBit) && sa && sa->rayTrace) {
            t = sa->rayTrace(position, d, K);
        } else {
            setBlack(K);
            t = -1.0;
        }
    }

    if (option == kEnvImage || (option == kEnvTraceThenImage && t < 0.0)) sampleSphericalImage(surface, ch, d, K);

    for (int i = 0; i < 3; ++i) color[i] = K[i];
}

void directionAngles(const double d[3], double *heading, double *pitch) {
    const double x = d[0], y = d[1], z = d[2];
    if (x == 0.0 && z == 0.0) {
        *heading = 0.0;
        *pitch = y == 0.0 ? 0.0 : (y < 0.0 ? -kHalfPi : kHalfPi);
        return;
    }
    if (z == 0.0)
        *heading = x < 0.0 ? kHalfPi : -kHalfPi;
    else if (z > 0.0)
        *heading = -std::atan(x / z);
    else
        *heading = kPi - std::atan(x / z);
    *pitch = std::atan(y / std::sqrt(x * x + z * z));
}

double wrapUnit(double t) {
    if (!std::isfinite(t)) return 0.0;  // keeps image look-ups inside the image
    if (t >= 0.0) return t - std::floor(t);
    const double a = -t;
    return 1.0 - (a - std::floor(a));
}

}  // namespace velmora
