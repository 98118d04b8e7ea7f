// SPDX-License-Identifier: Apache-2.0
// "Animation Envelopes": channel groups and keyframed envelopes. Main thread only, except value.
#pragma once

#include "host_types.h"
#include "io_state.h"

#define LWENVELOPEFUNCS_GLOBAL "Animation Envelopes"

#define LWENVTAG_VISIBLE 0
#define LWENVTAG_PREBEHAVE 1
#define LWENVTAG_POSTBEHAVE 2

// Key shapes.
#define LWKEY_TCB 0
#define LWKEY_HERMITE 1
#define LWKEY_BEZIER 2
#define LWKEY_LINEAR 3
#define LWKEY_STEPPED 4

typedef void *LWEnvKeyframeID;

struct LWEnvelopeFuncs {
    LWEnvelopeID (*create)(LWChanGroupID group, const char *name, int type);
    void (*destroy)(LWEnvelopeID env);
    LWChanGroupID (*createGroup)(LWChanGroupID parent, const char *name);  // parent null: top level
    void (*destroyGroup)(LWChanGroupID group);
    LWError (*copy)(LWEnvelopeID to, LWEnvelopeID from);
    LWError (*load)(LWEnvelopeID env, const LWLoadState *load);
    LWError (*save)(LWEnvelopeID env, const LWSaveState *save);
    double (*value)(LWEnvelopeID env, LWTime time);
    LWEnvKeyframeID (*createKey)(LWEnvelopeID env, LWTime time, double value);
    void (*destroyKey)(LWEnvelopeID env, LWEnvKeyframeID key);
    LWEnvKeyframeID (*nextKey)(LWEnvelopeID env, LWEnvKeyframeID key);
    int (*keySet)(LWEnvelopeID env, LWEnvKeyframeID key, int shape);  // sets the key's shape
};

// The host's 32-bit x86 layout of these records, as the Windows target lays them out (the 32-bit
// Linux build matches it with -malign-double).
#if defined(__i386__) || defined(_M_IX86)
#include <cstddef>
static_assert(sizeof(LWEnvelopeFuncs) == 48, "LWEnvelopeFuncs is 48 bytes");
#endif
