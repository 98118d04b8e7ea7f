// SPDX-License-Identifier: Apache-2.0
// Refusals of bad input files: scene text, meshes and the files behind them.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "host/scene/loader.h"
#include "tests/host/scene/mesh_test_support.h"

namespace {

const std::string kData = VELMORA_HOST_TEST_DATA;
constexpr size_t kLongestMessage = 400;  // a refusal quotes only a short excerpt of the input

// A fresh folder for one test's files (removed with them afterwards), and the odd kinds of
// file a reader may be handed.
class InputFiles : public mesh_test::MeshFiles {
protected:
    std::string fifo(const std::string &name) {
        std::string path = dir_ + "/" + name;
        EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
        return path;
    }
    // A file of `bytes` zeros that takes no room on disk.
    std::string sparse(const std::string &name, uint64_t bytes) {
        std::string path = write(name, "");
        EXPECT_EQ(::truncate(path.c_str(), static_cast<off_t>(bytes)), 0);
        return path;
    }
    std::string folder(const std::string &name) {
        std::string path = dir_ + "/" + name;
        EXPECT_EQ(mkdir(path.c_str(), 0700), 0);
        return path;
    }
    // A scene of a camera and one object whose mesh is the given file.
    host::scene::LoadResult loadWithMesh(const std::string &mesh) {
        std::string scene = write("scene.json", R"({"items": [{"type": "camera", "name": "cam"},
            {"type": "object", "name": "o", "mesh": {"file": ")" +
                                                    mesh + R"("}}]})");
        return host::scene::loadSceneFile(scene);
    }
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
        {"a NUL byte after the document", sceneWith("") + std::string("\n\0junk", 6),
         "line 2, column 1: a NUL byte: a JSON file is text, and nothing may follow the document"},
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
        host::scene::LoadResult r = host::scene::loadSceneText(c.text, "scene.json", kData, c.memoryLimit);
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
        host::scene::LoadResult result;
        std::string message;
    } cases[] = {
        {"scene is a pipe", host::scene::loadSceneFile(fifo("pipe.json")),
         "pipe.json: cannot open the scene file: is a pipe, not a regular file"},
        {"scene is a folder", host::scene::loadSceneFile(folder("dir.json")),
         "dir.json: cannot open the scene file: is a folder, not a file"},
        {"scene is missing", host::scene::loadSceneFile(dir_ + "/none.json"),
         "none.json: cannot open the scene file: No such file"},
        {"mesh is a pipe", loadWithMesh(fifo("pipe.obj")),
         "/items/1/mesh/file: cannot open mesh file \"" + dir_ + "/pipe.obj\": is a pipe"},
        {"mesh is a folder", loadWithMesh(folder("dir.obj")), "/items/1/mesh/file: cannot open mesh file"},
        {"image is a pipe", host::scene::loadSceneFile(withImage(fifo("pipe.png"))),
         "/images/0/file: cannot read image \"" + dir_ + "/pipe.png\": is a pipe"},
        {"image over the cap", host::scene::loadSceneFile(withImage(sparse("huge.png", 3ull << 30))),
         "/images/0/file: cannot read image \"" + dir_ +
             "/huge.png\": is larger than the 2 GB limit for an image file"},
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
        {"index past the points", tri + "f 1 2 4\n", ", line 4: \"f 1 2 4\": point 4 does not exist (3 so far)"},
        {"relative index before the first point", tri + "f -1 -2 -4\n",
         ", line 4: \"f -1 -2 -4\": point -4 does not exist (3 so far)"},
        {"past float range", "v 1e39 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n",
         ", line 1: \"v 1e39 0 0\": coordinate 1e39 is beyond the limit of 1e+09"},
        {"only lines and points", tri + "l 1 2\np 3\n", " has no polygons"},
        {"binary junk", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), " has no polygons"},
    };
    for (const Case &c : cases) {
        std::string file = write("bad.obj", c.obj);
        host::scene::LoadResult r = loadWithMesh(file);
        EXPECT_FALSE(r.scene) << c.what;
        std::string want = "/items/1/mesh/file: mesh file \"" + file + "\"" + c.message;
        EXPECT_NE(r.error.find(want), std::string::npos)
            << c.what << ": got \"" << r.error << "\", want \"" << want << "\"";
        EXPECT_LE(r.error.size(), kLongestMessage) << c.what;
    }
}

