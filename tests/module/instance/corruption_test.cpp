// SPDX-License-Identifier: Apache-2.0
// Damaged saved data through the host's real states: a customised instance cut at every byte
// (as a file is cut, and inside its blocks with the blocks around kept whole), and with every
// byte changed in several ways, in both formats. A load must stop cleanly and
// leave each value as it was or as saved; only an entry whose own bytes were changed may take a
// third value.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "host/vparm/vparm_service.h"
#include "instance/plugin_data.h"
#include "instance/skin_instance.h"
#include "tests/support/host_session.h"
#include "vparam/vparam.h"

namespace {

using host::state::Format;
using velmora::SkinInstance;

struct Span {
    size_t begin, end;  // bytes of one saved entry, its block's header included
};

uint32_t bigEndian(const std::vector<uint8_t> &b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

// Where each entry lies in an intact save: after the version and the library block's head.
std::vector<Span> entrySpans(const std::vector<uint8_t> &bytes, Format format) {
    std::vector<Span> spans;
    if (format == Format::Binary) {
        size_t pos = 4 + 8 + 4;  // version, PDLB head, count
        while (pos + 8 <= bytes.size() && bigEndian(bytes, pos) == velmora::kBlockPDPR) {
            const size_t end = pos + 8 + bigEndian(bytes, pos + 4);
            spans.push_back({pos, end});
            pos = end;
        }
    } else {
        const std::string text(bytes.begin(), bytes.end());
        const std::string token = "{ PluginDataParam";
        for (size_t at = text.find(token); at != std::string::npos; at = text.find(token, at + 1))
            spans.push_back({at, 0});
        for (size_t i = 0; i < spans.size(); ++i)
            spans[i].end = i + 1 < spans.size() ? spans[i + 1].begin : text.rfind('}');
    }
    return spans;
}

// A save that notes where each block's header, contents and end lie in the bytes written.
struct Marks {
    struct Block {
        size_t begin, contents, end;
    };
    std::vector<Block> blocks, open;
};

Marks *gMarks = nullptr;
const host::state::SaveState *gMarked = nullptr;
void (*gBegin)(void *, const LWBlockIdent *, int) = nullptr;
void (*gEnd)(void *) = nullptr;

void markBegin(void *w, const LWBlockIdent *id, int leaf) {
    const size_t before = gMarked->bytes().size();
    gBegin(w, id, leaf);
    gMarks->open.push_back({before, gMarked->bytes().size(), 0});
}

void markEnd(void *w) {
    gEnd(w);
    if (gMarks->open.empty()) return;
    Marks::Block b = gMarks->open.back();
    gMarks->open.pop_back();
    b.end = gMarked->bytes().size();
    gMarks->blocks.push_back(b);
}

std::vector<uint8_t> savedWithMarks(const integ::HostSession &host, SkinInstance *skin, Format format,
                                    Marks &marks) {
    host::state::SaveState s(format);
    LWSaveState record = *s.record();
    gMarks = &marks;
    gMarked = &s;
    gBegin = record.beginBlk;
    gEnd = record.endBlk;
    record.beginBlk = markBegin;
    record.endBlk = markEnd;
    host.handler().inst->save(skin, &record);
    s.finish();
    return s.bytes();
}

// The save cut at byte n inside its blocks: every block that holds byte n ends there, and the
// blocks around it stay well formed. Empty when n falls inside a block's header.
std::vector<uint8_t> cutShort(const std::vector<uint8_t> &bytes, const Marks &marks, size_t n, Format format) {
    std::vector<uint8_t> out(bytes.begin(), bytes.begin() + long(n));
    std::vector<Marks::Block> around;
    for (const Marks::Block &b : marks.blocks) {
        if (b.begin < n && n < b.contents) return {};
        if (b.contents <= n && n < b.end) around.push_back(b);
    }
    for (const Marks::Block &b : around) {
        if (format == Format::Binary) {
            const uint32_t length = uint32_t(n - b.contents);
            for (int i = 0; i < 4; ++i) out[b.begin + 4 + size_t(i)] = uint8_t(length >> (24 - 8 * i));
        } else {
            const char close[] = "\n}\n";
            out.insert(out.end(), close, close + 3);
        }
    }
    return out;
}

// An entry for a failure message: its bytes as text where they are printable, else its size.
std::string printable(const integ::Entry &e) {
    std::string text(e.begin(), e.end());
    for (char c : text)
        if (c < 32 || c > 126) return std::to_string(e.size()) + " bytes";
    return '"' + text + '"';
}

class Corruption : public ::testing::TestWithParam<Format> {
public:
    void SetUp() override {
        ASSERT_EQ(host.activation(), 0);
        SkinInstance *src = host.create();
        integ::customise(src);
        good = integ::saved(host, src, GetParam());
        want = integ::snapshot(src);
        host.destroy(src);
        SkinInstance *target = host.create();
        prepare(target);
        before = integ::snapshot(target);
        host.destroy(target);
        spans = entrySpans(good, GetParam());
        ASSERT_EQ(spans.size(), size_t(velmora::kSkinEntryCount));
        velmora::SkinInstance blank{};
        velmora::PluginDataEntry table[velmora::kSkinEntryCount + 1];
        velmora::skinEntryTable(&blank, table);
        for (int i = 0; i < velmora::kSkinEntryCount; ++i)
            isParameter.push_back(table[i].type == velmora::kTypePVPR);
    }

    // The instance loaded into: every plain field and one parameter away from both its default
    // and the saved value, so that a field a failed read reset shows.
    static void prepare(SkinInstance *skin) {
        std::strcpy(skin->skin_prefix, "BeforeSkin");
        std::strcpy(skin->sheen_prefix, "BeforeSheen");
        skin->sheen_trace = 7;
        skin->trace_eps = 0.125;
        skin->sheen_decay = 3.5;
        double ka[3] = {0.9, 0.9, 0.9};
        host::vparm::vparmFuncs()->setVal(skin->Ka->parameter, ka);
    }

    // Which entries may take a value neither as they were nor as saved.
    enum class Leeway {
        None,
        ChangedEntry,  // the entry holding the changed byte
        CutParameter,  // a parameter cut inside its data: the part before the cut may have loaded
        CutEntry,      // any entry cut inside its data
    };

    // Loads `data` into a prepared instance; returns how many entries broke the rule, and
    // reports each. `at` is the byte changed or cut, if any.
    int loadAndCheck(std::vector<uint8_t> data, const std::string &what, size_t at = SIZE_MAX,
                     Leeway leeway = Leeway::None) {
        SkinInstance *skin = host.create();
        prepare(skin);
        host::state::LoadState load(GetParam(), std::move(data));
        host.load(skin, load);
        EXPECT_EQ(load.depth(), 0) << what << ": every find is closed by its end";
        const std::vector<integ::Entry> got = integ::snapshot(skin);
        int broken = 0;
        for (size_t i = 0; i < got.size(); ++i) {
            if (got[i] == before[i] || got[i] == want[i]) continue;
            const bool inside = at >= spans[i].begin && at < spans[i].end;
            if (inside && (leeway == Leeway::ChangedEntry || leeway == Leeway::CutEntry ||
                           (leeway == Leeway::CutParameter && isParameter[i])))
                continue;
            ++broken;
            ADD_FAILURE() << what << ": " << names[i] << " is neither as it was nor as saved ("
                          << printable(got[i]) << "; was " << printable(before[i]) << ", saved "
                          << printable(want[i]) << ")";
        }
        // The instance stays usable: it saves and loads again.
        const std::vector<uint8_t> again = integ::saved(host, skin, GetParam());
        SkinInstance *copy = host.create();
        host::state::LoadState reload(GetParam(), again);
        host.load(copy, reload);
        EXPECT_EQ(integ::snapshot(copy), got) << what << ": a damaged load saves what it holds";
        host.destroy(copy);
        host.destroy(skin);
        return broken;
    }

    integ::HostSession host;
    std::vector<uint8_t> good;
    std::vector<integ::Entry> want, before;
    std::vector<bool> isParameter;
    std::vector<Span> spans;
    std::vector<std::string> names = integ::entryNames();
};

TEST_P(Corruption, TruncatedAtEveryByte) {
    int broken = 0;
    for (size_t n = 0; n < good.size() && broken < 20; ++n)
        broken += loadAndCheck(std::vector<uint8_t>(good.begin(), good.begin() + long(n)),
                               "cut to " + std::to_string(n) + " of " + std::to_string(good.size()) + " bytes");
}

// Loads the customised save cut short at every byte inside its blocks; the entry holding the cut
// gets `leeway`.
int cutEverywhere(Corruption &t, Corruption::Leeway leeway);

TEST_P(Corruption, CutShortInsideItsBlocks) {
    // A parameter that was cut may hold part of its data (its host data loaded keeps the
    // envelopes that data made, without the keys that were cut); every other entry is as it was
    // or as saved.
    EXPECT_EQ(cutEverywhere(*this, Leeway::CutEntry), 0);
}

// A plain value cut short keeps the field's value: the host's reads clear their outputs when they
// fail, so the rows read into scratch space first. In the text format a number cut inside its
// digits is still a number (a shorter one), so there the cut entry alone may change.
TEST_P(Corruption, PlainFieldCutInsideItsValueKeepsItsValue) {
    const bool text = GetParam() == host::state::Format::Text;
    EXPECT_EQ(cutEverywhere(*this, text ? Leeway::ChangedEntry : Leeway::CutParameter), 0);
}

int cutEverywhere(Corruption &t, Corruption::Leeway leeway) {
    Marks marks;
    SkinInstance *src = t.host.create();
    integ::customise(src);
    const std::vector<uint8_t> bytes = savedWithMarks(t.host, src, t.GetParam(), marks);
    t.host.destroy(src);
    EXPECT_EQ(bytes, t.good);
    int broken = 0, cuts = 0;
    for (size_t n = 4; n < t.good.size() && broken < 20; ++n) {
        std::vector<uint8_t> data = cutShort(t.good, marks, n, t.GetParam());
        if (data.empty()) continue;
        ++cuts;
        broken += t.loadAndCheck(
            std::move(data),
            "cut short at " + std::to_string(n) + " of " + std::to_string(t.good.size()) + " bytes", n, leeway);
    }
    EXPECT_GT(cuts, 100);
    return broken;
}

// One way of changing a byte: xor with mask, or store mask when set is true.
struct ByteChange {
    const char *name;
    uint8_t mask;
    bool set;
};

// Every byte changed one way at a time, until 20 loads have been broken.
void changeEveryByte(Corruption &t, const std::vector<ByteChange> &changes) {
    int broken = 0;
    for (const ByteChange &c : changes)
        for (size_t at = 0; at < t.good.size() && broken < 20; ++at) {
            std::vector<uint8_t> data = t.good;
            data[at] = c.set ? c.mask : uint8_t(data[at] ^ c.mask);
            if (data[at] == t.good[at]) continue;
            broken += t.loadAndCheck(std::move(data), std::string("byte ") + std::to_string(at) + " " + c.name, at,
                                     Corruption::Leeway::ChangedEntry);
        }
}

TEST_P(Corruption, EveryByteChangedInItsBits) {
    changeEveryByte(
        *this, {{"low bit flipped", 0x01, false}, {"high bit flipped", 0x80, false}, {"inverted", 0xff, false}});
}

TEST_P(Corruption, EveryByteMadeABracketOrQuote) {
    changeEveryByte(*this, {{"made '{'", '{', true}, {"made '}'", '}', true}, {"made '\"'", '"', true}});
}

TEST_P(Corruption, EmptyAndForeignData) {
    const std::vector<std::vector<uint8_t>> inputs = {
        {},
        {0, 0, 1, 0},
        {0, 0, 1, 1, 'P', 'D', 'L', 'B', 0, 0, 0, 4, 0, 0, 0, 13},
        std::vector<uint8_t>(good.size(), 0),
        std::vector<uint8_t>(good.size(), 0xff),
        std::vector<uint8_t>(good.rbegin(), good.rend()),
    };
    for (size_t i = 0; i < inputs.size(); ++i) loadAndCheck(inputs[i], "foreign input " + std::to_string(i));
}

INSTANTIATE_TEST_SUITE_P(BothFormats, Corruption, ::testing::Values(Format::Binary, Format::Text),
                         [](const auto &info) { return info.param == Format::Binary ? "Binary" : "Text"; });

}  // namespace

namespace {

// One saved entry whose value stops short, in the binary format: the version, a library block
// holding one entry block, and in it the name, the type code and the first bytes of the value.
std::vector<uint8_t> oneShortEntry(const std::string &name, const char type[4], std::vector<uint8_t> value) {
    auto u4 = [](std::vector<uint8_t> &out, uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (24 - 8 * i)));
    };
    std::vector<uint8_t> entry(name.begin(), name.end());
    entry.push_back(0);
    entry.insert(entry.end(), type, type + 4);
    entry.insert(entry.end(), value.begin(), value.end());
    std::vector<uint8_t> out;
    u4(out, 256);
    out.insert(out.end(), {'P', 'D', 'L', 'B'});
    u4(out, uint32_t(4 + 8 + entry.size()));
    u4(out, 1);
    out.insert(out.end(), {'P', 'D', 'P', 'R'});
    u4(out, uint32_t(entry.size()));
    out.insert(out.end(), entry.begin(), entry.end());
    return out;
}

// The reproducer of the disabled sweep above: a prefix whose string has no end, and a flag with
// two of its four bytes, each loaded into an instance that holds another value.
TEST(ShortPlainValue, FailedReadKeepsTheFieldsValue) {
    integ::HostSession host;
    SkinInstance *skin = host.create();
    std::strcpy(skin->skin_prefix, "BeforeSkin");
    skin->sheen_trace = 7;

    host::state::LoadState prefix(Format::Binary, oneShortEntry("skin_prefix", "PSTR", {'S', 'k', 'i', 'n'}));
    host.load(skin, prefix);
    EXPECT_STREQ(skin->skin_prefix, "BeforeSkin");

    host::state::LoadState flag(Format::Binary, oneShortEntry("sheen_trace", "PINT", {0, 0}));
    host.load(skin, flag);
    EXPECT_EQ(skin->sheen_trace, 7);
    host.destroy(skin);
}

}  // namespace
