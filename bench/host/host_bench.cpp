// SPDX-License-Identifier: Apache-2.0
// Host benchmarks on the built-in default scene:
//  - rayCast through the access record's function against rtcIntersect1 on the same rays;
//  - a whole frame (host shading) on 1 thread and on every core;
//  - the default scene at 640x480 with 4 samples, reporting rays per second;
// and the import of a mesh of about a million triangles in each kind of file (written to a
// temporary folder first), alone and in a scene.
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <embree3/rtcore.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "host/cli/default_scene.h"
#include "host/render/renderer.h"
#include "host/render/shading.h"
#include "host/scene/loader.h"
#include "host/scene/mesh_import.h"

namespace {

struct World {
    std::unique_ptr<host::scene::Scene> scene;
    host::trace::Tracer tracer;
    host::render::RenderContext rc;
    std::vector<double> rays;  // origin and unit direction, six doubles a ray

    World() {
        scene = host::scene::loadSceneText(host::cli::kDefaultSceneJson, "default", ".").scene;
        std::string why;
        tracer.build(*scene, 0.0, why);
        host::render::prepareContext(rc, *scene, tracer, 0.0, 640, 480);
        // Rays from points around the head towards random points near it: most hit something.
        std::mt19937 gen(7);
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        for (int i = 0; i < 4096; ++i) {
            double o[3] = {u(gen) * 4, 1 + u(gen) * 2 + 1.5, u(gen) * 4};
            double t[3] = {u(gen) * 0.8, 1 + u(gen) * 0.8, u(gen) * 0.8};
            double d[3] = {t[0] - o[0], t[1] - o[1], t[2] - o[2]};
            double l = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
            rays.insert(rays.end(), {o[0], o[1], o[2], d[0] / l, d[1] / l, d[2] / l});
        }
    }
};

World &world() {
    static World w;
    return w;
}

void BM_RayCastThroughAccess(benchmark::State &state) {
    World &w = world();
    host::render::ThreadState ts;
    ts.rc = &w.rc;
    host::render::bindThread(&ts);
    LWShaderAccess sa{};
    sa.rayCast = &host::render::hostRayCast;
    size_t n = w.rays.size() / 6, i = 0;
    double sum = 0;
    for (auto _ : state) {
        const double *r = &w.rays[(i++ % n) * 6];
        sum += sa.rayCast(r, r + 3);
    }
    benchmark::DoNotOptimize(sum);
    host::render::bindThread(nullptr);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RayCastThroughAccess);

void BM_RayCastRawEmbree(benchmark::State &state) {
    World &w = world();
    RTCScene scene = static_cast<RTCScene>(w.tracer.rawScene());
    size_t n = w.rays.size() / 6, i = 0;
    double sum = 0;
    for (auto _ : state) {
        const double *r = &w.rays[(i++ % n) * 6];
        RTCIntersectContext context;
        rtcInitIntersectContext(&context);
        RTCRayHit rh;
        rh.ray.org_x = static_cast<float>(r[0]);
        rh.ray.org_y = static_cast<float>(r[1]);
        rh.ray.org_z = static_cast<float>(r[2]);
        rh.ray.dir_x = static_cast<float>(r[3]);
        rh.ray.dir_y = static_cast<float>(r[4]);
        rh.ray.dir_z = static_cast<float>(r[5]);
        rh.ray.tnear = static_cast<float>(w.rc.eps);
        rh.ray.tfar = INFINITY;
        rh.ray.mask = 0xFFFFFFFFu;
        rh.ray.flags = 0;
        rh.ray.time = 0;
        rh.hit.geomID = RTC_INVALID_GEOMETRY_ID;
        rtcIntersect1(scene, &context, &rh);
        sum += rh.hit.geomID == RTC_INVALID_GEOMETRY_ID ? -1.0 : rh.ray.tfar;
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RayCastRawEmbree);

// One frame of the default scene under host shading; args: width, height, samples, threads.
void BM_RenderDefaultScene(benchmark::State &state) {
    World &w = world();
    host::render::RenderSettings s;
    s.width = static_cast<int>(state.range(0));
    s.height = static_cast<int>(state.range(1));
    s.samples = static_cast<int>(state.range(2));
    s.threads = static_cast<int>(state.range(3));
    s.hostShading = true;
    uint64_t rays = 0;
    double seconds = 0;
    for (auto _ : state) {
        host::render::RenderOutcome out =
            host::render::renderScene(*w.scene, s, [](const host::render::Frame &) { return std::string(); });
        rays += out.stats.rays;
        seconds += out.stats.seconds;
    }
    state.counters["rays_per_s"] = benchmark::Counter(static_cast<double>(rays) / seconds);
    state.counters["s_per_frame"] = benchmark::Counter(seconds / state.iterations());
}
const int kCores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
BENCHMARK(BM_RenderDefaultScene)
    ->Args({320, 240, 1, 1})
    ->Args({320, 240, 1, kCores})
    ->Args({640, 480, 4, kCores})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A wavy grid of 708 x 708 points (501 264), two triangles a cell (999 698), in each format.
struct BigMeshes {
    static constexpr int kSide = 708;
    std::string folder;
    std::vector<float> points;  // x, y, z
    std::vector<int> triangles;

    BigMeshes() {
        char pattern[] = "/tmp/velmora_bench_mesh_XXXXXX";
        folder = mkdtemp(pattern) ? pattern : "/tmp";
        for (int j = 0; j < kSide; ++j)
            for (int i = 0; i < kSide; ++i)
                points.insert(points.end(),
                              {i * 0.01f, 0.05f * std::sin(i * 0.05f) * std::cos(j * 0.07f), j * 0.01f});
        for (int j = 0; j + 1 < kSide; ++j)
            for (int i = 0; i + 1 < kSide; ++i) {
                int a = j * kSide + i, b = a + 1, c = a + kSide, d = c + 1;
                triangles.insert(triangles.end(), {a, c, b, b, c, d});
            }
        writeObj();
        writePly();
        writeStl();
        writeLwo();
    }
    ~BigMeshes() { std::system(("rm -rf '" + folder + "'").c_str()); }
    std::string path(const char *ext) const { return folder + "/grid." + ext; }

    void writeObj() {
        std::ofstream out(path("obj"), std::ios::binary);
        char line[96];
        for (size_t k = 0; k < points.size(); k += 3) {
            std::snprintf(line, sizeof line, "v %.6g %.6g %.6g\n", points[k], points[k + 1], points[k + 2]);
            out << line;
        }
        for (size_t k = 0; k < triangles.size(); k += 3) {
            std::snprintf(line, sizeof line, "f %d %d %d\n", triangles[k] + 1, triangles[k + 1] + 1,
                          triangles[k + 2] + 1);
            out << line;
        }
    }
    void writePly() {
        std::ofstream out(path("ply"), std::ios::binary);
        out << "ply\nformat binary_little_endian 1.0\nelement vertex " << points.size() / 3
            << "\nproperty float x\nproperty float y\nproperty float z\nelement face " << triangles.size() / 3
            << "\nproperty list uchar int vertex_indices\nend_header\n";
        out.write(reinterpret_cast<const char *>(points.data()), static_cast<std::streamsize>(points.size() * 4));
        for (size_t k = 0; k < triangles.size(); k += 3) {
            out.put(3);
            out.write(reinterpret_cast<const char *>(&triangles[k]), 12);
        }
    }
    void writeStl() {
        std::ofstream out(path("stl"), std::ios::binary);
        char header[80] = "velmora benchmark grid";
        out.write(header, 80);
        uint32_t n = static_cast<uint32_t>(triangles.size() / 3);
        out.write(reinterpret_cast<const char *>(&n), 4);
        for (size_t k = 0; k < triangles.size(); k += 3) {
            float normal[3] = {0, 1, 0};
            out.write(reinterpret_cast<const char *>(normal), 12);
            for (int c = 0; c < 3; ++c)
                out.write(reinterpret_cast<const char *>(&points[triangles[k + c] * 3]), 12);
            out.write("\0\0", 2);
        }
    }
    // A host object: one layer, its points, triangles on one surface.
    void writeLwo() {
        std::string body = "LWO2";
        auto u4 = [](std::string &s, uint32_t v) {
            for (int k = 3; k >= 0; --k) s += static_cast<char>((v >> (8 * k)) & 0xFF);
        };
        auto u2 = [](std::string &s, uint32_t v) {
            s += static_cast<char>((v >> 8) & 0xFF);
            s += static_cast<char>(v & 0xFF);
        };
        auto f4 = [&](std::string &s, float f) {
            uint32_t b;
            std::memcpy(&b, &f, 4);
            u4(s, b);
        };
        auto vx = [&](std::string &s, uint32_t v) {
            if (v < 0xFF00) {
                u2(s, v);
            } else {
                u4(s, v | 0xFF000000u);
            }
        };
        auto chunk = [&](const char *id, const std::string &data) {
            body += id;
            u4(body, static_cast<uint32_t>(data.size()));
            body += data;
            if (data.size() % 2) body += '\0';
        };
        chunk("TAGS", std::string("Grid\0\0", 6));
        std::string layr;
        u2(layr, 0);
        u2(layr, 0);
        for (int c = 0; c < 3; ++c) f4(layr, 0);
        layr += std::string("\0\0", 2);
        chunk("LAYR", layr);
        std::string pnts;
        for (float v : points) f4(pnts, v);
        chunk("PNTS", pnts);
        std::string pols = "FACE", ptag = "SURF";
        for (size_t k = 0; k < triangles.size(); k += 3) {
            u2(pols, 3);
            for (int c = 0; c < 3; ++c) vx(pols, static_cast<uint32_t>(triangles[k + c]));
            vx(ptag, static_cast<uint32_t>(k / 3));
            u2(ptag, 0);
        }
        chunk("POLS", pols);
        chunk("PTAG", ptag);
        std::string surf = std::string("Grid\0\0", 6) + std::string("\0\0", 2);
        surf += "COLR";
        u2(surf, 14);
        for (int c = 0; c < 3; ++c) f4(surf, 0.8f);
        u2(surf, 0);
        chunk("SURF", surf);
        std::string file = "FORM";
        u4(file, static_cast<uint32_t>(body.size()));
        std::ofstream(path("lwo"), std::ios::binary) << file << body;
    }
};

BigMeshes &bigMeshes() {
    static BigMeshes m;
    return m;
}

const char *const kMeshKinds[] = {"obj", "ply", "stl", "lwo"};

// CPU seconds of the processes this one has waited for: the mesh importer's.
double childCpuSeconds() {
    struct rusage r;
    getrusage(RUSAGE_CHILDREN, &r);
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) * 1e-6;
}

// importMesh over the grid; arg: 0 OBJ text, 1 binary PLY, 2 binary STL, 3 host object. The CPU
// column is this process's share (reading the importer's answer); importer_cpu is the importer
// process's, per import.
void BM_ImportMesh(benchmark::State &state) {
    const std::string file = bigMeshes().path(kMeshKinds[state.range(0)]);
    state.SetLabel(kMeshKinds[state.range(0)]);
    const double before = childCpuSeconds();
    for (auto _ : state) {
        host::scene::ImportedMesh mesh;
        std::string error;
        if (!host::scene::importMesh(file, 0, mesh, error)) state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(mesh.layers.data());
    }
    state.counters["triangles"] = static_cast<double>(bigMeshes().triangles.size() / 3);
    state.counters["importer_cpu"] =
        (childCpuSeconds() - before) / static_cast<double>(std::max<int64_t>(1, state.iterations()));
}
BENCHMARK(BM_ImportMesh)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->Iterations(3);

// The grid as an object of a scene: import, normals and triangle fan, surfaces; args as above.
void BM_LoadSceneWithMesh(benchmark::State &state) {
    const std::string text = R"({"items": [{"type": "camera", "name": "c"},
        {"type": "object", "name": "grid", "mesh": {"file": ")" +
                             bigMeshes().path(kMeshKinds[state.range(0)]) + R"("}}]})";
    state.SetLabel(kMeshKinds[state.range(0)]);
    for (auto _ : state) {
        host::scene::LoadResult r = host::scene::loadSceneText(text, "bench.json", "/");
        if (!r.scene) state.SkipWithError(r.error.c_str());
        benchmark::DoNotOptimize(r.scene.get());
    }
}
BENCHMARK(BM_LoadSceneWithMesh)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
