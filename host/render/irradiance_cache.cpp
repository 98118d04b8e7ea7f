// SPDX-License-Identifier: Apache-2.0
#include "host/render/irradiance_cache.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace host::render {

namespace {

double dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

}  // namespace

void IrradianceSum::add(const IrradianceRecord &r, const double p[3], const double n[3]) {
    const double d[3] = {p[0] - r.pos[0], p[1] - r.pos[1], p[2] - r.pos[2]};
    const double dist = std::sqrt(dot(d, d));
    if (!(dist < r.radius)) return;
    const double cosine = dot(n, r.normal);
    if (!(cosine >= kMinCosine)) return;
    // A record whose spot lies in front of p (p is below its surface) sees other light.
    const double mean[3] = {(n[0] + r.normal[0]) * 0.5, (n[1] + r.normal[1]) * 0.5, (n[2] + r.normal[2]) * 0.5};
    if (dot(d, mean) < -0.05 * r.radius) return;
    const double ep = dist / r.radius;
    const double en = std::sqrt(std::max(0.0, 1.0 - cosine) / (1.0 - kMinCosine));
    const double w = 1.0 - std::max(ep, en);
    if (!(w > 0.0)) return;
    const double turn[3] = {r.normal[1] * n[2] - r.normal[2] * n[1], r.normal[2] * n[0] - r.normal[0] * n[2],
                            r.normal[0] * n[1] - r.normal[1] * n[0]};
    for (int c = 0; c < 3; ++c) value[c] += w * (r.value[c] + dot(turn, r.rotation[c]) + dot(d, r.translation[c]));
    weight += w;
}

void IrradianceSum::result(double out[3]) const {
    for (int c = 0; c < 3; ++c) out[c] = weight > 0 ? std::max(0.0, value[c] / weight) : 0.0;
}

void IrradianceCache::append(int level, const std::vector<IrradianceRecord> &records) {
    if (level < 0 || level >= kLevels || records.empty()) return;
    Level &l = levels_[level];
    l.records.insert(l.records.end(), records.begin(), records.end());
    l.nodes.clear();
    build(l, 0, static_cast<uint32_t>(l.records.size()));
}

void IrradianceCache::clear() {
    for (Level &l : levels_) {
        l.records.clear();
        l.nodes.clear();
    }
}

size_t IrradianceCache::records() const {
    size_t n = 0;
    for (const Level &l : levels_) n += l.records.size();
    return n;
}

size_t IrradianceCache::bytes() const {
    size_t n = 0;
    for (const Level &l : levels_)
        n += l.records.capacity() * sizeof(IrradianceRecord) + l.nodes.capacity() * sizeof(Node);
    return n;
}

// A median split along the widest spread of the records' positions, down to leaves of four.
uint32_t IrradianceCache::build(Level &level, uint32_t first, uint32_t count) {
    const uint32_t index = static_cast<uint32_t>(level.nodes.size());
    level.nodes.emplace_back();
    constexpr float kInf = std::numeric_limits<float>::infinity();
    float lo[3] = {kInf, kInf, kInf}, hi[3] = {-kInf, -kInf, -kInf};
    double clo[3] = {kInf, kInf, kInf}, chi[3] = {-kInf, -kInf, -kInf};
    for (uint32_t i = first; i < first + count; ++i) {
        const IrradianceRecord &r = level.records[i];
        for (int a = 0; a < 3; ++a) {
            // Rounded outwards, so that float bounds never cut a sphere.
            lo[a] = std::min(lo[a], std::nextafter(static_cast<float>(r.pos[a] - r.radius), -kInf));
            hi[a] = std::max(hi[a], std::nextafter(static_cast<float>(r.pos[a] + r.radius), kInf));
            clo[a] = std::min(clo[a], r.pos[a]);
            chi[a] = std::max(chi[a], r.pos[a]);
        }
    }
    int axis = 0;
    for (int a = 1; a < 3; ++a)
        if (chi[a] - clo[a] > chi[axis] - clo[axis]) axis = a;
    Node node;
    std::copy(lo, lo + 3, node.lo);
    std::copy(hi, hi + 3, node.hi);
    if (count <= 4 || !(chi[axis] > clo[axis])) {
        node.first = first;
        node.count = count;
        level.nodes[index] = node;
        return index;
    }
    const uint32_t half = count / 2;
    auto begin = level.records.begin() + first;
    std::nth_element(begin, begin + half, begin + count,
                     [axis](const IrradianceRecord &a, const IrradianceRecord &b) {
                         for (int k = 0; k < 3; ++k) {
                             int x = (axis + k) % 3;
                             if (a.pos[x] != b.pos[x]) return a.pos[x] < b.pos[x];
                         }
                         return a.radius < b.radius;
                     });
    build(level, first, half);
    node.right = build(level, first + half, count - half);
    level.nodes[index] = node;
    return index;
}

void IrradianceCache::gather(int level, const double p[3], const double n[3], IrradianceSum &sum) const {
    if (level < 0 || level >= kLevels) return;
    const Level &l = levels_[level];
    if (l.nodes.empty()) return;
    uint32_t stack[96];
    int top = 0;
    stack[top++] = 0;
    while (top > 0) {
        const Node &node = l.nodes[stack[--top]];
        if (p[0] < node.lo[0] || p[0] > node.hi[0] || p[1] < node.lo[1] || p[1] > node.hi[1] ||
            p[2] < node.lo[2] || p[2] > node.hi[2])
            continue;
        if (node.count > 0) {
            for (uint32_t i = node.first; i < node.first + node.count; ++i) sum.add(l.records[i], p, n);
            continue;
        }
        const uint32_t self = static_cast<uint32_t>(&node - l.nodes.data());
        if (top + 2 > 96) continue;  // deeper than any median tree of 2^90 records
        stack[top++] = node.right;
        stack[top++] = self + 1;
    }
}

}  // namespace host::render
