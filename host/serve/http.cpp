// SPDX-License-Identifier: Apache-2.0
#include "host/serve/http.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include <nlohmann/json.hpp>

namespace host::serve {

namespace {

using Clock = std::chrono::steady_clock;

// Set by the handlers when the connection must close after the answer: a refusal may leave a body
// unread, which would otherwise be read as the next request.
thread_local bool tCloseAfter = false;

constexpr int kLingerMs = 1000;               // how long a closing connection's input is dropped
constexpr size_t kLingerBytes = 1024 * 1024;  // and how much of it

// Waits until `fd` is ready for `events` (or hung up) or `deadline` passes.
bool waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        long long left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{fd, events, 0};
        int n = ::poll(&p, 1, static_cast<int>(std::clamp<long long>(left, 0, INT_MAX)));
        if (n > 0) return true;
        if (n == 0 || errno != EINTR) return false;
    }
}

void addressOf(int fd, bool peer, std::string &ip, int &port) {
    sockaddr_storage a{};
    socklen_t size = sizeof(a);
    ip.clear();
    port = 0;
    if ((peer ? getpeername(fd, reinterpret_cast<sockaddr *>(&a), &size)
              : getsockname(fd, reinterpret_cast<sockaddr *>(&a), &size)) != 0)
        return;
    char text[INET6_ADDRSTRLEN] = {};
    if (a.ss_family == AF_INET) {
        auto *in = reinterpret_cast<sockaddr_in *>(&a);
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof(text));
        port = ntohs(in->sin_port);
    } else if (a.ss_family == AF_INET6) {
        auto *in = reinterpret_cast<sockaddr_in6 *>(&a);
        inet_ntop(AF_INET6, &in->sin6_addr, text, sizeof(text));
        port = ntohs(in->sin6_port);
    }
    ip = text;
}

// One request's exchange on a connection: reads end at `readDeadline` whatever the client's pace,
// and the answer must be taken within `writeMs` of its first byte.
class SocketStream final : public httplib::Stream {
public:
    SocketStream(int fd, std::string pending, Clock::time_point readDeadline, int writeMs)
        : fd_(fd), buffer_(std::move(pending)), readDeadline_(readDeadline), writeMs_(writeMs) {}

    bool is_readable() const override { return pos_ < buffer_.size() || waitFor(fd_, POLLIN, readDeadline_); }
    bool is_writable() const override { return waitFor(fd_, POLLOUT, writeDeadline()); }

    ssize_t read(char *ptr, size_t size) override {
        if (pos_ == buffer_.size()) {
            buffer_.clear();
            pos_ = 0;
            if (!waitFor(fd_, POLLIN, readDeadline_)) {
                failed_ = true;
                return -1;
            }
            char chunk[4096];
            ssize_t n;
            do n = ::recv(fd_, chunk, sizeof(chunk), 0);
            while (n < 0 && errno == EINTR);
            if (n <= 0) {
                failed_ = true;
                return n < 0 ? -1 : 0;
            }
            buffer_.assign(chunk, static_cast<size_t>(n));
        }
        size_t n = std::min(size, buffer_.size() - pos_);
        std::memcpy(ptr, buffer_.data() + pos_, n);
        pos_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char *ptr, size_t size) override {
        if (!writing_) {
            writing_ = true;
            writeStart_ = Clock::now();
        }
        if (!waitFor(fd_, POLLOUT, writeDeadline())) {
            failed_ = true;
            return -1;
        }
        ssize_t n;
        do n = ::send(fd_, ptr, size, MSG_NOSIGNAL);
        while (n < 0 && errno == EINTR);
        if (n < 0) failed_ = true;
        return n;
    }

    void get_remote_ip_and_port(std::string &ip, int &port) const override { addressOf(fd_, true, ip, port); }
    void get_local_ip_and_port(std::string &ip, int &port) const override { addressOf(fd_, false, ip, port); }
    socket_t socket() const override { return fd_; }

    bool failed() const { return failed_; }
    std::string leftover() const { return buffer_.substr(pos_); }

private:
    Clock::time_point writeDeadline() const {
        return (writing_ ? writeStart_ : Clock::now()) + std::chrono::milliseconds(writeMs_);
    }

    int fd_;
    std::string buffer_;
    size_t pos_ = 0;
    Clock::time_point readDeadline_, writeStart_;
    int writeMs_;
    bool writing_ = false, failed_ = false;
};

// httplib hands each accepted connection to its task queue; the connection is passed on at once
// to the poller, so the accepting thread runs it in place.
class InPlace final : public httplib::TaskQueue {
public:
    void enqueue(std::function<void()> fn) override { fn(); }
    void shutdown() override {}
};

void answer(httplib::Response &res, const Reply &r) {
    res.status = r.status;
    res.set_content(r.body, r.type.c_str());
    res.set_header("Cache-Control", "no-store");
    // The page's address holds the token: it is never sent on as a referrer.
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("X-Content-Type-Options", "nosniff");
}

std::map<std::string, std::string> queryOf(const httplib::Request &req) {
    std::map<std::string, std::string> query;
    for (const auto &[k, v] : req.params) query.emplace(k, v);
    return query;
}

}  // namespace

