// SPDX-License-Identifier: Apache-2.0
// An instance saved and loaded through the host's own states, variant parameters, envelopes and
// textures: every value comes back, and a default instance is laid out as the format fixes it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "host/animation/envelopes.h"
#include "host/texture/texture_system.h"
#include "host/vparm/vparm_service.h"
#include "instance/plugin_data.h"
#include "instance/skin_instance.h"
#include "tests/support/host_session.h"
#include "vparam/vparam.h"

namespace {

using host::state::Format;
using velmora::SkinInstance;

const LWVParmFuncs &vp() { return *host::vparm::vparmFuncs(); }
const LWTextureFuncs &tx() { return *host::texture::textureFuncs(); }

std::vector<double> valueAt(velmora::Vparam *p, double time) {
    double v[3] = {-1, -1, -1};
    vp().getVal(p->parameter, time, nullptr, v);
    return {v[0], v[1], v[2]};
}

// Big-endian words and zero-terminated strings of the binary format.
struct Reader {
    const std::vector<uint8_t> &b;
    size_t pos = 0;
    bool ok = true;
    uint32_t u4() {
        if (pos + 4 > b.size()) {
            ok = false;
            return 0;
        }
        uint32_t v = uint32_t(b[pos]) << 24 | uint32_t(b[pos + 1]) << 16 | uint32_t(b[pos + 2]) << 8 | b[pos + 3];
        pos += 4;
        return v;
    }
    std::string str() {
        std::string s;
        while (pos < b.size() && b[pos]) s += char(b[pos++]);
        ok = ok && pos < b.size();
        ++pos;
        return s;
    }
};

class Persistence : public ::testing::TestWithParam<Format> {
protected:
    integ::HostSession host;
};

TEST_P(Persistence, CustomisedInstanceComesBackWhole) {
    ASSERT_EQ(host.activation(), 0);
    SkinInstance *src = host.create();
    integ::customise(src);
    const std::vector<uint8_t> bytes = integ::saved(host, src, GetParam());
    const int imagesBefore = integ::images::count();

    SkinInstance *dst = host.create();
    host::state::LoadState load(GetParam(), bytes);
    host.load(dst, load);
    EXPECT_EQ(load.failures(), 0);
    EXPECT_EQ(load.depth(), 0);

    // Constants, and the red channel's keys (linear, then a spline span, then held).
    struct Case {
        const char *what;
        velmora::Vparam *got;
        double time;
        std::vector<double> want;  // only the components the parameter has are compared
    };
    const Case cases[] = {
        {"skin_color at 0", dst->skin_color, 0.0, {0.2, 0.3, 0.1}},
        {"skin_color at 0.5", dst->skin_color, 0.5, {0.55, 0.3, 0.1}},
        {"skin_color at 1", dst->skin_color, 1.0, {0.9, 0.3, 0.1}},
        {"skin_color at 3", dst->skin_color, 3.0, {0.4, 0.3, 0.1}},
        {"sheen_color", dst->sheen_color, 0.0, {0.9, 0.8, 0.75}},
        {"Ksub", dst->Ksub, 0.0, {0.8}},
        {"Ksheen", dst->Ksheen, 0.0, {0.35}},
        {"diff_rough", dst->diff_rough, 0.0, {0.4}},
        {"shadow_amount", dst->shadow_amount, 0.0, {0.6}},
        {"scatter_wrap", dst->scatter_wrap, 0.0, {0.25}},
        {"Ka", dst->Ka, 0.0, {0.45}},
    };
    for (const Case &c : cases) {
        const std::vector<double> got = valueAt(c.got, c.time);
        for (size_t i = 0; i < c.want.size(); ++i) EXPECT_EQ(got[i], c.want[i]) << c.what << " component " << i;
    }
    // The spline span between keys 1 and 2 matches the source's exactly.
    EXPECT_EQ(valueAt(dst->skin_color, 1.5), valueAt(src->skin_color, 1.5));

    // Ksub's texture: gradient on the module's input over the image layer, opacity keys and image.
    ASSERT_NE(vp().getState(dst->Ksub->parameter) & LWVPSF_TEX, 0);
    LWTextureID tex = vp().getTex(dst->Ksub->parameter);
    ASSERT_EQ(host::texture::layerCount(tex), 2);
    LWTLayerID grad = tx().firstLayer(tex), image = tx().nextLayer(tex, grad);
    host::texture::LayerSettings gs;
    ASSERT_TRUE(host::texture::getLayer(grad, gs));
    EXPECT_EQ(gs.input, "World Y Axis");
    EXPECT_EQ(gs.opacity, 0.75);
    ASSERT_EQ(gs.keys.size(), 2u);
    EXPECT_EQ(gs.keys[1].value[0], 1.0);
    LWImageID img = nullptr;
    ASSERT_EQ(tx().getParam(image, TXTAG_IMAGE, &img), 1);
    ASSERT_NE(img, nullptr);
    EXPECT_STREQ(integ::images::list()->name(img), "skin_albedo.png");
    EXPECT_EQ(integ::images::count(), imagesBefore) << "the scene's image of that name is reused";
    LWEnvelopeID opacity = host::texture::envelopeOpacity(image, true);
    double at1 = 0;
    ASSERT_TRUE(host::animation::valueAt(opacity, 1.0, at1));
    EXPECT_EQ(at1, 0.5);

    // Plain fields: 16-character prefixes whole, the flag, both distances bit for bit.
    EXPECT_STREQ(dst->skin_prefix, "SkinLight_ABCDEF");
    EXPECT_STREQ(dst->sheen_prefix, "SheenLight_12345");
    EXPECT_EQ(dst->sheen_trace, 1);
    EXPECT_EQ(dst->trace_eps, 0.0025);
    EXPECT_EQ(dst->sheen_decay, 1.75);

    // And everything else the saved data carries.
    const std::vector<integ::Entry> want = integ::snapshot(src), got = integ::snapshot(dst);
    const std::vector<std::string> names = integ::entryNames();
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i], want[i]) << names[i];
    host.destroy(src);
    host.destroy(dst);
}

