// SPDX-License-Identifier: Apache-2.0
// Opens a plug-in library, checks its module descriptor and activates its servers, as the real
// host does. Portable: dlopen on Linux, LoadLibrary on Windows.
#pragma once

#include <string>
#include <vector>

#include "sdk/module_descriptor.h"

namespace host::plugin {

struct ServerInfo {
    std::string className;
    std::string name;
    ActivateFunc activate;
};

class PluginModule {
public:
    PluginModule() = default;
    ~PluginModule();  // calls shutdown, then closes the library
    PluginModule(const PluginModule &) = delete;
    PluginModule &operator=(const PluginModule &) = delete;

    // Loads the library, finds `_mod_descrip`, checks the synchronisation word and calls startup.
    // On failure returns false and sets error() to one line naming the file.
    bool open(const std::string &path);

    const std::string &error() const { return error_; }
    const ModuleDescriptor *descriptor() const { return descriptor_; }
    const std::vector<ServerInfo> &servers() const { return servers_; }

    // The server of a class and name (name empty: the first of that class), or null.
    const ServerInfo *find(const std::string &className, const std::string &name = {}) const;
    // Activates a server; returns its result, or -1 when there is no such server.
    int activate(const std::string &className, const std::string &name, int version, GlobalFunc global,
                 void *local) const;

private:
    void close();

    void *handle_ = nullptr;
    const ModuleDescriptor *descriptor_ = nullptr;
    void *serverData_ = nullptr;
    std::vector<ServerInfo> servers_;
    std::string error_;
};

}  // namespace host::plugin
