// SPDX-License-Identifier: Apache-2.0
#include "host/services/global_lookup.h"

#include <map>
#include <mutex>

namespace host::services {

namespace {

struct Registry {
    std::mutex lock;
    std::map<std::string, void *> tables;
};

// Built on first use and never destroyed: a plug-in linked into the same program may still look
// services up from its own static tear-down, after this file's statics would be gone.
Registry &registry() {
    static Registry *r = new Registry;
    return *r;
}

}  // namespace

void registerService(const std::string &name, void *table) {
    Registry &r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    if (table)
        r.tables[name] = table;
    else
        r.tables.erase(name);
}

void clearServices() {
    Registry &r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    r.tables.clear();
}

void *globalLookup(const char *serviceName, int) {
    if (!serviceName) return nullptr;
    Registry &r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    auto it = r.tables.find(serviceName);
    return it == r.tables.end() ? nullptr : it->second;
}

}  // namespace host::services