TEST_P(Persistence, ImageMissingFromTheSceneIsRecreatedFromItsData) {
    SkinInstance *src = host.create();
    integ::customise(src);
    const std::vector<uint8_t> bytes = integ::saved(host, src, GetParam());
    host.destroy(src);
    integ::images::dropAll();

    SkinInstance *dst = host.create();
    host::state::LoadState load(GetParam(), bytes);
    host.load(dst, load);
    EXPECT_EQ(load.failures(), 0);
    ASSERT_EQ(integ::images::count(), 1);
    LWTextureID tex = vp().getTex(dst->Ksub->parameter);
    LWImageID img = nullptr;
    tx().getParam(tx().nextLayer(tex, tx().firstLayer(tex)), TXTAG_IMAGE, &img);
    EXPECT_EQ(img, integ::images::list()->first());
    host.destroy(dst);
}

TEST_P(Persistence, DefaultInstancesSaveAlike) {
    SkinInstance *a = host.create(), *b = host.create();
    EXPECT_EQ(integ::saved(host, a, GetParam()), integ::saved(host, b, GetParam()));
    host.destroy(a);
    host.destroy(b);
}

// Where each entry's block lies in a save: binary by its header, text by its opening token.
std::vector<std::pair<size_t, size_t>> entryBlocks(const std::vector<uint8_t> &b, Format format) {
    std::vector<std::pair<size_t, size_t>> spans;
    if (format == Format::Binary) {
        for (size_t pos = 16; pos + 8 <= b.size();) {
            Reader r{b, pos};
            if (r.u4() != velmora::kBlockPDPR) break;
            const size_t end = r.pos + 4 + r.u4();
            spans.emplace_back(pos, end);
            pos = end;
        }
    } else {
        const std::string text(b.begin(), b.end());
        for (size_t at = text.find("{ PluginDataParam"); at != std::string::npos;
             at = text.find("{ PluginDataParam", at + 1))
            spans.emplace_back(at, 0);
        for (size_t i = 0; i < spans.size(); ++i)
            spans[i].second = i + 1 < spans.size() ? spans[i + 1].first : text.rfind('}');
    }
    return spans;
}

