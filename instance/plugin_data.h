// SPDX-License-Identifier: Apache-2.0
// A small generic store: a table of named, typed entries saved into one plug-in data block, and
// loaded back by name and type in any order.
#pragma once

#include "sdk/sdk.h"

namespace velmora {

constexpr LWID kTypePBIN = LWID_('P', 'B', 'I', 'N');
constexpr LWID kTypePDBL = LWID_('P', 'D', 'B', 'L');
constexpr LWID kTypePFLT = LWID_('P', 'F', 'L', 'T');
constexpr LWID kTypePINT = LWID_('P', 'I', 'N', 'T');
constexpr LWID kTypePSTR = LWID_('P', 'S', 'T', 'R');
constexpr LWID kTypePUNT = LWID_('P', 'U', 'N', 'T');
constexpr LWID kTypePUSR = LWID_('P', 'U', 'S', 'R');
constexpr LWID kTypePVEV = LWID_('P', 'V', 'E', 'V');
constexpr LWID kTypePVPR = LWID_('P', 'V', 'P', 'R');
constexpr LWID kTypePVTX = LWID_('P', 'V', 'T', 'X');

constexpr LWID kBlockPDLB = LWID_('P', 'D', 'L', 'B');  // "PluginDataLib"
constexpr LWID kBlockPDPR = LWID_('P', 'D', 'P', 'R');  // "PluginDataParam"

struct PluginDataEntry {  // a table ends with a row whose name is null
    const char *name;
    LWID type;
    void *data;  // null: not saved, ignored on load
    int count;   // number of values; for PSTR the capacity used on load
    void (*save)(const LWSaveState *save, void *data);
    void (*load)(const LWLoadState *load, void *data);
};

// Writes a PDLB block: the number of rows with data, then one PDPR block per such row (name, type
// code, payload), in table order.
void pluginDataSave(const LWSaveState *save, const PluginDataEntry *table);
// Reads a PDLB block: each saved entry goes to the first row of the same name and type, with the
// row's count. Unknown entries are skipped; rows absent from the file keep their values. Stops at
// the first missing PDPR block, whatever count the file claims.
void pluginDataLoad(const LWLoadState *load, const PluginDataEntry *table);

}  // namespace velmora