HttpServer::HttpServer(Route route, ConnectionLimits limits) : route_(std::move(route)), limits_(limits) {
    new_task_queue = [] { return new InPlace; };
    set_payload_max_length(kMaxBody);
    set_read_timeout(limits_.requestMs / 1000, (limits_.requestMs % 1000) * 1000);
    set_write_timeout(limits_.writeMs / 1000, (limits_.writeMs % 1000) * 1000);
    set_keep_alive_max_count(limits_.requestsPerConnection);
    set_keep_alive_timeout(std::max(1, limits_.idleMs / 1000));
    // Every check is made on the request line and headers, before any body is read.
    set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) {
        Refusal refused = gate_ ? gate_->check(req) : Refusal{503, "the server is not listening yet"};
        if (refused.status) {
            answer(res, {refused.status, "application/json", nlohmann::json({{"error", refused.message}}).dump()});
        } else if (req.method != "GET" && req.method != "HEAD" && req.method != "POST") {
            answer(res, route_(req.method, req.path, queryOf(req), ""));  // its refusal, without a body read
        } else {
            return HandlerResponse::Unhandled;
        }
        res.set_header("Connection", "close");
        tCloseAfter = true;
        return HandlerResponse::Handled;
    });
    auto handler = [this](const httplib::Request &req, httplib::Response &res) {
        answer(res, route_(req.method == "HEAD" ? "GET" : req.method, req.path, queryOf(req), req.body));
        if (res.status < 300 && gate_->givesCookie(req)) res.set_header("Set-Cookie", gate_->cookie());
    };
    Get(".*", handler);
    Post(".*", handler);
    set_error_handler([](const httplib::Request &, httplib::Response &res) {
        if (res.body.empty()) {
            std::string why = res.status == 413 ? "the request body is larger than 64 KB"
                                                : "the request was refused (" + std::to_string(res.status) + ")";
            res.set_content(nlohmann::json({{"error", why}}).dump(), "application/json");
        }
    });
    // Any refusal, httplib's own included, ends the connection: what follows it may be the rest of
    // a body that was never read.
    set_logger([](const httplib::Request &, const httplib::Response &res) {
        if (res.status >= 400) tCloseAfter = true;
    });
}

HttpServer::~HttpServer() { closeConnections(); }

int HttpServer::bindTo(const std::string &address, int port) {
    int bound = port == 0 ? bind_to_any_port(address) : (bind_to_port(address, port) ? port : -1);
    // httplib listens with a queue of 5, where a burst of clients would wait for SYN retries.
    if (bound > 0 && ::listen(svr_sock_, SOMAXCONN) != 0) return -1;
    return bound;
}

void HttpServer::setGate(Gate gate) { gate_ = std::move(gate); }

bool HttpServer::serveStream(httplib::Stream &stream, size_t maxRequests) {
    for (size_t i = 0; i < maxRequests; ++i) {
        tCloseAfter = false;
        bool closed = false;
        if (!process_request(stream, i + 1 == maxRequests, closed, nullptr)) return false;
        if (closed || tCloseAfter) return true;
    }
    return true;
}

bool HttpServer::process_and_close_socket(socket_t sock) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!started_ && !stopping_) {
        started_ = true;
        if (pipe2(wake_, O_NONBLOCK | O_CLOEXEC) == 0) {
            poller_ = std::thread([this] { pollLoop(); });
            for (size_t i = 0; i < limits_.workers; ++i) workers_.emplace_back([this] { workLoop(); });
        } else {
            stopping_ = true;
        }
    }
    if (stopping_) {
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
        return false;
    }
    ++open_;
    incoming_.push_back({sock, "", 0, Clock::now()});
    char one = 1;
    (void)!::write(wake_[1], &one, 1);
    return true;
}

void HttpServer::closeConnection(int fd) {
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
    std::lock_guard<std::mutex> hold(lock_);
    --open_;
}

size_t HttpServer::openConnections() const {
    std::lock_guard<std::mutex> hold(lock_);
    return open_;
}