TEST_P(Persistence, EntriesInAnyOrderRestoreEveryValue) {
    SkinInstance *src = host.create();
    integ::customise(src);
    const std::vector<uint8_t> bytes = integ::saved(host, src, GetParam());
    const std::vector<integ::Entry> want = integ::snapshot(src);
    const auto spans = entryBlocks(bytes, GetParam());
    ASSERT_EQ(spans.size(), 13u);

    std::vector<size_t> reversed, rotated;
    for (size_t i = 0; i < spans.size(); ++i) {
        reversed.push_back(spans.size() - 1 - i);
        rotated.push_back((i + 5) % spans.size());
    }
    for (const auto &order : {reversed, rotated}) {
        std::vector<uint8_t> shuffled(bytes.begin(), bytes.begin() + long(spans.front().first));
        for (size_t i : order)
            shuffled.insert(shuffled.end(), bytes.begin() + long(spans[i].first),
                            bytes.begin() + long(spans[i].second));
        shuffled.insert(shuffled.end(), bytes.begin() + long(spans.back().second), bytes.end());
        ASSERT_EQ(shuffled.size(), bytes.size());
        SkinInstance *dst = host.create();
        host::state::LoadState load(GetParam(), shuffled);
        host.load(dst, load);
        EXPECT_EQ(integ::snapshot(dst), want) << "entries starting with " << order.front();
        host.destroy(dst);
    }
    host.destroy(src);
}

// Saved entries written by another table: a long prefix, a known name with another type, an
// unknown name. Each is read with the instance's own row, or skipped whole.
TEST_P(Persistence, ForeignEntriesAreBoundedOrSkipped) {
    char longPrefix[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    double wrongType = 7.0;
    int unknown = 9;
    const velmora::PluginDataEntry rows[] = {
        {"skin_prefix", velmora::kTypePSTR, longPrefix, 64, nullptr, nullptr},
        {"sheen_trace", velmora::kTypePDBL, &wrongType, 1, nullptr, nullptr},
        {"sheen_tracer", velmora::kTypePINT, &unknown, 1, nullptr, nullptr},
        {"Ka", velmora::kTypePINT, &unknown, 1, nullptr, nullptr},
        {"sheen_prefix", velmora::kTypePSTR, longPrefix + 20, 64, nullptr, nullptr},
        {nullptr, 0, nullptr, 0, nullptr, nullptr},
    };
    host::state::SaveState save(GetParam());
    const int version = velmora::kSavedVersion;
    save.record()->writeI4(save.record()->writeData, &version, 1);
    velmora::pluginDataSave(save.record(), rows);
    save.finish();

    SkinInstance *skin = host.create();
    const std::vector<integ::Entry> before = integ::snapshot(skin);
    host::state::LoadState load(GetParam(), save.bytes());
    host.load(skin, load);
    EXPECT_EQ(load.depth(), 0);
    EXPECT_STREQ(skin->skin_prefix, "ABCDEFGHIJKLMNOP") << "16 characters and the terminator";
    EXPECT_STREQ(skin->sheen_prefix, "UVWXYZ0123456789");
    EXPECT_EQ(skin->sheen_trace, 0) << "a PDBL sheen_trace is not the PINT row";
    const std::vector<integ::Entry> after = integ::snapshot(skin);
    const std::vector<std::string> names = integ::entryNames();
    for (size_t i = 0; i < after.size(); ++i)
        if (names[i] != "skin_prefix" && names[i] != "sheen_prefix") {
            EXPECT_EQ(after[i], before[i]) << names[i];
        }
    host.destroy(skin);
}

TEST(Copy, CarriesEveryValueTheSaveWould) {
    integ::HostSession host;
    SkinInstance *src = host.create();
    integ::customise(src);
    SkinInstance *dst = host.create();
    host.handler().inst->copy(dst, src);
    const std::vector<integ::Entry> want = integ::snapshot(src), got = integ::snapshot(dst);
    const std::vector<std::string> names = integ::entryNames();
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i], want[i]) << names[i];
    EXPECT_NE(dst->Ksub->parameter, src->Ksub->parameter) << "the target keeps its own parameters";
    host.destroy(src);
    host.destroy(dst);
}

