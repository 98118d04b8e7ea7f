// SPDX-License-Identifier: Apache-2.0
// A mesh record over plain arrays, as the host's object and scene services hand them out. Point
// and polygon IDs are their indices plus one, so that none stays null. destroy only counts.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sdk/sdk.h"

namespace testhost {

struct FakeMesh {
    FakeMesh();
    FakeMesh(const FakeMesh &) = delete;
    FakeMesh &operator=(const FakeMesh &) = delete;

    int addPoint(float x, float y, float z);  // same base and current position; returns the index
    int addPolygon(std::vector<int> corners, const char *surface = nullptr);

    static LWPntID point(int index) { return reinterpret_cast<LWPntID>(static_cast<uintptr_t>(index) + 1); }
    static LWPolID polygon(int index) { return reinterpret_cast<LWPolID>(static_cast<uintptr_t>(index) + 1); }

    LWMeshInfo info;
    std::vector<std::array<float, 3>> base, current;
    std::vector<std::vector<int>> polygons;
    std::vector<const char *> surfaces;  // SURF tag of each polygon, may be null
    int destroyed = 0;
    int scans = 0;
};

}  // namespace testhost
