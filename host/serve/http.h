// SPDX-License-Identifier: Apache-2.0
// The look-development server's HTTP side (cpp-httplib parses and answers), with the gate in front
// of every route and its own handling of connections, so that slow or idle clients cannot starve
// the rest: a connection waiting for its next request holds no thread (one poller watches them
// all), a request must arrive whole within a deadline from its first byte, a bounded set of
// workers answers, and beyond the cap on open connections the longest idle one is closed.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "host/serve/gate.h"
#include "host/serve/requests.h"

namespace host::serve {

struct ConnectionLimits {
    size_t workers = 64;       // requests answered at once
    size_t connections = 512;  // open at once; beyond it the longest idle one is closed
    int idleMs = 5000;         // no request begun within this after connecting or an answer: closed
    int requestMs = 5000;      // a request's line, headers and body must arrive within this
    int writeMs = 10000;       // an answer must be taken within this
    size_t requestsPerConnection = 100;
};

// What the server answers a request that passed the gate with: method, path, query and body.
using Route = std::function<Reply(const std::string &method, const std::string &path,
                                  const std::map<std::string, std::string> &query, const std::string &body)>;

class HttpServer : public httplib::Server {
public:
    explicit HttpServer(Route route, ConnectionLimits limits = {});
    ~HttpServer() override;

    // Binds `address` and `port` (0: any free port) with a listen queue deep enough for bursts of
    // connections; the port, or -1.
    int bindTo(const std::string &address, int port);
    // Every request is refused until the gate is set (it needs the port bound).
    void setGate(Gate gate);

    // Answers the requests read from `stream` (the keep-alive loop of one connection without its
    // socket): what tests and the fuzz target drive. False when the stream ended the exchange.
    bool serveStream(httplib::Stream &stream, size_t maxRequests);
    // Closes every connection and ends the poller and workers; call after listen_after_bind has
    // returned. Safe to call twice.
    void closeConnections();
    // Connections open now (for tests).
    size_t openConnections() const;

private:
    struct Connection {
        int fd = -1;
        std::string pending;  // bytes read past the last answered request
        size_t served = 0;
        std::chrono::steady_clock::time_point idleSince;
        // Answered and shut for writing: what the client still sends is read and dropped for a
        // moment, so that closing does not reset the connection before the client reads the answer.
        bool closing = false;
        size_t drained = 0;
    };
    enum class After { Keep, Linger, Close };

    bool process_and_close_socket(socket_t sock) override;
    // One request of `c` on a worker, and what becomes of the connection.
    After serveOne(Connection &c);
    void pollLoop();
    void workLoop();
    void closeConnection(int fd);

    std::optional<Gate> gate_;
    Route route_;
    ConnectionLimits limits_;

    mutable std::mutex lock_;
    std::condition_variable ready_;
    std::vector<Connection> incoming_;  // new or answered connections, for the poller to watch
    std::deque<Connection> waiting_;    // a request begun, waiting for a worker
    std::vector<int> busy_;             // being answered: shut down on stopping, so no read waits
    size_t open_ = 0;
    bool stopping_ = false, started_ = false;
    int wake_[2] = {-1, -1};  // a pipe that wakes the poller
    std::thread poller_;
    std::vector<std::thread> workers_;
};

// A connection's bytes without a socket: the requests serveStream reads and the answers it writes.
class MemoryStream final : public httplib::Stream {
public:
    explicit MemoryStream(std::string input) : in_(std::move(input)) {}
    bool is_readable() const override { return true; }
    bool is_writable() const override { return true; }
    ssize_t read(char *ptr, size_t size) override;
    ssize_t write(const char *ptr, size_t size) override;
    void get_remote_ip_and_port(std::string &ip, int &port) const override;
    void get_local_ip_and_port(std::string &ip, int &port) const override;
    socket_t socket() const override { return -1; }
    const std::string &output() const { return out_; }

private:
    std::string in_, out_;
    size_t pos_ = 0;
};

}  // namespace host::serve
