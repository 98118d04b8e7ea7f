// SPDX-License-Identifier: Apache-2.0
#include "host/trace/tracer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>

#include <embree3/rtcore.h>

namespace host::trace {

namespace {

// Embree traces only rays whose origin and direction components lie within this magnitude (its
// own limit is about 1.844e18); beyond it, and for non-finite values, it asserts.
constexpr float kTraceable = 1.8e18f;

inline bool traceable(float v) { return std::fabs(v) <= kTraceable; }  // false for NaN and inf

// A double as float without the undefined conversion of values beyond float's range.
inline float toFloat(double v) {
    if (v > 3.4e38) return std::numeric_limits<float>::infinity();
    if (v < -3.4e38) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(v);
}

}  // namespace

struct Tracer::Impl {
    RTCDevice device = nullptr;
    RTCScene scene = nullptr;
    std::mutex errorLock;
    std::string error;  // the first error Embree reported since the last build began

    static void onError(void *user, RTCError code, const char *text) {
        Impl *self = static_cast<Impl *>(user);
        std::lock_guard<std::mutex> hold(self->errorLock);
        if (self->error.empty())
            self->error = "ray tracer error " + std::to_string(static_cast<int>(code)) + ": " + (text ? text : "");
    }
    std::string takeError() {
        std::lock_guard<std::mutex> hold(errorLock);
        std::string e;
        e.swap(error);
        return e;
    }
};

Tracer::Tracer() : impl_(std::make_unique<Impl>()) {}

Tracer::~Tracer() {
    if (impl_->scene) rtcReleaseScene(impl_->scene);
    if (impl_->device) rtcReleaseDevice(impl_->device);
}

void *Tracer::rawScene() const { return impl_->scene; }

bool Tracer::build(const scene::Scene &scene, double time, std::string &why) {
    // Device first, with the error callback installed before any other call.
    if (!impl_->device) {
        impl_->device = rtcNewDevice(nullptr);
        if (!impl_->device) {
            why = "cannot start the ray tracer (error " +
                  std::to_string(static_cast<int>(rtcGetDeviceError(nullptr))) + ")";
            return false;
        }
        rtcSetDeviceErrorFunction(impl_->device, &Impl::onError, impl_.get());
    }
    if (impl_->scene) rtcReleaseScene(impl_->scene);
    impl_->scene = rtcNewScene(impl_->device);
    rtcSetSceneBuildQuality(impl_->scene, RTC_BUILD_QUALITY_HIGH);
    rtcSetSceneFlags(impl_->scene, RTC_SCENE_FLAG_ROBUST);
    meshes_.clear();

    double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
    for (const scene::ObjectItem *obj : scene.objects) {
        scene::Affine toWorld = scene::worldTransform(*obj, time);
        scene::Affine toObject = toWorld.inverse();
        for (const scene::MeshLayer &layer : obj->layers) {
            if (layer.triangles.empty()) continue;
            TracedMesh m;
            m.object = obj;
            m.layer = &layer;
            m.toWorld = toWorld;
            m.toObject = toObject;
            // Normals go by the inverse transpose.
            m.normalMatrix = toObject.transposed();
            size_t n = layer.points.size();
            m.worldPos.resize(n * 3);
            m.worldNormal.resize(n * 3);
            // Points whose world position cannot be traced (non-finite or out of the tracer's
            // range) are kept at the origin, and every triangle using one is made degenerate, so
            // it is never hit and the triangle numbering stays that of the layer.
            std::vector<uint8_t> bad(n, 0);
            for (size_t i = 0; i < n; ++i) {
                const scene::MeshPoint &p = layer.points[i];
                scene::Vec3 w = scene::Vec3(p.pos[0], p.pos[1], p.pos[2]) * toWorld;
                scene::Vec3 wn{0, 0, 0};
                m.normalMatrix.multDirMatrix(scene::Vec3(p.normal[0], p.normal[1], p.normal[2]), wn);
                double len = wn.length();
                bool ok = len < std::numeric_limits<double>::infinity();
                for (int c = 0; c < 3; ++c) ok = ok && traceable(toFloat(w[c]));
                bad[i] = !ok;
                for (int c = 0; c < 3; ++c) {
                    m.worldPos[i * 3 + c] = ok ? static_cast<float>(w[c]) : 0.0f;
                    m.worldNormal[i * 3 + c] = static_cast<float>(ok && len > 0 ? wn[c] / len : 0.0);
                    if (!ok) continue;
                    lo[c] = std::min(lo[c], w[c]);
                    hi[c] = std::max(hi[c], w[c]);
                }
            }
            // Corner normals (surfaces smoothing within an angle) go as the points' normals do.
            m.worldCornerNormal.resize(layer.cornerNormals.size());
            for (size_t i = 0; i + 2 < layer.cornerNormals.size(); i += 3) {
                const float *cn = &layer.cornerNormals[i];
                scene::Vec3 wn{0, 0, 0};
                m.normalMatrix.multDirMatrix(scene::Vec3(cn[0], cn[1], cn[2]), wn);
                double len = wn.length();
                bool ok = len < std::numeric_limits<double>::infinity() &&
                          !bad[static_cast<size_t>(layer.triangles[i / 3])];
                for (int c = 0; c < 3; ++c)
                    m.worldCornerNormal[i + c] = static_cast<float>(ok && len > 0 ? wn[c] / len : 0.0);
            }
            RTCGeometry geom = rtcNewGeometry(impl_->device, RTC_GEOMETRY_TYPE_TRIANGLE);
            float *vb = static_cast<float *>(
                rtcSetNewGeometryBuffer(geom, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3, 3 * sizeof(float), n));
            unsigned *ib =
                static_cast<unsigned *>(rtcSetNewGeometryBuffer(geom, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3,
                                                                3 * sizeof(unsigned), layer.triangles.size() / 3));
            if (!vb || !ib) {
                rtcReleaseGeometry(geom);
                std::string e = impl_->takeError();
                why = e.empty() ? "out of memory building the ray-tracing scene" : e;
                return false;
            }
            std::copy(m.worldPos.begin(), m.worldPos.end(), vb);
            for (size_t i = 0; i + 2 < layer.triangles.size(); i += 3) {
                const int *t = &layer.triangles[i];
                bool degenerate = bad[static_cast<size_t>(t[0])] || bad[static_cast<size_t>(t[1])] ||
                                  bad[static_cast<size_t>(t[2])];
                for (int k = 0; k < 3; ++k) ib[i + k] = static_cast<unsigned>(degenerate ? t[0] : t[k]);
            }
            rtcCommitGeometry(geom);
            rtcAttachGeometryByID(impl_->scene, geom, static_cast<unsigned>(meshes_.size()));
            rtcReleaseGeometry(geom);
            meshes_.push_back(std::move(m));
        }
    }
    rtcCommitScene(impl_->scene);
    extent_ = 1.0;
    if (lo[0] <= hi[0])
        extent_ =
            std::max({1e-3, (hi[0] - lo[0]) / 2, (hi[1] - lo[1]) / 2, (hi[2] - lo[2]) / 2, std::fabs(lo[0]),
                      std::fabs(lo[1]), std::fabs(lo[2]), std::fabs(hi[0]), std::fabs(hi[1]), std::fabs(hi[2])});
    std::string e = impl_->takeError();
    if (!e.empty()) {
        why = e;
        return false;
    }
    return true;
}

namespace {

// Fills an Embree ray; false when the ray cannot be traced (see Tracer::intersect).
bool fillRay(RTCRay &ray, const double org[3], const double dir[3], double tnear, double tfar) {
    ray.org_x = toFloat(org[0]);
    ray.org_y = toFloat(org[1]);
    ray.org_z = toFloat(org[2]);
    ray.dir_x = toFloat(dir[0]);
    ray.dir_y = toFloat(dir[1]);
    ray.dir_z = toFloat(dir[2]);
    ray.tnear = toFloat(tnear);
    ray.tfar = tfar >= 3e38 ? std::numeric_limits<float>::infinity() : toFloat(tfar);
    ray.time = 0.0f;
    ray.mask = 0xFFFFFFFFu;
    ray.id = 0;
    ray.flags = 0;
    return traceable(ray.org_x) && traceable(ray.org_y) && traceable(ray.org_z) && traceable(ray.dir_x) &&
           traceable(ray.dir_y) && traceable(ray.dir_z) && ray.tnear >= 0.0f && ray.tnear <= kTraceable &&
           ray.tfar >= ray.tnear;
}

}  // namespace

Hit Tracer::intersect(const double org[3], const double dir[3], double tnear, double tfar) const {
    Hit hit;
    if (!impl_->scene) return hit;
    RTCIntersectContext context;
    rtcInitIntersectContext(&context);
    RTCRayHit rh;
    if (!fillRay(rh.ray, org, dir, tnear, tfar)) return hit;
    rh.hit.geomID = RTC_INVALID_GEOMETRY_ID;
    rh.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
    rtcIntersect1(impl_->scene, &context, &rh);
    if (rh.hit.geomID == RTC_INVALID_GEOMETRY_ID) return hit;
    hit.t = rh.ray.tfar;
    hit.mesh = static_cast<int>(rh.hit.geomID);
    hit.triangle = static_cast<int>(rh.hit.primID);
    hit.u = rh.hit.u;
    hit.v = rh.hit.v;
    return hit;
}

bool Tracer::occluded(const double org[3], const double dir[3], double tnear, double tfar) const {
    if (!impl_->scene) return false;
    RTCIntersectContext context;
    rtcInitIntersectContext(&context);
    RTCRay ray;
    if (!fillRay(ray, org, dir, tnear, tfar)) return false;
    rtcOccluded1(impl_->scene, &context, &ray);
    return ray.tfar == -std::numeric_limits<float>::infinity();
}

std::string embreeVersion() {
    RTCDevice device = rtcNewDevice("verbose=0");
    if (!device) return "unknown";
    const ssize_t v = rtcGetDeviceProperty(device, RTC_DEVICE_PROPERTY_VERSION);
    rtcReleaseDevice(device);
    return std::to_string(v / 10000) + "." + std::to_string(v / 100 % 100) + "." + std::to_string(v % 100);
}

}  // namespace host::trace
