// SPDX-License-Identifier: Apache-2.0
#include "host/serve/server.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include <httplib.h>

#include "host/serve/page_files.h"

namespace host::serve {

namespace {

void answer(httplib::Response &res, const Reply &r) {
    res.status = r.status;
    res.set_content(r.body, r.type.c_str());
    res.set_header("Cache-Control", "no-store");
}

void route(Lookdev &lookdev, const std::string &method, const httplib::Request &req, httplib::Response &res) {
    std::string path = req.path;
    if (method == "GET") {
        std::string file = path == "/" ? "/index.html" : path;
        for (const PageFile &f : pageFiles())
            if (file == f.path) {
                res.set_content(std::string(f.data, f.size), f.type);
                return;
            }
    }
    std::map<std::string, std::string> query;
    for (const auto &[k, v] : req.params) query[k] = v;
    answer(res, lookdev.handle(method, path, query, req.body));
}

}  // namespace

int serve(scene::Scene &scene, const LookdevConfig &config, const std::string &address, int port,
          std::string &message, const std::function<void(int port)> &listening) {
    // Signals are taken by one waiting thread, never by the threads serving or rendering.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    Lookdev lookdev(scene, config);
    int status = lookdev.start(message);
    if (status) return status;

    httplib::Server server;
    server.set_payload_max_length(kMaxBody);
    server.set_read_timeout(10, 0);
    server.set_write_timeout(10, 0);
    server.Get(".*",
               [&](const httplib::Request &req, httplib::Response &res) { route(lookdev, "GET", req, res); });
    server.Post(".*",
                [&](const httplib::Request &req, httplib::Response &res) { route(lookdev, "POST", req, res); });
    // Other methods reach the handler too, for its 405 rather than httplib's bare 404.
    auto other = [&](const httplib::Request &req, httplib::Response &res) {
        route(lookdev, req.method, req, res);
    };
    server.Put(".*", other);
    server.Patch(".*", other);
    server.Delete(".*", other);
    server.Options(".*", other);
    server.set_error_handler([](const httplib::Request &, httplib::Response &res) {
        if (res.body.empty()) {
            std::string why = res.status == 413 ? "the request body is larger than 64 KB"
                                                : "the request was refused (" + std::to_string(res.status) + ")";
            res.set_content(nlohmann::json({{"error", why}}).dump(), "application/json");
        }
    });
    int bound = port == 0 ? server.bind_to_any_port(address) : (server.bind_to_port(address, port) ? port : -1);
    if (bound <= 0) {
        lookdev.stop();
        message = "cannot listen on " + address + " port " + std::to_string(port);
        return 2;
    }
    std::string host = address.find(':') != std::string::npos ? "[" + address + "]" : address;
    std::printf("velmora-render: serving http://%s:%d/ (Ctrl-C ends)\n", host.c_str(), bound);
    std::fflush(stdout);
    if (listening) listening(bound);

    std::atomic<bool> ended{false};
    std::thread watcher([&] {
        int sig = 0;
        sigwait(&signals, &sig);
        lookdev.stop();
        // httplib's stop() does nothing until the server runs: a signal in that gap waits for it.
        while (!server.is_running() && !ended) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        server.stop();
    });
    bool listened = server.listen_after_bind();
    ended = true;
    lookdev.stop();
    pthread_kill(watcher.native_handle(), SIGUSR1);  // wakes the watcher when the server ended by itself
    watcher.join();
    if (!listened) {
        message = "the server on " + address + " stopped unexpectedly";
        return 1;
    }
    std::fprintf(stderr, "velmora-render: stopped\n");
    return 0;
}

}  // namespace host::serve
