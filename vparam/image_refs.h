// SPDX-License-Identifier: Apache-2.0
// Image references and layer envelopes of a texture, stored beside the host's texture data.
#pragma once

#include "sdk/sdk.h"

namespace velmora {

constexpr LWID kBlockIREF = LWID_('I', 'R', 'E', 'F');  // "ImageRef"
constexpr LWID kBlockIVAL = LWID_('I', 'V', 'A', 'L');  // "ImageRefValue"
constexpr LWID kBlockIDAT = LWID_('I', 'D', 'A', 'T');  // "ImageRefData"
constexpr LWID kBlockIENV = LWID_('I', 'E', 'N', 'V');  // "ImageEnvelope" and "ImageEnvelopeData"

void imageEnvSave(const LWSaveState *save, LWTextureID texture);
void imageEnvLoad(const LWLoadState *load, LWTextureID texture);
void imageRefSave(const LWSaveState *save, LWTextureID texture);
void imageRefLoad(const LWLoadState *load, LWTextureID texture);
void imageDataSave(const LWSaveState *save, LWImageID image);
LWImageID imageDataLoad(const LWLoadState *load);
void valueBlockWrite(const LWSaveState *save, int value);
int valueBlockRead(const LWLoadState *load);  // 0 when the block is absent
LWImageID findImageByName(const char *name);  // letter case ignored; null when none
}  // namespace velmora
