// SPDX-License-Identifier: Apache-2.0
// A tiny shader plug-in for the host's tests: one "ShaderHandler" server, "QZ_record", that
// records the render sequence it sees and shades every spot with the light arriving from one
// chosen light (for the radiosity item, the radiosity around the spot's normal). In shadow queries
// it makes its surface fully transparent, so tests can see that shadow rays run the shaders of
// the surfaces they pass; it counts the evaluations radiosity's gathering rays ask for.
#include <atomic>
#include <mutex>
#include <string>

#include "sdk/global_pool.h"
#include "sdk/module_descriptor.h"
#include "sdk/scene_info.h"
#include "sdk/shader.h"

#if defined(__GNUC__)
#define RECORDING_EXPORT extern "C" __attribute__((visibility("default")))
#else
#define RECORDING_EXPORT extern "C"
#endif

namespace {

std::mutex gLock;
std::string gLog;
std::atomic<long> gEvaluations{0}, gNested{0}, gOutOfSequence{0}, gRadiosity{0};
std::atomic<int> gRendering{0};
void *gLight = nullptr;
thread_local int tDepth = 0;

void record(const std::string &event) {
    std::lock_guard<std::mutex> hold(gLock);
    gLog += event + ";";
}

struct Instance {
    void *surface;
};

LWInstance create(void *, void *context, LWError *) {
    record("create");
    return new Instance{context};
}
void destroy(LWInstance inst) {
    record("destroy");
    delete static_cast<Instance *>(inst);
}
LWError copy(LWInstance, LWInstance) { return nullptr; }
LWError load(LWInstance, const LWLoadState *) { return nullptr; }
LWError save(LWInstance, const LWSaveState *) { return nullptr; }
const char *describe(LWInstance) { return "recording shader"; }

LWError init(LWInstance, int mode) {
    record(mode == LWINIT_RENDER ? "init" : "init-preview");
    return nullptr;
}
void cleanup(LWInstance) {
    gRendering = 0;
    record("cleanup");
}
LWError newTime(LWInstance, LWFrame frame, LWTime) {
    gRendering = 1;
    record("newtime " + std::to_string(frame));
    return nullptr;
}

void evaluate(LWInstance, LWShaderAccess *sa) {
    ++gEvaluations;
    if (!gRendering) ++gOutOfSequence;
    if (tDepth > 0) ++gNested;
    if (sa->flags & LWRT_RADIOSITY) ++gRadiosity;
    ++tDepth;
    if (sa->flags & LWRT_SHADOW) {
        sa->transparency = 1.0;
        sa->colorFL = 0.0;
    } else {
        double dir[3] = {sa->wNorm[0], sa->wNorm[1], sa->wNorm[2]}, col[3] = {0, 0, 0};
        int lit = gLight ? sa->illuminate(gLight, sa->wPos, dir, col) : 0;
        for (int c = 0; c < 3; ++c) sa->replacement_color[c] = lit ? col[c] : 0.0;
        sa->replacement_percentage = 1.0;
    }
    --tDepth;
}

unsigned int flags(LWInstance) { return LWSHF_COLOR; }

LWInstanceFuncs gInstanceFuncs = {nullptr, create, destroy, copy, load, save, describe};
LWRenderFuncs gRenderFuncs = {init, cleanup, newTime};

int activate(int version, GlobalFunc global, void *local, void *) {
    if (version != LWSHADER_VERSION) return AFUNC_BADVERSION;
    auto *h = static_cast<LWShaderHandler *>(local);
    // Fill the host's own tables, as a real plug-in does.
    if (h->inst) *h->inst = gInstanceFuncs;
    if (h->rend) *h->rend = gRenderFuncs;
    h->evaluate = evaluate;
    h->flags = flags;
    bool services =
        global(LWSCENEINFO_GLOBAL, GFUSE_TRANSIENT) && global(LWGLOBALPOOL_RENDER_GLOBAL, GFUSE_TRANSIENT);
    record(services ? "activate" : "activate-without-services");
    return AFUNC_OK;
}

void *startup() { return reinterpret_cast<void *>(1); }
void shutdown(void *) {}

ServerRecord gServers[] = {{LWSHADER_HCLASS, "QZ_record", activate, nullptr},
                           {nullptr, nullptr, nullptr, nullptr}};

}  // namespace

RECORDING_EXPORT ModuleDescriptor _mod_descrip;
ModuleDescriptor _mod_descrip = {MOD_SYSSYNC, MOD_SYSVER, MOD_MACHINE, startup, shutdown, gServers};

RECORDING_EXPORT const char *recording_log() {
    static std::string copy;
    std::lock_guard<std::mutex> hold(gLock);
    copy = gLog;
    return copy.c_str();
}
RECORDING_EXPORT void recording_reset(void *light) {
    std::lock_guard<std::mutex> hold(gLock);
    gLog.clear();
    gEvaluations = gNested = gOutOfSequence = gRadiosity = 0;
    gLight = light;
}
RECORDING_EXPORT long recording_count(int which) {
    return which == 0   ? gEvaluations.load()
           : which == 1 ? gNested.load()
           : which == 2 ? gOutOfSequence.load()
                        : gRadiosity.load();
}
