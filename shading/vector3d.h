// Vector3d: three doubles for positions, directions and colours, laid out like the host's
// three-double arrays. Operations write into an output supplied by the caller and return it.
#pragma once

namespace velmora {

struct Vector3d {
    double x, y, z;
};

static_assert(sizeof(Vector3d) == 3 * sizeof(double), "Vector3d must match a host double[3]");

// Views a host three-double array as a Vector3d.
inline Vector3d &asVector(double *v) { return *reinterpret_cast<Vector3d *>(v); }
inline const Vector3d &asVector(const double *v) { return *reinterpret_cast<const Vector3d *>(v); }

Vector3d &vecSet(Vector3d &v, double x, double y, double z);
Vector3d &vecAddTo(Vector3d &v, const Vector3d &a);
Vector3d &vecCopyTo(const Vector3d &v, Vector3d &dst);
Vector3d &vecAdd(Vector3d &out, const Vector3d &a, const Vector3d &b);
Vector3d &vecScale(Vector3d &out, const Vector3d &a, double s);
Vector3d &vecMul(Vector3d &out, const Vector3d &a, const Vector3d &b);

double vecLength(const Vector3d &v);  // sqrt((x·x + y·y) + z·z)
double vecDot(const Vector3d &a, const Vector3d &b);  // (a.z·b.z + a.y·b.y) + a.x·b.x
Vector3d &vecCross(Vector3d &out, const Vector3d &a, const Vector3d &b);
// Normalises v in place and copies it to out; a vector of length exactly zero becomes zero.
Vector3d &vecNormalize(Vector3d &v, Vector3d &out);
// out = v divided by its length (zero stays zero); v unchanged.
Vector3d &vecNormalized(Vector3d &out, const Vector3d &v);
// Mirror direction of i about n, both normalised first; the result is not normalised again.
Vector3d &vecReflect(Vector3d &out, const Vector3d &i, const Vector3d &n);
// Refracted direction of i through n with index ratio eta (outer over inner); zero on total
// internal reflection.
Vector3d &vecRefract(Vector3d &out, const Vector3d &i, const Vector3d &n, double eta);

}  // namespace velmora
