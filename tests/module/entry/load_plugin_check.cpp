// SPDX-License-Identifier: Apache-2.0
// Loads a built plug-in through the host's loader, as the host does, and checks its descriptor,
// its two servers and their version rule. Prints one line per check and "N passed, N failed".
#include <cstdio>
#include <cstring>

#include "host/plugin/plugin_loader.h"
#include "host/services/global_lookup.h"
#include "sdk/sdk.h"

namespace {

int passed = 0, failed = 0;

void check(bool ok, const char *what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    (ok ? passed : failed)++;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PLUGIN\n", argv[0]);
        return 2;
    }
    host::plugin::PluginModule plugin;
    const bool opened = plugin.open(argv[1]);
    if (!opened) std::fprintf(stderr, "%s\n", plugin.error().c_str());
    check(opened, "library loads and exports _mod_descrip");
    if (opened) {
        const ModuleDescriptor *d = plugin.descriptor();
        check(d->sysSync == 0x04121994u, "synchronisation word 0x04121994");
        check(d->sysVersion == 3u, "system version 3");
        check(d->sysMachine == 0x300u, "machine word 0x300");
        check(plugin.servers().size() == 2, "two servers");
        const char *classes[] = {"ShaderHandler", "ShaderInterface"};
        for (const char *cls : classes) {
            const host::plugin::ServerInfo *s = plugin.find(cls, "QZ_velmora");
            check(s != nullptr, cls);
            LWInstanceFuncs inst = {};
            LWItemFuncs item = {};
            LWRenderFuncs rend = {};
            LWShaderHandler handler = {&inst, &item, &rend, nullptr, nullptr};
            LWInterface ui = {};
            void *local = std::strcmp(cls, "ShaderHandler") == 0 ? static_cast<void *>(&handler) : &ui;
            check(plugin.activate(cls, "QZ_velmora", 3, host::services::globalLookup, local) == 1,
                  "version 3 refused");
            check(plugin.activate(cls, "QZ_velmora", 5, host::services::globalLookup, local) == 1,
                  "version 5 refused");
            check(plugin.activate(cls, "QZ_velmora", 4, host::services::globalLookup, local) == 0,
                  "version 4 accepted");
        }
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
