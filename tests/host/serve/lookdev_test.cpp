// SPDX-License-Identifier: Apache-2.0
// The look-development server's request handling without HTTP: refused requests answer 4xx with a
// message and change nothing; an accepted change goes through the plug-in's panel and is rendered
// to a preview and then a full picture, and a newer one cancels the render in progress; sweeps
// and saves; the queue's cap; the server over HTTP and its clean stop on a signal.
#include "host/serve/lookdev.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <thread>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "host/cli/default_scene.h"
#include "host/cli/options.h"
#include "host/scene/loader.h"
#include "host/serve/server.h"

namespace {

using json = nlohmann::json;
using host::serve::Lookdev;
using host::serve::Reply;

const std::string kSkin = VELMORA_SKIN_PLUGIN;

// The default scene, small so that renders are quick.
std::unique_ptr<host::scene::Scene> smallScene() {
    host::scene::LoadResult r = host::scene::loadSceneText(host::cli::kDefaultSceneJson, "default scene", ".");
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

// The skin plug-in on two render threads, saving to `savePath` (none when empty).
host::serve::LookdevConfig skinConfig(const std::string &savePath = "") {
    host::serve::LookdevConfig config;
    config.pluginPath = kSkin;
    config.savePath = savePath;
    config.threads = 2;
    return config;
}

class LookdevTest : public ::testing::Test {
protected:
    // `samples` > 0: the full render's samples, enough to keep it busy for seconds.
    void open(const std::string &savePath = "", int samples = 0) {
        scene_ = smallScene();
        if (samples) scene_->render.samples = samples;
        lookdev_ = std::make_unique<Lookdev>(*scene_, skinConfig(savePath));
        std::string message;
        ASSERT_EQ(lookdev_->start(message), 0) << message;
    }
    Reply get(const std::string &path, const std::map<std::string, std::string> &query = {}) {
        return lookdev_->handle("GET", path, query, "");
    }
    Reply post(const std::string &path, const std::string &body) {
        return lookdev_->handle("POST", path, {}, body);
    }
    json status() { return json::parse(get("/api/status").body); }
    json control(const std::string &name) {
        json panels = json::parse(get("/api/panels").body);
        for (const json &c : panels["instances"][0]["panel"]["controls"])
            if (c["name"] == name) return c;
        return {};
    }

    std::unique_ptr<host::scene::Scene> scene_;
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
        // A sweep's values pass the same panel checks as a change.
        {"POST", "/api/sweep", R"({"name": "Ksub", "values": [0.5, 30]})", 400, "out of range"},
        {"POST", "/api/sweep", json({{"name", "skin_prefix"}, {"values", {std::string(40, 'k')}}}).dump(), 400,
         "longer than the 16 characters"},
        {"POST", "/api/sweep", json({{"name", "skin_prefix"}, {"values", {"ke", std::string(8000, 'k')}}}).dump(),
         400, "longer than the 16 characters"},
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
    EXPECT_EQ(status()["sweep"]["id"], 0) << "no refused sweep started";
    EXPECT_EQ(control("Ksub")["value"], 1.0);
    EXPECT_EQ(control("skin_prefix")["value"], "key");
}

TEST_F(LookdevTest, AChangeGoesThroughThePanelAndRefinesToTheFullPicture) {
    open();
    ASSERT_TRUE(eventually([&] { return lookdev_->stageOf(lookdev_->generation()) == "full"; })) << status().dump();
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

// The full render of the first change is cancelled by the second; the picture that ends up served
// is the second's.
TEST_F(LookdevTest, ANewerChangeCancelsTheRenderInProgress) {
    open("", 512);
    Reply r = post("/api/set", R"({"name": "Ksub", "value": 0.5})");
    ASSERT_EQ(r.status, 200) << r.body;
    uint64_t first = json::parse(r.body)["generation"];
    ASSERT_TRUE(eventually([&] { return lookdev_->stageOf(first) == "preview"; }));
    uint64_t cancelled = status()["cancelled"];
    r = post("/api/set", R"({"name": "Ksub", "value": 0.75})");
    ASSERT_EQ(r.status, 200) << r.body;
    uint64_t second = json::parse(r.body)["generation"];
    ASSERT_TRUE(eventually([&] { return lookdev_->stageOf(second) == "full"; }));
    json s = status();
    EXPECT_EQ(s["full"], second);
    EXPECT_GT(s["cancelled"], cancelled);
    EXPECT_EQ(control("Ksub")["value"], 0.75);
}

// While the host thread is busy in a slow tile, changes beyond kMaxQueuedJobs are refused at once
// with 503 and a message; only the queued ones are applied.
TEST_F(LookdevTest, ChangesBeyondTheQueueAreRefusedAndChangeNothing) {
    open("", 2048);
    ASSERT_TRUE(eventually([&] { return lookdev_->stageOf(lookdev_->generation()) == "preview"; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // into the full render's first tiles
    const uint64_t before = lookdev_->generation();
    const size_t queued = host::serve::kMaxQueuedJobs, n = queued + 8;
    std::vector<Reply> replies(n);
    std::vector<std::thread> posters;
    for (size_t i = 0; i < n; ++i)
        posters.emplace_back([&, i] {
            replies[i] = post("/api/set", json({{"name", "Ksub"}, {"value", (i + 1) / 64.0}}).dump());
        });
    for (std::thread &t : posters) t.join();
    size_t refused = 0;
    uint64_t newest = 0;
    double newestValue = -1;
    for (size_t i = 0; i < n; ++i) {
        if (replies[i].status == 503) {
            ++refused;
            EXPECT_NE(replies[i].body.find("too many changes"), std::string::npos) << replies[i].body;
            continue;
        }
        ASSERT_EQ(replies[i].status, 200) << replies[i].body;
        uint64_t g = json::parse(replies[i].body)["generation"];
        if (g > newest) newest = g, newestValue = (i + 1) / 64.0;
    }
    EXPECT_EQ(refused, n - queued);
    EXPECT_EQ(lookdev_->generation(), before + queued);
    EXPECT_EQ(newest, before + queued);
    EXPECT_EQ(control("Ksub")["value"], newestValue);
}

// The renderer's own cancel, set before or while it renders: it ends at the next tile with
// `cancelled` and no frame, long before the seconds the whole frame takes.
TEST(LookdevRender, CancelEndsTheRenderPromptly) {
    std::unique_ptr<host::scene::Scene> scene = smallScene();
    scene->render.width = 512;
    scene->render.height = 384;
    scene->render.samples = 16;
    for (int delayMs : {0, 200}) {
        std::atomic<bool> cancel{delayMs == 0};
        host::render::RenderSettings s;
        s.pluginPath = kSkin;
        s.threads = 2;
        s.cancel = &cancel;
        std::thread canceller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            cancel = true;
        });
        auto start = std::chrono::steady_clock::now();
        int frames = 0;
        host::render::RenderOutcome out = host::render::renderScene(*scene, s, [&](const host::render::Frame &) {
            ++frames;
            return std::string();
        });
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        canceller.join();
        EXPECT_TRUE(out.cancelled) << delayMs;
        EXPECT_EQ(out.status, 0) << out.message;
        EXPECT_EQ(frames, 0) << delayMs;
        EXPECT_LT(seconds, 1.5) << delayMs;
    }
}

// SIGTERM stops `serve` as SIGINT does. Blocked in every thread of this program, from before any
// starts, it reaches only serve's signal-waiting thread and never ends the tests.
const bool kTermBlocked = [] {
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    return pthread_sigmask(SIG_BLOCK, &term, nullptr) == 0;
}();

// Over HTTP on the command line's default address (loopback), any free port: refusals by size,
// JSON, path and method, then a clean stop (status 0, promptly) on a signal that comes as the
// server starts or while it renders.
TEST(LookdevHttp, RefusesBadRequestsAndStopsOnASignal) {
    ASSERT_TRUE(kTermBlocked);
    host::cli::CliOptions o;
    std::string message;
    const char *argv[] = {"velmora-render", "--serve"};
    ASSERT_EQ(host::cli::parseOptions(2, const_cast<char **>(argv), o, message), host::cli::kParseOk) << message;
    ASSERT_EQ(o.address, "127.0.0.1");
    for (bool atStart : {true, false}) {
        std::unique_ptr<host::scene::Scene> scene = smallScene();
        scene->render.samples = 512;  // a render is in progress when the signal comes
        const host::serve::LookdevConfig config = skinConfig();
        std::promise<int> bound;
        std::future<int> port = bound.get_future();
        std::string token;
        std::future<int> served = std::async(std::launch::async, [&] {
            return host::serve::serve(*scene, config, o.address, 0, message, [&](int p, const std::string &t) {
                token = t;
                bound.set_value(p);
                if (atStart) kill(getpid(), SIGTERM);
            });
        });
        if (!atStart && port.wait_for(std::chrono::seconds(30)) == std::future_status::ready) {
            httplib::Client client(o.address, port.get());
            client.set_read_timeout(10, 0);
            client.set_default_headers({{"Authorization", "token " + token}});
            struct Case {
                const char *method, *path;
                std::string body;
                int status;
                const char *message;
            } cases[] = {
                {"POST", "/api/set", std::string(host::serve::kMaxBody + 1, ' '), 413, "larger than 64 KB"},
                {"POST", "/api/set", "{bad", 400, "not valid JSON"},
                {"GET", "/api/nope", "", 404, "nothing is served"},
                {"DELETE", "/api/set", "", 405, "not served"},
            };
            for (const Case &c : cases) {
                std::string m = c.method;
                httplib::Result r = m == "GET"    ? client.Get(c.path)
                                    : m == "POST" ? client.Post(c.path, c.body, "application/json")
                                                  : client.Delete(c.path);
                if (!r) {  // no ASSERT until serve has stopped: its future would wait for ever
                    ADD_FAILURE() << c.method << " " << c.path << ": " << httplib::to_string(r.error());
                    continue;
                }
                EXPECT_EQ(r->status, c.status) << c.method << " " << c.path;
                EXPECT_NE(r->body.find(c.message), std::string::npos) << r->body;
            }
            auto stage = [&](const char *which) {
                httplib::Result s = client.Get("/api/status");
                return s ? json::parse(s->body)[which].get<int>() : -1;
            };
            EXPECT_TRUE(eventually([&] { return stage("preview") == 1; }));
            EXPECT_EQ(stage("full"), 0) << "the full render is not in progress";
            kill(getpid(), SIGTERM);
        }
        auto start = std::chrono::steady_clock::now();
        if (served.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            std::fprintf(stderr, "serve did not stop within 10 seconds of the signal\n");
            std::_Exit(1);  // a hang would leave nothing to join
        }
        EXPECT_EQ(served.get(), 0) << message;
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 3.0) << atStart;
    }
}

}  // namespace