// The only thread that closes an idle connection, so a descriptor it watches is never reused
// under it.
void HttpServer::pollLoop() {
    std::vector<Connection> parked;
    std::vector<pollfd> fds;
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            for (Connection &c : incoming_) parked.push_back(std::move(c));
            incoming_.clear();
            if (stopping_) break;
            // Over the cap: the longest idle go first, a new connection last.
            while (open_ > limits_.connections && !parked.empty()) {
                auto oldest = std::min_element(
                    parked.begin(), parked.end(),
                    [](const Connection &a, const Connection &b) { return a.idleSince < b.idleSince; });
                ::shutdown(oldest->fd, SHUT_RDWR);
                ::close(oldest->fd);
                --open_;
                parked.erase(oldest);
            }
        }
        fds.assign(1, pollfd{wake_[0], POLLIN, 0});
        auto deadline = [&](const Connection &c) {
            return c.idleSince + std::chrono::milliseconds(c.closing ? kLingerMs : limits_.idleMs);
        };
        Clock::time_point next = Clock::now() + std::chrono::milliseconds(limits_.idleMs);
        for (const Connection &c : parked) {
            fds.push_back({c.fd, POLLIN, 0});
            next = std::min(next, deadline(c));
        }
        long long wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count() + 1;
        int n = ::poll(fds.data(), fds.size(), static_cast<int>(std::clamp<long long>(wait, 0, INT_MAX)));
        if (n < 0 && errno != EINTR) break;
        if (fds[0].revents) {
            char drain[256];
            while (::read(wake_[0], drain, sizeof(drain)) > 0) {
            }
        }
        Clock::time_point now = Clock::now();
        std::vector<Connection> still;
        bool handed = false;
        for (size_t i = 0; i < parked.size(); ++i) {
            Connection &c = parked[i];
            bool readable = n > 0 && fds[i + 1].revents;
            if (readable && c.closing) {
                char drop[16384];
                ssize_t got;
                while ((got = ::recv(c.fd, drop, sizeof(drop), MSG_DONTWAIT)) > 0 && c.drained < kLingerBytes)
                    c.drained += static_cast<size_t>(got);
                bool open = got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
                if (!open || c.drained >= kLingerBytes) {
                    closeConnection(c.fd);
                    continue;
                }
            } else if (readable) {
                std::lock_guard<std::mutex> hold(lock_);
                waiting_.push_back(std::move(c));
                handed = true;
                continue;
            }
            if (deadline(c) <= now)
                closeConnection(c.fd);
            else
                still.push_back(std::move(c));
        }
        parked.swap(still);
        if (handed) ready_.notify_all();
    }
    for (Connection &c : parked) closeConnection(c.fd);
}

void HttpServer::workLoop() {
    for (;;) {
        Connection c;
        {
            std::unique_lock<std::mutex> hold(lock_);
            ready_.wait(hold, [&] { return stopping_ || !waiting_.empty(); });
            if (stopping_) return;
            c = std::move(waiting_.front());
            waiting_.pop_front();
            busy_.push_back(c.fd);
        }
        After after = serveOne(c);
        std::lock_guard<std::mutex> hold(lock_);
        busy_.erase(std::find(busy_.begin(), busy_.end(), c.fd));
        if (after == After::Close || stopping_) {
            ::shutdown(c.fd, SHUT_RDWR);
            ::close(c.fd);
            --open_;
            continue;
        }
        c.idleSince = Clock::now();
        if (after == After::Linger) {
            ::shutdown(c.fd, SHUT_WR);
            c.closing = true;
            c.pending.clear();
        }
        if (!c.pending.empty()) {
            // The next request has begun already.
            waiting_.push_back(std::move(c));
            ready_.notify_one();
        } else {
            incoming_.push_back(std::move(c));
            char one = 1;
            (void)!::write(wake_[1], &one, 1);
        }
    }
}

HttpServer::After HttpServer::serveOne(Connection &c) {
    SocketStream stream(c.fd, std::move(c.pending), Clock::now() + std::chrono::milliseconds(limits_.requestMs),
                        limits_.writeMs);
    bool last = ++c.served >= limits_.requestsPerConnection, closed = false;
    tCloseAfter = false;
    bool ok = process_request(stream, last, closed, nullptr);
    c.pending = stream.leftover();
    if (!ok || stream.failed()) return After::Close;
    return closed || last || tCloseAfter ? After::Linger : After::Keep;
}

void HttpServer::closeConnections() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (stopping_ && !started_) return;
        stopping_ = true;
        for (int fd : busy_) ::shutdown(fd, SHUT_RDWR);
        if (wake_[1] >= 0) {
            char one = 1;
            (void)!::write(wake_[1], &one, 1);
        }
    }
    ready_.notify_all();
    if (poller_.joinable()) poller_.join();
    for (std::thread &t : workers_)
        if (t.joinable()) t.join();
    workers_.clear();
    std::lock_guard<std::mutex> hold(lock_);
    for (Connection &c : waiting_) {
        ::shutdown(c.fd, SHUT_RDWR);
        ::close(c.fd);
        --open_;
    }
    waiting_.clear();
    for (Connection &c : incoming_) {
        ::shutdown(c.fd, SHUT_RDWR);
        ::close(c.fd);
        --open_;
    }
    incoming_.clear();
    for (int &fd : wake_) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    started_ = false;
}

ssize_t MemoryStream::read(char *ptr, size_t size) {
    size_t n = std::min(size, in_.size() - pos_);
    std::memcpy(ptr, in_.data() + pos_, n);
    pos_ += n;
    return static_cast<ssize_t>(n);
}

ssize_t MemoryStream::write(const char *ptr, size_t size) {
    out_.append(ptr, size);
    return static_cast<ssize_t>(size);
}

void MemoryStream::get_remote_ip_and_port(std::string &ip, int &port) const {
    ip = "127.0.0.1";
    port = 50000;
}

void MemoryStream::get_local_ip_and_port(std::string &ip, int &port) const {
    ip = "127.0.0.1";
    port = 0;
}

}  // namespace host::serve
