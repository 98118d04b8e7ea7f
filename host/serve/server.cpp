// SPDX-License-Identifier: Apache-2.0
#include "host/serve/server.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

#include "host/serve/http.h"
#include "host/serve/page_files.h"

namespace host::serve {

namespace {

// The page's own files, then the look-development requests.
Reply route(Lookdev &lookdev, const std::string &method, const std::string &path,
            const std::map<std::string, std::string> &query, const std::string &body) {
    if (method == "GET") {
        std::string file = path == "/" ? "/index.html" : path;
        for (const PageFile &f : pageFiles())
            if (file == f.path) return {200, f.type, std::string(f.data, f.size)};
    }
    return lookdev.handle(method, path, query, body);
}

}  // namespace

int serve(scene::Scene &scene, const LookdevConfig &config, const std::string &address, int port,
          std::string &message, const std::function<void(int port, const std::string &token)> &listening) {
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

    HttpServer server([&](const std::string &method, const std::string &path,
                          const std::map<std::string, std::string> &query,
                          const std::string &body) { return route(lookdev, method, path, query, body); });
    int bound = server.bindTo(address, port);
    if (bound <= 0) {
        lookdev.stop();
        message = "cannot listen on " + address + " port " + std::to_string(port);
        return 2;
    }
    const std::string token = newToken();
    server.setGate(Gate(token, address, bound));
    std::string host = address.find(':') != std::string::npos ? "[" + address + "]" : address;
    std::printf("velmora-render: serving http://%s:%d/?token=%s (Ctrl-C ends)\n", host.c_str(), bound,
                token.c_str());
    std::fflush(stdout);
    if (listening) listening(bound, token);

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
    server.closeConnections();
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
