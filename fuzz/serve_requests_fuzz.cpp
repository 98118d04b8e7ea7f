// SPDX-License-Identifier: Apache-2.0
// Fuzzes the look-development server's request handling in process: the input is what a client
// sends on one connection (one or more requests), read by httplib from a stream without a socket,
// through the gate (Host, Origin, token, content type and length) and the reading of each route's
// query and JSON body, to answers that stand in for the renderer's. Every exchange must end in
// whole answers, each refusal closing the connection, and no route may be reached without the
// token.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/scene/loader.h"
#include "host/serve/http.h"

namespace {

using host::serve::Reply;

const char kToken[] = "0123456789abcdef0123456789abcdef";

// Answers as the renderer's would be shaped; values are read as a scene's settings are.
class Answers final : public host::serve::Api {
public:
    Reply panels() const override { return host::serve::jsonReply(200, {{"instances", nlohmann::json::array()}}); }
    Reply status() const override { return host::serve::jsonReply(200, {{"generation", 0}}); }
    Reply image(const std::string &stage) const override {
        if (stage != "preview" && stage != "full") std::abort();
        return host::serve::errorReply(404, "no " + stage + " picture yet");
    }
    Reply presets() const override { return host::serve::jsonReply(200, {{"presets", nlohmann::json::array()}}); }
    Reply sweepImage(size_t cell) const override {
        if (cell > 999) std::abort();
        return host::serve::errorReply(404, "that cell is not rendered");
    }
    Reply setControl(const host::serve::Change &change) override {
        host::scene::readSettingValue(change.value, scene_);
        return host::serve::jsonReply(200, {{"generation", 1}});
    }
    Reply startSweep(const host::serve::SweepRequest &sweep) override {
        if (sweep.values.empty() || sweep.values.size() > host::serve::kMaxSweepValues) std::abort();
        for (const nlohmann::json &v : sweep.values) host::scene::readSettingValue(v, scene_);
        return host::serve::jsonReply(202, {{"id", 1}});
    }
    Reply save() override { return host::serve::errorReply(403, "saving is off"); }
    Reply applyPreset(const std::string &name) override {
        return host::serve::errorReply(400, "no preset \"" + name + "\"");
    }

private:
    host::scene::Scene scene_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static Answers answers;
    static bool routed = false;
    static host::serve::HttpServer *server = [] {
        auto *s = new host::serve::HttpServer([](const std::string &method, const std::string &path,
                                                 const std::map<std::string, std::string> &query,
                                                 const std::string &body) {
            routed = true;
            return host::serve::dispatch(answers, method, path, query, body);
        });
        s->setGate(host::serve::Gate(kToken, "127.0.0.1", 8123));
        return s;
    }();
    std::string input(reinterpret_cast<const char *>(data), size);
    routed = false;
    host::serve::MemoryStream stream(input);
    server->serveStream(stream, 8);
    const std::string &out = stream.output();
    if (!out.empty() && out.compare(0, 9, "HTTP/1.1 ") != 0) std::abort();
    // A route was reached: the token was in the input (or percent-encoded in a query).
    if (routed && input.find(kToken) == std::string::npos && input.find('%') == std::string::npos) std::abort();
    return 0;
}
