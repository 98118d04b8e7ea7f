// SPDX-License-Identifier: Apache-2.0
#include "entry/servers.h"

#include "base/host_globals.h"
#include "base/server_name.h"
#include "instance/skin_instance.h"
#include "instance/skin_panel.h"
#include "shading/evaluate.h"

namespace velmora {

namespace {

// Handler tables handed to the host; the host keeps pointers to them for the module's lifetime.
LWInstanceFuncs instanceFuncs = {
    nullptr,       // priv
    skinCreate,    // create
    skinDestroy,   // destroy
    skinCopy,      // copy
    skinLoad,      // load
    skinSave,      // save
    skinDescribe,  // descln
};

LWItemFuncs itemFuncs = {
    skinUseItems,  // useItems
    skinChangeID,  // changeID
};

LWRenderFuncs renderFuncs = {
    skinRenderInit,     // init
    skinRenderCleanup,  // cleanup
    skinNewTime,        // newTime
};

ServerRecord serverTable[] = {
    {LWSHADER_HCLASS, kServerName, shaderHandlerActivate, nullptr},
    {LWSHADER_ICLASS, kServerName, shaderInterfaceActivate, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

void *moduleStartup() { return reinterpret_cast<void *>(static_cast<uintptr_t>(4)); }

void moduleShutdown(void *) {}

int shaderHandlerActivate(int version, GlobalFunc global, void *local, void *) {
    if (version != LWSHADER_VERSION) return AFUNC_BADVERSION;

    hostGlobal = global;
    acquireShaderGlobals();

    LWShaderHandler *handler = static_cast<LWShaderHandler *>(local);
    if (handler) {
        if (handler->inst) *handler->inst = instanceFuncs;
        if (handler->item) *handler->item = itemFuncs;
        if (handler->rend) *handler->rend = renderFuncs;
        handler->evaluate = evaluate;
        handler->flags = skinFlags;
    }
    return AFUNC_OK;
}

int shaderInterfaceActivate(int version, GlobalFunc global, void *local, void *) {
    if (version != LWSHADER_VERSION) return AFUNC_BADVERSION;

    panelFuncs = global ? static_cast<LWXPanelFuncs *>(global(LWXPANELFUNCS_GLOBAL, GFUSE_TRANSIENT)) : nullptr;

    LWInterface *ui = static_cast<LWInterface *>(local);
    if (ui) {
        // Without the host's panel service there is no panel; the activation still succeeds.
        ui->panel = panelFuncs ? panelCreate(static_cast<SkinInstance *>(ui->inst)) : nullptr;
        ui->options = nullptr;
        ui->command = nullptr;
    }
    return AFUNC_OK;
}

}  // namespace velmora

extern "C" {

VELMORA_EXPORT ModuleDescriptor _mod_descrip = {
    MOD_SYSSYNC,              // sysSync
    MOD_SYSVER,               // sysVersion
    MOD_MACHINE,              // sysMachine
    velmora::moduleStartup,   // startup
    velmora::moduleShutdown,  // shutdown
    velmora::serverTable,     // serverDefs
};
}
