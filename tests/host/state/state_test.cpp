// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/state/memory_state.h"

namespace {

using host::state::Format;
using host::state::LoadState;
using host::state::SaveState;

const LWBlockIdent kOuter[] = {{LWID_('O', 'U', 'T', 'R'), "Outer"}, {0, nullptr}};
const LWBlockIdent kInner[] = {{LWID_('I', 'N', 'N', 'R'), "Inner block"}, {0, nullptr}};
const LWBlockIdent kBoth[] = {
    {LWID_('O', 'U', 'T', 'R'), "Outer"}, {LWID_('I', 'N', 'N', 'R'), "Inner block"}, {0, nullptr}};

std::string allBytes() {
    std::string s;
    for (int c = 1; c < 256; ++c) s += static_cast<char>(c);
    return s + "\"\\{}";
}

// What the sample writes: one of every value kind, nested blocks, awkward strings.
struct Sample {
    char i1[2] = {-128, 127};
    short i2[2] = {-32768, 32767};
    int i4[3] = {-2147483647 - 1, 2147483647, 256};
    unsigned char u1[2] = {0, 255};
    unsigned short u2[1] = {65535};
    unsigned int u4[2] = {0xffffffffu, 0x5650524Du};
    float fp[3] = {1.0f / 3.0f, -1e-38f, 3.4e38f};
    double dbl = 0.1 + 0.2;
    std::string text = allBytes();
};

std::vector<uint8_t> writeSample(Format f, const Sample &s) {
    SaveState save(f);
    const LWSaveState *w = save.record();
    w->beginBlk(w->writeData, kOuter, 0);
    w->writeI1(w->writeData, s.i1, 2);
    w->writeI2(w->writeData, s.i2, 2);
    w->beginBlk(w->writeData, kInner, 1);
    w->writeI4(w->writeData, s.i4, 3);
    w->writeStr(w->writeData, s.text.c_str());
    w->writeStr(w->writeData, "");
    w->endBlk(w->writeData);
    w->writeU1(w->writeData, s.u1, 2);
    w->writeU2(w->writeData, s.u2, 1);
    w->writeU4(w->writeData, s.u4, 2);
    w->writeFP(w->writeData, s.fp, 3);
    host::state::writeDouble(w, s.dbl);
    w->endBlk(w->writeData);
    EXPECT_EQ(save.openBlocks(), 0);
    return save.bytes();
}

// Reads the sample back; every value that reads successfully must be the one written. Returns how
// many of the reads succeeded (kSampleReads for intact data).
int readSample(LoadState &load, const Sample &want) {
    const LWLoadState *r = load.record();
    void *d = r->readData;
    int good = 0;
    if (r->findBlk(d, kOuter) == kOuter[0].id) {
        ++good;
        char i1[2];
        short i2[2];
        if (r->readI1(d, i1, 2) == 2) {
            EXPECT_EQ(0, std::memcmp(i1, want.i1, 2));
            ++good;
        }
        if (r->readI2(d, i2, 2) == 2) {
            EXPECT_EQ(0, std::memcmp(i2, want.i2, 4));
            ++good;
        }
        if (r->findBlk(d, kInner) == kInner[0].id) {
            ++good;
            int i4[3];
            char text[300], empty[8] = "x";
            if (r->readI4(d, i4, 3) == 3) {
                EXPECT_EQ(0, std::memcmp(i4, want.i4, 12));
                ++good;
            }
            if (r->readStr(d, text, sizeof text) >= 0) {
                EXPECT_EQ(want.text, text);
                ++good;
            }
            if (r->readStr(d, empty, sizeof empty) == 0) {
                EXPECT_STREQ("", empty);
                ++good;
            }
        }
        r->endBlk(d);
        unsigned char u1[2];
        unsigned short u2[1];
        unsigned int u4[2];
        float fp[3];
        double dbl = 0;
        if (r->readU1(d, u1, 2) == 2) {
            EXPECT_EQ(0, std::memcmp(u1, want.u1, 2));
            ++good;
        }
        if (r->readU2(d, u2, 1) == 1) {
            EXPECT_EQ(want.u2[0], u2[0]);
            ++good;
        }
        if (r->readU4(d, u4, 2) == 2) {
            EXPECT_EQ(0, std::memcmp(u4, want.u4, 8));
            ++good;
        }
        if (r->readFP(d, fp, 3) == 3) {
            EXPECT_EQ(0, std::memcmp(fp, want.fp, 12));
            ++good;
        }
        if (host::state::readDouble(r, dbl)) {
            EXPECT_EQ(want.dbl, dbl);
            ++good;
        }
    }
    r->endBlk(d);
    EXPECT_EQ(load.depth(), 0);
    return good;
}

constexpr int kSampleReads = 12;

class StateFormats : public ::testing::TestWithParam<Format> {};

TEST_P(StateFormats, EveryValueKindRoundTripsExactly) {
    Sample s;
    LoadState load(GetParam(), writeSample(GetParam(), s));
    EXPECT_EQ(readSample(load, s), kSampleReads);
    EXPECT_EQ(load.failures(), 0);
}

// Blocks outside the list are passed over; a value stops the search and stays readable.
TEST_P(StateFormats, FindPassesOverOtherBlocksAndStopsAtValues) {
    SaveState save(GetParam());
    const LWSaveState *w = save.record();
    int one = 1, two = 2;
    w->beginBlk(w->writeData, kOuter, 0);
    w->writeI4(w->writeData, &one, 1);
    w->endBlk(w->writeData);
    w->beginBlk(w->writeData, kInner, 1);
    w->writeI4(w->writeData, &two, 1);
    w->endBlk(w->writeData);
    w->writeI4(w->writeData, &one, 1);
    w->beginBlk(w->writeData, kOuter, 1);
    w->endBlk(w->writeData);

    LoadState load(GetParam(), save.bytes());
    const LWLoadState *r = load.record();
    void *d = r->readData;
    int v = 0;
    ASSERT_EQ(r->findBlk(d, kInner), kInner[0].id) << "the Outer block before it is passed over";
    EXPECT_EQ(r->readI4(d, &v, 1), 1);
    EXPECT_EQ(v, 2);
    r->endBlk(d);
    EXPECT_EQ(r->findBlk(d, kOuter), 0u) << "a value comes next";
    v = 7;
    EXPECT_EQ(r->readI4(d, &v, 1), 0) << "reads inside a find that entered nothing fail";
    EXPECT_EQ(v, 0);
    r->endBlk(d);
    EXPECT_EQ(r->readI4(d, &v, 1), 1) << "the value is still there";
    EXPECT_EQ(r->findBlk(d, kOuter), kOuter[0].id);
    r->endBlk(d);
    EXPECT_EQ(r->findBlk(d, kBoth), 0u) << "nothing left";
    r->endBlk(d);
    EXPECT_EQ(load.depth(), 0);
}

TEST_P(StateFormats, EndBlockSkipsWhatWasNotRead) {
    Sample s;
    SaveState save(GetParam());
    const LWSaveState *w = save.record();
    w->beginBlk(w->writeData, kOuter, 0);
    w->beginBlk(w->writeData, kInner, 0);
    w->writeI4(w->writeData, s.i4, 3);
    w->endBlk(w->writeData);
    w->endBlk(w->writeData);
    int after = 42;
    w->writeI4(w->writeData, &after, 1);
    LoadState load(GetParam(), save.bytes());
    const LWLoadState *r = load.record();
    ASSERT_EQ(r->findBlk(r->readData, kBoth), kOuter[0].id);
    ASSERT_EQ(r->findBlk(r->readData, kBoth), kInner[0].id);
    EXPECT_EQ(r->depth(r->readData), 2);
    r->endBlk(r->readData);
    r->endBlk(r->readData);
    r->endBlk(r->readData);  // one too many: ignored
    int v = 0;
    EXPECT_EQ(r->readI4(r->readData, &v, 1), 1);
    EXPECT_EQ(v, 42);
}

TEST_P(StateFormats, FailedReadsLeaveDocumentedValuesAndThePosition) {
    SaveState save(GetParam());
    const LWSaveState *w = save.record();
    int one = 5;
    w->writeStr(w->writeData, "abcdef");
    w->writeI4(w->writeData, &one, 1);
    LoadState load(GetParam(), save.bytes());
    const LWLoadState *r = load.record();
    void *d = r->readData;
    char small[4] = "zz";
    EXPECT_EQ(r->readStr(d, small, sizeof small), 3) << "cut to the buffer, whole string consumed";
    EXPECT_STREQ(small, "abc");
    int two[2] = {9, 9};
    EXPECT_EQ(r->readI4(d, two, 2), 0) << "all or nothing";
    EXPECT_EQ(two[0], 0);
    EXPECT_EQ(two[1], 0);
    EXPECT_EQ(r->readI4(d, two, 1), 1) << "the failed read left the position";
    EXPECT_EQ(two[0], 5);
    EXPECT_EQ(r->readStr(d, small, sizeof small), -1) << "nothing left";
    EXPECT_STREQ(small, "");
    EXPECT_EQ(r->readStr(d, small, 0), -1);
    EXPECT_EQ(r->readI4(d, nullptr, 1), 0);
}

TEST_P(StateFormats, NestingBeyondTheLimitIsRefused) {
    SaveState save(GetParam());
    const LWSaveState *w = save.record();
    const int levels = host::state::kMaxDepth + 10;
    for (int i = 0; i < levels; ++i) w->beginBlk(w->writeData, kOuter, 0);
    save.finish();
    LoadState load(GetParam(), save.bytes());
    const LWLoadState *r = load.record();
    int entered = 0;
    for (int i = 0; i < levels; ++i) entered += r->findBlk(r->readData, kOuter) != 0;
    EXPECT_EQ(entered, host::state::kMaxDepth);
    for (int i = 0; i < levels; ++i) r->endBlk(r->readData);
    EXPECT_EQ(load.depth(), 0);
}

INSTANTIATE_TEST_SUITE_P(BothFormats, StateFormats, ::testing::Values(Format::Binary, Format::Text),
                         [](const auto &info) { return info.param == Format::Binary ? "Binary" : "Text"; });

TEST(BinaryState, LayoutIsCodeLengthAndBigEndianValues) {
    SaveState save(Format::Binary);
    const LWSaveState *w = save.record();
    int v = 256;
    w->beginBlk(w->writeData, kOuter, 1);
    w->writeI4(w->writeData, &v, 1);
    w->writeStr(w->writeData, "ab");
    w->endBlk(w->writeData);
    std::vector<uint8_t> want = {'O', 'U', 'T', 'R', 0, 0, 0, 7, 0, 0, 1, 0, 'a', 'b', 0};
    EXPECT_EQ(save.bytes(), want);
}

TEST(TextState, LayoutIsReadable) {
    SaveState save(Format::Text);
    const LWSaveState *w = save.record();
    int v[2] = {256, -1};
    w->beginBlk(w->writeData, kInner, 0);
    w->writeI4(w->writeData, v, 2);
    w->writeStr(w->writeData, "a\"b\n");
    w->endBlk(w->writeData);
    std::string text(save.bytes().begin(), save.bytes().end());
    EXPECT_EQ(text, "{ \"Inner block\"\n  256 -1\n  \"a\\\"b\\x0a\"\n}\n");
}

// Hostile data of every sort: the reader must stay inside the data, give only true values, and
// end balanced.
TEST(CorruptState, TruncationAtEveryByteNeverYieldsAWrongValue) {
    Sample s;
    for (Format f : {Format::Binary, Format::Text}) {
        std::vector<uint8_t> full = writeSample(f, s);
        for (size_t cut = 0; cut < full.size(); ++cut) {
            LoadState load(f, std::vector<uint8_t>(full.begin(), full.begin() + static_cast<long>(cut)));
            int good = readSample(load, s);
            // Text may lose only trailing layout and still be whole.
            bool whole = f == Format::Text && cut + 1 >= full.size();
            if (!whole) {
                EXPECT_EQ(good, 0) << "cut at " << cut << " of " << full.size();
            }
        }
    }
}

TEST(CorruptState, FlippedBytesStayInsideTheData) {
    Sample s;
    for (Format f : {Format::Binary, Format::Text}) {
        std::vector<uint8_t> full = writeSample(f, s);
        for (size_t at = 0; at < full.size(); ++at) {
            for (uint8_t mask : {0x01, 0x80, 0xff}) {
                std::vector<uint8_t> bad = full;
                bad[at] ^= mask;
                LoadState load(f, bad);
                const LWLoadState *r = load.record();
                // Read blindly: whatever comes back, nothing may read past the data.
                char text[300];
                int ints[4];
                r->findBlk(r->readData, kBoth);
                r->readI4(r->readData, ints, 1);
                r->findBlk(r->readData, kBoth);
                r->readI4(r->readData, ints, 3);
                r->readStr(r->readData, text, sizeof text);
                r->endBlk(r->readData);
                r->endBlk(r->readData);
                EXPECT_EQ(load.depth(), 0);
            }
        }
    }
}

TEST(CorruptState, HostileHeadersAreRefused) {
    struct Case {
        const char *what;
        Format format;
        std::string data;
    };
    const Case cases[] = {
        {"huge length", Format::Binary, std::string("OUTR\xff\xff\xff\xff", 8) + "abcd"},
        {"length one past the data", Format::Binary, std::string("OUTR\0\0\0\x05", 8) + "abcd"},
        {"header cut short", Format::Binary, std::string("OUTR\0\0", 6)},
        {"block never closed", Format::Text, "{ Outer\n  1 2 3\n"},
        {"string never closed", Format::Text, "{ Outer\n  \"abc }\n"},
        {"bad escape in name", Format::Text, "{ \"Out\\q\" }\n"},
        {"close without open", Format::Text, "}\n{ Outer }"},
        {"deep nesting never closed", Format::Text, std::string(200000, '{')},
    };
    for (const Case &c : cases) {
        LoadState load(c.format, std::vector<uint8_t>(c.data.begin(), c.data.end()));
        const LWLoadState *r = load.record();
        EXPECT_EQ(r->findBlk(r->readData, kOuter), 0u) << c.what;
        r->endBlk(r->readData);
    }
}

// A reader that asks again and again at the same place (a count read from the file) must not
// rescan the rest of the data every time.
TEST(CorruptState, RepeatedFindsOnAnUnclosedBlockStayCheap) {
    const std::string big(1 << 20, ' ');
    std::string many;
    for (int i = 0; i < 100000; ++i) many += "{ X }\n";
    const std::string cases[] = {"{ Outer\n" + big + "1\n",        big + "{ Outer",           "{ \"Outer" + big,
                                 "{ " + std::string(1 << 20, 'x'), std::string(1 << 20, '7'), many};
    for (const std::string &data : cases) {
        LoadState load(Format::Text, std::vector<uint8_t>(data.begin(), data.end()));
        const LWLoadState *r = load.record();
        for (int i = 0; i < 20000; ++i) {
            ASSERT_EQ(r->findBlk(r->readData, kOuter), 0u);
            r->endBlk(r->readData);
            int v[2];
            ASSERT_EQ(r->readI4(r->readData, v, 2), 0);
        }
    }
}

TEST(CorruptState, RepeatedBinaryFindsOverManyBlocksStayCheap) {
    std::vector<uint8_t> data;
    for (int i = 0; i < 100000; ++i) data.insert(data.end(), {'J', 'U', 'N', 'K', 0, 0, 0, 0});
    data.insert(data.end(), {'O', 'U', 'T', 'R', 0, 0, 0, 9});  // runs past the end
    LoadState load(Format::Binary, data);
    const LWLoadState *r = load.record();
    for (int i = 0; i < 100000; ++i) {
        ASSERT_EQ(r->findBlk(r->readData, kOuter), 0u);
        r->endBlk(r->readData);
    }
}

TEST(CorruptState, TextNumbersOutOfRangeFail) {
    struct Case {
        const char *text;
        int (*read)(const LWLoadState *);
    };
    auto u1 = [](const LWLoadState *r) {
        unsigned char v;
        return r->readU1(r->readData, &v, 1);
    };
    auto i4 = [](const LWLoadState *r) {
        int v;
        return r->readI4(r->readData, &v, 1);
    };
    auto i2 = [](const LWLoadState *r) {
        short v;
        return r->readI2(r->readData, &v, 1);
    };
    auto fp = [](const LWLoadState *r) {
        float v;
        return r->readFP(r->readData, &v, 1);
    };
    const Case cases[] = {{"256", u1},   {"-1", u1}, {"2147483648", i4}, {"1e5", i4}, {"32768", i2},
                          {"\"1\"", i4}, {"{", i4},  {"1.5x", fp},       {"", fp}};
    for (const Case &c : cases) {
        std::string t = c.text;
        LoadState load(Format::Text, std::vector<uint8_t>(t.begin(), t.end()));
        EXPECT_EQ(c.read(load.record()), 0) << c.text;
    }
}

}  // namespace
