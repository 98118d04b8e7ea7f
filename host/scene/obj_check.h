// SPDX-License-Identifier: Apache-2.0
// The host's own reading of OBJ text, before any importer sees it: every line is checked (numbers,
// references, the coordinate limit) and refused with its line number, the points are read exactly,
// and what the mesh will take is counted. The importer then reads the text with each point
// statement replaced by the point's number, so that the points it returns name the file's points.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/util/diagnostic.h"

namespace host::scene {

constexpr size_t kMaxLayerPoints = 1 << 27;     // points or polygons of one layer: indices * 3 stay ints
constexpr uint64_t kMaxLayerCorners = 1 << 29;  // polygon corners of one layer: fan indices stay ints
constexpr double kMaxCoordinate = 1e9;          // further out, single-precision points lose their shape

// Memory a mesh layer takes: its points, polygons and polygon corners, with the fan triangles,
// the normals' sums and the slack of growing arrays.
inline uint64_t meshBytes(uint64_t points, uint64_t polygons, uint64_t corners) {
    return points * 48 + polygons * 112 + corners * 40;
}

// What an OBJ file holds, found by checking it, and the bytes its reading and the mesh layer built
// from it take.
struct ObjCounts {
    uint64_t points = 0, texcoords = 0, normals = 0, faces = 0, corners = 0, bytes = 0;
};

// Checks OBJ text line by line (lines end at "\n", "\r\n" or a lone "\r"; words are separated by
// spaces and tabs). Points take three finite numbers within kMaxCoordinate, optionally followed by
// a weight or an RGB colour; texture coordinates and normals take numbers; faces, lines and point
// statements refer to existing points, texture coordinates and normals by whole numbers (from 1,
// or negative from the last). On refusal returns false with "LABEL, line N: ..." (or "LABEL ...")
// in `error` (host/util/diagnostic.h). When `points` is given, each point's x, y and z are appended to it, in file
// order.
bool checkObj(const std::string &text, const std::string &label, ObjCounts &counts, util::Diagnostic &error,
              std::vector<float> *points = nullptr);

// The text checkObj passed, as the importer is to read it: the same lines, each point statement
// replaced by "v LOW HIGH 0", the point's number from 0 being LOW + HIGH * 2^20 (whole numbers any
// reader takes exactly), without what would make another reader split or join lines differently
// (a NUL or form feed is read as a space, a line's last backslash as a space). `text` is emptied.
std::string numberObjPoints(std::string &text);

// The point number an importer read from a point statement of numberObjPoints' text, or -1.
int64_t objPointNumber(float low, float high, float zero);

}  // namespace host::scene
