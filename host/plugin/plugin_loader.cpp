// SPDX-License-Identifier: Apache-2.0
#include "host/plugin/plugin_loader.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace host::plugin {

namespace {

void *openLibrary(const std::string &path, std::string &why) {
#ifdef _WIN32
    HMODULE h = LoadLibraryA(path.c_str());
    if (!h) why = "LoadLibrary failed with error " + std::to_string(GetLastError());
    return reinterpret_cast<void *>(h);
#else
    void *h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char *e = dlerror();
        why = e ? e : "dlopen failed";
    }
    return h;
#endif
}

void *findSymbol(void *handle, const char *name) {
#ifdef _WIN32
    return reinterpret_cast<void *>(GetProcAddress(reinterpret_cast<HMODULE>(handle), name));
#else
    return dlsym(handle, name);
#endif
}

void closeLibrary(void *handle) {
#ifdef _WIN32
    FreeLibrary(reinterpret_cast<HMODULE>(handle));
#else
    dlclose(handle);
#endif
}

}  // namespace

PluginModule::~PluginModule() { close(); }

void PluginModule::close() {
    if (descriptor_ && descriptor_->shutdown) descriptor_->shutdown(serverData_);
    if (handle_) closeLibrary(handle_);
    handle_ = nullptr;
    descriptor_ = nullptr;
    serverData_ = nullptr;
    servers_.clear();
}

bool PluginModule::open(const std::string &path) {
    close();
    error_.clear();

    std::string why;
    handle_ = openLibrary(path, why);
    if (!handle_) {
        error_ = path + ": cannot load plug-in: " + why;
        return false;
    }
    const auto *desc = static_cast<const ModuleDescriptor *>(findSymbol(handle_, "_mod_descrip"));
    if (!desc) {
        error_ = path + ": not a plug-in: no _mod_descrip";
        close();
        return false;
    }
    if (desc->sysSync != MOD_SYSSYNC) {
        error_ = path + ": not a plug-in: bad synchronisation word in _mod_descrip";
        close();
        return false;
    }
    serverData_ = desc->startup ? desc->startup() : nullptr;
    if (desc->startup && !serverData_) {
        error_ = path + ": plug-in startup failed";
        closeLibrary(handle_);
        handle_ = nullptr;
        return false;
    }
    descriptor_ = desc;
    for (const ServerRecord *s = desc->serverDefs; s && s->className; ++s)
        servers_.push_back({s->className, s->name ? s->name : "", s->activate});
    return true;
}

const ServerInfo *PluginModule::find(const std::string &className, const std::string &name) const {
    for (const ServerInfo &s : servers_)
        if (s.className == className && (name.empty() || s.name == name)) return &s;
    return nullptr;
}

int PluginModule::activate(const std::string &className, const std::string &name, int version, GlobalFunc global,
                           void *local) const {
    const ServerInfo *s = find(className, name);
    if (!s || !s->activate) return -1;
    return s->activate(version, global, local, serverData_);
}

}  // namespace host::plugin
