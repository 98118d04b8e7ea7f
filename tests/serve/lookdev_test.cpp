// The look-development server's request handling without HTTP: refused requests answer 4xx with a
// message and change nothing; an accepted change goes through the plug-in's panel and is rendered
// to a preview and then a full picture; sweeps and saves.
#include "host/serve/lookdev.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "host/cli/default_scene.h"
#include "host/scene/loader.h"

namespace {

using json = nlohmann::json;
using host::serve::Lookdev;
using host::serve::Reply;

const std::string kSkin = VELMORA_SKIN_PLUGIN;

// The default scene, small so that renders are quick.
std::unique_ptr<host::Scene> smallScene() {
    host::LoadResult r = host::loadSceneText(host::kDefaultSceneJson, "default scene", ".");
    EXPECT_TRUE(r.scene) << r.error;
    r.scene->render.width = 64;
    r.scene->render.height = 48;
    return std::move(r.scene);
}

// Waits (at most a minute: a stuck server fails rather than hangs) until `done` holds.
template <class F>
bool eventually(F done) {
    for (int i = 0; i < 600; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

class LookdevTest : public ::testing::Test {
protected:
    void open(const std::string &savePath = "") {
        scene_ = smallScene();
        host::serve::LookdevConfig config;
        config.pluginPath = kSkin;
        config.savePath = savePath;
        config.threads = 2;
        lookdev_ = std::make_unique<Lookdev>(*scene_, config);
        std::string message;
        ASSERT_EQ(lookdev_->start(message), 0) << message;
    }
    Reply get(const std::string &path, const std::map<std::string, std::string> &query = {}) {
        return lookdev_->handle("GET", path, query, "");
    }
    Reply post(const std::string &path, const std::string &body) {
        return lookdev_->handle("POST", path, {}, body);
    }
    json control(const std::string &name) {
        json panels = json::parse(get("/api/panels").body);
        for (const json &c : panels["instances"][0]["panel"]["controls"])
            if (c["name"] == name) return c;
        return {};
    }

    std::unique_ptr<host::Scene> scene_;
    std::unique_ptr<Lookdev> lookdev_;
};

TEST_F(LookdevTest, RefusedRequestsAnswerWithAMessageAndChangeNothing) {
    open();
    struct Case {
        const char *method, *path;
        std::string body;
        int status;
        const char *message;
    } cases[] = {
        {"POST", "/api/set", "{bad", 400, "not valid JSON"},
        {"POST", "/api/set", "[1, 2]", 400, "JSON object"},
        {"POST", "/api/set", R"({"value": 1})", 400, "name"},
        {"POST", "/api/set", R"({"name": "Ksub"})", 400, "\"value\" is missing"},
        {"POST", "/api/set", R"({"name": "nope", "value": 1})", 400, "unknown setting \"nope\""},
        {"POST", "/api/set", R"({"name": "Ksub", "value": 30})", 400, "out of range"},
        {"POST", "/api/set", R"({"name": "Ksub", "value": "lots"})", 400, "expected a number"},
        {"POST", "/api/set", R"({"name": "skin_color", "value": [1, 2]})", 400, "three numbers"},
        {"POST", "/api/set", R"({"name": "sheen_trace", "value": 2})", 400, "out of range"},
        {"POST", "/api/set", R"({"instance": 7, "name": "Ksub", "value": 0.5})", 400, "no shader instance 7"},
        {"POST", "/api/set", R"({"instance": -1, "name": "Ksub", "value": 0.5})", 400, "instance"},
        {"POST", "/api/set", R"({"name": "skin_prefix", "value": "abcdefghijklmnopqrstuvwxyz"})", 400,
         "longer than the 16 characters"},
        {"POST", "/api/set", std::string(host::serve::kMaxBody + 1, ' '), 413, "larger than"},
        {"POST", "/api/sweep", R"({"name": "Ksub", "values": []})", 400, "values"},
        {"POST", "/api/sweep", R"({"name": "Ksub", "values": [1,2,3,4,5,6,7,8,9]})", 400, "values"},
        {"POST", "/api/sweep", R"({"name": "nope", "values": [1]})", 400, "no control named"},
        {"POST", "/api/save", "{}", 403, "--save"},
        {"POST", "/api/preset", R"({"name": "nope"})", 400, "no preset \"nope\""},
        {"POST", "/api/preset", R"({"name": 3})", 400, "name"},
        {"GET", "/api/image?stage=x", "", 404, "nothing is served"},
        {"GET", "/etc/passwd", "", 404, "nothing is served"},
        {"DELETE", "/api/set", "", 405, "not served"},
    };
    uint64_t generation = lookdev_->generation();
    for (const Case &c : cases) {
        Reply r = lookdev_->handle(c.method, c.path, {}, c.body);
        EXPECT_EQ(r.status, c.status) << c.path << " " << c.body.substr(0, 80);
        json body = json::parse(r.body, nullptr, false);
        ASSERT_TRUE(body.is_object() && body.contains("error")) << r.body;
        EXPECT_NE(body["error"].get<std::string>().find(c.message), std::string::npos) << body["error"];
    }
    struct Query {
        const char *path;
        std::map<std::string, std::string> query;
        int status;
    } queries[] = {
        {"/api/image", {{"stage", "sideways"}}, 400},
        {"/api/sweep/image", {{"cell", "abc"}}, 400},
        {"/api/sweep/image", {{"cell", "99999999999999999999"}}, 400},
        {"/api/sweep/image", {{"cell", "0"}}, 404},
    };
    for (const Query &q : queries) EXPECT_EQ(get(q.path, q.query).status, q.status) << q.path;
    EXPECT_EQ(lookdev_->generation(), generation);
    EXPECT_EQ(control("Ksub")["value"], 1.0);
    EXPECT_EQ(control("skin_prefix")["value"], "key");
}

TEST_F(LookdevTest, AChangeGoesThroughThePanelAndRefinesToTheFullPicture) {
    open();
    ASSERT_TRUE(eventually([&] { return lookdev_->stageOf(lookdev_->generation()) == "full"; }));
    std::string before = get("/api/image", {{"stage", "full"}}).body;
    Reply r = post("/api/set", R"({"name": "Ksub", "value": 0.25})");
    ASSERT_EQ(r.status, 200) << r.body;
    uint64_t generation = json::parse(r.body)["generation"];
    EXPECT_EQ(control("Ksub")["value"], 0.25);
    // Turning the governing toggle on enables its dependants.
    EXPECT_FALSE(control("trace_eps")["enabled"].get<bool>());
    ASSERT_EQ(post("/api/set", R"({"name": "sheen_trace", "value": true})").status, 200);
    EXPECT_TRUE(control("trace_eps")["enabled"].get<bool>());
    ASSERT_EQ(post("/api/set", R"({"name": "sheen_trace", "value": false})").status, 200);
    ASSERT_TRUE(eventually([&] { return lookdev_->stageOf(generation + 2) == "full"; }));
    Reply preview = get("/api/image", {{"stage", "preview"}}), full = get("/api/image", {{"stage", "full"}});
    ASSERT_EQ(full.type, "image/png");
    EXPECT_EQ(full.body.compare(1, 3, "PNG"), 0);
    EXPECT_LT(preview.body.size(), full.body.size());
    EXPECT_NE(full.body, before);
}

TEST_F(LookdevTest, APresetGoesThroughThePanel) {
    open();
    json list = json::parse(get("/api/presets").body)["presets"];
    ASSERT_FALSE(list.empty());
    std::string name = list[0]["name"];
    std::string error;
    std::vector<host::presets::Preset> presets = host::presets::loadPresets(error);
    const host::presets::Preset *p = host::presets::findPreset(presets, name);
    ASSERT_TRUE(p) << error;
    Reply r = post("/api/preset", json({{"name", name}}).dump());
    ASSERT_EQ(r.status, 200) << r.body;
    for (auto it = p->settings.begin(); it != p->settings.end(); ++it) {
        if (it.value().is_number()) {
            EXPECT_DOUBLE_EQ(control(it.key())["value"].get<double>(), it.value().get<double>()) << it.key();
        }
    }
}

TEST_F(LookdevTest, SweepAndSave) {
    std::string saved = ::testing::TempDir() + "/lookdev_saved_" + std::to_string(::getpid()) + ".json";
    std::remove(saved.c_str());
    open(saved);
    Reply r = post("/api/sweep", R"({"name": "Ksub", "values": [0, 2]})");
    ASSERT_EQ(r.status, 202) << r.body;
    ASSERT_TRUE(eventually([&] { return json::parse(get("/api/status").body)["sweep"]["done"] == 2; }));
    std::string a = get("/api/sweep/image", {{"cell", "0"}}).body,
                b = get("/api/sweep/image", {{"cell", "1"}}).body;
    EXPECT_EQ(a.compare(1, 3, "PNG"), 0);
    EXPECT_NE(a, b);

    ASSERT_EQ(post("/api/set", R"({"name": "Ksheen", "value": 0.4})").status, 200);
    ASSERT_EQ(post("/api/save", "{}").status, 200);
    std::ifstream in(saved);
    json file = json::parse(std::string(std::istreambuf_iterator<char>(in), {}), nullptr, false);
    ASSERT_TRUE(file.is_object());
    const json &shader = file["surfaces"][0]["shaders"][0];
    EXPECT_FALSE(shader.contains("settings"));
    EXPECT_NE(shader["state"]["data"].get<std::string>().find("\"0.4\""), std::string::npos);
    std::remove(saved.c_str());
}

}  // namespace
