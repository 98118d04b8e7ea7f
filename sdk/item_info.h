// SPDX-License-Identifier: Apache-2.0
// "LW Item Info 3": the scene's items (objects, lights, cameras, bones), their names, tags and
// animated parameters. Every call may be made from any thread; returned texts live until the
// item is renamed or removed.
#pragma once

#include "host_types.h"

#define LWITEMINFO_GLOBAL "LW Item Info 3"

typedef int LWItemType;
#define LWI_OBJECT 0
#define LWI_LIGHT 1
#define LWI_CAMERA 2
#define LWI_BONE 3
#define LWI_NONE (-1)

typedef int LWItemParam;
#define LWIP_POSITION 1
#define LWIP_RIGHT 2
#define LWIP_UP 3
#define LWIP_FORWARD 4
#define LWIP_ROTATION 5
#define LWIP_SCALING 6
#define LWIP_PIVOT 7
#define LWIP_W_POSITION 8
#define LWIP_W_RIGHT 9
#define LWIP_W_UP 10
#define LWIP_W_FORWARD 11
#define LWIP_PIVOT_ROT 12

// Pseudo-items accepted in place of a light by illuminate and by LWObjectInfo::excluded.
#define LWITEM_NULL (static_cast<LWItemID>(nullptr))
#define LWITEM_RADIOSITY (reinterpret_cast<LWItemID>(static_cast<uintptr_t>(0x21000000u)))
#define LWITEM_CAUSTICS (reinterpret_cast<LWItemID>(static_cast<uintptr_t>(0x22000000u)))

struct LWItemInfo {
    LWItemID (*first)(LWItemType type,
                      LWItemID parent);  // first item of a type (bones: of an object); null if none
    LWItemID (*next)(LWItemID item);     // next item of the same type and parent; null after the last
    LWItemID (*parent)(LWItemID item);   // parent in the hierarchy, or null
    LWItemType (*type)(LWItemID item);   // LWI_* kind, LWI_NONE for an unknown id
    const char *(*name)(LWItemID item);  // the item's name, or null for an unknown id
    // Writes one parameter at a time into vec; vectors are in the parent's frame unless LWIP_W_*.
    void (*param)(LWItemID item, LWItemParam param, LWTime time, LWDVector vec);
    // Tag line number tagNum (from 1), or null past the last line.
    const char *(*getTag)(LWItemID item, int tagNum);
};

// The host's 32-bit x86 layout of these records, as the Windows target lays them out (the 32-bit
// Linux build matches it with -malign-double).
#if defined(__i386__) || defined(_M_IX86)
#include <cstddef>
static_assert(sizeof(LWItemInfo) == 28, "LWItemInfo is 28 bytes");
#endif
