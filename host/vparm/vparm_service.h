// SPDX-License-Identifier: Apache-2.0
// The host's variant parameters and the "LWVParmFuncs 2" table over them.
//
// A parameter holds a constant value per component (three for LWVP_COLOR, one otherwise); each
// component may instead follow an envelope, created in the parameter's channel group and named
// after its channel name ("<name>.R", ".G", ".B" for a colour, "<name>" otherwise); and the whole
// value may carry a texture, evaluated at a spot over the constant or enveloped value. The
// parameter's event function is called with LWVPE_ENVGROUP when it gains a texture (so the
// plug-in can place the texture's channels) and with LWVPE_AUTOSIZE when the host sizes one of
// that texture's layers automatically.
//
// Saved data (the host's own, inside whatever block the caller opened): block "VParm" with the
// version, the value type, the texture kind, a mask of enveloped components (bits 0 to 2) and
// textured (bit 3), the constant values, and the texture's own data when textured. The envelope
// keys are not part of it: the caller stores those (the parameter's envelopes exist after load,
// so they can be loaded into).
//
// Threads: getVal may be called from render threads while nothing else changes the parameter;
// every other operation runs on the host's main thread.
#pragma once

#include "sdk/vparm_funcs.h"

namespace host::vparm {

const LWVParmFuncs *vparmFuncs();

// Host-side editing beyond the table, as the host's own panel would do it.
bool isVParm(LWVParmID parm);
int components(LWVParmID parm);                             // 3 for a colour, 1 otherwise, 0 if unknown
bool setEnveloped(LWVParmID parm, int component, bool on);  // a new envelope holds the value at 0
LWTextureID setTextured(LWVParmID parm, bool on);           // the texture, null when removed or refused
// Sends LWVPE_AUTOSIZE with a box of -0.5..0.5 per axis and centres and sizes the layer on the
// box the event function returns; the event function's result, 0 when nothing was sent.
int autoSize(LWVParmID parm, LWTLayerID layer);
const char *channelName(LWVParmID parm);
void clearAll();

}  // namespace host::vparm