TEST(InputRefusal, ObjTextIsCheckedLineByLine) {
    const std::string tri = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
    struct Case {
        const char *what;
        std::string obj;
        std::string message;  // after "m.obj, "
    } cases[] = {
        {"words for coordinates", tri + "v a b c\n", "line 4: \"v a b c\": expected three numbers"},
        {"two coordinates", "v 1 2\n" + tri, "line 1: \"v 1 2\": expected three numbers"},
        {"number with a tail", "v 1 2 3x\n", "line 1: \"v 1 2 3x\": expected three numbers"},
        {"not a number", "v nan 0 0\n", "line 1: \"v nan 0 0\": \"nan\" is not a finite number"},
        {"infinity", "v 0 -inf 0\n", "line 1: \"v 0 -inf 0\": \"-inf\" is not a finite number"},
        {"beyond the coordinate limit", "v 1e10 0 0\n",
         "line 1: \"v 1e10 0 0\": coordinate 1e10 is beyond the limit of 1e+09"},
        {"beyond double range", "v 0 0 -1e400\n",
         "line 1: \"v 0 0 -1e400\": coordinate -1e400 is beyond the limit of 1e+09"},
        {"five numbers", "v 0 0 0 1 1\n",
         "line 1: \"v 0 0 0 1 1\": expected three numbers, then a weight or three colour values"},
        {"colour beyond the limit", "v 0 0 0 1 1 1e30\n",
         "line 1: \"v 0 0 0 1 1 1e30\": value 1e30 is beyond the limit of 1e+09"},
        {"short normal", tri + "vn 0 1\n", "line 4: \"vn 0 1\": expected three numbers"},
        {"texture coordinate word", tri + "vt 0 x\n", "line 4: \"vt 0 x\": expected one to three numbers"},
        {"index too large for any count", tri + "f 1 2 99999999999999999999\n",
         "line 4: \"f 1 2 99999999999999999999\": point 99999999999999999999 does not exist (3 so far)"},
        {"index 0", tri + "f 0 1 2\n", "line 4: \"f 0 1 2\": point index 0 is invalid"},
        {"index of a later point", "v 0 0 0\nv 1 0 0\nf 1 2 3\nv 0 1 0\n",
         "line 3: \"f 1 2 3\": point 3 does not exist (2 so far)"},
        {"missing texture coordinate", tri + "f 1/1 2/1 3/1\n",
         "line 4: \"f 1/1 2/1 3/1\": texture coordinate 1 does not exist (0 so far)"},
        {"missing normal", tri + "vn 0 0 1\nf 1//1 2//2 3//1\n",
         "line 5: \"f 1//1 2//2 3//1\": normal 2 does not exist (1 so far)"},
        {"four parts", tri + "f 1/1/1/1 2 3\n",
         "line 4: \"f 1/1/1/1 2 3\": \"1/1/1/1\" has more than three parts"},
        {"empty part", tri + "f 1/ 2 3\n", "line 4: \"f 1/ 2 3\": \"1/\": expected an index like 3"},
        {"word for an index", tri + "f 1 2 three\n", "line 4: \"f 1 2 three\": \"three\": expected an index"},
        {"two points", tri + "f 1 2\n", "line 4: \"f 1 2\": a face needs at least three points"},
        {"line past the points", tri + "l 1 9\nf 1 2 3\n", "line 4: \"l 1 9\": point 9 does not exist"},
        {"lines ended by carriage returns", "v 0 0 0\rv 1 0 0\r\nv 0 1 0\r\rv 0 0 q\r",
         "line 5: \"v 0 0 q\": expected three numbers"},
        {"long line", tri + "v 0 0 " + std::string(100000, '7') + "\n",
         "line 4: \"v 0 0 7777777777777777777777777777777777...\": coordinate " + std::string(40, '7') +
             "... is beyond the limit of 1e+09"},
        {"no faces", tri + "l 1 2\n", "m.obj has no polygons"},
    };
    for (const Case &c : cases) {
        host::scene::MeshLayer layer;
        std::string error;
        EXPECT_FALSE(host::scene::parseObjText(c.obj, "m.obj", layer, error)) << c.what;
        EXPECT_EQ(error.rfind("m.obj", 0), 0u) << c.what << ": " << error;
        EXPECT_NE(error.find(c.message), std::string::npos)
            << c.what << ": got \"" << error << "\", want \"" << c.message << "\"";
        EXPECT_LE(error.size(), kLongestMessage) << c.what;
    }
}

TEST(InputRefusal, ObjTextWithEveryReferenceFormIsRead) {
    const std::string obj =
        "# weights, colours, relative and full references\r\n"
        "v 0 0 0 1\nv 1e9 0 0 0.5 0.5 0.5\nv 0 -1E+2 .5\nv +1. 1 0\n"
        "vt 0 0\nvt 1 1 0\nvn 0 0 1\nvw 1 0 0.5 1 0.5\n"
        "usemtl none\ns off\nt crease 2/1 0 1 0.5\n"
        "f 1 2 3\nf -4/1 -3/2 -2/1 -1/2\nf 1//1 2//-1 3//1\nf 1/1/1 3/2/1 4/-1/-1\n";
    host::scene::MeshLayer layer;
    std::string error;
    ASSERT_TRUE(host::scene::parseObjText(obj, "m.obj", layer, error)) << error;
    ASSERT_EQ(layer.points.size(), 4u);
    EXPECT_EQ(layer.points[1].pos[0], 1e9f);
    EXPECT_EQ(layer.points[2].pos[1], -100.0f);
    EXPECT_EQ(layer.points[3].pos[0], 1.0f);
    ASSERT_EQ(layer.polygons.size(), 4u);
    EXPECT_EQ(layer.polygons[1].points, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(layer.polygons[3].points, (std::vector<int>{0, 2, 3}));
    for (const host::scene::MeshPolygon &p : layer.polygons) EXPECT_EQ(p.surface, 0);
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
    host::scene::LoadResult r = host::scene::loadSceneFile(scene);
    ASSERT_TRUE(r.scene) << r.error;
    const host::scene::MeshLayer &layer = r.scene->objects.at(0)->layers.at(0);
    ASSERT_EQ(layer.polygons.size(), 2u);
    EXPECT_EQ(layer.polygons[0].surface, 0);  // the scene's surface of the material's name
    // A material no material file defines becomes a surface of its own, with default values.
    ASSERT_EQ(layer.polygons[1].surface, 2);
    EXPECT_EQ(r.scene->surfaces[2]->name, "Other");
    std::vector<std::string> want = {scene, kData + "/red_blue.png", obj, dir_ + "/meshes/skin.mtl"};
    std::vector<std::string> got = r.scene->inputFiles;
    EXPECT_EQ(got.size(), want.size());
    for (const std::string &file : want)
        EXPECT_NE(std::find(got.begin(), got.end(), file), got.end()) << file << " is not among the inputs";
}

}  // namespace
