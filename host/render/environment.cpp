// SPDX-License-Identifier: Apache-2.0
// What rays that leave the scene see: the backdrop, and reflection and refraction per a surface's
// environment options.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/render/shading_pvt.h"
#include "host/services/scene_services.h"

namespace host::render {

// Spherical mapping shared by backdrop and environment images: heading and pitch of the
// direction give u (with the seam) and v.
void sphericalColor(const image::Image &img, const double d[3], double seam, double out[3]) {
    double x = d[0], y = d[1], z = d[2];
    double heading = (x == 0 && z == 0) ? 0.0 : -std::atan2(x, z);
    double pitch = std::atan2(y, std::sqrt(x * x + z * z));
    double u = frac(1.0 - (heading + seam) / (2 * kPi));
    double v = std::min(1.0, std::max(0.0, 0.5 - pitch / kPi));
    img.sample(u, v, true, out);
}

// The colour along a reflected or refracted ray per a surface's environment options.
// `weight` is the traced ray's weight in the pixel: below the cutoff the ray falls back as one
// beyond the recursion limit does.
void environment(ThreadState &ts, const scene::EnvironmentOptions &env, bool traced, const double p[3],
                 const double d[3], int flags, double pathLength, double weight, double out[3]) {
    const RenderContext &rc = *ts.rc;
    out[0] = out[1] = out[2] = 0.0;
    int opt = env.option;
    if (opt == 0) {
        backdropColor(*rc.scene, d, out);
        return;
    }
    double t = -1.0;
    if (opt == 1 || opt == 3) {
        bool heavy = weight >= rc.rayCutoff;
        if (traced && ts.depth < rc.recursionLimit && heavy) {
            double saved = ts.weight;
            ts.weight = weight;
            ++ts.depth;
            t = traceAndShade(ts, p, d, flags, nullptr, pathLength, out);
            --ts.depth;
            ts.weight = saved;
        } else if (opt == 1) {
            if (traced && !heavy) ++ts.cutRays;
            backdropColor(*rc.scene, d, out);
            return;
        }
    }
    if ((opt == 2 || (opt == 3 && t < 0)) && env.image >= 0)
        sphericalColor(*rc.scene->images[env.image], d, env.seamAngle, out);
}

// The colour of a ray that hits nothing: the same answer plug-ins get from the backdrop service.
void backdropColor(const scene::Scene &scene, const double dir[3], double out[3]) {
    services::backdropAlong(scene, dir, out);
}

}  // namespace host::render
