// SPDX-License-Identifier: Apache-2.0
// The mesh import in its own process: files on which assimp crashes, recurses without end, takes
// quadratic time or asks for unbounded memory end the render with one refusal naming the file,
// in bounded time; a mesh that imports gives the same mesh as the import in this process; and a
// renderer without its importer names the folders it searched.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/scene/mesh_import.h"
#include "tests/host/scene/mesh_test_support.h"

namespace {

using namespace mesh_test;

const std::string kProgram = VELMORA_RENDER_PROGRAM;

void le(std::string &s, uint64_t v, int bytes) {
    for (int k = 0; k < bytes; ++k) s += static_cast<char>(v >> (8 * k));
}
void be(std::string &s, uint64_t v, int bytes) {
    for (int k = bytes - 1; k >= 0; --k) s += static_cast<char>(v >> (8 * k));
}

std::string fbxHeader() {
    std::string s("Kaydara FBX Binary  \0\x1a\0", 23);
    le(s, 7400, 4);
    return s;
}

// A binary FBX file of `depth` records, each the only child of the one before.
std::string fbxNested(int depth) {
    std::string s = fbxHeader();
    const uint64_t base = s.size(), open = 14, close = 13;
    for (int k = 0; k < depth; ++k) {
        uint64_t end = k == depth - 1 ? base + open * depth : base + open * depth + close * (depth - 1 - k);
        le(s, end, 4);
        le(s, 0, 4);
        le(s, 0, 4);
        s += "\x01N";
    }
    s.append(close * depth, '\0');  // each list's closing record, and the top level's
    return s;
}

// A binary FBX file whose one vertex array declares `count` doubles in 12 compressed bytes that
// inflate to 64.
std::string fbxInflating(uint32_t count) {
    static const char kZlib[] = "\x78\x9c\x63\x60\xa0\x0c\x00\x00\x00\x40\x00\x01";
    std::string props = "d";
    le(props, count, 4);
    le(props, 1, 4);  // zlib
    le(props, 12, 4);
    props.append(kZlib, 12);
    std::string s = fbxHeader();
    const char name[] = "Vertices";
    le(s, s.size() + 13 + 8 + props.size(), 4);
    le(s, 1, 4);
    le(s, props.size(), 4);
    s += static_cast<char>(8);
    s += name;
    s += props;
    s.append(13, '\0');
    return s;
}

std::string textFbxNested(int depth) {
    std::string s = "; FBX 7.4.0 project file\nFBXHeaderExtension:  {\n}\nObjects:  {\n";
    for (int k = 0; k < depth; ++k) s += "Model: {\n";
    for (int k = 0; k < depth; ++k) s += "}\n";
    return s + "}\n";
}

const char *kColladaHead =
    "<?xml version=\"1.0\"?>\n<COLLADA xmlns=\"http://www.collada.org/2005/11/COLLADASchema\" "
    "version=\"1.4.1\">\n";
const char *kColladaScene = "<scene><instance_visual_scene url=\"#s\"/></scene>\n</COLLADA>\n";

std::string colladaNested(int depth) {
    std::string s = std::string(kColladaHead) + "<library_visual_scenes><visual_scene id=\"s\">\n";
    for (int k = 0; k < depth; ++k) s += "<node>";
    for (int k = 0; k < depth; ++k) s += "</node>";
    return s + "\n</visual_scene></library_visual_scenes>\n" + kColladaScene;
}

std::string colladaSelfInstancing() {
    return std::string(kColladaHead) +
           "<library_nodes><node id=\"n1\" name=\"n1\"><instance_node url=\"#n1\"/></node></library_nodes>\n"
           "<library_visual_scenes><visual_scene id=\"s\"><node id=\"top\"><instance_node url=\"#n1\"/></node>"
           "</visual_scene></library_visual_scenes>\n" +
           kColladaScene;
}

// A glTF file of `count` nodes, each the only child of the one before.
std::string gltfChain(int count) {
    std::string s = R"({"asset": {"version": "2.0"}, "scene": 0, "scenes": [{"nodes": [0]}], "nodes": [)";
    for (int k = 0; k < count; ++k)
        s += (k ? "," : "") +
             (k + 1 < count ? "{\"children\":[" + std::to_string(k + 1) + "]}" : std::string("{}"));
    return s + "]}";
}

// A host object of `layers` layers of one triangle each.
std::string lwoLayers(int layers) {
    std::string body = "LWO2";
    auto chunk = [&](const char *id, const std::string &data) {
        body += id;
        be(body, data.size(), 4);
        body += data;
    };
    for (int k = 0; k < layers; ++k) {
        std::string layr;
        be(layr, static_cast<uint64_t>(k), 2);
        layr.append(2 + 12 + 2, '\0');  // flags, pivot, empty name
        chunk("LAYR", layr);
        std::string pnts;
        for (float f : {0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 1.f, 0.f}) {
            uint32_t bits;
            std::memcpy(&bits, &f, 4);
            be(pnts, bits, 4);
        }
        chunk("PNTS", pnts);
        std::string pols = "FACE";
        for (int v : {3, 0, 1, 2}) be(pols, static_cast<uint64_t>(v), 2);
        chunk("POLS", pols);
    }
    std::string file = "FORM";
    be(file, body.size(), 4);
    return file + body;
}

struct Outcome {
    int status = -1;
    std::string err;
    double seconds = 0;
};

Outcome render(const std::string &args, const std::string &program = kProgram) {
    std::string errFile = ::testing::TempDir() + "/velmora_mesh_iso_err_" + std::to_string(::getpid()) + ".txt";
    auto start = std::chrono::steady_clock::now();
    int raw = std::system((program + " " + args + " </dev/null >/dev/null 2>" + errFile).c_str());
    Outcome r;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream in(errFile);
    r.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return r;
}

TEST_F(MeshFiles, HostileMeshesEndInOneRefusalNamingTheFile) {
    const struct {
        const char *what, *name;
        std::string data, message;
    } cases[] = {
        {"binary FBX nested 50,000 deep", "deep.fbx", fbxNested(50000), "its nodes nest deeper than 1024 levels"},
        {"text FBX nested 60,000 deep", "deep_text.fbx", textFbxNested(60000), "the mesh importer failed"},
        {"Collada nodes nested 50,000 deep", "deep.dae", colladaNested(50000), "the mesh importer failed"},
        {"glTF chain of 60,000 nodes", "chain.gltf", gltfChain(60000), "the mesh importer failed"},
        {"Collada node instancing itself", "self.dae", colladaSelfInstancing(), "the mesh importer"},
        {"host object of 20,000 layers", "layers.lwo", lwoLayers(20000),
         "it has 20000 layers (LAYR chunks), more than the 4096 read"},
        {"FBX array of 5e8 doubles from 12 bytes", "huge.fbx", fbxInflating(500000000),
         "declares 500000000 doubles, more than its 12 compressed bytes can inflate to"},
        {"FBX array of 3e7 doubles from 12 bytes", "large.fbx", fbxInflating(30000000),
         "the array at byte 48 in record \"Vertices\" declares 30000000 doubles"},
        {"OBJ naming a FIFO as its material file", "fifo.obj",
         "mtllib pipe.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n",
         "pipe.mtl\": is a pipe, not a regular file (named by mesh file"},
    };
    ASSERT_EQ(::mkfifo((dir_ + "/pipe.mtl").c_str(), 0600), 0);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string mesh = write(c.name, c.data), out = write("out.png", "") + ".new.png";
        const std::string scene = write("scene.json", R"({"items": [{"type": "camera", "name": "c"},
            {"type": "object", "name": "o", "mesh": {"file": ")" +
                                                          mesh + R"("}}]})");
        Outcome r = render(scene + " -q --host-shading --width 8 --height 6 --samples 1 -o " + out);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find("mesh file \"" + mesh + "\""), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << "got: " << r.err << "\nwant: " << c.message;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_LT(r.seconds, 60.0);
        EXPECT_FALSE(std::ifstream(out).good());
    }
}

