// SPDX-License-Identifier: Apache-2.0
// Mesh files the import refuses, each with one message naming the file: files assimp cannot read,
// the inputs on which assimp 5.2 itself hangs, grows without bound, aborts, crashes or reads out
// of bounds, and imports beyond their memory limit.
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

struct Refusal {
    const char *what;
    std::string file;
    int layer;
    std::string message;  // found in the refusal, which names the file
};

TEST(MeshImport, FilesAssimpCannotReadAreRefusedNamingTheFile) {
    NEED_MODELS();
    const Refusal cases[] = {
        // An older host object (LWOB) has one layer.
        {"older host object, second layer", kModels + "/LWO/LWOB/ConcavePolygon.lwo", 2, "has one layer, not 2"},
        {"missing glTF buffer", kModels + "/glTF2/MissingBin/BoxTextured.gltf", 0,
         "could not open referenced file \"BoxTextured0.bin\""},
        {"recursive glTF nodes", kModels + "/glTF2/RecursiveNodes/RecursiveNodes.gltf", 0, "recursive reference"},
        {"infinite glTF points", kModels + "/glTF2/BoxWithInfinites-glTF-Binary/BoxWithInfinites.glb", 0,
         "a point's coordinate is not a number within 1e+09"},
        {"points only", kModels + "/PLY/points.ply", 0, "contains no faces"},
        {"lines only", kModels + "/OBJ/testline.obj", 0, "has no polygons"},
        {"not a mesh", kModels + "/OBJ/SpiderTex.jpg", 0,
         "is not a mesh file of a kind read here (host object, OBJ, PLY, STL, glTF 2, FBX or Collada)"},
        {"zip archive", kModels + "/Collada/duck.zae", 0, "is a zip archive, which is not read"},
        {"glTF buffer view past its buffer", kModels + "/glTF2/IncorrectVertexArrays/Cube.gltf", 0,
         "buffer view 2 lies outside its data"},
        {"second layer of a one-layer format", kModels + "/PLY/cube.ply", 2, "has one layer, not 2"},
        {"OBJ text refused with its line", kModels + "/OBJ/number_formats.obj", 0,
         ", line 11: \"v 1e+2 2.e+1 3.1+e2\": expected three numbers"},
        {"missing file", kModels + "/none.obj", 0, "cannot open mesh file \"" + kModels + "/none.obj\": "},
        {"folder", kModels + "/OBJ", 0, "cannot open mesh file \"" + kModels + "/OBJ\": is a folder"},
    };
    for (const Refusal &c : cases) {
        SCOPED_TRACE(c.what);
        host::scene::ImportedMesh m;
        std::string error;
        EXPECT_FALSE(host::scene::importMesh(c.file, c.layer, m, error));
        EXPECT_NE(error.find(c.file), std::string::npos) << error;
        EXPECT_NE(error.find(c.message), std::string::npos) << "got: " << error << "\nwant: " << c.message;
        EXPECT_LE(error.size(), 600u);
        EXPECT_TRUE(m.layers.empty() && m.surfaces.empty() && m.files.empty());
    }
}


