// SPDX-License-Identifier: Apache-2.0
#include "host/scene/scene.h"

#include <algorithm>
#include <cmath>

#include <Imath/ImathEuler.h>

#include "host/animation/curves.h"
#include "sdk/item_info.h"
#include "sdk/scene_info.h"

namespace host::scene {

namespace {

using animation::hermite;

double bezier(double p0, double p1, double p2, double p3, double u) {
    double v = 1 - u;
    return v * v * v * p0 + 3 * v * v * u * p1 + 3 * v * u * u * p2 + u * u * u * p3;
}

}  // namespace

double Channel::at(double time) const {
    if (shaped) return shapedAt(time);
    if (keys.empty()) return constant;
    if (time <= keys.front().time) return keys.front().value;
    if (time >= keys.back().time) return keys.back().value;
    // The segment [i, i + 1] holding time.
    size_t i = static_cast<size_t>(
        std::upper_bound(keys.begin(), keys.end(), time, [](double t, const Key &k) { return t < k.time; }) -
        keys.begin() - 1);
    const Key &a = keys[i], &b = keys[i + 1];
    double span = b.time - a.time;
    double s = span > 0 ? (time - a.time) / span : 0.0;
    if (!spline) return a.value + (b.value - a.value) * s;
    // Catmull-Rom tangents over uneven key spacing, flat at the ends.
    auto tangent = [&](size_t k) {
        if (k == 0 || k + 1 >= keys.size()) return 0.0;
        double dt = keys[k + 1].time - keys[k - 1].time;
        return dt > 0 ? (keys[k + 1].value - keys[k - 1].value) / dt * span : 0.0;
    };
    return hermite(a.value, tangent(i), b.value, tangent(i + 1), s);
}

// Kochanek-Bartels tangents as the envelope service draws them (host/animation/curves.h).
// Hermite and 1-D Bézier keys carry their tangents; a 2-D Bézier key offers its handle's slope.
double Channel::outgoing(size_t i) const {
    const Key &k = keys[i], &n = keys[i + 1];
    double span = n.time - k.time;
    if (k.shape == KeyShape::Hermite || k.shape == KeyShape::Bezier) return k.outTangent;
    if (k.shape == KeyShape::Bezier2D && k.outDt > 0) return k.outDv / k.outDt * span;
    animation::CurvePoint before{0, 0};
    if (i > 0) before = {keys[i - 1].time, keys[i - 1].value};
    return animation::kbOutgoing(i > 0 ? &before : nullptr, {k.time, k.value}, {n.time, n.value},
                                 {k.tension, k.continuity, k.bias});
}

double Channel::incoming(size_t i) const {
    const Key &k = keys[i], &p = keys[i - 1];
    double span = k.time - p.time;
    if (k.shape == KeyShape::Hermite || k.shape == KeyShape::Bezier) return k.inTangent;
    if (k.shape == KeyShape::Bezier2D && k.inDt < 0) return k.inDv / k.inDt * span;
    bool last = i + 1 == keys.size();
    animation::CurvePoint after{0, 0};
    if (!last) after = {keys[i + 1].time, keys[i + 1].value};
    return animation::kbIncoming({p.time, p.value}, {k.time, k.value}, last ? nullptr : &after,
                                 {k.tension, k.continuity, k.bias});
}

// The span from keys[end - 1] to keys[end] at a time inside it.
double Channel::spanAt(size_t end, double time) const {
    const Key &a = keys[end - 1], &b = keys[end];
    double span = b.time - a.time;
    double s = (time - a.time) / span;
    switch (b.shape) {
        case KeyShape::Stepped:
            return a.value;
        case KeyShape::Linear:
            return a.value + (b.value - a.value) * s;
        case KeyShape::Bezier2D: {
            if (s <= 0) return a.value;
            // The curve through (time, value) control points: the leaving handle (made from the
            // key's tangent when the key has none) and the entering one, times kept in the span.
            double x1 = a.time + span / 3, y1 = a.value + outgoing(end - 1) / 3;
            if (a.shape == KeyShape::Bezier2D) {
                x1 = a.time + a.outDt;
                y1 = a.value + a.outDv;
            }
            double x2 = b.time + b.inDt, y2 = b.value + b.inDv;
            x1 = std::min(std::max(x1, a.time), b.time);
            x2 = std::min(std::max(x2, a.time), b.time);
            // The curve parameter whose time is `time`, by bisection: a fixed number of halvings.
            double lo = 0, hi = 1;
            for (int k = 0; k < 60; ++k) {
                double mid = (lo + hi) / 2;
                if (bezier(a.time, x1, x2, b.time, mid) < time)
                    lo = mid;
                else
                    hi = mid;
            }
            return bezier(a.value, y1, y2, b.value, (lo + hi) / 2);
        }
        default:
            return hermite(a.value, outgoing(end - 1), b.value, incoming(end), s);
    }
}

double Channel::endSlope(bool last) const {
    size_t end = last ? keys.size() - 1 : 1;
    const Key &a = keys[end - 1], &b = keys[end];
    double span = b.time - a.time;
    switch (b.shape) {
        case KeyShape::Stepped:
            return 0.0;
        case KeyShape::Linear:
            return (b.value - a.value) / span;
        default:
            return (last ? incoming(end) : outgoing(0)) / span;
    }
}

double Channel::shapedAt(double time) const {
    if (keys.empty()) return constant;
    const Key &first = keys.front(), &last = keys.back();
    if (keys.size() == 1 || !(time == time)) return first.value;
    double offset = 0.0;
    if (time < first.time || time > last.time) {
        bool before = time < first.time;
        const Key &end = before ? first : last;
        switch (before ? pre : post) {
            case Behavior::Reset:
                return 0.0;
            case Behavior::Constant:
                return end.value;
            case Behavior::Linear:
                return end.value + endSlope(!before) * (time - end.time);
            case Behavior::Repeat:
            case Behavior::Oscillate:
            case Behavior::OffsetRepeat: {
                // Whole runs of the keys between here and the first key, and the time within the run.
                double range = last.time - first.time;
                double runs = std::floor((time - first.time) / range);
                double t = time - runs * range;
                if (!std::isfinite(t)) return end.value;
                t = std::min(std::max(t, first.time), last.time);
                Behavior b = before ? pre : post;
                if (b == Behavior::Oscillate && std::fmod(runs, 2.0) != 0.0) t = first.time + last.time - t;
                if (b == Behavior::OffsetRepeat) offset = runs * (last.value - first.value);
                time = t;
                break;
            }
        }
    }
    if (time <= first.time) return offset + first.value;
    if (time >= last.time) return offset + last.value;
    size_t end = static_cast<size_t>(
        std::upper_bound(keys.begin(), keys.end(), time, [](double t, const Key &k) { return t < k.time; }) -
        keys.begin());
    return offset + spanAt(end, time);
}

Affine rotation(const Vec3 &hpb) {
    // Bank about Z, then pitch about X, then heading about Y, each turning about the fixed axes.
    return Imath::Eulerd(Vec3(hpb[2], hpb[1], hpb[0]), Imath::Eulerd::ZXY, Imath::Eulerd::IJKLayout).toMatrix44();
}

Affine localTransform(const Item &item, double time) {
    const Motion &mo = item.motion;
    // p -> p - pivot -> pivot rotation undone -> scaled -> rotated -> moved.
    Affine toPivot;
    toPivot.setTranslation(-mo.pivot);
    Affine scaleRotate = rotation(mo.rotation.at(time));
    scaleRotate.scale(mo.scale.at(time));
    Vec3 position = mo.position.at(time);
    for (int c = 0; c < 3; ++c) scaleRotate[3][c] = position[c];  // setTranslation would drop the rest
    return toPivot * rotation(mo.pivotRotation).transposed() * scaleRotate;
}

Affine worldTransform(const Item &item, double time) {
    Affine w = localTransform(item, time);
    int depth = 0;
    for (const Item *p = item.parent; p && depth < 256; p = p->parent, ++depth) w = w * localTransform(*p, time);
    return w;
}

Vec3 itemParam(const Item &item, int param, double time) {
    const Motion &mo = item.motion;
    switch (param) {
        case LWIP_POSITION:
            return mo.position.at(time);
        case LWIP_ROTATION:
            return mo.rotation.at(time);
        case LWIP_SCALING:
            return mo.scale.at(time);
        case LWIP_PIVOT:
            return mo.pivot;
        case LWIP_PIVOT_ROT:
            return mo.pivotRotation;
        case LWIP_RIGHT:
        case LWIP_UP:
        case LWIP_FORWARD: {
            int row = param - LWIP_RIGHT;
            Affine r = rotation(mo.rotation.at(time));
            return {r[row][0], r[row][1], r[row][2]};
        }
        case LWIP_W_POSITION: {
            Vec3 p = mo.position.at(time);
            return item.parent ? p * worldTransform(*item.parent, time) : p;
        }
        case LWIP_W_RIGHT:
        case LWIP_W_UP:
        case LWIP_W_FORWARD: {
            int row = param - LWIP_W_RIGHT;
            Affine r = rotation(mo.rotation.at(time));
            Vec3 axis{r[row][0], r[row][1], r[row][2]};
            if (!item.parent) return axis;
            Vec3 w{0, 0, 0};
            worldTransform(*item.parent, time).multDirMatrix(axis, w);
            return w.normalized();
        }
        default:
            return {0, 0, 0};
    }
}

namespace {

// Newell's normal of a polygon: twice its area along its facing direction.
Vec3 newellNormal(const MeshLayer &layer, const MeshPolygon &poly) {
    Vec3 n{0, 0, 0};
    size_t count = poly.points.size();
    for (size_t k = 0; k < count; ++k) {
        const float *a = layer.points[static_cast<size_t>(poly.points[k])].pos;
        const float *b = layer.points[static_cast<size_t>(poly.points[(k + 1) % count])].pos;
        n.x += (double(a[1]) - b[1]) * (double(a[2]) + b[2]);
        n.y += (double(a[2]) - b[2]) * (double(a[0]) + b[0]);
        n.z += (double(a[0]) - b[0]) * (double(a[1]) + b[1]);
    }
    return n;
}

}  // namespace

void finishLayer(MeshLayer &layer) {
    for (MeshPoint &p : layer.points) p.normal[0] = p.normal[1] = p.normal[2] = 0.0f;
    layer.triangles.clear();
    layer.triPolygon.clear();
    std::vector<Vec3> sums(layer.points.size(), Vec3(0, 0, 0));
    for (size_t pi = 0; pi < layer.polygons.size(); ++pi) {
        MeshPolygon &poly = layer.polygons[pi];
        Vec3 n = newellNormal(layer, poly);
        double len = n.length();
        for (int c = 0; c < 3; ++c) poly.normal[c] = len > 0 ? static_cast<float>(n[c] / len) : 0.0f;
        for (int idx : poly.points) sums[static_cast<size_t>(idx)] += n;
        size_t count = poly.points.size();
        for (size_t k = 1; k + 1 < count; ++k) {
            layer.triangles.push_back(poly.points[0]);
            layer.triangles.push_back(poly.points[k]);
            layer.triangles.push_back(poly.points[k + 1]);
            layer.triPolygon.push_back(static_cast<int>(pi));
        }
    }
    for (size_t i = 0; i < layer.points.size(); ++i) {
        Vec3 n = sums[i].normalized();
        for (int c = 0; c < 3; ++c) layer.points[i].normal[c] = static_cast<float>(n[c]);
    }
}

namespace {

// The angle within which a polygon on surface `s` smooths (kNoSmoothingLimit: any angle, or none).
double smoothingLimit(const std::vector<std::unique_ptr<Surface>> &surfaces, int s) {
    if (s < 0 || static_cast<size_t>(s) >= surfaces.size()) return kNoSmoothingLimit;
    const Surface &surf = *surfaces[static_cast<size_t>(s)];
    return surf.smoothing ? surf.smoothingAngle : kNoSmoothingLimit;
}

bool smoothsWithinAngle(const MeshLayer &layer, const std::vector<std::unique_ptr<Surface>> &surfaces) {
    for (const MeshPolygon &p : layer.polygons)
        if (smoothingLimit(surfaces, p.surface) < kNoSmoothingLimit) return true;
    return false;
}

}  // namespace

uint64_t cornerNormalBytes(const MeshLayer &layer, const std::vector<std::unique_ptr<Surface>> &surfaces) {
    return smoothsWithinAngle(layer, surfaces) ? layer.triPolygon.size() * 36 + layer.points.size() * 8 : 0;
}

uint64_t smoothCorners(MeshLayer &layer, const std::vector<std::unique_ptr<Surface>> &surfaces) {
    layer.cornerNormals = std::vector<float>();
    auto limit = [&](int s) { return smoothingLimit(surfaces, s); };
    if (!smoothsWithinAngle(layer, surfaces)) return 0;
    // The polygons at each point, and each polygon's area-weighted normal (as finishLayer sums them).
    size_t n = layer.points.size();
    std::vector<int> first(n + 1, 0), around;
    for (const MeshPolygon &p : layer.polygons)
        for (int k : p.points) ++first[static_cast<size_t>(k) + 1];
    for (size_t i = 0; i < n; ++i) first[i + 1] += first[i];
    around.resize(static_cast<size_t>(first[n]));
    {
        std::vector<int> next(first.begin(), first.end() - 1);
        for (size_t pi = 0; pi < layer.polygons.size(); ++pi)
            for (int k : layer.polygons[pi].points)
                around[static_cast<size_t>(next[static_cast<size_t>(k)]++)] = static_cast<int>(pi);
    }
    std::vector<Vec3> area;
    area.reserve(layer.polygons.size());
    for (const MeshPolygon &poly : layer.polygons) area.push_back(newellNormal(layer, poly));
    layer.cornerNormals.resize(layer.triangles.size() * 3);
    for (size_t t = 0; t < layer.triPolygon.size(); ++t) {
        size_t pi = static_cast<size_t>(layer.triPolygon[t]);
        const MeshPolygon &poly = layer.polygons[pi];
        double angle = limit(poly.surface);
        double least = std::cos(angle) - 1e-6;  // polygons at exactly the angle share
        for (int k = 0; k < 3; ++k) {
            size_t v = static_cast<size_t>(layer.triangles[t * 3 + static_cast<size_t>(k)]);
            float *out = &layer.cornerNormals[t * 9 + static_cast<size_t>(k) * 3];
            if (angle >= kNoSmoothingLimit) {
                for (int c = 0; c < 3; ++c) out[c] = layer.points[v].normal[c];
                continue;
            }
            Vec3 sum{0, 0, 0};
            for (int at = first[v]; at < first[v + 1]; ++at) {
                const MeshPolygon &q = layer.polygons[static_cast<size_t>(around[static_cast<size_t>(at)])];
                if (q.surface != poly.surface) continue;
                double cosine = double(q.normal[0]) * poly.normal[0] + double(q.normal[1]) * poly.normal[1] +
                                double(q.normal[2]) * poly.normal[2];
                if (&q != &poly && cosine < least) continue;
                sum += area[static_cast<size_t>(around[static_cast<size_t>(at)])];
            }
            Vec3 u = sum.normalized();
            for (int c = 0; c < 3; ++c) out[c] = static_cast<float>(u[c]);
        }
    }
    return layer.cornerNormals.size() * sizeof(float);
}

const char *const kSurfaceChannelNames[kSurfaceChannels] = {
    "color", "luminosity", "diffuse", "specular", "reflection", "transparency", "translucency"};

std::vector<double> Surface::channel(const std::string &ch) const {
    if (ch == "BaseColor" || ch == "Color") return {color[0], color[1], color[2]};
    if (ch == "Luminosity") return {luminosity};
    if (ch == "Diffuse") return {diffuse};
    if (ch == "Specularity") return {specular};
    if (ch == "Glossiness") return {glossiness};
    if (ch == "Reflectivity") return {mirror};
    if (ch == "Transparency") return {transparency};
    if (ch == "RefractionIndex") return {eta};
    if (ch == "Translucency") return {translucency};
    if (ch == "ColorHighlights") return {colorHighlights};
    if (ch == "ColorFilter") return {colorFilter};
    if (ch == "ReflectionSeamAngle") return {reflection.seamAngle};
    if (ch == "RefractionSeamAngle") return {refraction.seamAngle};
    return {};
}

int ObjectItem::numPoints() const {
    size_t n = 0;
    for (const MeshLayer &l : layers) n += l.points.size();
    return static_cast<int>(n);
}

int ObjectItem::numPolygons() const {
    size_t n = 0;
    for (const MeshLayer &l : layers) n += l.polygons.size();
    return static_cast<int>(n);
}

int RenderOptions::renderOptsBits() const {
    return (shadows ? LWROPT_SHADOWTRACE : 0) | (reflection ? LWROPT_REFLECTTRACE : 0) |
           (refraction ? LWROPT_REFRACTTRACE : 0);
}

Item *Scene::findItem(const std::string &n) const {
    for (const auto &it : items)
        if (it->name == n) return it.get();
    return nullptr;
}

int Scene::findSurface(const std::string &n) const {
    for (size_t i = 0; i < surfaces.size(); ++i)
        if (surfaces[i]->name == n) return static_cast<int>(i);
    return -1;
}

int Scene::findImage(const std::string &n) const {
    for (size_t i = 0; i < images.size(); ++i)
        if (images[i]->name == n) return static_cast<int>(i);
    return -1;
}

}  // namespace host::scene
