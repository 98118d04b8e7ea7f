// SPDX-License-Identifier: Apache-2.0
// The look-development requests read and checked, apart from what answers them: the routes, the
// JSON bodies and query parameters, each refused with a 4xx and a message naming what is wrong.
// Lookdev answers the requests; the fuzz target drives this reading with answers of its own.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace host::serve {

constexpr size_t kMaxBody = 64 * 1024;  // request bodies beyond this are refused
constexpr size_t kMaxSweepValues = 8;   // cells of one sweep

struct Reply {
    int status = 200;
    std::string type = "application/json";
    std::string body;
};

Reply jsonReply(int status, const nlohmann::json &j);
Reply errorReply(int status, const std::string &message);

struct Change {  // POST /api/set
    size_t instance = 0;
    std::string name;
    nlohmann::json value;
};

struct SweepRequest {  // POST /api/sweep
    std::string name;
    std::vector<nlohmann::json> values;  // 1 to kMaxSweepValues
};

// What answers the requests once they are read.
class Api {
public:
    virtual ~Api() = default;
    virtual Reply panels() const = 0;
    virtual Reply status() const = 0;
    virtual Reply image(const std::string &stage) const = 0;  // "preview" or "full"
    virtual Reply presets() const = 0;
    virtual Reply sweepImage(size_t cell) const = 0;
    virtual Reply setControl(const Change &change) = 0;
    virtual Reply startSweep(const SweepRequest &sweep) = 0;
    virtual Reply save() = 0;
    virtual Reply applyPreset(const std::string &name) = 0;
};

// One request: method, the path without query, the query's parameters and the body. Never throws.
Reply dispatch(Api &api, const std::string &method, const std::string &path,
               const std::map<std::string, std::string> &query, const std::string &body);

}  // namespace host::serve
