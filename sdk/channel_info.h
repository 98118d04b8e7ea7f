// "Channel Info 2": walks channel groups and their channels. Main thread only.
#pragma once

#include "host_types.h"

#define LWCHANNELINFO_GLOBAL "Channel Info 2"

struct LWChannelInfo {
    LWChanGroupID (*nextGroup)(LWChanGroupID parent, LWChanGroupID group);  // child groups, null after the last
    LWChannelID (*nextChannel)(LWChanGroupID group, LWChannelID chan);      // channels in order, null after the last
    const char *(*groupName)(LWChanGroupID group);
    const char *(*channelName)(LWChannelID chan);
    LWChanGroupID (*groupParent)(LWChanGroupID group);
    LWChanGroupID (*channelParent)(LWChannelID chan);
    LWEnvelopeID (*channelEnvelope)(LWChannelID chan);  // null when the channel has no envelope
};
