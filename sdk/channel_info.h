// SPDX-License-Identifier: Apache-2.0
// "Channel Info 2": walks channel groups and their channels. Main thread only.
#pragma once

#include "host_types.h"

#define LWCHANNELINFO_GLOBAL "Channel Info 2"

struct LWChannelInfo {
    LWChanGroupID (*nextGroup)(LWChanGroupID parent, LWChanGroupID group);  // child groups, null after the last
    LWChannelID (*nextChannel)(LWChanGroupID group, LWChannelID chan);  // channels in order, null after the last
    const char *(*groupName)(LWChanGroupID group);
    const char *(*channelName)(LWChannelID chan);
    LWChanGroupID (*groupParent)(LWChanGroupID group);
    LWChanGroupID (*channelParent)(LWChannelID chan);
    LWEnvelopeID (*channelEnvelope)(LWChannelID chan);  // null when the channel has no envelope
};

// The host's 32-bit x86 layout of these records, as the Windows target lays them out (the 32-bit
// Linux build matches it with -malign-double).
#if defined(__i386__) || defined(_M_IX86)
#include <cstddef>
static_assert(sizeof(LWChannelInfo) == 28, "LWChannelInfo is 28 bytes");
#endif
