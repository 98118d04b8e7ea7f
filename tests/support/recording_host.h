// A global look-up for module tests: it records every name asked for and answers from a table the
// test sets up. Each known name gets a distinct placeholder table unless the test installs one.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sdk/sdk.h"

namespace testhost {

struct RecordingHost {
    std::vector<std::pair<std::string, int>> calls;  // (name, use mode) in order
    std::map<std::string, void *> tables;            // answers; a missing name answers null

    // Gives every service of the module's three sets and the panel a placeholder table.
    void offerAll();
    void remove(const std::string &name) { tables.erase(name); }
    std::vector<std::string> names() const;

    // Installs this recorder as the answer of lookup() below.
    void install();
    static void *lookup(const char *name, int useMode);
};

}  // namespace testhost