void expectSame(const host::scene::ImportedMesh &a, const host::scene::ImportedMesh &b) {
    ASSERT_EQ(a.files, b.files);
    EXPECT_EQ(a.bytes, b.bytes);
    ASSERT_EQ(a.surfaces.size(), b.surfaces.size());
    for (size_t i = 0; i < a.surfaces.size(); ++i) {
        const host::scene::Surface &s = a.surfaces[i], &t = b.surfaces[i];
        EXPECT_EQ(s.name, t.name);
        EXPECT_EQ(s.color, t.color);
        EXPECT_EQ(s.channel("Diffuse"), t.channel("Diffuse"));
        EXPECT_EQ(s.channel("Specular"), t.channel("Specular"));
        EXPECT_EQ(s.channel("Transparency"), t.channel("Transparency"));
        EXPECT_EQ(s.eta, t.eta);
        EXPECT_EQ(s.smoothingAngle, t.smoothingAngle);
        EXPECT_EQ(s.doubleSided, t.doubleSided);
        EXPECT_EQ(s.smoothing, t.smoothing);
    }
    ASSERT_EQ(a.layers.size(), b.layers.size());
    for (size_t i = 0; i < a.layers.size(); ++i) {
        const host::scene::ImportedLayer &l = a.layers[i], &m = b.layers[i];
        EXPECT_EQ(l.index, m.index);
        EXPECT_EQ(l.name, m.name);
        EXPECT_EQ(l.parent, m.parent);
        EXPECT_EQ(l.pivot, m.pivot);
        ASSERT_EQ(l.mesh.points.size(), m.mesh.points.size());
        EXPECT_EQ(0, std::memcmp(l.mesh.points.data(), m.mesh.points.data(),
                                 l.mesh.points.size() * sizeof(host::scene::MeshPoint)));
        ASSERT_EQ(l.mesh.polygons.size(), m.mesh.polygons.size());
        for (size_t k = 0; k < l.mesh.polygons.size(); ++k) {
            EXPECT_EQ(l.mesh.polygons[k].points, m.mesh.polygons[k].points);
            EXPECT_EQ(l.mesh.polygons[k].surface, m.mesh.polygons[k].surface);
        }
        ASSERT_EQ(l.mesh.weightMaps.size(), m.mesh.weightMaps.size());
        for (size_t k = 0; k < l.mesh.weightMaps.size(); ++k) {
            EXPECT_EQ(l.mesh.weightMaps[k].name, m.mesh.weightMaps[k].name);
            EXPECT_EQ(l.mesh.weightMaps[k].values, m.mesh.weightMaps[k].values);
            EXPECT_EQ(l.mesh.weightMaps[k].has, m.mesh.weightMaps[k].has);
        }
        ASSERT_EQ(l.mesh.uvMaps.size(), m.mesh.uvMaps.size());
        for (size_t k = 0; k < l.mesh.uvMaps.size(); ++k) {
            EXPECT_EQ(l.mesh.uvMaps[k].name, m.mesh.uvMaps[k].name);
            EXPECT_EQ(l.mesh.uvMaps[k].values, m.mesh.uvMaps[k].values);
            EXPECT_EQ(l.mesh.uvMaps[k].has, m.mesh.uvMaps[k].has);
        }
    }
}

