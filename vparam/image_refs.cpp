// SPDX-License-Identifier: Apache-2.0
#include "vparam/image_refs.h"

#include <cctype>

#include "base/host_globals.h"
#include "vparam/vparam.h"

namespace velmora {

namespace {

// Every image-related find searches this whole list; each save begins its block with its own row.
const LWBlockIdent kImageBlocks[] = {{kBlockIREF, "ImageRef"},          {kBlockIVAL, "ImageRefValue"},
                                     {kBlockIDAT, "ImageRefData"},      {kBlockIENV, "ImageEnvelope"},
                                     {kBlockIENV, "ImageEnvelopeData"}, {0, nullptr}};
const LWBlockIdent &kRowIREF = kImageBlocks[0];
const LWBlockIdent &kRowIVAL = kImageBlocks[1];
const LWBlockIdent &kRowIDAT = kImageBlocks[2];
const LWBlockIdent &kRowImageEnvelope = kImageBlocks[3];
const LWBlockIdent &kRowImageEnvelopeData = kImageBlocks[4];

constexpr int kImageNameCapacity = 512;

LWID findImageBlock(const LWLoadState *load) { return load->findBlk(load->readData, kImageBlocks); }

// The image of a texture layer, or null when it cannot be read.
LWImageID layerImage(const LWTextureFuncs *tf, LWTLayerID layer) {
    LWImageID image = nullptr;
    if (!tf->getParam || !tf->getParam(layer, TXTAG_IMAGE, &image)) return nullptr;
    return image;
}

// Calls visit(envelope) for every enveloped channel of every layer's channel group, layer by layer
// in layer order, then channel by channel in the host's order.
template <typename Visit>
void forEachLayerEnvelope(LWTextureID texture, Visit visit) {
    const LWTextureFuncs *tf = libraryGlobals.textureFuncs;
    const LWChannelInfo *ci = libraryGlobals.channelInfo;
    if (!texture || !tf || !tf->firstLayer || !tf->nextLayer || !tf->layerEnvGroup || !ci || !ci->nextChannel ||
        !ci->channelEnvelope)
        return;
    for (LWTLayerID layer = tf->firstLayer(texture); layer; layer = tf->nextLayer(texture, layer)) {
        LWChanGroupID group = tf->layerEnvGroup(layer);
        if (!group) continue;
        for (LWChannelID chan = ci->nextChannel(group, nullptr); chan; chan = ci->nextChannel(group, chan)) {
            LWEnvelopeID env = ci->channelEnvelope(chan);
            if (env) visit(env);
        }
    }
}

bool sameNameIgnoringCase(const char *a, const char *b) {
    for (;; ++a, ++b) {
        const int ca = std::tolower(static_cast<unsigned char>(*a));
        const int cb = std::tolower(static_cast<unsigned char>(*b));
        if (ca != cb) return false;
        if (ca == 0) return true;
    }
}

}  // namespace

void valueBlockWrite(const LWSaveState *save, int value) {
    save->beginBlk(save->writeData, &kRowIVAL, 1);
    save->writeI4(save->writeData, &value, 1);
    save->endBlk(save->writeData);
}

int valueBlockRead(const LWLoadState *load) {
    int value = 0;
    if (findImageBlock(load) == kBlockIVAL) load->readI4(load->readData, &value, 1);
    load->endBlk(load->readData);
    return value;
}

LWImageID findImageByName(const char *name) {
    const LWImageList *il = libraryGlobals.imageList;
    if (!name || !il || !il->first || !il->next || !il->name) return nullptr;
    for (LWImageID image = il->first(); image; image = il->next(image)) {
        const char *other = il->name(image);
        if (other && sameNameIgnoringCase(other, name)) return image;
    }
    return nullptr;
}

void imageDataSave(const LWSaveState *save, LWImageID image) {
    const LWImageList *il = libraryGlobals.imageList;
    save->beginBlk(save->writeData, &kRowIDAT, 0);
    const int version = kSavedVersion;
    save->writeI4(save->writeData, &version, 1);
    const short flag = image ? 1 : 0;
    const char *name = image && il && il->name ? il->name(image) : nullptr;
    save->writeI2(save->writeData, &flag, 1);
    save->writeStr(save->writeData, name ? name : "");
    if (image && il && il->sceneSave) il->sceneSave(save, image);
    save->endBlk(save->writeData);
}

LWImageID imageDataLoad(const LWLoadState *load) {
    LWImageID image = nullptr;
    if (findImageBlock(load) == kBlockIDAT) {
        int version = 0;
        load->readI4(load->readData, &version, 1);
        if (version == kSavedVersion) {
            short flag = 0;
            char name[kImageNameCapacity] = "";
            load->readI2(load->readData, &flag, 1);
            if (load->readStr(load->readData, name, kImageNameCapacity) < 0) name[0] = '\0';
            name[kImageNameCapacity - 1] = '\0';
            if (flag) {
                // An image of the same name already in the scene is reused; otherwise the host
                // recreates it from its saved data.
                image = findImageByName(name);
                const LWImageList *il = libraryGlobals.imageList;
                if (!image && il && il->sceneLoad) image = il->sceneLoad(load);
            }
        }
    }
    load->endBlk(load->readData);
    return image;
}

void imageRefSave(const LWSaveState *save, LWTextureID texture) {
    acquireLibraryGlobals();
    const LWTextureFuncs *tf = libraryGlobals.textureFuncs;
    const bool walkable = texture && tf && tf->firstLayer && tf->nextLayer;
    save->beginBlk(save->writeData, &kRowIREF, 0);
    int count = 0;
    if (walkable)
        for (LWTLayerID layer = tf->firstLayer(texture); layer; layer = tf->nextLayer(texture, layer))
            if (layerImage(tf, layer)) ++count;
    valueBlockWrite(save, count);
    if (count > 0) {
        int index = 0;
        for (LWTLayerID layer = tf->firstLayer(texture); layer; layer = tf->nextLayer(texture, layer), ++index) {
            LWImageID image = layerImage(tf, layer);
            if (!image) continue;
            valueBlockWrite(save, index);
            imageDataSave(save, image);
        }
    }
    save->endBlk(save->writeData);
}

void imageRefLoad(const LWLoadState *load, LWTextureID texture) {
    acquireLibraryGlobals();
    const LWTextureFuncs *tf = libraryGlobals.textureFuncs;
    if (findImageBlock(load) == kBlockIREF) {
        // A count below one holds no references; anything the block still holds is skipped by
        // its end.
        const int count = valueBlockRead(load);
        if (count > 0 && texture && tf && tf->firstLayer && tf->nextLayer) {
            int wanted = valueBlockRead(load);
            int loaded = 0;
            int index = 0;
            for (LWTLayerID layer = tf->firstLayer(texture); layer;
                 layer = tf->nextLayer(texture, layer), ++index) {
                if (index != wanted) continue;
                LWImageID image = imageDataLoad(load);
                if (tf->setParam) tf->setParam(layer, TXTAG_IMAGE, &image);
                if (++loaded >= count) break;
                wanted = valueBlockRead(load);
            }
        }
    }
    load->endBlk(load->readData);
}

void imageEnvSave(const LWSaveState *save, LWTextureID texture) {
    // Acquired here too: the envelopes are saved before the references, which would otherwise
    // be the first to acquire the library set.
    acquireLibraryGlobals();
    const LWEnvelopeFuncs *ef = libraryGlobals.envelopeFuncs;
    save->beginBlk(save->writeData, &kRowImageEnvelope, 0);
    int count = 0;
    forEachLayerEnvelope(texture, [&](LWEnvelopeID) { ++count; });
    valueBlockWrite(save, count);
    forEachLayerEnvelope(texture, [&](LWEnvelopeID env) {
        save->beginBlk(save->writeData, &kRowImageEnvelopeData, 0);
        if (ef && ef->save) ef->save(env, save);
        save->endBlk(save->writeData);
    });
    save->endBlk(save->writeData);
}

void imageEnvLoad(const LWLoadState *load, LWTextureID texture) {
    acquireLibraryGlobals();
    const LWEnvelopeFuncs *ef = libraryGlobals.envelopeFuncs;
    if (findImageBlock(load) == kBlockIENV) {
        valueBlockRead(load);  // the count; the texture's own layers say how many follow
        forEachLayerEnvelope(texture, [&](LWEnvelopeID env) {
            if (findImageBlock(load) == kBlockIENV && ef && ef->load) ef->load(env, load);
            load->endBlk(load->readData);
        });
    }
    load->endBlk(load->readData);
}

}  // namespace velmora
