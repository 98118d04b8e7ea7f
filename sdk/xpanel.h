// SPDX-License-Identifier: Apache-2.0
// "LWXPanel": the host's panel service. A view panel shows the fields of one instance through
// get and set callbacks; hints arrange and label its controls. Main thread only.
#pragma once

#include "host_types.h"

#define LWXPANELFUNCS_GLOBAL "LWXPanel"

#define LWXP_VIEW 1
#define LWXP_FORM 2

// A hint list is a flat sequence of machine words; texts are passed as pointers.
typedef void *LWXPanelHint;

#define XPTAG_LABEL 0x3D000B03
#define XPTAG_GROUP 0x3D01FE81
#define XPTAG_TABS 0x3D020A81
#define XPTAG_ENABLE 0x3D01F984
#define XPTAG_END 0

// Refresh codes returned by a set callback.
#define LWXPRC_NONE 0
#define LWXPRC_DFLT 1
#define LWXPRC_DRAW 2
#define LWXPRC_FULL 3

struct LWXPanelControl {  // a table of these ends with an all-zero row
    unsigned int cid;
    const char *label;
    const char *ctrlclass;
};

struct LWXPanelDataDesc {  // a table of these ends with an all-zero row
    unsigned int vid;
    const char *name;
    const char *datatype;
};

// Pointer to the current value of a field (for an "-env" type, the variant parameter's id).
typedef void *LWXPanelGetFunc(void *inst, unsigned int vid);
// Stores a new value; returns a LWXPRC_* refresh code.
typedef int LWXPanelSetFunc(void *inst, unsigned int vid, void *value);

struct LWXPanelFuncs {
    int version;
    LWXPanelID (*create)(int type, LWXPanelControl *controls);
    void (*destroy)(LWXPanelID panel);
    void (*describe)(LWXPanelID panel, LWXPanelDataDesc *data, LWXPanelGetFunc *get, LWXPanelSetFunc *set);
    void (*hint)(LWXPanelID panel, unsigned int id, LWXPanelHint *hints);
    void *(*getData)(LWXPanelID panel, unsigned int id);
    void (*setData)(LWXPanelID panel, unsigned int id, void *data);
    void (*viewInst)(LWXPanelID panel, void *inst);
};

// The host's 32-bit x86 layout of these records, as the Windows target lays them out (the 32-bit
// Linux build matches it with -malign-double).
#if defined(__i386__) || defined(_M_IX86)
#include <cstddef>
static_assert(sizeof(LWXPanelControl) == 12, "LWXPanelControl is 12 bytes");
static_assert(offsetof(LWXPanelControl, cid) == 0, "LWXPanelControl::cid");
static_assert(offsetof(LWXPanelControl, label) == 4, "LWXPanelControl::label");
static_assert(offsetof(LWXPanelControl, ctrlclass) == 8, "LWXPanelControl::ctrlclass");
static_assert(sizeof(LWXPanelDataDesc) == 12, "LWXPanelDataDesc is 12 bytes");
static_assert(offsetof(LWXPanelDataDesc, vid) == 0, "LWXPanelDataDesc::vid");
static_assert(offsetof(LWXPanelDataDesc, name) == 4, "LWXPanelDataDesc::name");
static_assert(offsetof(LWXPanelDataDesc, datatype) == 8, "LWXPanelDataDesc::datatype");
static_assert(sizeof(LWXPanelFuncs) == 32, "LWXPanelFuncs is 32 bytes");
#endif
