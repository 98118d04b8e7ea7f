#include "support/recording_host.h"

namespace testhost {

namespace {
RecordingHost *current = nullptr;
char placeholders[32][16];  // distinct addresses handed out as service tables
}  // namespace

void RecordingHost::offerAll() {
    const char *all[] = {LWITEMINFO_GLOBAL,     LWLIGHTINFO_GLOBAL,    LWOBJECTINFO_GLOBAL,
                         LWSCENEINFO_GLOBAL,    LWGLOBALPOOL_RENDER_GLOBAL, LWIMAGELIST_GLOBAL,
                         LWSURFACEFUNCS_GLOBAL, LWBACKDROPINFO_GLOBAL, LWVPARMFUNCS_GLOBAL,
                         LWENVELOPEFUNCS_GLOBAL, LWTEXTUREFUNCS_GLOBAL, LWCHANNELINFO_GLOBAL,
                         LWOBJECTFUNCS_GLOBAL,  LWXPANELFUNCS_GLOBAL};
    int i = 0;
    for (const char *name : all) tables[name] = placeholders[i++];
}

std::vector<std::string> RecordingHost::names() const {
    std::vector<std::string> out;
    for (const auto &c : calls) out.push_back(c.first);
    return out;
}

void RecordingHost::install() { current = this; }

void *RecordingHost::lookup(const char *name, int useMode) {
    if (!current) return nullptr;
    current->calls.emplace_back(name, useMode);
    auto it = current->tables.find(name);
    return it == current->tables.end() ? nullptr : it->second;
}

}  // namespace testhost