TEST(MeshImport, TheImporterProcessGivesTheMeshOfTheImportInProcess) {
    NEED_MODELS();
    // Layers, parents and pivots; UV maps; weight maps; materials from a material file; a
    // refusal with a line.
    for (const char *file :
         {"LWO/LWO2/hierarchy.lwo", "LWO/LWO2/box_2uv_1unused.lwo", "glTF2/simple_skin/simple_skin.gltf",
          "OBJ/spider.obj", "Collada/duck.dae", "OBJ/number_formats.obj"}) {
        SCOPED_TRACE(file);
        host::scene::ImportedMesh child, here;
        host::util::Diagnostic childWhy, hereWhy;
        bool ok = host::scene::importMesh(kModels + "/" + file, 0, child, childWhy);
        EXPECT_EQ(ok, host::scene::importMeshInProcess(kModels + "/" + file, 0, here, hereWhy));
        EXPECT_EQ(childWhy.text(), hereWhy.text());
        expectSame(child, here);
    }
}

// The answer as the importer writes it, read back from a file.
std::string answerOf(const host::scene::ImportedMesh &mesh, const std::string &file) {
    FILE *f = std::fopen(file.c_str(), "w+b");
    EXPECT_TRUE(f && host::scene::writeImporterAnswer(::fileno(f), true, mesh, {}));
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fclose(f);
    return bytes;
}

