// Refusals of bad input files: scene text, meshes and the files behind them.
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "host/scene/loader.h"

namespace {

const std::string kData = VELMORA_HOST_TEST_DATA;
constexpr size_t kLongestMessage = 400;  // a refusal quotes only a short excerpt of the input

// A fresh folder for one test's files, removed with them afterwards.
class InputFiles : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "/velmora_inputs_XXXXXX";
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    std::string write(const std::string &name, const std::string &text) {
        std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    std::string fifo(const std::string &name) {
        std::string path = dir_ + "/" + name;
        EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
        return path;
    }
    std::string folder(const std::string &name) {
        std::string path = dir_ + "/" + name;
        EXPECT_EQ(mkdir(path.c_str(), 0700), 0);
        return path;
    }
    // A scene of a camera and one object whose mesh is the given file.
    host::LoadResult loadWithMesh(const std::string &mesh) {
        std::string scene = write("scene.json", R"({"items": [{"type": "camera", "name": "cam"},
            {"type": "object", "name": "o", "mesh": {"file": ")" +
                                                    mesh + R"("}}]})");
        return host::loadSceneFile(scene);
    }

    std::string dir_;
};

// A valid scene with one camera, with `extraTop` spliced into the top object and `extraItem`
// after the camera.
std::string sceneWith(const std::string &extraTop, const std::string &extraItem = "") {
    return R"({"items": [{"type": "camera", "name": "cam"})" + extraItem + "]" + extraTop + "}";
}

// An object item with the given mesh.
std::string objectWith(const std::string &mesh) {
    return R"(, {"type": "object", "name": "o", "mesh": )" + mesh + "}";
}

