// SPDX-License-Identifier: Apache-2.0
// Evaluation of layered textures: procedural noise, image and gradient layers, and their
// composition.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/texture/texture_pvt.h"

namespace host::texture {

namespace {

uint32_t hash3(int x, int y, int z) {
    uint32_t h = static_cast<uint32_t>(x) * 0x8da6b343u ^ static_cast<uint32_t>(y) * 0xd8163841u ^
                 static_cast<uint32_t>(z) * 0xcb1ab31fu;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return h;
}

double lattice(int x, int y, int z) { return (hash3(x, y, z) & 0xffffff) / double(0xffffff); }

double smooth(double t) { return t * t * (3 - 2 * t); }

// Value noise in [0, 1], trilinear between lattice values with smoothstep weights.
double valueNoise(const double p[3]) {
    double f[3], w[3];
    int i[3];
    for (int a = 0; a < 3; ++a) {
        double fl = std::floor(p[a]);
        // Far-off or non-finite positions fold onto the lattice instead of overflowing the int.
        if (!std::isfinite(fl) || std::fabs(fl) > 1e9) fl = std::isfinite(fl) ? std::fmod(fl, 1e9) : 0;
        i[a] = static_cast<int>(fl);
        f[a] = std::isfinite(p[a]) ? p[a] - std::floor(p[a]) : 0;
        if (!(f[a] >= 0 && f[a] < 1)) f[a] = 0;
        w[a] = smooth(f[a]);
    }
    double sum = 0;
    for (int c = 0; c < 8; ++c) {
        int dx = c & 1, dy = (c >> 1) & 1, dz = (c >> 2) & 1;
        double wt = (dx ? w[0] : 1 - w[0]) * (dy ? w[1] : 1 - w[1]) * (dz ? w[2] : 1 - w[2]);
        sum += wt * lattice(i[0] + dx, i[1] + dy, i[2] + dz);
    }
    return sum;
}

double fractalNoise(const double q[3], int octaves) {
    double sum = 0, amp = 1, norm = 0, p[3] = {q[0], q[1], q[2]};
    for (int o = 0; o < octaves; ++o) {
        sum += amp * valueNoise(p);
        norm += amp;
        amp *= 0.5;
        for (double &c : p) c *= 2;
    }
    return norm > 0 ? sum / norm : 0;
}

// The spot's position in the layer's own frame: (p - center) / size per axis.
void layerPosition(const LayerSettings &s, const LWMicropol &mp, double q[3]) {
    const double *p = s.worldCoords ? mp.wPos : mp.oPos;
    for (int a = 0; a < 3; ++a) q[a] = s.size[a] != 0 ? (p[a] - s.center[a]) / s.size[a] : 0;
}

double wrap01(double x) {
    if (!std::isfinite(x)) return 0;
    double w = x - std::floor(x);
    return w >= 1 ? 0 : w;
}

// Image coordinates: planar maps the two other axes (u right, v down); spherical measures the
// longitude about the pole axis and the angle from the pole.
void imageUV(const LayerSettings &s, const double q[3], double &u, double &v) {
    int a = s.axis < 0 || s.axis > 2 ? 2 : s.axis;
    int ua = a == 0 ? 2 : 0, va = a == 1 ? 2 : 1;
    if (s.projection == Projection::Planar) {
        u = wrap01(0.5 + q[ua]);
        v = wrap01(0.5 - q[va]);
        return;
    }
    double len = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2]);
    if (!(len > 0)) {
        u = v = 0.5;
        return;
    }
    u = wrap01(std::atan2(q[va], q[ua]) / (2 * kPi) + 0.5);
    v = std::acos(std::clamp(q[a] / len, -1.0, 1.0)) / kPi;
    if (!(v < 1)) v = std::nextafter(1.0, 0.0);
}

double hostInputValue(int input, const LWMicropol &mp, double previous) {
    switch (input) {
        case 0:
            return previous;
        case 1:
        case 2:
        case 3:
            return mp.oPos[input - 1];
        case 4:
        case 5:
        case 6:
            return mp.wPos[input - 4];
        case 7:
            return std::sqrt(mp.oPos[0] * mp.oPos[0] + mp.oPos[1] * mp.oPos[1] + mp.oPos[2] * mp.oPos[2]);
        case 8: {
            double n =
                std::sqrt(mp.wNorm[0] * mp.wNorm[0] + mp.wNorm[1] * mp.wNorm[1] + mp.wNorm[2] * mp.wNorm[2]);
            return n > 0 ? std::acos(std::clamp(std::fabs(mp.wNorm[1]) / n, 0.0, 1.0)) : 0;
        }
        case 9:
            return std::acos(std::clamp(mp.cosine, -1.0, 1.0));
        default:
            return 0;
    }
}

