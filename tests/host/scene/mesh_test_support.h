// SPDX-License-Identifier: Apache-2.0
// What the mesh tests share: where the assimp test models are, a folder for a test's own files,
// and checks over an imported mesh.
#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/scene/mesh_import.h"

namespace mesh_test {

inline const std::string kModels = "/usr/share/assimp/models";
constexpr double kDeg = 3.14159265358979323846 / 180.0;

inline bool haveModels() {
    struct stat st;
    return ::stat((kModels + "/LWO/LWO2/hierarchy.lwo").c_str(), &st) == 0;
}

#define NEED_MODELS() \
    if (!haveModels()) GTEST_SKIP() << kModels << " is absent (Debian package assimp-testmodels)"

struct Box {
    float lo[3] = {1e30f, 1e30f, 1e30f}, hi[3] = {-1e30f, -1e30f, -1e30f};
};

inline Box bounds(const host::scene::MeshLayer &m) {
    Box b;
    for (const host::scene::MeshPoint &p : m.points)
        for (int c = 0; c < 3; ++c) {
            b.lo[c] = std::min(b.lo[c], p.pos[c]);
            b.hi[c] = std::max(b.hi[c], p.pos[c]);
        }
    return b;
}

inline const host::scene::Surface *surface(const host::scene::ImportedMesh &m, const std::string &name) {
    for (const host::scene::Surface &s : m.surfaces)
        if (s.name == name) return &s;
    return nullptr;
}

// The names of the surfaces a layer's polygons use, in order of first use.
inline std::vector<std::string> surfacesOf(const host::scene::ImportedMesh &m, const host::scene::MeshLayer &layer) {
    std::vector<std::string> names;
    for (const host::scene::MeshPolygon &p : layer.polygons) {
        std::string n = p.surface < 0 ? "(none)" : m.surfaces.at(static_cast<size_t>(p.surface)).name;
        if (std::find(names.begin(), names.end(), n) == names.end()) names.push_back(n);
    }
    return names;
}

// Every polygon names existing points, three or more.
inline void expectSound(const host::scene::ImportedMesh &m) {
    for (const host::scene::ImportedLayer &l : m.layers)
        for (const host::scene::MeshPolygon &p : l.mesh.polygons) {
            ASSERT_GE(p.points.size(), 3u);
            for (int k : p.points) ASSERT_TRUE(k >= 0 && static_cast<size_t>(k) < l.mesh.points.size());
            ASSERT_TRUE(p.surface == -1 || (p.surface >= 0 && static_cast<size_t>(p.surface) < m.surfaces.size()));
        }
}

// A fresh folder for one test's files, removed with them afterwards.
class MeshFiles : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "/velmora_meshes_XXXXXX";
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
    std::string write(const std::string &name, const std::string &text) {
        std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    std::string dir_;
};

}  // namespace mesh_test
