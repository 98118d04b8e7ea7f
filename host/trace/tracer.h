// SPDX-License-Identifier: Apache-2.0
// Ray tracing of a scene at one time, behind an interface of its own. All Embree calls of the host
// live in tracer.cpp: device (error callback first), one scene holding every object layer in world
// space at the frame's time, commit, trace, release. After build, intersect and occluded may be
// called from any number of threads at once.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/scene/scene.h"

namespace host::trace {

// One traced mesh: an object layer with its points moved to world space at the build time.
struct TracedMesh {
    const scene::ObjectItem *object = nullptr;
    const scene::MeshLayer *layer = nullptr;
    scene::Affine toWorld;                 // object space to world space
    scene::Affine toObject;                // world space to object space
    scene::Affine normalMatrix;            // object-space normals to world space (multDirMatrix)
    std::vector<float> worldPos;           // three floats per point
    std::vector<float> worldNormal;        // smoothed normals in world space, three floats per point
    std::vector<float> worldCornerNormal;  // the layer's corner normals in world space, or empty
};

// The first surface along a ray.
struct Hit {
    double t = -1.0;  // distance along the unit direction; negative when nothing was hit
    int mesh = -1;    // index into Tracer::meshes()
    int triangle = -1;
    float u = 0, v = 0;  // barycentric weights of the triangle's second and third points
};

class Tracer {
public:
    Tracer();
    ~Tracer();
    Tracer(const Tracer &) = delete;
    Tracer &operator=(const Tracer &) = delete;

    // Builds the ray-tracing scene from every object of `scene` at `time`, replacing any earlier
    // build. On failure returns false with a reason. Triangles with a point whose world position
    // is not finite or beyond the tracer's range (1.8e18) at `time` are never hit.
    bool build(const scene::Scene &scene, double time, std::string &why);

    // Nearest hit along a unit direction between tnear and tfar.
    //
    // Any ray may be asked. One that cannot be traced is answered as a miss (no hit, not
    // occluded): an origin or direction component that is not finite or beyond 1.8e18 once
    // converted to float, a tnear that is negative, NaN or beyond 1.8e18, or a tfar that is NaN or
    // below tnear (tfar may be infinite; from 3e38 up it is taken as infinite).
    Hit intersect(const double org[3], const double dir[3], double tnear, double tfar) const;
    // Whether anything lies along a unit direction between tnear and tfar; false for a ray that
    // cannot be traced (see intersect).
    bool occluded(const double org[3], const double dir[3], double tnear, double tfar) const;

    const std::vector<TracedMesh> &meshes() const { return meshes_; }
    // Half-size of the world's bounding box, for scale-aware offsets.
    double sceneExtent() const { return extent_; }
    // The raw scene handle (an RTCScene), for benchmarks comparing against direct Embree calls.
    void *rawScene() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::vector<TracedMesh> meshes_;
    double extent_ = 1.0;
};

// The version of the Embree library in use ("3.13.5"), asked of a device of its own.
std::string embreeVersion();

}  // namespace host::trace
