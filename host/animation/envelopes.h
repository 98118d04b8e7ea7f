// SPDX-License-Identifier: Apache-2.0
// The host's channel groups and envelopes, and the "Animation Envelopes" and "Channel Info 2"
// tables over them.
//
// Groups form a tree under an invisible root; each envelope is also the channel that carries it
// (LWChannelID and LWEnvelopeID name the same object). Identifiers are checked against the live
// set, so a stale or foreign one is refused instead of followed.
//
// Keys: an envelope holds keys sorted by time; times are unique (a key created at an existing
// time replaces that key's value). The shape of the key that ends a span decides how the span is
// interpolated: LWKEY_LINEAR straight, LWKEY_STEPPED holds the earlier value, LWKEY_TCB a
// Kochanek-Bartels spline with the keys' tension, continuity and bias, and LWKEY_HERMITE and
// LWKEY_BEZIER the same spline with all three at 0 (Catmull-Rom). Before the first and after the
// last key the value stays constant; an envelope without keys has the value 0.
//
// Threads: value() may be called from render threads while nothing else changes the envelopes;
// every other operation runs on the host's main thread.
#pragma once

#include <string>
#include <vector>

#include "sdk/channel_info.h"
#include "sdk/envelope_funcs.h"

namespace host::animation {

struct Key {
    double time = 0;
    double value = 0;
    int shape = LWKEY_TCB;
    double tension = 0, continuity = 0, bias = 0;
};

// The service tables, valid for the life of the process.
const LWEnvelopeFuncs *envelopeFuncs();
const LWChannelInfo *channelInfo();

// Host-side access beyond the tables, used by the host's own editors, scene loader and tests.
bool isEnvelope(LWEnvelopeID env);
bool isGroup(LWChanGroupID group);
// The envelope's value at `time`; false (value untouched) for an unknown envelope. Render threads.
bool valueAt(LWEnvelopeID env, double time, double &value);
// Whether any envelope changes over time (holds keys of different values). Main thread.
bool anyAnimated();
// The keys in time order; empty for an unknown envelope.
std::vector<Key> keys(LWEnvelopeID env);
// Replaces every key; keys are sorted and later duplicates of a time win. False when refused.
bool setKeys(LWEnvelopeID env, std::vector<Key> keys);
// Finds a group's child group or channel by name; null when none.
LWChanGroupID findGroup(LWChanGroupID parent, const std::string &name);
LWEnvelopeID findChannel(LWChanGroupID group, const std::string &name);
// Destroys every group and envelope (between tests, or when a scene is cleared).
void clearAll();

}  // namespace host::animation
