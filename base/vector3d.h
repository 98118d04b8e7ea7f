// SPDX-License-Identifier: Apache-2.0
// Vector3d: three doubles for positions, directions and colours, laid out like the host's
// three-double arrays. Operations write into an output supplied by the caller and return it.
#pragma once

#include <cmath>

namespace velmora {

struct Vector3d {
    double x, y, z;
};

static_assert(sizeof(Vector3d) == 3 * sizeof(double), "Vector3d must match a host double[3]");

// Views a host three-double array as a Vector3d.
inline Vector3d &asVector(double *v) { return *reinterpret_cast<Vector3d *>(v); }
inline const Vector3d &asVector(const double *v) { return *reinterpret_cast<const Vector3d *>(v); }

// Defined inline: they run several times per light on every shaded spot. The order of each sum is
// part of the contract, since it decides the rounding.
inline Vector3d &vecSet(Vector3d &v, double x, double y, double z) {
    v.x = x;
    v.y = y;
    v.z = z;
    return v;
}

inline Vector3d &vecAddTo(Vector3d &v, const Vector3d &a) {
    v.x += a.x;
    v.y += a.y;
    v.z += a.z;
    return v;
}

inline Vector3d &vecCopyTo(const Vector3d &v, Vector3d &dst) {
    dst = v;
    return dst;
}

inline Vector3d &vecAdd(Vector3d &out, const Vector3d &a, const Vector3d &b) {
    return vecSet(out, a.x + b.x, a.y + b.y, a.z + b.z);
}

inline Vector3d &vecScale(Vector3d &out, const Vector3d &a, double s) {
    return vecSet(out, s * a.x, s * a.y, s * a.z);
}

inline Vector3d &vecMul(Vector3d &out, const Vector3d &a, const Vector3d &b) {
    return vecSet(out, a.x * b.x, a.y * b.y, a.z * b.z);
}

// sqrt((x·x + y·y) + z·z)
inline double vecLength(const Vector3d &v) { return std::sqrt((v.x * v.x + v.y * v.y) + v.z * v.z); }

// (a.z·b.z + a.y·b.y) + a.x·b.x
inline double vecDot(const Vector3d &a, const Vector3d &b) { return (a.z * b.z + a.y * b.y) + a.x * b.x; }

inline Vector3d &vecCross(Vector3d &out, const Vector3d &a, const Vector3d &b) {
    // Computed into a temporary so that out may alias a or b.
    Vector3d c = {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
    out = c;
    return out;
}

// out = v divided by its length (a division, not a reciprocal product); zero stays zero.
inline Vector3d &vecNormalized(Vector3d &out, const Vector3d &v) {
    const double len = vecLength(v);
    if (len == 0.0) return vecSet(out, 0.0, 0.0, 0.0);
    return vecSet(out, v.x / len, v.y / len, v.z / len);
}

// Normalises v in place and copies it to out.
inline Vector3d &vecNormalize(Vector3d &v, Vector3d &out) {
    vecNormalized(v, v);
    out = v;
    return out;
}

// Mirror direction of i about n, both normalised first; the result is not normalised again.
inline Vector3d &vecReflect(Vector3d &out, const Vector3d &i, const Vector3d &n) {
    Vector3d ih, nh;
    vecNormalized(ih, i);
    vecNormalized(nh, n);
    const double d = 2.0 * vecDot(ih, nh);
    return vecSet(out, ih.x - d * nh.x, ih.y - d * nh.y, ih.z - d * nh.z);
}

// Refracted direction of i through n with index ratio eta (outer over inner); zero on total
// internal reflection.
inline Vector3d &vecRefract(Vector3d &out, const Vector3d &i, const Vector3d &n, double eta) {
    Vector3d ih, nh;
    vecNormalized(ih, i);
    vecNormalized(nh, n);
    const double q = vecDot(ih, nh);
    const double k = 1.0 - ((1.0 - q * q) * eta) * eta;
    if (k < 0.0) return vecSet(out, 0.0, 0.0, 0.0);
    const double m = std::sqrt(k) + q * eta;
    return vecSet(out, eta * ih.x - m * nh.x, eta * ih.y - m * nh.y, eta * ih.z - m * nh.z);
}

}  // namespace velmora