TEST(InputRefusal, HostileSceneTextIsRefusedShortlyWithItsPlace) {
    const std::string longName(1 << 20, 'n');
    const std::string deep = std::string(200, '[') + std::string(200, ']');
    std::string weightMaps = R"({"name": "w"})", zeros = "0";
    for (int i = 0; i < 1000; ++i) weightMaps += R"(, {"name": "w)" + std::to_string(i) + R"("})";
    for (int i = 0; i < 100000; ++i) zeros += ",0";
    struct Case {
        const char *what;
        std::string text;
        std::string message;  // expected after "scene.json: "
        uint64_t memoryLimit = 0;
    } cases[] = {
        {"nesting without end", std::string(1 << 20, '['),
         "line 1, column 129: arrays and objects nest deeper than 128 levels"},
        {"deep but well-formed settings",
         R"({"surfaces": [{"name": "S", "shaders": [{"server": "x", "settings": {"a": )" + deep + "}}]}]}",
         "line 1, column 197: arrays and objects nest deeper than 128 levels"},
        {"long unknown field", sceneWith(",\n\"" + longName + "\": 1"),
         "/nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn...: unknown field \"nnnnnnnnnn"},
        {"long name in a reference", sceneWith(",\n\"camera\": \"" + longName + "\""),
         "/camera: no camera named \"nnnnnnnnnn"},
        {"string without end", "{\"name\": \"" + longName,
         "line 1, column 1048587: syntax error while parsing value"},
        {"control characters in a name", sceneWith(",\n\"camera\": \"\\u001b[2J\""),
         "/camera: no camera named \"\\x1B[2J\""},
        {"whole number past the signed range", sceneWith(R"(, "render": {"frames": [18446744073709551615, 0]})"),
         "/render/frames/0: value 18446744073709551615 is out of range [-1000000, 1000000]"},
        {"number past double range", sceneWith(R"(, "render": {"fps": 1)" + std::string(100000, '0') + "})"),
         "line 1, column 66: number overflow parsing '1000000000000000000000000000000000000000...'"},
        {"sphere past the memory limit",
         sceneWith("", objectWith(R"({"primitive": "sphere", "segments": 4096, "rings": 4096})")),
         "/items/1/mesh: the sphere would need about 5 GB of memory, more than the 64 MB left for the scene",
         64 << 20},
        {"grid past the memory limit", sceneWith("", objectWith(R"({"primitive": "grid", "divisions": 4096})")),
         "/items/1/mesh: the grid would need about", 64 << 20},
        {"weight maps past the memory limit",
         sceneWith("",
                   objectWith(R"({"primitive": "grid", "divisions": 300, "weight_maps": [)" + weightMaps + "]}")),
         "/items/1/mesh/weight_maps/", 64 << 20},
        {"document past the memory limit", sceneWith(R"(, "name": [)" + zeros + "]"),
         "/: the scene's text would need about 3 MB of memory, more than the 1 MB left", 1 << 20},
        {"invalid UTF-8", sceneWith(",\n\"name\": \"\xff\xfe\""), "line 2, column"},
        {"number past double range in an item",
         sceneWith("", ",\n  {\"type\": \"light\", \"name\": \"l\", \"intensity\": 1e309}"),
         "line 2, column 47: number overflow parsing '1e309'"},
        {"negative number past double range", sceneWith(",\n\"ambient\": {\"intensity\": -1e400}"),
         "line 2, column 26: number overflow parsing '-1e400'"},
        {"duplicate top-level key", sceneWith(",\n\"name\": \"a\",\n  \"name\": \"b\""),
         "line 3, column 3: duplicate key \"name\""},
        {"duplicate key in an item",
         sceneWith("", ",\n  {\"type\": \"light\", \"name\": \"l\", \"type\": \"camera\"}"),
         "line 2, column 34: duplicate key \"type\""},
        {"duplicate key in shader settings",
         sceneWith(R"(, "surfaces": [{"name": "S", "shaders": [{"server": "x", "settings":
{"a": {"b": 1, "c": 2, "b": 3}}}]}])"),
         "line 2, column 24: duplicate key \"b\""},
        {"duplicate key with escaped quotes", sceneWith(",\n\"x\\\"y\": 1, \"x\\\"y\": 2"),
         "line 2, column 12: duplicate key \"x\"y\""},
        {"long duplicate key", sceneWith(",\n\"" + longName + "\": 1,\n\"" + longName + "\": 2"),
         "line 3, column 1: duplicate key \"nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn...\""},
    };
    for (const Case &c : cases) {
        host::LoadResult r = host::loadSceneText(c.text, "scene.json", kData, c.memoryLimit);
        EXPECT_FALSE(r.scene) << c.what;
        EXPECT_EQ(r.error.rfind("scene.json: ", 0), 0u) << c.what << ": " << r.error.substr(0, 200);
        EXPECT_NE(r.error.find(c.message), std::string::npos)
            << c.what << ": got \"" << r.error.substr(0, 200) << "\", want \"" << c.message << "\"";
        EXPECT_LE(r.error.size(), kLongestMessage) << c.what;
    }
}

TEST_F(InputFiles, FilesThatAreNotRegularOrReadableAreRefusedWithoutWaiting) {
    // Each case must return at once: a pipe with no writer would block a plain open or read.
    auto withImage = [&](const std::string &file) {
        return write("image.json", R"({"images": [{"name": "i", "file": ")" + file +
                                       R"("}], "items": [{"type": "camera", "name": "c"}]})");
    };
    fifo("pipe.mtl");
    std::string usesPipe = write("m.obj", "mtllib pipe.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    struct Case {
        const char *what;
        host::LoadResult result;
        std::string message;
    } cases[] = {
        {"scene is a pipe", host::loadSceneFile(fifo("pipe.json")),
         "pipe.json: cannot open the scene file: is a pipe, not a regular file"},
        {"scene is a folder", host::loadSceneFile(folder("dir.json")),
         "dir.json: cannot open the scene file: is a folder, not a file"},
        {"scene is missing", host::loadSceneFile(dir_ + "/none.json"),
         "none.json: cannot open the scene file: No such file"},
        {"mesh is a pipe", loadWithMesh(fifo("pipe.obj")),
         "/items/1/mesh/file: cannot open mesh file \"" + dir_ + "/pipe.obj\": is a pipe"},
        {"mesh is a folder", loadWithMesh(folder("dir.obj")), "/items/1/mesh/file: cannot open mesh file"},
        {"image is a pipe", host::loadSceneFile(withImage(fifo("pipe.png"))),
         "/images/0/file: cannot read image \"" + dir_ + "/pipe.png\": is a pipe"},
        {"material file is a pipe", loadWithMesh(usesPipe),
         "/items/1/mesh/file: cannot read material file \"" + dir_ + "/pipe.mtl\": is a pipe"},
    };
    for (const Case &c : cases) {
        EXPECT_FALSE(c.result.scene) << c.what;
        EXPECT_NE(c.result.error.find(c.message), std::string::npos)
            << c.what << ": got \"" << c.result.error << "\", want \"" << c.message << "\"";
    }
}

