// SPDX-License-Identifier: Apache-2.0
// The host services the module keeps, in three independent sets, and the look-ups that fill them.
//
// Pointers are written on the host's main thread at activation (or on first need) and only read
// afterwards, from any thread, without locking. A service the host lacks stays null.
#pragma once

#include "sdk/sdk.h"

namespace velmora {

// Acquired on every successful shader activation; required for shading are item, light, object
// and scene information and the render memory pool (hostGlobalsReady), the rest optional.
struct ShaderGlobals {
    LWItemInfo *itemInfo;
    LWLightInfo *lightInfo;
    LWObjectInfo *objectInfo;
    LWSceneInfo *sceneInfo;
    LWGlobalPool *globalPool;
    LWImageList *imageList;
    LWSurfaceFuncs *surfaceFuncs;
    LWBackdropInfo *backdropInfo;
};

// Acquired on first need by the variant-parameter wrapper.
struct VparamGlobals {
    LWVParmFuncs *vparmFuncs;
    LWEnvelopeFuncs *envelopeFuncs;
    LWTextureFuncs *textureFuncs;
    LWChannelInfo *channelInfo;
};

// Acquired on first need by variant parameters, image references and gradient inputs.
struct LibraryGlobals {
    LWItemInfo *itemInfo;
    LWLightInfo *lightInfo;
    LWObjectInfo *objectInfo;
    LWTextureFuncs *textureFuncs;
    LWImageList *imageList;
    LWVParmFuncs *vparmFuncs;
    LWEnvelopeFuncs *envelopeFuncs;
    LWSurfaceFuncs *surfaceFuncs;
    LWChannelInfo *channelInfo;
    LWObjectFuncs *objectFuncs;
};

extern GlobalFunc hostGlobal;  // as last given to the shader activation
extern ShaderGlobals shaderGlobals;
extern VparamGlobals vparamGlobals;
extern LibraryGlobals libraryGlobals;
extern LWXPanelFuncs *panelFuncs;  // as found by the last interface activation

// Time in seconds of the most recent new-time call of any shader instance; 0 before the first.
// Every host query that takes a time uses it.
extern double renderTime;

// The eight look-ups of the shader set, in order; every pointer is overwritten.
void acquireShaderGlobals();
// The four look-ups of the variant-parameter set, unless one of its first three is already set.
void acquireVparamGlobals();
// The ten look-ups of the library set, unless one of them is already set.
void acquireLibraryGlobals();

// Forgets every service and the render time: the state of a freshly loaded module. For tests.
void resetHostGlobals();

}  // namespace velmora
