// SPDX-License-Identifier: Apache-2.0
// A pass-through shader plug-in for end-to-end tests: it loads velmora.so, offers its
// "ShaderHandler" under the same name and counts every evaluation, apart those that start on a
// thread already inside an evaluation (a shader run by the host's shadow computation of an outer
// spot) and those shading a shadow ray. Tests read the counts through probeCounts.
#include <dlfcn.h>

#include <atomic>
#include <cstring>

#include "sdk/module_descriptor.h"
#include "sdk/shader.h"

#define PROBE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

void *gModule = nullptr;
const ModuleDescriptor *gReal = nullptr;
void *gRealData = nullptr;
void (*gRealEvaluate)(LWInstance, LWShaderAccess *) = nullptr;

std::atomic<long> gEvaluations{0}, gNested{0}, gShadowRays{0};
thread_local int tDepth = 0;

void evaluate(LWInstance inst, LWShaderAccess *sa) {
    ++gEvaluations;
    if (tDepth > 0) ++gNested;
    if (sa && (sa->flags & LWRT_SHADOW)) ++gShadowRays;
    ++tDepth;
    gRealEvaluate(inst, sa);
    --tDepth;
}

int activate(int version, GlobalFunc global, void *local, void *) {
    if (!gReal) return AFUNC_BADAPP;
    for (const ServerRecord *s = gReal->serverDefs; s && s->className; ++s) {
        if (std::strcmp(s->className, LWSHADER_HCLASS) != 0 || !s->activate) continue;
        int result = s->activate(version, global, local, gRealData);
        auto *handler = static_cast<LWShaderHandler *>(local);
        if (result == AFUNC_OK && handler && handler->evaluate) {
            gRealEvaluate = handler->evaluate;
            handler->evaluate = evaluate;
        }
        return result;
    }
    return AFUNC_BADAPP;
}

void *startup() {
    gModule = dlopen(VELMORA_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    gReal = gModule ? static_cast<const ModuleDescriptor *>(dlsym(gModule, "_mod_descrip")) : nullptr;
    if (!gReal) return nullptr;
    gRealData = gReal->startup ? gReal->startup() : nullptr;
    return gRealData ? gRealData : &gModule;
}

void shutdown(void *) {
    if (gReal && gReal->shutdown) gReal->shutdown(gRealData);
    gReal = nullptr;
    gRealEvaluate = nullptr;
    if (gModule) dlclose(gModule);
    gModule = nullptr;
}

ServerRecord gServers[] = {
    {LWSHADER_HCLASS, "QZ_velmora", activate, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

PROBE_EXPORT ModuleDescriptor _mod_descrip;
ModuleDescriptor _mod_descrip = {MOD_SYSSYNC, MOD_SYSVER, MOD_MACHINE, startup, shutdown, gServers};

// Evaluations, nested evaluations and shadow-ray evaluations since the last reset.
PROBE_EXPORT void probeCounts(long counts[3]) {
    counts[0] = gEvaluations.load();
    counts[1] = gNested.load();
    counts[2] = gShadowRays.load();
}

PROBE_EXPORT void probeReset() {
    gEvaluations = 0;
    gNested = 0;
    gShadowRays = 0;
}
