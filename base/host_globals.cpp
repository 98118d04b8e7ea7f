// SPDX-License-Identifier: Apache-2.0
#include "base/host_globals.h"

namespace velmora {

GlobalFunc hostGlobal = nullptr;
ShaderGlobals shaderGlobals = {};
VparamGlobals vparamGlobals = {};
LibraryGlobals libraryGlobals = {};
LWXPanelFuncs *panelFuncs = nullptr;
double renderTime = 0.0;

namespace {

template <typename T>
T *lookUp(const char *name) {
    return hostGlobal ? static_cast<T *>(hostGlobal(name, GFUSE_TRANSIENT)) : nullptr;
}

}  // namespace

void acquireShaderGlobals() {
    ShaderGlobals &g = shaderGlobals;
    g.itemInfo = lookUp<LWItemInfo>(LWITEMINFO_GLOBAL);
    g.lightInfo = lookUp<LWLightInfo>(LWLIGHTINFO_GLOBAL);
    g.objectInfo = lookUp<LWObjectInfo>(LWOBJECTINFO_GLOBAL);
    g.sceneInfo = lookUp<LWSceneInfo>(LWSCENEINFO_GLOBAL);
    g.globalPool = lookUp<LWGlobalPool>(LWGLOBALPOOL_RENDER_GLOBAL);
    g.imageList = lookUp<LWImageList>(LWIMAGELIST_GLOBAL);
    g.surfaceFuncs = lookUp<LWSurfaceFuncs>(LWSURFACEFUNCS_GLOBAL);
    g.backdropInfo = lookUp<LWBackdropInfo>(LWBACKDROPINFO_GLOBAL);
}

void acquireVparamGlobals() {
    VparamGlobals &g = vparamGlobals;
    if (g.vparmFuncs || g.envelopeFuncs || g.textureFuncs) return;
    g.vparmFuncs = lookUp<LWVParmFuncs>(LWVPARMFUNCS_GLOBAL);
    g.envelopeFuncs = lookUp<LWEnvelopeFuncs>(LWENVELOPEFUNCS_GLOBAL);
    g.textureFuncs = lookUp<LWTextureFuncs>(LWTEXTUREFUNCS_GLOBAL);
    g.channelInfo = lookUp<LWChannelInfo>(LWCHANNELINFO_GLOBAL);
}

void acquireLibraryGlobals() {
    LibraryGlobals &g = libraryGlobals;
    if (g.itemInfo || g.lightInfo || g.objectInfo || g.textureFuncs || g.imageList || g.vparmFuncs ||
        g.envelopeFuncs || g.surfaceFuncs || g.channelInfo || g.objectFuncs)
        return;
    g.itemInfo = lookUp<LWItemInfo>(LWITEMINFO_GLOBAL);
    g.lightInfo = lookUp<LWLightInfo>(LWLIGHTINFO_GLOBAL);
    g.objectInfo = lookUp<LWObjectInfo>(LWOBJECTINFO_GLOBAL);
    g.textureFuncs = lookUp<LWTextureFuncs>(LWTEXTUREFUNCS_GLOBAL);
    g.imageList = lookUp<LWImageList>(LWIMAGELIST_GLOBAL);
    g.vparmFuncs = lookUp<LWVParmFuncs>(LWVPARMFUNCS_GLOBAL);
    g.envelopeFuncs = lookUp<LWEnvelopeFuncs>(LWENVELOPEFUNCS_GLOBAL);
    g.surfaceFuncs = lookUp<LWSurfaceFuncs>(LWSURFACEFUNCS_GLOBAL);
    g.channelInfo = lookUp<LWChannelInfo>(LWCHANNELINFO_GLOBAL);
    g.objectFuncs = lookUp<LWObjectFuncs>(LWOBJECTFUNCS_GLOBAL);
}

void resetHostGlobals() {
    hostGlobal = nullptr;
    shaderGlobals = {};
    vparamGlobals = {};
    libraryGlobals = {};
    panelFuncs = nullptr;
    renderTime = 0.0;
}

}  // namespace velmora
