// SPDX-License-Identifier: Apache-2.0
// "LWVParmFuncs 2": variant parameters, values that are constant, enveloped per component or
// driven by a texture. getVal may be called from render threads; the rest from the main thread.
#pragma once

#include "host_types.h"
#include "io_state.h"
#include "micropol.h"

#define LWVPARMFUNCS_GLOBAL "LWVParmFuncs 2"

// Value types (envType of create).
#define LWVP_FLOAT 0x10
#define LWVP_PERCENT 0x20
#define LWVP_DIST 0x30
#define LWVP_ANGLE 0x40
#define LWVP_COLOR 0x51

// Texture kinds (texType of create).
#define LWVPDT_NOTXTR (-1)
#define LWVPDT_VECTOR 0
#define LWVPDT_COLOR 1
#define LWVPDT_PERCENT 2
#define LWVPDT_SCALAR 3
#define LWVPDT_DISPLACEMENT 4

// Bits of getState.
#define LWVPSF_ENV (1 << 0)
#define LWVPSF_TEX (1 << 1)

// Event codes sent to a parameter's event function.
#define LWVPE_AUTOSIZE 2  // event data: six doubles, x min, x max, y min, y max, z min, z max
#define LWVPE_ENVGROUP 7  // the texture wants its envelope group

typedef int LWVP_EventFunc(LWVParmID parm, void *userData, int eventCode, void *eventData);

struct LWVParmFuncs {
    LWVParmID (*create)(int envType, int texType);
    void (*destroy)(LWVParmID parm);
    int (*setup)(LWVParmID parm, const char *channelName, LWChanGroupID group, LWTxtrContextID gc,
                 LWVP_EventFunc *eventFunc, const char *pluginName, void *userData);
    LWError (*copy)(LWVParmID to, LWVParmID from);
    LWError (*load)(LWVParmID parm, const LWLoadState *load);
    LWError (*save)(LWVParmID parm, const LWSaveState *save);
    // Value at a time and spot: three components for a colour, the first for the others.
    double (*getVal)(LWVParmID parm, LWTime time, LWMicropol *mp, double *result);
    int (*setVal)(LWVParmID parm, double *value);
    int (*getState)(LWVParmID parm);                       // LWVPSF_* bits
    void (*initMP)(LWMicropol *mp);                        // resets a micropolygon to the host's defaults
    void (*getEnv)(LWVParmID parm, LWEnvelopeID envs[3]);  // null where a component is not enveloped
    LWTextureID (*getTex)(LWVParmID parm);                 // null when not textured
};

// The host's 32-bit x86 layout of these records, as the Windows target lays them out (the 32-bit
// Linux build matches it with -malign-double).
#if defined(__i386__) || defined(_M_IX86)
#include <cstddef>
static_assert(sizeof(LWVParmFuncs) == 48, "LWVParmFuncs is 48 bytes");
#endif
