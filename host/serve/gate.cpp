// SPDX-License-Identifier: Apache-2.0
#include "host/serve/gate.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <random>

#include "host/serve/requests.h"

namespace host::serve {

namespace {

std::string lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string &s) {
    size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// An IP address literal ("127.0.0.1", "::1", with or without brackets) in binary, with its family;
// family 0 for anything else (a name).
struct Literal {
    int family = 0;
    std::array<unsigned char, 16> bytes{};
};

Literal literal(std::string text) {
    Literal out;
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
    if (inet_pton(AF_INET, text.c_str(), out.bytes.data()) == 1)
        out.family = AF_INET;
    else if (inet_pton(AF_INET6, text.c_str(), out.bytes.data()) == 1)
        out.family = AF_INET6;
    return out;
}

bool sameLiteral(const Literal &a, const Literal &b) {
    return a.family && a.family == b.family && a.bytes == b.bytes;
}

bool wildcard(const Literal &a) {
    return a.family && std::all_of(a.bytes.begin(), a.bytes.end(), [](unsigned char c) { return c == 0; });
}

}  // namespace

std::string newToken() {
    std::random_device device;
    static const char hex[] = "0123456789abcdef";
    std::string token;
    for (int word = 0; word < 4; ++word) {
        uint32_t bits = device();
        for (int k = 0; k < 8; ++k, bits >>= 4) token += hex[bits & 15];
    }
    return token;
}

bool sameSecret(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    volatile unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i) diff = diff | static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

Gate::Gate(std::string token, std::string address, int port)
    : token_(std::move(token)),
      address_(lower(std::move(address))),
      cookieName_("velmora_token_" + std::to_string(port)),
      port_(port) {}

// "NAME:PORT", "[V6]:PORT", or without the port when the server listens on 80. The name is the
// address listened on or "localhost"; on a wildcard address, any address literal (a name could be
// made by DNS to point here, an address cannot).
bool Gate::hostAllowed(const std::string &hostAndPort) const {
    std::string name, port;
    if (!hostAndPort.empty() && hostAndPort[0] == '[') {
        size_t close = hostAndPort.find(']');
        if (close == std::string::npos) return false;
        name = hostAndPort.substr(0, close + 1);
        std::string rest = hostAndPort.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':') return false;
            port = rest.substr(1);
        }
    } else {
        size_t colon = hostAndPort.find(':');
        name = hostAndPort.substr(0, colon);
        if (colon != std::string::npos) {
            port = hostAndPort.substr(colon + 1);
            if (port.find(':') != std::string::npos) return false;
        }
    }
    if (port.empty() ? port_ != 80 : port != std::to_string(port_)) return false;
    name = lower(name);
    if (name.empty()) return false;
    if (name == "localhost" || name == address_) return true;
    Literal asked = literal(name), bound = literal(address_);
    return sameLiteral(asked, bound) || (wildcard(bound) && asked.family);
}

bool Gate::tokenIn(const httplib::Request &req, bool cookieOnly) const {
    bool found = false;
    if (!cookieOnly) {
        for (auto [it, end] = req.params.equal_range("token"); it != end; ++it)
            found = sameSecret(it->second, token_) || found;
        for (auto [it, end] = req.headers.equal_range("Authorization"); it != end; ++it) {
            std::string value = trim(it->second);
            if (value.size() > 6 && lower(value.substr(0, 6)) == "token ")
                found = sameSecret(trim(value.substr(6)), token_) || found;
        }
    }
    for (auto [it, end] = req.headers.equal_range("Cookie"); it != end; ++it) {
        const std::string &line = it->second;
        for (size_t start = 0; start <= line.size();) {
            size_t stop = line.find(';', start);
            if (stop == std::string::npos) stop = line.size();
            std::string pair = trim(line.substr(start, stop - start));
            size_t eq = pair.find('=');
            if (eq != std::string::npos && pair.compare(0, eq, cookieName_) == 0 && eq == cookieName_.size())
                found = sameSecret(pair.substr(eq + 1), token_) || found;
            start = stop + 1;
        }
    }
    return found;
}

Refusal Gate::check(const httplib::Request &req) const {
    if (req.get_header_value_count("Host") != 1 || !hostAllowed(req.get_header_value("Host")))
        return {403, "the Host header must name the address this server listens on"};
    if (req.has_header("Origin")) {
        std::string origin = req.get_header_value("Origin");
        if (req.get_header_value_count("Origin") != 1 || origin.compare(0, 7, "http://") != 0 ||
            !hostAllowed(origin.substr(7)))
            return {403, "requests from other sites' pages are refused"};
    }
    if (!tokenIn(req, false))
        return {403, "the request lacks this server's token: open the address velmora-render printed"};
    if (req.has_header("Transfer-Encoding")) return {411, "send the request body with a Content-Length"};
    if (req.has_header("Content-Length")) {
        std::string length = req.get_header_value("Content-Length");
        if (req.get_header_value_count("Content-Length") != 1 || length.empty() || length.size() > 18 ||
            length.find_first_not_of("0123456789") != std::string::npos)
            return {400, "the Content-Length is not a number"};
        if (std::stoull(length) > kMaxBody) return {413, "the request body is larger than 64 KB"};
    }
    if (req.method == "POST") {
        if (!req.has_header("Content-Length")) return {411, "send the request body with a Content-Length"};
        // application/json, with at most a UTF-8 charset.
        std::string type = req.get_header_value("Content-Type");
        size_t semi = type.find(';');
        bool json = req.get_header_value_count("Content-Type") == 1 &&
                    lower(trim(type.substr(0, semi))) == "application/json";
        while (json && semi != std::string::npos) {
            size_t next = type.find(';', semi + 1);
            std::string param = lower(trim(type.substr(semi + 1, next - semi - 1)));
            json = param == "charset=utf-8" || param == "charset=\"utf-8\"";
            semi = next;
        }
        if (!json) return {415, "a POST must send JSON (Content-Type: application/json)"};
    }
    return {};
}

bool Gate::givesCookie(const httplib::Request &req) const { return !tokenIn(req, true) && tokenIn(req, false); }

std::string Gate::cookie() const { return cookieName_ + "=" + token_ + "; HttpOnly; SameSite=Strict; Path=/"; }

}  // namespace host::serve
