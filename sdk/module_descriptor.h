// SPDX-License-Identifier: Apache-2.0
// The record a plug-in library exports as `_mod_descrip`, and its server table.
//
// Every field is one machine word; on the 32-bit target each is 32 bits, as the host reads them.
#pragma once

#include "host_types.h"

// Activation of one server: version, the host's global look-up, the class's local record
// (for example an LWShaderHandler) and the server data token returned by startup.
// Returns AFUNC_OK, or AFUNC_BADVERSION when the version is not the one the server speaks.
typedef int (*ActivateFunc)(int version, GlobalFunc global, void *local, void *serverData);

#define AFUNC_OK 0
#define AFUNC_BADVERSION 1
#define AFUNC_BADGLOBAL 2
#define AFUNC_BADLOCAL 3
#define AFUNC_BADAPP 4

#define MOD_SYSSYNC 0x04121994u
#define MOD_SYSVER 3u
#define MOD_MACHINE 0x300u

struct ServerTagInfo;

// One server: class name, server name, activation and tag information (may be null).
// A table of these ends with an all-zero row.
struct ServerRecord {
    const char *className;
    const char *name;
    ActivateFunc activate;
    ServerTagInfo *tagInfo;
};

struct ModuleDescriptor {
    uintptr_t sysSync;         // MOD_SYSSYNC: proves the record is a descriptor
    uintptr_t sysVersion;      // MOD_SYSVER
    uintptr_t sysMachine;      // MOD_MACHINE
    void *(*startup)(void);    // called once after load; returns the server data token (non-null)
    void (*shutdown)(void *);  // called once before unload with that token
    ServerRecord *serverDefs;  // the server table
};

#if UINTPTR_MAX == 0xffffffffu
static_assert(sizeof(ModuleDescriptor) == 6 * 4, "descriptor is six 32-bit fields");
static_assert(sizeof(ServerRecord) == 4 * 4, "server row is four 32-bit fields");
#endif
