// SPDX-License-Identifier: Apache-2.0
#include "host/serve/requests.h"

namespace host::serve {

namespace {

using json = nlohmann::json;

bool parseBody(const std::string &body, json &out, std::string &why) {
    out = json::parse(body, nullptr, false);
    if (out.is_discarded()) {
        why = "the request body is not valid JSON";
        return false;
    }
    if (!out.is_object()) {
        why = "the request body must be a JSON object";
        return false;
    }
    return true;
}

Reply setControl(Api &api, const std::string &body) {
    json req;
    std::string why;
    if (!parseBody(body, req, why)) return errorReply(400, why);
    if (!req.contains("name") || !req["name"].is_string()) return errorReply(400, "\"name\" must name a control");
    if (!req.contains("value")) return errorReply(400, "\"value\" is missing");
    Change change;
    if (req.contains("instance")) {
        if (!req["instance"].is_number_unsigned())
            return errorReply(400, "\"instance\" must be an instance number");
        change.instance = req["instance"].get<size_t>();
    }
    change.name = req["name"];
    change.value = req["value"];
    return api.setControl(change);
}

Reply startSweep(Api &api, const std::string &body) {
    json req;
    std::string why;
    if (!parseBody(body, req, why)) return errorReply(400, why);
    if (!req.contains("name") || !req["name"].is_string()) return errorReply(400, "\"name\" must name a control");
    if (!req.contains("values") || !req["values"].is_array() || req["values"].empty() ||
        req["values"].size() > kMaxSweepValues)
        return errorReply(400,
                          "\"values\" must be an array of 1 to " + std::to_string(kMaxSweepValues) + " values");
    SweepRequest sweep;
    sweep.name = req["name"];
    sweep.values = req["values"].get<std::vector<json>>();
    return api.startSweep(sweep);
}

Reply image(const Api &api, const std::map<std::string, std::string> &query) {
    auto it = query.find("stage");
    std::string stage = it == query.end() ? "full" : it->second;
    if (stage != "full" && stage != "preview") return errorReply(400, "stage must be preview or full");
    return api.image(stage);
}

Reply sweepImage(const Api &api, const std::map<std::string, std::string> &query) {
    auto it = query.find("cell");
    if (it == query.end() || it->second.empty() || it->second.size() > 3 ||
        it->second.find_first_not_of("0123456789") != std::string::npos)
        return errorReply(400, "cell must be a cell number");
    return api.sweepImage(std::stoul(it->second));
}

Reply applyPreset(Api &api, const std::string &body) {
    json req;
    std::string why;
    if (!parseBody(body, req, why)) return errorReply(400, why);
    if (!req.contains("name") || !req["name"].is_string()) return errorReply(400, "\"name\" must name a preset");
    return api.applyPreset(req["name"].get<std::string>());
}

}  // namespace

Reply jsonReply(int status, const json &j) { return {status, "application/json", j.dump()}; }
Reply errorReply(int status, const std::string &message) { return jsonReply(status, {{"error", message}}); }

Reply dispatch(Api &api, const std::string &method, const std::string &path,
               const std::map<std::string, std::string> &query, const std::string &body) {
    try {
        if (body.size() > kMaxBody) return errorReply(413, "the request body is larger than 64 KB");
        if (method == "GET") {
            if (path == "/api/panels") return api.panels();
            if (path == "/api/status") return api.status();
            if (path == "/api/image") return image(api, query);
            if (path == "/api/presets") return api.presets();
            if (path == "/api/sweep/image") return sweepImage(api, query);
        } else if (method == "POST") {
            if (path == "/api/set") return setControl(api, body);
            if (path == "/api/sweep") return startSweep(api, body);
            if (path == "/api/save") return api.save();
            if (path == "/api/preset") return applyPreset(api, body);
        } else {
            return errorReply(405, "method " + method + " is not served");
        }
        return errorReply(404, "nothing is served at " + path);
    } catch (const std::exception &e) {
        return errorReply(500, std::string("internal failure: ") + e.what());
    }
}

}  // namespace host::serve