bool readAnswer(const std::string &bytes, host::scene::ImportedMesh &mesh, std::string &fault) {
    size_t at = 0;
    host::scene::PullBytes pull = [&](char *to, size_t size) {
        size_t n = std::min(size, bytes.size() - at);
        std::memcpy(to, bytes.data() + at, n);
        at += n;
        return n;
    };
    bool ok = false;
    host::util::Diagnostic why;
    return host::scene::readImporterAnswer(pull, 1 << 20, ok, mesh, why, fault) && ok;
}

// The importer's answer is not trusted: a cut, a stray index, a count or a length beyond what
// arrives is refused with what is wrong, and no mesh.
TEST_F(MeshFiles, ADamagedAnswerFromTheImporterIsRefused) {
    host::scene::ImportedMesh mesh;
    std::string error, fault;
    ASSERT_TRUE(
        host::scene::importMesh(write("m.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nf 1 2 3 4\n"), 0, mesh, error))
        << error;
    const std::string good = answerOf(mesh, dir_ + "/answer");
    host::scene::ImportedMesh back;
    ASSERT_TRUE(readAnswer(good, back, fault)) << fault;
    expectSame(back, mesh);
    for (size_t cut = 0; cut < good.size(); ++cut)
        EXPECT_FALSE(readAnswer(good.substr(0, cut), back, fault) || !back.layers.empty()) << cut;
    // Offsets from the end: the end mark, the mesh's byte count and the layer's two empty map
    // lists close the answer, after the polygon's four point numbers; before them its corner
    // count, normal and surface, the polygon count, and the four points with their count.
    const size_t corner = good.size() - (4 + 8 + 4 + 4) - 4 * 4;
    const size_t points = corner - 8 - 12 - 4 - 8 - 4 * sizeof(host::scene::MeshPoint) - 8;
    ASSERT_EQ(good[points], 4);
    auto changed = [&](size_t at, uint64_t value, int bytes) {
        std::string t = good;
        for (int k = 0; k < bytes; ++k) t[at + k] = static_cast<char>(value >> (8 * k));
        return t;
    };
    const struct {
        const char *what;
        std::string bytes, fault;
    } cases[] = {
        {"a point past the layer's", changed(corner, 4, 4), "a polygon names a point the layer lacks"},
        {"a negative point", changed(corner, uint32_t(-1), 4), "a polygon names a point the layer lacks"},
        {"more points than arrive", changed(points, 1000, 8), "it ends early"},
        {"more points than the answer may hold", changed(points, 1u << 26, 8),
         "more points than it may take bytes"},
        {"more points than a layer has", changed(points, 1ull << 40, 8), "more points than a mesh may have"},
        {"a byte past the end", good + "x", "it goes on past its end"},
        {"another build's answer", "VMESHIM0" + good.substr(8), "does not start as an answer"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(readAnswer(c.bytes, back, fault));
        EXPECT_NE(fault.find(c.fault), std::string::npos) << fault;
        EXPECT_TRUE(back.layers.empty());
    }
}

TEST_F(MeshFiles, ARendererWithoutItsImporterNamesTheFoldersSearched) {
    // A copy of the program outside the build tree finds no companions beside it.
    const std::string program = write("velmora-render", "");
    ASSERT_EQ(std::system(("cp --remove-destination '" + kProgram + "' '" + program + "'").c_str()), 0);
    const std::string mesh = write("m.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    const std::string scene = write("scene.json", R"({"items": [{"type": "object", "name": "o",
        "mesh": {"file": ")" + mesh + R"("}}]})");
    Outcome r = render(scene + " --host-shading --save " + scene + ".saved.json", program);
    EXPECT_EQ(r.status, 2) << r.err;
    const std::string folder = dir_.substr(dir_.rfind('/'));
    EXPECT_NE(r.err.find("mesh file \"" + mesh + "\": the mesh importer velmora-mesh-import is in none of "),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(folder + ", "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(folder + "/../lib/velmora"), std::string::npos) << r.err;
}

}  // namespace