// Inputs on which assimp 5.2 itself hangs, grows without bound, aborts, crashes or reads out of
// bounds are refused before it reads them (or, for its own failed checks, by it).
TEST_F(MeshFiles, AssimpsTrapsAreRefused) {
    std::string collada;
    {
        std::ifstream in("/usr/share/assimp/models/Collada/ConcavePolygon.dae", std::ios::binary);
        collada.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    auto replaced = [&](const std::string &from, const std::string &to) {
        std::string t = collada;
        size_t at = t.find(from);
        return at == std::string::npos ? t : t.replace(at, from.size(), to);
    };
    std::string lwo, lwob;
    {
        std::ifstream in("/usr/share/assimp/models/LWO/LWO2/box_2uv_1unused.lwo", std::ios::binary);
        lwo.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        std::ifstream older("/usr/share/assimp/models/LWO/LWOB/MappingModes/bluewithcylindrictexz.lwo",
                            std::ios::binary);
        lwob.assign(std::istreambuf_iterator<char>(older), std::istreambuf_iterator<char>());
    }
    struct Case {
        const char *what, *name;
        std::string text, message;
    } cases[] = {
        // The PLY reader loops for ever on a header without end_header.
        {"PLY header without end", "a.ply", "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\n",
         "the PLY header has no end_header line in its first megabyte"},
        // ... and reads out of bounds when an element is declared twice.
        {"PLY element twice", "b.ply",
         "ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\nelement vertex 20000\nproperty float t\n"
         "end_header\n4 20",
         "the PLY header declares element \"vertex\" twice"},
        {"PLY header asking for too much", "c.ply",
         "ply\nformat ascii 1.0\nelement vertex 400000000\nproperty float x\nend_header\n",
         "the PLY header declares more elements than a layer holds"},
        // The Collada reader appends indices for ever when an index list holds a word.
        {"Collada index list with a word", "d.dae", replaced("<p>26 22 18", "<p>26 x 18"),
         ", line 116: an index list holds \"x\", not only whole numbers"},
        // ... and crashes on a data array without a count.
        {"Collada array without count", "e.dae", replaced("count=\"192\">-1.146", "cXount=\"192\">-1.146"),
         ", line 37: a data array without a count"},
        // The glTF reader reads an accessor past its buffer view.
        {"glTF accessor past its view", "f.gltf",
         R"({"asset": {"version": "2.0"}, "buffers": [{"byteLength": 8, "uri": "data:application/octet-stream;base64,AAAAAAAAAAA="}],
             "bufferViews": [{"buffer": 0, "byteLength": 8}],
             "accessors": [{"bufferView": 0, "byteOffset": 4, "componentType": 5126, "count": 1, "type": "VEC3"}]})",
         "accessor 0 lies outside its data"},
        // ... and crashes on a skin without inverse bind matrices.
        {"glTF skin without inverse bind matrices", "s.gltf",
         R"({"asset": {"version": "2.0"}, "skins": [{"joints": [0]}]})",
         "skin 0 has no inverse bind matrices, which assimp 5.2 cannot read"},
        // The host object reader reads a polygon's point numbers past the end of its chunk.
        {"host object polygon past its chunk", "p.lwo", lwo.substr(0, lwo.find("POLS") + 14), ""},
        {"glTF nested too deep", "g.gltf", "{\"a\": " + std::string(1000, '[') + std::string(1000, ']') + "}",
         "its JSON nests deeper than 128 levels"},
        // A host object VMAD entry naming a point its polygon lacks fails assimp's own check, which
        // aborts the process unless the import takes the check's place.
        {"host object VMAD point not in its polygon", "h.lwo", lwo, ""},
        // Older host objects (LWOB), which the import repackages as current ones, checking them
        // on the way (assimp's own reader of them read polygons unchecked): a polygon naming a
        // point past the PNTS chunk, a file cut inside its SURF chunk, and a POLS chunk that ends
        // inside its second polygon.
        {"older host object polygon past its points", "q.lwo", lwob,
         "its POLS chunk names point 8, past its 8 points"},
        {"older host object cut short", "r.lwo", lwob.substr(0, 0x120),
         "its SURF chunk runs past the end of the file"},
        {"older host object polygon past its chunk", "s.lwo", lwob.substr(0, lwob.find("POLS") + 22),
         "its POLS chunk ends inside a polygon"},
    };
    // The VMAD case: the first VMAD entry's polygon changed to one without the point.
    size_t vmad = lwo.find("VMAD");
    ASSERT_NE(vmad, std::string::npos);
    // VMAD: type TXUV, dimension, name, then (point VX, polygon VX, u, v) entries.
    size_t entries = lwo.find('\0', vmad + 14) + 1;
    entries += entries % 2;
    cases[9].text[entries + 3] = 5;  // the polygon of the first entry: 0 -> 5
    cases[9].message = "assimp's own check \"had\" failed";
    // The POLS chunk cut after its first polygon's count, its length unchanged: the file's FORM
    // and the chunk claim more than there is, so the chunk's length is made to fit.
    {
        std::string &cut = cases[7].text;
        size_t pols = cut.find("POLS");
        uint32_t length = static_cast<uint32_t>(cut.size() - pols - 8);
        for (int k = 0; k < 4; ++k) cut[pols + 4 + k] = static_cast<char>(length >> (24 - 8 * k));
        uint32_t form = static_cast<uint32_t>(cut.size() - 8);
        for (int k = 0; k < 4; ++k) cut[4 + k] = static_cast<char>(form >> (24 - 8 * k));
        cases[7].message = "its POLS chunk ends inside a polygon";
    }
    // The older object's POLS chunk: records of a point count, the points and a surface number;
    // the first polygon's third point 2 -> 8 (the file has 8).
    ASSERT_EQ(lwob.compare(8, 4, "LWOB"), 0);
    cases[10].text[lwob.find("POLS") + 8 + 2 + 2 * 2 + 1] = 8;
    // Cut after the first polygon (12 bytes) and the second's point count, the POLS chunk's and
    // the file's lengths made to fit.
    {
        std::string &cut = cases[12].text;
        size_t pols = cut.find("POLS");
        uint32_t length = static_cast<uint32_t>(cut.size() - pols - 8),
                 form = static_cast<uint32_t>(cut.size() - 8);
        for (int k = 0; k < 4; ++k) cut[pols + 4 + k] = static_cast<char>(length >> (24 - 8 * k));
        for (int k = 0; k < 4; ++k) cut[4 + k] = static_cast<char>(form >> (24 - 8 * k));
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string file = write(c.name, c.text), error;
        host::scene::ImportedMesh m;
        EXPECT_FALSE(host::scene::importMesh(file, 0, m, error));
        EXPECT_NE(error.find("mesh file \"" + file + "\""), std::string::npos) << error;
        EXPECT_NE(error.find(c.message), std::string::npos) << "got: " << error << "\nwant: " << c.message;
    }
}

TEST_F(MeshFiles, ImportStaysWithinItsMemoryLimit) {
    std::string file = write("m.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    host::scene::ImportedMesh m;
    std::string error;
    EXPECT_FALSE(host::scene::importMesh(file, 0, m, error, 64));
    EXPECT_NE(error.find("mesh file \"" + file + "\" would need about"), std::string::npos) << error;
    EXPECT_NE(error.find("more than the 64 bytes left for the scene"), std::string::npos) << error;
    EXPECT_TRUE(host::scene::importMesh(file, 0, m, error, 1 << 20)) << error;
}

}  // namespace
