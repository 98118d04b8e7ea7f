// Placeholder: does nothing until this subsystem lands.
#include "vparam/image_refs.h"

namespace velmora {

void imageEnvSave(const LWSaveState *, LWTextureID) {}
void imageEnvLoad(const LWLoadState *, LWTextureID) {}
void imageRefSave(const LWSaveState *, LWTextureID) {}
void imageRefLoad(const LWLoadState *, LWTextureID) {}
void imageDataSave(const LWSaveState *, LWImageID) {}
LWImageID imageDataLoad(const LWLoadState *) { return nullptr; }
void valueBlockWrite(const LWSaveState *, int) {}
int valueBlockRead(const LWLoadState *) { return 0; }
LWImageID findImageByName(const char *) { return nullptr; }

}  // namespace velmora
