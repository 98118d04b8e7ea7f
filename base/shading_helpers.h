// SPDX-License-Identifier: Apache-2.0
// Light-name prefix test of the skin layers, and the check that shading's host services exist.
#pragma once

namespace velmora {

// The number of prefix characters matched when the prefix, less its leading blanks, begins the
// name; otherwise 0. Byte by byte and case-sensitive. Callers treat an empty prefix as match-all.
int prefixMatch(const char *prefix, const char *name);

// True when item, light, object and scene information and the render memory pool were acquired.
bool hostGlobalsReady();

}  // namespace velmora
