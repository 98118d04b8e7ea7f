// SPDX-License-Identifier: Apache-2.0
// The checks every request to the look-development server passes before its body is read, as local
// notebook servers make them: the Host header must name the address the server listens on (no DNS
// rebinding), a browser's Origin must be the server's own (no cross-site changes), the request must
// carry the server's random token (in the query, an `Authorization: token` header or the cookie the
// page is given), and a POST must be JSON of a declared length within kMaxBody.
#pragma once

#include <string>

#include <httplib.h>

namespace host::serve {

// 128 random bits from the system's generator, as 32 lowercase hex digits.
std::string newToken();

// Whether two secrets are equal, in a time that depends only on their lengths.
bool sameSecret(const std::string &a, const std::string &b);

struct Refusal {
    int status = 0;  // 0: the request may go on
    std::string message;
};

class Gate {
public:
    // `address` and `port`: where the server listens; `token`: the secret every request carries.
    Gate(std::string token, std::string address, int port);

    Refusal check(const httplib::Request &req) const;
    // The request carried the token in its query or header but not in the cookie: its answer gives
    // the cookie, so the page's own requests need no token of their own.
    bool givesCookie(const httplib::Request &req) const;
    // The Set-Cookie header's value. The name holds the port: browsers share cookies across ports.
    std::string cookie() const;
    const std::string &token() const { return token_; }

private:
    bool hostAllowed(const std::string &hostAndPort) const;
    bool tokenIn(const httplib::Request &req, bool cookieOnly) const;

    std::string token_, address_, cookieName_;
    int port_ = 0;
};

}  // namespace host::serve
