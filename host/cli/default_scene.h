// SPDX-License-Identifier: Apache-2.0
// The scene velmora-render draws when it is given none: a head-sized sphere carrying the skin
// shader on a ground plane, lit by a key spot light ("key"), a rim light behind it ("rim") and a
// soft fill light, so that the diffuse, sub-surface, sheen and highlight layers all show.
#pragma once

namespace host::cli {

extern const char *const kDefaultSceneJson;

}  // namespace host::cli
