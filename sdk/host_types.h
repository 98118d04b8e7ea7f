// SPDX-License-Identifier: Apache-2.0
// Basic types shared by every host interface record.
//
// Identifiers are opaque machine words handed out by the host; null means none. Where the module
// keys a table by one, it compares it as an unsigned machine word (uintptr_t).
#pragma once

#include <cstdint>

typedef void *LWItemID;
typedef void *LWImageID;
typedef void *LWSurfaceID;
typedef void *LWTextureID;
typedef void *LWTLayerID;
typedef void *LWEnvelopeID;
typedef void *LWChanGroupID;
typedef void *LWChannelID;
typedef void *LWPolID;
typedef void *LWPntID;
typedef void *LWTxtrContextID;
typedef void *LWVParmID;
typedef void *LWXPanelID;
typedef void *LWMemChunk;
typedef void *LWInstance;

typedef const char *LWError;  // error text of an operation; null means no error
typedef double LWTime;        // time in seconds
typedef int LWFrame;          // frame number
typedef double LWDVector[3];  // position, direction or colour
typedef float LWFVector[3];
typedef uint32_t LWID;  // four-character code, first letter in the most significant byte

#define LWID_(a, b, c, d)                                                                        \
    ((static_cast<LWID>(a) << 24) | (static_cast<LWID>(b) << 16) | (static_cast<LWID>(c) << 8) | \
     static_cast<LWID>(d))

// The host's global look-up: a service name string and a use mode (always 0 here) in, the service
// table or null out. Tables stay valid while the module is loaded; nothing is released.
typedef void *(*GlobalFunc)(const char *serviceName, int useMode);

#define GFUSE_TRANSIENT 0
