// SPDX-License-Identifier: Apache-2.0
// Point welding: the table of points by exact position.
#include <algorithm>

#include "host/scene/mesh_pvt.h"

namespace host::scene::mesh_pvt {

void PointTable::reserve(size_t n) {
    size_t size = 16;
    while (size < 2 * n) size *= 2;
    if (size > slots_.size()) rehash(size);
}

int PointTable::find(const float p[3]) const {
    if (slots_.empty()) return -1;
    for (size_t i = hash(p) & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
        int32_t k = slots_[i];
        if (k < 0) return -1;
        if (same(points_[static_cast<size_t>(k)].pos, p)) return k;
    }
}

int PointTable::add(int k) {
    if (2 * (count_ + 1) > slots_.size()) rehash(std::max<size_t>(16, 2 * slots_.size()));
    const float *p = points_[static_cast<size_t>(k)].pos;
    for (size_t i = hash(p) & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
        int32_t &slot = slots_[i];
        if (slot < 0) {
            slot = k;
            ++count_;
            return k;
        }
        if (same(points_[static_cast<size_t>(slot)].pos, p)) return slot;
    }
}

void PointTable::rehash(size_t size) {
    std::vector<int32_t> old;
    old.swap(slots_);
    slots_.assign(size, -1);
    count_ = 0;
    for (int32_t k : old)
        if (k >= 0) add(k);
}

}  // namespace host::scene::mesh_pvt