TEST_F(InputFiles, BrokenMeshFilesAreRefusedWithTheMeshAndReason) {
    const std::string tri = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
    struct Case {
        const char *what;
        std::string obj;
        std::string message;  // after "mesh file "<name>""
    } cases[] = {
        {"index past the points", tri + "f 1 2 4\n", " has a face with a bad point index"},
        {"relative index before the first point", tri + "f -1 -2 -4\n", " has a face with a bad point index"},
        {"past float range", "v 1e39 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", ": point 1 has a coordinate"},
        {"only lines and points", tri + "l 1 2\np 3\n", " has no polygons"},
        {"binary junk", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), " has no polygons"},
    };
    for (const Case &c : cases) {
        std::string file = write("bad.obj", c.obj);
        host::LoadResult r = loadWithMesh(file);
        EXPECT_FALSE(r.scene) << c.what;
        std::string want = "/items/1/mesh/file: mesh file \"" + file + "\"" + c.message;
        EXPECT_NE(r.error.find(want), std::string::npos)
            << c.what << ": got \"" << r.error << "\", want \"" << want << "\"";
        EXPECT_LE(r.error.size(), kLongestMessage) << c.what;
    }
}

TEST_F(InputFiles, MaterialFilesComeFromTheMeshFolderAndEveryInputIsListed) {
    folder("meshes");
    write("meshes/skin.mtl", "newmtl Skin\nKd 1 0.5 0.5\n");
    std::string obj = write("meshes/two.obj",
                            "mtllib skin.mtl\nmtllib missing.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\n"
                            "usemtl Skin\nf 1 2 3\nusemtl Other\nf 2 4 3\n");
    std::string scene = write("scene.json", R"({"surfaces": [{"name": "Skin"}, {"name": "Base"}],
        "images": [{"name": "rb", "file": ")" + kData +
                                                R"(/red_blue.png"}],
        "items": [{"type": "camera", "name": "cam"},
                  {"type": "object", "name": "o", "mesh": {"file": "meshes/two.obj", "surface": "Base"}}]})");
    host::LoadResult r = host::loadSceneFile(scene);
    ASSERT_TRUE(r.scene) << r.error;
    const host::MeshLayer &layer = r.scene->objects.at(0)->layers.at(0);
    ASSERT_EQ(layer.polygons.size(), 2u);
    EXPECT_EQ(layer.polygons[0].surface, 0);  // from the material file
    EXPECT_EQ(layer.polygons[1].surface, 1);  // a material no surface is named after
    std::vector<std::string> want = {scene, kData + "/red_blue.png", obj, dir_ + "/meshes/skin.mtl"};
    std::vector<std::string> got = r.scene->inputFiles;
    EXPECT_EQ(got.size(), want.size());
    for (const std::string &file : want)
        EXPECT_NE(std::find(got.begin(), got.end(), file), got.end()) << file << " is not among the inputs";
}

}  // namespace
