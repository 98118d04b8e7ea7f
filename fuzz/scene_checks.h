// SPDX-License-Identifier: Apache-2.0
// Checks the scene readers' fuzz targets share.
#pragma once

#include <cmath>

#include "host/scene/scene.h"

namespace fuzz {

// Whether every entry of a transform is finite.
inline bool finite(const host::scene::Affine &a) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            if (!std::isfinite(a[i][j])) return false;
    return true;
}

}  // namespace fuzz
