// SPDX-License-Identifier: Apache-2.0
// The look-development server's gate and connection handling: requests from other sites, other
// host names or without the token are refused before their bodies are read; slow, idle and
// oversized clients cannot hold the server from answering others.
#include "host/serve/http.h"

#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include <gtest/gtest.h>
#include <httplib.h>

#include "host/cli/default_scene.h"
#include "host/scene/loader.h"
#include "host/serve/server.h"

namespace {

using host::serve::Gate;
using host::serve::HttpServer;
using host::serve::MemoryStream;
using host::serve::Reply;
using Clock = std::chrono::steady_clock;

const std::string kToken = "0123456789abcdef0123456789abcdef";

// Answers every request that passes the gate with its method, path and body.
host::serve::Route echo() {
    return [](const std::string &method, const std::string &path, const std::map<std::string, std::string> &,
              const std::string &body) {
        if (method != "GET" && method != "POST") return Reply{405, "application/json", "{\"error\":\"method\"}"};
        return Reply{200, "text/plain", method + " " + path + " " + body};
    };
}

int statusOf(const std::string &answer) { return answer.size() > 12 ? std::stoi(answer.substr(9, 3)) : 0; }

std::string request(const std::string &head, const std::string &body = "") {
    return head + (body.empty() ? "" : "Content-Length: " + std::to_string(body.size()) + "\r\n") + "\r\n" + body;
}

TEST(Gate, RefusesOtherSitesHostsAndRequestsWithoutTheToken) {
    const std::string host = "Host: 127.0.0.1:8123\r\n", auth = "Authorization: token " + kToken + "\r\n";
    const std::string json = "Content-Type: application/json\r\n";
    struct Case {
        std::string text;
        int status;
    } cases[] = {
        {request("GET /api/status?token=" + kToken + " HTTP/1.1\r\n" + host), 200},
        {request("GET /api/status HTTP/1.1\r\nHost: localhost:8123\r\n" + auth), 200},
        {request("GET /api/status HTTP/1.1\r\nHost: [::1]:8123\r\n" + auth), 403},
        {request("GET /api/status HTTP/1.1\r\nHost: LOCALHOST:8123\r\nauthorization: Token  " + kToken + "\r\n"),
         200},
        {request("GET / HTTP/1.1\r\n" + host + "Cookie: a=b; velmora_token_8123=" + kToken + "\r\n"), 200},
        // DNS rebinding: a name that is not the address listened on.
        {request("GET /api/panels HTTP/1.1\r\nHost: attacker.example:8123\r\n" + auth), 403},
        {request("GET /api/panels HTTP/1.1\r\nHost: attacker.example\r\n" + auth), 403},
        {request("GET /api/panels HTTP/1.1\r\nHost: 127.0.0.1:9999\r\n" + auth), 403},
        {request("GET /api/panels HTTP/1.1\r\nHost: 127.0.0.1\r\n" + auth), 403},
        {request("GET /api/panels HTTP/1.1\r\n" + auth), 403},
        {request("GET /api/panels HTTP/1.1\r\n" + host + host + auth), 403},
        // The token: missing, wrong, a prefix of it, or in another port's cookie.
        {request("GET /api/status HTTP/1.1\r\n" + host), 403},
        {request("GET /api/status?token=" + kToken.substr(1) + " HTTP/1.1\r\n" + host), 403},
        {request("GET /api/status HTTP/1.1\r\n" + host + "Authorization: token 0\r\n"), 403},
        {request("GET /api/status HTTP/1.1\r\n" + host + "Authorization: Bearer " + kToken + "\r\n"), 403},
        {request("GET /api/status HTTP/1.1\r\n" + host + "Cookie: velmora_token_8124=" + kToken + "\r\n"), 403},
        // Another site's page: its Origin, and the content types a form may send without asking.
        {request("POST /api/set HTTP/1.1\r\n" + host + auth + "Origin: http://attacker.example\r\n" + json, "{}"),
         403},
        {request("POST /api/set HTTP/1.1\r\n" + host + auth + "Origin: null\r\n" + json, "{}"), 403},
        {request("POST /api/set HTTP/1.1\r\n" + host + auth + "Origin: http://127.0.0.1:8123\r\n" + json, "{}"),
         200},
        {request("POST /api/set HTTP/1.1\r\n" + host + auth + "Content-Type: text/plain\r\n", "{}"), 415},
        {request("POST /api/set HTTP/1.1\r\n" + host + auth, "{}"), 415},
        {request("POST /api/set HTTP/1.1\r\n" + host + auth + "Content-Type: application/jsonp\r\n", "{}"), 415},
        {request("POST /api/set HTTP/1.1\r\n" + host + auth + "Content-Type: application/json; charset=latin1\r\n",
                 "{}"),
         415},
        {request("POST /api/set HTTP/1.1\r\n" + host + auth + "Content-Type: Application/JSON; charset=UTF-8\r\n",
                 "{}"),
         200},
        // Bodies: declared, and within the cap, before a byte of them is read.
        {request("POST /api/set HTTP/1.1\r\n" + host + auth + json), 411},
        {request("POST /api/set HTTP/1.1\r\n" + host + auth + json + "Transfer-Encoding: chunked\r\n") +
             "2\r\n{}\r\n0\r\n\r\n",
         411},
        {request("POST /api/set HTTP/1.1\r\n" + host + auth + json + "Content-Length: 1000000000000\r\n"), 413},
        {request("POST /api/set HTTP/1.1\r\n" + host + auth + json + "Content-Length: -1\r\n"), 400},
        {request("DELETE /api/set HTTP/1.1\r\n" + host + auth + "Content-Length: 99\r\n"), 405},
    };
    HttpServer server(echo());
    server.setGate(Gate(kToken, "127.0.0.1", 8123));
    for (const Case &c : cases) {
        MemoryStream stream(c.text);
        server.serveStream(stream, 4);
        EXPECT_EQ(statusOf(stream.output()), c.status) << c.text;
        if (c.status >= 400) {
            EXPECT_NE(stream.output().find("Connection: close"), std::string::npos) << stream.output();
        }
    }
}

// Bound to a wildcard address, any address literal names it; a name still does not.
TEST(Gate, OnAWildcardAddressAcceptsAddressesButNoOtherNames) {
    Gate gate(kToken, "0.0.0.0", 8123);
    for (auto [host, allowed] : {std::pair{"192.168.1.5:8123", true},
                                 {"[fe80::1]:8123", true},
                                 {"localhost:8123", true},
                                 {"rebind.example:8123", false},
                                 {"192.168.1.5:1", false}}) {
        httplib::Request req;
        req.method = "GET";
        req.set_header("Host", host);
        req.params.emplace("token", kToken);
        EXPECT_EQ(gate.check(req).status, allowed ? 0 : 403) << host;
    }
}

// The page loaded with the token gets the cookie (HttpOnly, SameSite=Strict, for every path), and
// its own requests then need nothing more; a refusal ends the connection, so the request
// pipelined after it is not read.
TEST(Gate, TheTokenedPageGivesTheCookieAndARefusalEndsTheConnection) {
    HttpServer server(echo());
    server.setGate(Gate(kToken, "127.0.0.1", 8123));
    const std::string host = "Host: 127.0.0.1:8123\r\n";
    MemoryStream first(request("GET /?token=" + kToken + " HTTP/1.1\r\n" + host));
    server.serveStream(first, 1);
    EXPECT_NE(
        first.output().find("Set-Cookie: velmora_token_8123=" + kToken + "; HttpOnly; SameSite=Strict; Path=/"),
        std::string::npos)
        << first.output();
    MemoryStream again(
        request("GET /api/status HTTP/1.1\r\n" + host + "Cookie: velmora_token_8123=" + kToken + "\r\n"));
    server.serveStream(again, 1);
    EXPECT_EQ(statusOf(again.output()), 200);
    EXPECT_EQ(again.output().find("Set-Cookie"), std::string::npos);

    MemoryStream pipelined(request("GET /api/status HTTP/1.1\r\n" + host) +
                           request("GET /api/status?token=" + kToken + " HTTP/1.1\r\n" + host));
    server.serveStream(pipelined, 4);
    EXPECT_EQ(statusOf(pipelined.output()), 403);
    EXPECT_EQ(pipelined.output().find("HTTP/1.1", 1), std::string::npos) << pipelined.output();
}

TEST(Gate, TokensAreRandomAndComparedWhole) {
    std::string a = host::serve::newToken(), b = host::serve::newToken();
    EXPECT_EQ(a.size(), 32u);
    EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(a, b);
    EXPECT_TRUE(host::serve::sameSecret(a, a));
    EXPECT_FALSE(host::serve::sameSecret(a, b));
    EXPECT_FALSE(host::serve::sameSecret(a, a.substr(0, 31)));
}

// A connected TCP socket to the server, or -1.
int connectTo(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof(a)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Whether the server closed `fd` within `ms` (reads end of file or a reset).
bool closedWithin(int fd, int ms) {
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    char buf[4096];
    for (;;) {
        ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return true;
        if (n < 0) return false;
    }
}

// A server on loopback with the echo route and `limits`, listening until destroyed.
struct Running {
    explicit Running(host::serve::ConnectionLimits limits) : server(echo(), limits) {
        port = server.bindTo("127.0.0.1", 0);
        server.setGate(Gate(kToken, "127.0.0.1", port));
        listening = std::async(std::launch::async, [this] { return server.listen_after_bind(); });
        while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~Running() {
        server.stop();
        listening.wait();
        server.closeConnections();
    }
    HttpServer server;
    int port = 0;
    std::future<bool> listening;
};

// A request begun but not finished within the deadline is cut off; beyond the cap on open
// connections the longest idle go, and a new client is still answered.
TEST(HttpConnections, SlowRequestsAreCutOffAndIdleConnectionsCapped) {
    host::serve::ConnectionLimits limits;
    limits.requestMs = 500;
    limits.connections = 8;
    Running r(limits);
    int slow = connectTo(r.port);
    ASSERT_GE(slow, 0);
    ASSERT_EQ(::send(slow, "G", 1, MSG_NOSIGNAL), 1);
    auto start = Clock::now();
    EXPECT_TRUE(closedWithin(slow, 3000));
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 2.0);
    ::close(slow);

    std::vector<int> idle;
    for (int i = 0; i < 20; ++i) idle.push_back(connectTo(r.port));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_LE(r.server.openConnections(), limits.connections);
    EXPECT_TRUE(closedWithin(idle.front(), 1000)) << "the longest idle connection is closed";
    httplib::Client client("127.0.0.1", r.port);
    client.set_default_headers({{"Authorization", "token " + kToken}});
    httplib::Result res = client.Get("/api/status");
    ASSERT_TRUE(res) << httplib::to_string(res.error());
    EXPECT_EQ(res->status, 200);
    for (int fd : idle) ::close(fd);
}

// SIGTERM ends `serve` below; blocked in every thread, it reaches only serve's waiting thread.
const bool kTermBlocked = [] {
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    return pthread_sigmask(SIG_BLOCK, &term, nullptr) == 0;
}();

// The whole server, as `velmora-render --serve` runs it: while 16 clients send a byte a second
// and 200 connections sit idle, /api/status still answers within a second, a request that
// declares a body of 10^12 bytes is refused at once, and a signal still ends it promptly.
TEST(HttpConnections, SlowAndIdleClientsDoNotStarveTheServer) {
    ASSERT_TRUE(kTermBlocked);
    host::scene::LoadResult loaded =
        host::scene::loadSceneText(host::cli::kDefaultSceneJson, "default scene", ".");
    ASSERT_TRUE(loaded.scene) << loaded.error;
    loaded.scene->render.width = 32;
    loaded.scene->render.height = 24;
    host::serve::LookdevConfig config;
    config.pluginPath = VELMORA_SKIN_PLUGIN;
    config.threads = 1;
    std::promise<std::pair<int, std::string>> bound;
    std::string message;
    std::future<int> served = std::async(std::launch::async, [&] {
        return host::serve::serve(*loaded.scene, config, "127.0.0.1", 0, message,
                                  [&](int port, const std::string &token) {
                                      bound.set_value({port, token});
                                  });
    });
    auto [port, token] = bound.get_future().get();

    std::atomic<bool> done{false};
    std::vector<std::thread> slow;
    for (int i = 0; i < 16; ++i)
        slow.emplace_back([&, port = port] {
            const std::string text = "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
            int fd = connectTo(port);
            for (size_t k = 0; fd >= 0 && k < text.size() && !done; ++k) {
                if (::send(fd, &text[k], 1, MSG_NOSIGNAL) != 1) break;
                for (int t = 0; t < 10 && !done; ++t) std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            if (fd >= 0) ::close(fd);
        });
    std::vector<int> idle;
    for (int i = 0; i < 200; ++i) idle.push_back(connectTo(port));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    httplib::Client client("127.0.0.1", port);
    client.set_default_headers({{"Authorization", "token " + token}});
    auto start = Clock::now();
    httplib::Result res = client.Get("/api/status");
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_TRUE(res) << httplib::to_string(res.error());
    EXPECT_EQ(res ? res->status : 0, 200);
    EXPECT_LT(seconds, 1.0);

    int huge = connectTo(port);
    std::string head = "POST /api/set HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                       "\r\nAuthorization: token " + token +
                       "\r\nContent-Type: application/json\r\nContent-Length: 1000000000000\r\n\r\n{";
    start = Clock::now();
    ASSERT_EQ(::send(huge, head.data(), head.size(), MSG_NOSIGNAL), static_cast<ssize_t>(head.size()));
    char answer[256] = {};
    ASSERT_GT(::recv(huge, answer, sizeof(answer) - 1, 0), 12);
    EXPECT_EQ(statusOf(answer), 413) << answer;
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 1.0);
    ::close(huge);

    // A signal ends the server promptly, the slow clients' requests still unfinished.
    kill(getpid(), SIGTERM);
    start = Clock::now();
    bool stopped = served.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 2.0);
    done = true;
    for (std::thread &t : slow) t.join();
    for (int fd : idle) ::close(fd);
    ASSERT_TRUE(stopped);
    EXPECT_EQ(served.get(), 0) << message;
}

}  // namespace
