// SPDX-License-Identifier: Apache-2.0
// The codecs' table, the one symbol the library exports.
#include "host/codecs/codecs_pvt.h"

namespace {

const host::image::ImageCodecs kCodecs = {
    sizeof(host::image::ImageCodecs),
    host::codecs::probe,
    host::codecs::decodeFile,
    host::codecs::decodeBytes,
    host::codecs::write,
    host::codecs::encodePng,
    host::codecs::drawLabel,
    host::codecs::newFilter,
    host::codecs::deleteFilter,
    host::codecs::addToFilter,
    host::codecs::sampleFilter,
    [] {
        const int v = OIIO::openimageio_version();
        return std::to_string(v / 10000) + "." + std::to_string(v / 100 % 100) + "." + std::to_string(v % 100);
    },
    host::io::shareTempFiles,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const host::image::ImageCodecs *velmora_image_codecs() {
    return &kCodecs;
}
