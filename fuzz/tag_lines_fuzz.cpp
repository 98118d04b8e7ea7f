// SPDX-License-Identifier: Apache-2.0
// Fuzzes the light tag lines: the input, split at line feeds, becomes a light's tag lines, read
// through the module's tag table and its two line readers with every key of the grammar. Besides
// the sanitizers' findings, an input fails when the record read does not match what the line
// readers give for the same keys.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "lights/light_tags.h"
#include "tests/support/fake_host.h"

namespace {

const LWItemID kLight = testhost::id(0x200);
testhost::FakeHost host;

testhost::FakeItem &light() {
    static testhost::FakeItem *item = [] {
        host.setShaderGlobals();
        host.keepRecords = false;
        return &host.add(0x200, LWI_LIGHT);
    }();
    return *item;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    testhost::FakeItem &l = light();
    l.tags.clear();
    std::string text(reinterpret_cast<const char *>(data), size);
    for (size_t from = 0; from <= text.size() && l.tags.size() < 64;) {
        size_t nl = text.find('\n', from);
        if (nl == std::string::npos) nl = text.size();
        l.tags.push_back(text.substr(from, nl - from));
        from = nl + 1;
    }
    velmora::lightTagsClear();
    const velmora::LightTagRecord *record = velmora::lightTagsGet(kLight);
    if (!record) std::abort();
    int on = 0, samples = 6;
    double side = 1.0, user = 0.0;
    velmora::readTagInt(kLight, velmora::kLightTagPrefix, "areashadow", &on);
    velmora::readTagReal(kLight, velmora::kLightTagPrefix, "areashadow_size", &side);
    velmora::readTagInt(kLight, velmora::kLightTagPrefix, "areashadow_sample", &samples);
    velmora::readTagReal(kLight, velmora::kLightTagPrefix, "userid4", &user);
    auto same = [](double a, double b) { return a == b || (a != a && b != b); };
    if (record->areashadow != on || !same(record->areashadow_size, side) || record->areashadow_sample != samples)
        std::abort();
    velmora::lightTagsClear();
    return 0;
}