INSTANTIATE_TEST_SUITE_P(BothFormats, Persistence, ::testing::Values(Format::Binary, Format::Text),
                         [](const auto &info) { return info.param == Format::Binary ? "Binary" : "Text"; });

// ---- The default save, read back by hand ----------------------------------------------------------

TEST(DefaultSave, ThirteenEntriesInTableOrder) {
    integ::HostSession host;
    SkinInstance *skin = host.create();
    const std::vector<uint8_t> bytes = integ::saved(host, skin, Format::Binary);
    host.destroy(skin);

    Reader r{bytes};
    EXPECT_EQ(r.u4(), 256u) << "version";
    EXPECT_EQ(r.u4(), velmora::kBlockPDLB);
    const uint32_t libLength = r.u4();
    EXPECT_EQ(r.pos + libLength, bytes.size()) << "the library block holds the rest";
    EXPECT_EQ(r.u4(), 13u) << "entry count";

    using Bytes = std::vector<uint8_t>;
    const Bytes vprm = {'V', 'P', 'R', 'M'};  // the first bytes of every parameter's payload
    struct Row {
        const char *name;
        LWID type;
        Bytes payload;  // the payload, or its first bytes for a parameter
    };
    const Row rows[] = {
        {"skin_color", velmora::kTypePVPR, vprm},
        {"sheen_color", velmora::kTypePVPR, vprm},
        {"Ksub", velmora::kTypePVPR, vprm},
        {"Ksheen", velmora::kTypePVPR, vprm},
        {"skin_prefix", velmora::kTypePSTR, {0}},
        {"sheen_prefix", velmora::kTypePSTR, {0}},
        {"scatter_wrap", velmora::kTypePVPR, vprm},
        {"shadow_amount", velmora::kTypePVPR, vprm},
        {"diff_rough", velmora::kTypePVPR, vprm},
        {"Ka", velmora::kTypePVPR, vprm},
        {"sheen_trace", velmora::kTypePINT, {0, 0, 0, 0}},
        {"trace_eps", velmora::kTypePDBL, {0x3F, 0x50, 0x62, 0x4D, 0xD2, 0xF1, 0xA9, 0xFC}},
        {"sheen_decay", velmora::kTypePDBL, {0x3F, 0xE0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Row &row : rows) {
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.u4(), velmora::kBlockPDPR) << row.name;
        const size_t end = r.u4() + r.pos;
        EXPECT_EQ(r.str(), row.name);
        EXPECT_EQ(r.u4(), row.type) << row.name;
        ASSERT_LE(end, bytes.size()) << row.name;
        Bytes payload(bytes.begin() + long(r.pos), bytes.begin() + long(end));
        if (row.type == velmora::kTypePVPR && payload.size() > 4) payload.resize(4);
        EXPECT_EQ(payload, row.payload) << row.name;
        r.pos = end;
    }
    EXPECT_EQ(r.pos, bytes.size());
}

TEST(DefaultSave, TextFormatNamesTheEntriesInOrder) {
    integ::HostSession host;
    SkinInstance *skin = host.create();
    const std::vector<uint8_t> bytes = integ::saved(host, skin, Format::Text);
    host.destroy(skin);
    const std::string text(bytes.begin(), bytes.end());

    size_t pos = text.find("{ PluginDataLib");
    ASSERT_NE(pos, std::string::npos) << text;
    for (const std::string &name : integ::entryNames()) {
        const size_t block = text.find("{ PluginDataParam", pos);
        const size_t quoted = text.find('"' + name + '"', pos);
        ASSERT_NE(block, std::string::npos) << name;
        ASSERT_NE(quoted, std::string::npos) << name;
        EXPECT_LT(block, quoted) << name;
        pos = quoted;
    }
    EXPECT_EQ(text.find("{ PluginDataParam", pos), std::string::npos) << "no fourteenth entry";
    // The eight bytes of 0.001, as unsigned bytes in decimal.
    EXPECT_NE(text.find("63 80 98 77 210 241 169 252"), std::string::npos) << text;
}

}  // namespace
