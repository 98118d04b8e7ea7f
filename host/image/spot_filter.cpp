// SPDX-License-Identifier: Apache-2.0
// The spot filter's side in the renderer: a filter of the codecs, made when the first image is
// added (see spot_filter.h).
#include "host/image/spot_filter.h"

#include <mutex>

#include "host/image/image_codecs.h"

namespace host::image {

struct SpotFilter::Impl {
    std::once_flag once;
    const ImageCodecs *codecs = nullptr;
    void *filter = nullptr;
    std::string why;
};

SpotFilter::SpotFilter() : impl_(std::make_unique<Impl>()) {}

SpotFilter::~SpotFilter() {
    if (impl_->filter) impl_->codecs->deleteFilter(impl_->filter);
}

const SpotFilter::Texture *SpotFilter::add(const Image &image, std::string &why) {
    Impl &impl = *impl_;
    std::call_once(impl.once, [&] {
        impl.codecs = imageCodecs(impl.why);
        if (impl.codecs)
            impl.filter = impl.codecs->newFilter();
        else
            impl.why = "cannot be filtered: " + impl.why;
    });
    if (!impl.filter) {
        why = impl.why;
        return nullptr;
    }
    return static_cast<const Texture *>(impl.codecs->addToFilter(impl.filter, image, why));
}

void SpotFilter::sample(const Texture *texture, double u, double v, double footprint, bool blend,
                        double out[3]) const {
    if (!texture) {
        out[0] = out[1] = out[2] = 0.0;
        return;
    }
    impl_->codecs->sampleFilter(impl_->filter, texture, u, v, footprint, blend, out);
}

}  // namespace host::image
