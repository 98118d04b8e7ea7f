// SPDX-License-Identifier: Apache-2.0
// "Surface Functions 2" over the scene's surfaces. Channels are read by name: the environment
// options ("ReflectionOptions", "ReflectionImage", "ReflectionSeamAngle" and the refraction
// twins) and the values of Surface::channel (colour, diffuse, specularity and the rest). Lists
// and channel values live in the services' index, so the pointers handed out stay valid while
// the services are registered.
#include <cstring>

#include "host/services/global_lookup.h"
#include "host/services/scene_services.h"
#include "host/services/scene_state.h"
#include "sdk/envelope_funcs.h"

namespace host::services {

namespace {

const SurfaceEntry *surface(LWSurfaceID id) {
    const SceneState *s = current();
    return s ? findSurface(*s, id) : nullptr;
}

LWSurfaceID surfFirst() {
    const SceneState *s = current();
    return s && !s->scene->surfaces.empty() ? s->scene->surfaces.front().get() : nullptr;
}

LWSurfaceID surfNext(LWSurfaceID id) {
    const SurfaceEntry *e = surface(id);
    return e ? e->next : nullptr;
}

// Surfaces named `name`; with an object file name, only those its polygons use. Null when none.
LWSurfaceID *surfByName(const char *name, const char *objName) {
    const SceneState *s = current();
    if (!s || !name) return nullptr;
    if (!objName) {
        auto it = s->surfacesByName.find(name);
        return it == s->surfacesByName.end() ? nullptr : const_cast<LWSurfaceID *>(it->second.data());
    }
    try {
        auto it = s->surfacesByFileAndName.find({objName, name});
        return it == s->surfacesByFileAndName.end() ? nullptr : const_cast<LWSurfaceID *>(it->second.data());
    } catch (...) {
        return nullptr;
    }
}

// The surfaces the polygons of the objects loaded from `objName` use; null for an unknown file.
LWSurfaceID *surfByObject(const char *objName) {
    const SceneState *s = current();
    if (!s || !objName) return nullptr;
    auto it = s->surfacesByFile.find(objName);
    return it == s->surfacesByFile.end() ? nullptr : const_cast<LWSurfaceID *>(it->second.data());
}

const char *surfName(LWSurfaceID id) {
    const SurfaceEntry *e = surface(id);
    return e ? e->surface->name.c_str() : nullptr;
}

int surfGetInt(LWSurfaceID id, const char *channel) {
    const SurfaceEntry *e = surface(id);
    if (!e || !channel) return 0;
    if (std::strcmp(channel, "ReflectionOptions") == 0) return e->surface->reflection.option;
    if (std::strcmp(channel, "RefractionOptions") == 0) return e->surface->refraction.option;
    return 0;
}

// Names known at registration are answered without a lock; any other name is read from the
// surface once, under the lock, and kept.
double *surfGetFlt(LWSurfaceID id, const char *channel) {
    SceneState *s = current();
    const SurfaceEntry *e = s ? findSurface(*s, id) : nullptr;
    if (!e || !channel) return nullptr;
    auto it = e->channels.find(channel);
    if (it != e->channels.end()) return const_cast<double *>(it->second.data());
    try {
        std::lock_guard<std::mutex> hold(s->lazyLock);
        auto key = std::make_pair(e->surface, std::string(channel));
        auto lz = s->lazyChannels.find(key);
        if (lz == s->lazyChannels.end()) lz = s->lazyChannels.emplace(key, e->surface->channel(channel)).first;
        return lz->second.empty() ? nullptr : lz->second.data();
    } catch (...) {
        return nullptr;
    }
}

LWImageID surfGetImg(LWSurfaceID id, const char *channel) {
    const SurfaceEntry *e = surface(id);
    if (!e || !channel) return nullptr;
    if (std::strcmp(channel, "ReflectionImage") == 0) return e->reflectionImage;
    if (std::strcmp(channel, "RefractionImage") == 0) return e->refractionImage;
    return nullptr;
}

// A top-level group named after the surface, made through "Animation Envelopes" on first need;
// null when that service is not offered.
LWChanGroupID surfChanGrp(LWSurfaceID id) {
    SceneState *s = current();
    const SurfaceEntry *e = s ? findSurface(*s, id) : nullptr;
    if (!e) return nullptr;
    try {
        std::lock_guard<std::mutex> hold(s->lazyLock);
        auto it = s->channelGroups.find(e->surface);
        if (it != s->channelGroups.end()) return it->second;
        auto *env = static_cast<const LWEnvelopeFuncs *>(globalLookup(LWENVELOPEFUNCS_GLOBAL, GFUSE_TRANSIENT));
        if (!env || !env->createGroup) return nullptr;
        LWChanGroupID group = env->createGroup(nullptr, e->surface->name.c_str());
        if (group) s->channelGroups[e->surface] = group;
        return group;
    } catch (...) {
        return nullptr;
    }
}

// Every slot of the record is filled below; a slot added to the record must be added here too.
static_assert(sizeof(LWSurfaceFuncs) == 9 * sizeof(void (*)()), "LWSurfaceFuncs has 9 slots");

const LWSurfaceFuncs kSurfaceFuncs = {
    surfFirst,     // first
    surfNext,      // next
    surfByName,    // byName
    surfByObject,  // byObject
    surfName,      // name
    surfGetInt,    // getInt
    surfGetFlt,    // getFlt
    surfGetImg,    // getImg
    surfChanGrp,   // chanGrp
};

}  // namespace

const LWSurfaceFuncs *surfaceFuncsTable() { return &kSurfaceFuncs; }

}  // namespace host::services