// Key interpolation: linear between neighbouring keys, constant beyond the ends.
void gradientAt(const std::vector<GradientKey> &keys, double x, double out[3], double &alpha) {
    if (!(x > keys.front().position)) {
        std::copy(keys.front().value, keys.front().value + 3, out);
        alpha = keys.front().alpha;
        return;
    }
    if (x >= keys.back().position) {
        std::copy(keys.back().value, keys.back().value + 3, out);
        alpha = keys.back().alpha;
        return;
    }
    size_t i = 1;
    while (keys[i].position <= x) ++i;
    const GradientKey &a = keys[i - 1], &b = keys[i];
    double span = b.position - a.position;
    double s = span > 0 ? (x - a.position) / span : 1;
    for (int c = 0; c < 3; ++c) out[c] = a.value[c] + s * (b.value[c] - a.value[c]);
    alpha = a.alpha + s * (b.alpha - a.alpha);
}

}  // namespace

gParamData timeDataFor(const Texture &t, int nb) {
    for (const auto &[n, data] : t.timeData)
        if (n == nb) return data;
    return nullptr;
}

// One layer's value and alpha at a spot; `below` is the value under the layer.
bool layerValue(const Texture &t, const Layer &l, const LWMicropol &mp, int comps, const double below[3],
                const ImageSource *images, double out[3], double &alpha) {
    double q[3];
    switch (l.type) {
        case TLT_IMAGE: {
            if (!l.image || !images) return false;
            layerPosition(l.s, mp, q);
            double u, v, rgb[3] = {0, 0, 0};
            imageUV(l.s, q, u, v);
            if (!images->colorAt(l.image, u, v, rgb)) return false;
            if (comps == 3)
                std::copy(rgb, rgb + 3, out);
            else
                out[0] = (rgb[0] + rgb[1] + rgb[2]) / 3;
            alpha = 1;
            return true;
        }
        case TLT_PROC: {
            layerPosition(l.s, mp, q);
            alpha = fractalNoise(q, std::clamp(l.s.octaves, 1, kMaxOctaves));
            if (comps == 3)
                std::copy(l.s.color, l.s.color + 3, out);
            else
                out[0] = l.s.value;
            return true;
        }
        case TLT_GRAD: {
            if (l.s.keys.empty()) return false;
            double x;
            if (l.pluginInput > 0) {
                const Context *c = t.context.get();
                if (!c || !c->alive || !c->funcs.paramEvaluate) return false;
                const InputDesc &in = c->inputs[static_cast<size_t>(l.pluginInput - 1)];
                LWTxtrParamDesc d = in.desc;
                d.itemID = l.s.pickedItem;
                LWMicropol spot = mp;
                x = c->funcs.paramEvaluate(&d, l.pluginInput, &spot, timeDataFor(t, l.pluginInput));
            } else if (l.hostInput >= 0) {
                double prev = comps == 3 ? (below[0] + below[1] + below[2]) / 3 : below[0];
                x = hostInputValue(l.hostInput, mp, prev);
            } else {
                return false;
            }
            double v[3];
            gradientAt(l.s.keys, x, v, alpha);
            std::copy(v, v + comps, out);
            return true;
        }
        default:
            return false;
    }
}

double evaluateLocked(const Texture &t, const LWMicropol &mp, double *value, const ImageSource *images) {
    int comps = t.returnType == TRT_COLOR || t.returnType == TRT_VECTOR ? 3 : 1;
    double acc[3] = {0, 0, 0}, coverage = 0;
    std::copy(value, value + comps, acc);
    for (auto it = t.layers.rbegin(); it != t.layers.rend(); ++it) {
        const Layer &l = **it;
        double v[3] = {0, 0, 0}, alpha = 0;
        if (!layerValue(t, l, mp, comps, acc, images, v, alpha)) continue;
        double a = std::clamp(alpha, 0.0, 1.0) * l.opacityNow;
        for (int c = 0; c < comps; ++c) {
            switch (l.s.blend) {
                case Blend::Additive:
                    acc[c] += v[c] * a;
                    break;
                case Blend::Subtractive:
                    acc[c] -= v[c] * a;
                    break;
                case Blend::Multiply:
                    acc[c] = acc[c] * (1 - a) + acc[c] * v[c] * a;
                    break;
                default:
                    acc[c] = acc[c] * (1 - a) + v[c] * a;
                    break;
            }
        }
        coverage = a + coverage * (1 - a);
    }
    std::copy(acc, acc + comps, value);
    return coverage;
}

}  // namespace host::texture
