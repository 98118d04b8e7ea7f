// SPDX-License-Identifier: Apache-2.0
#include "tests/support/host_session.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

#if defined(VELMORA_INTEG_SCENE_SERVICES)
#include <unistd.h>

#include <filesystem>

#include "host/image/image.h"
#include "host/scene/scene.h"
#include "host/services/scene_services.h"
#endif

#include "base/host_globals.h"
#include "entry/servers.h"
#include "host/animation/envelopes.h"
#include "host/services/global_lookup.h"
#include "host/texture/texture_system.h"
#include "host/vparm/vparm_service.h"
#include "instance/plugin_data.h"
#include "instance/skin_instance.h"
#include "vparam/gradient_inputs.h"
#include "vparam/vparam.h"

namespace integ {

// ---- Images --------------------------------------------------------------------------------------

namespace images {

#if defined(VELMORA_INTEG_SCENE_SERVICES)

namespace {

std::unique_ptr<host::scene::Scene> scene;
std::filesystem::path folder;

void publish(bool withAlbedo) {
    host::services::withdrawSceneServices();
    scene = std::make_unique<host::scene::Scene>();
    if (withAlbedo) {
        auto img = std::make_unique<host::image::Image>();
        img->name = kAlbedo;
        img->filename = (folder / kAlbedo).string();
        img->width = img->height = 2;
        img->rgb = {1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 1, 1};
        scene->images.push_back(std::move(img));
    }
    host::services::registerSceneServices(*scene);
}

}  // namespace

// A scratch folder with the albedo's file, so that a load can recreate it from its saved path.
void start() {
    std::error_code ec;
    folder = std::filesystem::temp_directory_path(ec) / ("velmora_integ_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder, ec);
    std::string why;
    host::image::writePng((folder / kAlbedo).string(), 2, 2, {1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 1, 1}, why);
    host::services::setSceneServicesMessageSink([](const std::string &) {});
    publish(true);
}

void stop() {
    host::services::withdrawSceneServices();
    host::services::setSceneServicesMessageSink(nullptr);
    scene.reset();
    std::error_code ec;
    if (!folder.empty()) std::filesystem::remove_all(folder, ec);
}

const LWImageList *list() { return host::services::imageListTable(); }

void dropAll() { publish(false); }

void reset() { publish(true); }

#else

namespace {

struct Image {
    std::string name;
};
std::vector<std::unique_ptr<Image> > scene;

int indexOf(LWImageID img) {
    for (size_t i = 0; i < scene.size(); ++i)
        if (scene[i].get() == img) return static_cast<int>(i);
    return -1;
}

LWImageID add(const std::string &name) {
    scene.push_back(std::make_unique<Image>(Image{name}));
    return scene.back().get();
}

LWImageID ilFirst() { return scene.empty() ? nullptr : scene.front().get(); }

LWImageID ilNext(LWImageID img) {
    const int i = indexOf(img);
    return i >= 0 && static_cast<size_t>(i) + 1 < scene.size() ? scene[static_cast<size_t>(i) + 1].get() : nullptr;
}

const char *ilName(LWImageID img) {
    const int i = indexOf(img);
    return i >= 0 ? scene[static_cast<size_t>(i)]->name.c_str() : nullptr;
}

// Finds the saved image by name, letter case ignored, before making a new one, as a host's image
// list does: a file may name an image "A.png" in its reference and "a.png" in its own data.
LWImageID ilSceneLoad(const LWLoadState *load) {
    char name[256];
    if (!load || !load->readStr || load->readStr(load->readData, name, sizeof name) < 0) return nullptr;
    for (const auto &image : scene)
        if (std::equal(image->name.begin(), image->name.end(), name, name + std::strlen(name), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
            }))
            return image.get();
    return add(name);
}

void ilSceneSave(const LWSaveState *save, LWImageID img) {
    const char *name = ilName(img);
    if (save && save->writeStr) save->writeStr(save->writeData, name ? name : "");
}

const LWImageList kImageList = {
    ilFirst,      // first
    ilNext,       // next
    nullptr,      // load
    ilName,       // name
    nullptr,      // filename
    nullptr,      // isColor
    nullptr,      // needAA
    nullptr,      // size
    nullptr,      // luma
    nullptr,      // RGB
    nullptr,      // RGBSpot
    ilSceneLoad,  // sceneLoad
    ilSceneSave,  // sceneSave
};

}  // namespace

void reset() {
    scene.clear();
    add(kAlbedo);
}

void start() {
    reset();
    host::services::registerService(LWIMAGELIST_GLOBAL, const_cast<LWImageList *>(&kImageList));
}

void stop() { scene.clear(); }

const LWImageList *list() { return &kImageList; }

void dropAll() { scene.clear(); }

#endif

LWImageID albedo() {
    const LWImageList *il = list();
    for (LWImageID img = il->first(); img; img = il->next(img))
        if (const char *name = il->name(img); name && std::strcmp(name, kAlbedo) == 0) return img;
    return nullptr;
}

int count() {
    int n = 0;
    for (LWImageID img = list()->first(); img; img = list()->next(img)) ++n;
    return n;
}

}  // namespace images

// ---- Session -------------------------------------------------------------------------------------

HostSession::HostSession() {
    clearHost();
    host::services::clearServices();
    host::services::registerService(LWVPARMFUNCS_GLOBAL, const_cast<LWVParmFuncs *>(host::vparm::vparmFuncs()));
    host::services::registerService(LWENVELOPEFUNCS_GLOBAL,
                                    const_cast<LWEnvelopeFuncs *>(host::animation::envelopeFuncs()));
    host::services::registerService(LWCHANNELINFO_GLOBAL,
                                    const_cast<LWChannelInfo *>(host::animation::channelInfo()));
    host::services::registerService(LWTEXTUREFUNCS_GLOBAL,
                                    const_cast<LWTextureFuncs *>(host::texture::textureFuncs()));
    images::start();
    velmora::resetHostGlobals();
    handler_.inst = &inst_;
    handler_.item = &item_;
    handler_.rend = &rend_;
    activation_ =
        velmora::shaderHandlerActivate(4, host::services::globalLookup, &handler_, velmora::moduleStartup());
}

HostSession::~HostSession() {
    clearHost();
    images::stop();
    velmora::resetHostGlobals();
    host::services::clearServices();
}

void HostSession::clearHost() {
    velmora::gradientContextDestroy();
    host::vparm::clearAll();
    host::texture::clearAll();
    host::animation::clearAll();
}

velmora::SkinInstance *HostSession::create(LWSurfaceID surface) const {
    LWError err = nullptr;
    return static_cast<velmora::SkinInstance *>(inst_.create(inst_.priv, surface, &err));
}

void HostSession::destroy(velmora::SkinInstance *skin) const { inst_.destroy(skin); }

void HostSession::save(velmora::SkinInstance *skin, host::state::SaveState &state) const {
    inst_.save(skin, state.record());
}

void HostSession::load(velmora::SkinInstance *skin, host::state::LoadState &state) const {
    inst_.load(skin, state.record());
}

void HostSession::newTime(velmora::SkinInstance *skin, LWFrame frame, LWTime time) const {
    rend_.newTime(skin, frame, time);
}

// ---- Snapshots -----------------------------------------------------------------------------------

namespace {

template <typename T>
Entry bytesOf(const T &value) {
    Entry e(sizeof value);
    std::memcpy(e.data(), &value, sizeof value);
    return e;
}

Entry textOf(const char *text, int capacity) {
    const void *end = std::memchr(text, 0, static_cast<size_t>(capacity));
    if (!end) return Entry(static_cast<size_t>(capacity) + 1, 0xff);  // unterminated
    return Entry(text, static_cast<const char *>(end));
}

}  // namespace

std::vector<Entry> snapshot(velmora::SkinInstance *skin) {
    velmora::PluginDataEntry table[velmora::kSkinEntryCount + 1];
    velmora::skinEntryTable(skin, table);
    std::vector<Entry> out;
    for (const velmora::PluginDataEntry *row = table; row->name; ++row) {
        switch (row->type) {
            case velmora::kTypePVPR: {
                host::state::SaveState s(host::state::Format::Binary);
                velmora::vparamSave(static_cast<velmora::Vparam *>(row->data), s.record());
                s.finish();
                out.push_back(s.bytes());
                break;
            }
            case velmora::kTypePSTR:
                out.push_back(textOf(static_cast<const char *>(row->data), velmora::kPrefixSize));
                break;
            case velmora::kTypePINT:
                out.push_back(bytesOf(*static_cast<const int *>(row->data)));
                break;
            case velmora::kTypePDBL:
                out.push_back(bytesOf(*static_cast<const double *>(row->data)));
                break;
            default:
                out.emplace_back();
                break;
        }
    }
    return out;
}

std::vector<std::string> entryNames() {
    velmora::SkinInstance blank{};
    velmora::PluginDataEntry table[velmora::kSkinEntryCount + 1];
    velmora::skinEntryTable(&blank, table);
    std::vector<std::string> names;
    for (const velmora::PluginDataEntry *row = table; row->name; ++row) names.push_back(row->name);
    return names;
}

void customise(velmora::SkinInstance *skin) {
    const LWVParmFuncs &vp = *host::vparm::vparmFuncs();
    const LWTextureFuncs &tx = *host::texture::textureFuncs();
    auto set = [&](velmora::Vparam *p, double r, double g, double b) {
        double v[3] = {r, g, b};
        vp.setVal(p->parameter, v);
    };
    set(skin->skin_color, 0.7, 0.3, 0.1);
    set(skin->sheen_color, 0.9, 0.8, 0.75);
    set(skin->Ksub, 0.8, 0.8, 0.8);
    set(skin->Ksheen, 0.35, 0.35, 0.35);
    set(skin->diff_rough, 0.4, 0.4, 0.4);
    set(skin->shadow_amount, 0.6, 0.6, 0.6);
    set(skin->scatter_wrap, 0.25, 0.25, 0.25);
    set(skin->Ka, 0.45, 0.45, 0.45);

    // Red of the skin colour follows an envelope.
    host::vparm::setEnveloped(skin->skin_color->parameter, 0, true);
    LWEnvelopeID envs[3] = {nullptr, nullptr, nullptr};
    vp.getEnv(skin->skin_color->parameter, envs);
    host::animation::Key k2;
    k2.time = 2;
    k2.value = 0.4;
    k2.tension = 0.5;
    host::animation::setKeys(envs[0], {{0, 0.2, LWKEY_LINEAR}, {1, 0.9, LWKEY_LINEAR}, k2});

    // Ksub: an image layer under a gradient on one of the module's inputs.
    LWTextureID tex = host::vparm::setTextured(skin->Ksub->parameter, true);
    LWTLayerID image = host::texture::addLayer(tex, TLT_IMAGE);
    LWTLayerID grad = host::texture::addLayer(tex, TLT_GRAD);
    LWImageID img = images::albedo();
    tx.setParam(image, TXTAG_IMAGE, &img);
    host::animation::setKeys(host::texture::envelopeOpacity(image, true), {{0, 1.0}, {1, 0.5}});
    host::texture::LayerSettings s;
    host::texture::getLayer(grad, s);
    s.input = "World Y Axis";
    s.opacity = 0.75;
    s.keys = {{-1.5707963267948966, {0.0, 0, 0}, 1.0}, {1.5707963267948966, {1.0, 0, 0}, 1.0}};
    host::texture::setLayer(grad, s);

    std::strcpy(skin->skin_prefix, "SkinLight_ABCDEF");
    std::strcpy(skin->sheen_prefix, "SheenLight_12345");
    skin->sheen_trace = 1;
    skin->trace_eps = 0.0025;
    skin->sheen_decay = 1.75;
}

std::vector<uint8_t> saved(const HostSession &host, velmora::SkinInstance *skin, host::state::Format format) {
    host::state::SaveState s(format);
    host.save(skin, s);
    s.finish();
    return s.bytes();
}

}  // namespace integ
