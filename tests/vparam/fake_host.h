// Fake host services for variant parameters, textures and images: plain records behind the
// host's function tables. One FakeHost is current at a time; its tables answer from it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sdk/sdk.h"
#include "support/recording_host.h"
#include "tests/mesh/fake_mesh.h"

namespace testhost {

struct FakeEnvelope {
    float value = 0.f;  // saved and loaded as the envelope's data
};

struct FakeChannel {
    FakeEnvelope *envelope = nullptr;
};

struct FakeGroup {
    LWChanGroupID parent = nullptr;
    std::string name;
    std::vector<FakeChannel> channels;
};

struct FakeImage {
    std::string name;
    std::string file;  // saved and loaded as the image's own data
};

struct FakeLayer {
    FakeGroup *group = nullptr;
    bool imageParam = true;  // whether tag 9 can be read
    FakeImage *image = nullptr;
};

struct FakeTexture {
    std::vector<FakeLayer> layers;
    int data = 0;  // saved and loaded as the texture's own data
    int newTimes = 0, cleanups = 0;
    LWChanGroupID envGroup = nullptr;
};

struct FakeParam {
    int envType = 0, texType = 0;
    std::string channel, plugin;
    LWChanGroupID group = nullptr;
    LWTxtrContextID context = nullptr;
    LWVP_EventFunc *event = nullptr;
    void *userData = nullptr;
    double value[3] = {-1, -1, -1};
    int data = 0;  // saved and loaded as the parameter's own data
    FakeEnvelope *envs[3] = {nullptr, nullptr, nullptr};
    FakeTexture *texture = nullptr;
};

struct FakeObject {
    const char *file;
    std::vector<LWSurfaceID> surfaces;  // ends with a null
    std::vector<FakeMesh *> layers;     // null where a layer does not exist
};

struct FakeHost {
    FakeHost();   // becomes current and offers every table through `lookup`
    ~FakeHost();  // no longer current

    FakeGroup *group(const char *name, std::vector<FakeEnvelope *> envelopes = {});
    FakeImage *image(const char *name, const char *file);  // adds it to the scene's image list
    FakeTexture *texture(std::vector<FakeLayer> layers);
    FakeEnvelope *envelope(float value);

    RecordingHost lookup;
    std::vector<std::unique_ptr<FakeParam>> params;  // every parameter created, destroyed or not
    std::vector<FakeParam *> destroyedParams;
    std::vector<std::unique_ptr<FakeGroup>> groups;
    std::vector<std::unique_ptr<FakeImage>> images;  // the scene's image list, in order
    std::vector<std::unique_ptr<FakeTexture>> textures;
    std::vector<std::unique_ptr<FakeEnvelope>> envelopes;
    std::vector<FakeObject> objects;
    std::vector<std::string> surfaceNames;  // surface i + 1 is named surfaceNames[i]
    LWChanGroupID surfaceGroup = nullptr;
    int imagesLoaded = 0;  // sceneLoad calls

    LWVParmFuncs vparmFuncs;
    LWEnvelopeFuncs envelopeFuncs;
    LWTextureFuncs textureFuncs;
    LWChannelInfo channelInfo;
    LWImageList imageList;
    LWSurfaceFuncs surfaceFuncs;
    LWObjectFuncs objectFuncs;
    LWObjectInfo objectInfo;
    std::vector<std::pair<LWItemID, FakeMesh *>> objectMeshes;  // for LWObjectInfo::meshInfo
};

inline LWSurfaceID surfaceId(int i) { return reinterpret_cast<LWSurfaceID>(static_cast<uintptr_t>(i) + 1); }

}  // namespace testhost
