// SPDX-License-Identifier: Apache-2.0
// The irradiance cache of interpolated radiosity: records of the light gathered over the
// hemisphere at chosen spots, with its rotational and translational gradients, interpolated at the
// spots between them (Ward, Rubinstein and Clear; gradients after Ward and Heckbert; the smooth
// weight of Tabellion and Lamorlette).
//
// Records are kept per bounce: a spot reached by k gathering steps reads and writes level k only,
// so that each level holds exactly the bounces that remain below it, as Monte Carlo gathering
// would. A level is a flat array with a bounding-volume tree over the records' spheres of
// influence, rebuilt whenever records are appended; lookups only read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/scene/scene.h"

namespace host::render {

struct IrradianceRecord {
    double pos[3] = {0, 0, 0};
    double normal[3] = {0, 0, 1};
    double value[3] = {0, 0, 0};    // the light gathered, cosine-weighted: irradiance over pi
    double rotation[3][3] = {};     // [channel]: change of value as the normal turns
    double translation[3][3] = {};  // [channel]: change of value as the spot moves
    double radius = 0;              // the sphere of influence
};

// A running interpolation at one spot.
struct IrradianceSum {
    double weight = 0;
    double value[3] = {0, 0, 0};
    // Adds a record when (p, n) lies inside its sphere of influence, within the largest normal
    // deviation and not behind it.
    void add(const IrradianceRecord &r, const double p[3], const double n[3]);
    // Enough weight that the spot may be interpolated rather than gathered.
    bool covered() const { return weight >= kCovered; }
    // The interpolated light, never negative.
    void result(double out[3]) const;

    static constexpr double kCovered = 0.25;
    // Normals further apart than this (cosine of 15 degrees) never interpolate.
    static constexpr double kMinCosine = 0.96592582628906831;
};

// The records one fill task adds, per level, before they join the cache.
struct IrradianceWriter {
    std::vector<IrradianceRecord> added[scene::kMaxRadiosityBounces];
};

class IrradianceCache {
public:
    static constexpr int kLevels = scene::kMaxRadiosityBounces;

    // Appends records to a level and rebuilds its tree.
    void append(int level, const std::vector<IrradianceRecord> &records);
    void clear();
    // Adds the records of `level` around (p, n) to `sum`, in a fixed order.
    void gather(int level, const double p[3], const double n[3], IrradianceSum &sum) const;
    size_t records() const;
    size_t bytes() const;
    const std::vector<IrradianceRecord> &level(int k) const { return levels_[k].records; }

private:
    struct Node {
        float lo[3], hi[3];
        uint32_t first = 0, count = 0;  // a leaf's records; an inner node has count 0
        uint32_t right = 0;             // an inner node's second child (the first follows it)
    };
    struct Level {
        std::vector<IrradianceRecord> records;
        std::vector<Node> nodes;
    };
    uint32_t build(Level &level, uint32_t first, uint32_t count);
    Level levels_[kLevels];
};

}  // namespace host::render
