// SPDX-License-Identifier: Apache-2.0
// Fuzzes the scene loader with scene text. Every input must end in one of two ways: a refusal
// that names the scene and stays short, or a scene that the renderer can take as it is: a camera,
// surfaces and images that exist, polygons whose points and surfaces exist, finite points, and a
// finite transform for every item.
//
// Besides libFuzzer's own mutations, one in sixteen deepens the input: it wraps a span of it in a run
// of nested arrays or objects, up to the size limit, so depth faults are reached at once instead of
// one bracket at a time.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "fuzz/scene_checks.h"
#include "host/scene/loader.h"

namespace {

constexpr char kLabel[] = "fuzz.json";

void check(const host::scene::Scene &scene) {
    if (!scene.camera || scene.surfaces.empty()) std::abort();
    for (const auto &image : scene.images)
        if (!image) std::abort();
    const size_t surfaces = scene.surfaces.size();
    double time = scene.frameTime(scene.render.frameStart);
    for (const auto &item : scene.items)
        if (!fuzz::finite(host::scene::localTransform(*item, time))) std::abort();
    for (const host::scene::ObjectItem *object : scene.objects) {
        for (const host::scene::MeshLayer &layer : object->layers) {
            const size_t points = layer.points.size();
            for (const host::scene::MeshPoint &p : layer.points)
                for (float c : p.pos)
                    if (!std::isfinite(c)) std::abort();
            for (const host::scene::MeshPolygon &poly : layer.polygons) {
                if (poly.surface < 0 || static_cast<size_t>(poly.surface) >= surfaces) std::abort();
                for (int k : poly.points)
                    if (k < 0 || static_cast<size_t>(k) >= points) std::abort();
            }
            for (int k : layer.triangles)
                if (k < 0 || static_cast<size_t>(k) >= points) std::abort();
            for (int k : layer.triPolygon)
                if (k < 0 || static_cast<size_t>(k) >= layer.polygons.size()) std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    setenv("VELMORA_MEMORY_LIMIT", "1G", 1);  // the loader refuses what would not fit in this
    return 0;
}

extern "C" size_t LLVMFuzzerMutate(uint8_t *data, size_t size, size_t maxSize);

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t *data, size_t size, size_t maxSize, unsigned int seed) {
    std::minstd_rand rng(seed);
    if (rng() % 16 != 0 || maxSize - size < 2) return LLVMFuzzerMutate(data, size, maxSize);
    size_t room = (maxSize - size) / 2;
    size_t depth = 1 + rng() % std::min<size_t>(room, rng() % 8 ? 300 : 200000);
    size_t from = size ? rng() % (size + 1) : 0, to = from + (size > from ? rng() % (size - from + 1) : 0);
    static const char *const kOpen[] = {"[", "{\"a\":"};
    static const char *const kClose[] = {"]", "}"};
    int kind = static_cast<int>(rng() % 2);
    size_t openLen = std::strlen(kOpen[kind]), closeLen = std::strlen(kClose[kind]);
    if (depth * (openLen + closeLen) > maxSize - size) depth = (maxSize - size) / (openLen + closeLen);
    if (depth == 0) return LLVMFuzzerMutate(data, size, maxSize);
    // data: [0, from) opens [from, to) closes [to, size)
    size_t opens = depth * openLen, closes = depth * closeLen;
    std::memmove(data + to + opens + closes, data + to, size - to);
    std::memmove(data + from + opens, data + from, to - from);
    for (size_t i = 0; i < depth; ++i) std::memcpy(data + from + i * openLen, kOpen[kind], openLen);
    for (size_t i = 0; i < depth; ++i) std::memcpy(data + to + opens + i * closeLen, kClose[kind], closeLen);
    return size + opens + closes;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    // Relative file names resolve into a folder that does not exist; absolute ones are read.
    host::scene::LoadResult r = host::scene::loadSceneText(text, kLabel, "/nonexistent-velmora-fuzz");
    if (r.scene) {
        check(*r.scene);
    } else if (r.error.compare(0, sizeof kLabel - 1, kLabel) != 0 || r.error.size() > 1024) {
        std::abort();  // a refusal must name the scene and quote only a short excerpt
    }
    return 0;
}
