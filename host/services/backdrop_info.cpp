// SPDX-License-Identifier: Apache-2.0
// "LW Backdrop Info 2": the colour a ray that hits nothing sees (solid, four-colour gradient or
// spherical image), the backdrop's kind and its gradient colours.
#include <algorithm>
#include <cmath>

#include "host/services/scene_services.h"
#include "host/services/scene_state.h"

namespace host::services {

namespace {

constexpr double kPi = 3.141592653589793;

void put(LWDVector out, const scene::Vec3 &v) {
    if (!out) return;
    out[0] = v[0];
    out[1] = v[1];
    out[2] = v[2];
}

void backdropColor(LWTime, const double ray[3], LWDVector color) {
    const SceneState *s = current();
    if (!color) return;
    if (!s || !ray) return put(color, {0, 0, 0});
    backdropAlong(*s->scene, ray, color);
}

void backdropColors(LWTime, LWDVector zenith, LWDVector sky, LWDVector ground, LWDVector nadir) {
    const SceneState *s = current();
    if (!s) {
        for (double *c : {zenith, sky, ground, nadir}) put(c, {0, 0, 0});
        return;
    }
    const scene::Backdrop &b = s->scene->backdrop;
    if (b.kind == scene::BackdropKind::Gradient) {
        put(zenith, b.zenith);
        put(sky, b.sky);
        put(ground, b.ground);
        put(nadir, b.nadir);
        return;
    }
    for (double *c : {zenith, sky, ground, nadir}) put(c, b.color);
}

// `type` is a field: registration fills it from the scene.
LWBackdropInfo gBackdropInfo = {
    backdropColor,   // backdrop
    LWBACK_SOLID,    // type
    backdropColors,  // color
};

}  // namespace

void backdropAlong(const scene::Scene &scene, const double dir[3], double out[3]) {
    const scene::Backdrop &b = scene.backdrop;
    scene::Vec3 d{dir[0], dir[1], dir[2]};
    double len = d.length();
    d = len > 0 && std::isfinite(len) ? d / len : scene::Vec3(0, 0, 0);
    if (b.kind == scene::BackdropKind::Image && b.image >= 0 &&
        static_cast<size_t>(b.image) < scene.images.size()) {
        // Spherical mapping: heading and pitch of the direction, the seam turning u.
        double heading = (d[0] == 0 && d[2] == 0) ? 0.0 : -std::atan2(d[0], d[2]);
        double pitch = std::atan2(d[1], std::sqrt(d[0] * d[0] + d[2] * d[2]));
        double u = 1.0 - (heading + b.seamAngle) / (2 * kPi);
        u -= std::floor(u);
        double v = std::min(1.0, std::max(0.0, 0.5 - pitch / kPi));
        scene.images[static_cast<size_t>(b.image)]->sample(u, v, true, out);
        return;
    }
    if (b.kind != scene::BackdropKind::Gradient) {
        for (int c = 0; c < 3; ++c) out[c] = b.color[c];
        return;
    }
    // Elevation -1 (nadir) .. 1 (zenith); each half blends from the horizon colour outwards.
    double a = std::asin(std::min(1.0, std::max(-1.0, d[1]))) / (kPi / 2);
    if (a >= 0) {
        double t = 1 - std::pow(1 - a, b.skySqueeze);
        for (int c = 0; c < 3; ++c) out[c] = b.sky[c] + (b.zenith[c] - b.sky[c]) * t;
    } else {
        double t = 1 - std::pow(1 + a, b.groundSqueeze);
        for (int c = 0; c < 3; ++c) out[c] = b.ground[c] + (b.nadir[c] - b.ground[c]) * t;
    }
}

void setBackdropType(const scene::Scene &scene) {
    gBackdropInfo.type = scene.backdrop.kind == scene::BackdropKind::Gradient ? LWBACK_GRADIENT
                         : scene.backdrop.kind == scene::BackdropKind::Image  ? LWBACK_IMAGE
                                                                              : LWBACK_SOLID;
}

const LWBackdropInfo *backdropInfoTable() { return &gBackdropInfo; }

}  // namespace host::services
