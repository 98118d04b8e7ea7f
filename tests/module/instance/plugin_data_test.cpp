// SPDX-License-Identifier: Apache-2.0
// Instance persistence: the saved layout of an instance, loading in any order, and loading of
// damaged data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "base/host_globals.h"
#include "instance/plugin_data.h"
#include "instance/skin_instance.h"
#include "instance/skin_panel.h"
#include "tests/support/fake_host.h"
#include "tests/support/test_state.h"
#include "vparam/vparam.h"

using namespace velmora;
using testhost::FakeHost;
using testhost::Node;
using testhost::TestState;

namespace {

std::vector<Node> doubleBytes(const unsigned char (&b)[8]) {
    std::vector<Node> out;
    for (unsigned char c : b) out.push_back(Node::u1(c));
    return out;
}

std::vector<Node> doubleBytes(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    unsigned char b[8];
    for (int i = 0; i < 8; ++i) b[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    return doubleBytes(b);
}

// One saved entry: name, type code, payload.
Node entry(const std::string &name, LWID type, std::vector<Node> payload) {
    std::vector<Node> children = {Node::str(name), Node::u4(type)};
    children.insert(children.end(), payload.begin(), payload.end());
    return Node::block(kBlockPDPR, children);
}

// A saved instance: the version, then PDLB with a count and the entries.
void instanceFile(TestState &ts, int count, std::vector<Node> entries, int version = 256) {
    std::vector<Node> lib = {Node::i4(count)};
    lib.insert(lib.end(), entries.begin(), entries.end());
    ts.root.children = {Node::i4(version), Node::block(kBlockPDLB, lib)};
}

class PersistenceTest : public ::testing::Test {
protected:
    void SetUp() override {
        host.parmSavesValues = true;  // a saved instance keeps its parameters' values
        host.activate();
    }
    void TearDown() override {
        for (SkinInstance *s : made) skinDestroy(s);
        resetHostGlobals();
    }
    SkinInstance *create() {
        SkinInstance *s = static_cast<SkinInstance *>(skinCreate(nullptr, nullptr, nullptr));
        made.push_back(s);
        return s;
    }
    double &val(Vparam *vp, int k = 0) { return host.parm(vp->parameter)->value[k]; }

    FakeHost host;
    std::vector<SkinInstance *> made;
};

TEST_F(PersistenceTest, DefaultSaveWritesThirteenEntriesInTableOrder) {
    SkinInstance *s = create();
    TestState ts;
    EXPECT_EQ(skinSave(s, ts.save()), nullptr);
    EXPECT_TRUE(ts.balanced());
    EXPECT_EQ(ts.begins, ts.saveEnds);

    ASSERT_EQ(ts.root.children.size(), 2u);
    EXPECT_EQ(ts.root.children[0].kind, Node::I4);
    EXPECT_EQ(ts.root.children[0].i, 256);
    const Node &lib = ts.root.children[1];
    ASSERT_EQ(lib.kind, Node::BLOCK);
    EXPECT_EQ(lib.id, 0x50444C42u);
    EXPECT_EQ(lib.s, "PluginDataLib");
    EXPECT_EQ(lib.leaf, 0);
    ASSERT_FALSE(lib.children.empty());
    EXPECT_EQ(lib.children[0].kind, Node::I4);
    EXPECT_EQ(lib.children[0].i, 13);

    const struct {
        const char *name;
        LWID type;
    } rows[] = {{"skin_color", 0x50565052},   {"sheen_color", 0x50565052},   {"Ksub", 0x50565052},
                {"Ksheen", 0x50565052},       {"skin_prefix", 0x50535452},   {"sheen_prefix", 0x50535452},
                {"scatter_wrap", 0x50565052}, {"shadow_amount", 0x50565052}, {"diff_rough", 0x50565052},
                {"Ka", 0x50565052},           {"sheen_trace", 0x50494E54},   {"trace_eps", 0x5044424C},
                {"sheen_decay", 0x5044424C}};
    const std::vector<const Node *> entries = lib.blocks();
    ASSERT_EQ(entries.size(), 13u);
    for (size_t i = 0; i < 13; ++i) {
        const Node &e = *entries[i];
        SCOPED_TRACE(rows[i].name);
        EXPECT_EQ(e.id, 0x50445052u);
        EXPECT_EQ(e.s, "PluginDataParam");
        ASSERT_GE(e.children.size(), 2u);
        EXPECT_EQ(e.children[0].kind, Node::STR);
        EXPECT_EQ(e.children[0].s, rows[i].name);
        EXPECT_EQ(e.children[1].kind, Node::U4);
        EXPECT_EQ(e.children[1].i, static_cast<int64_t>(rows[i].type));
    }

    // Payloads of the plain entries: prefixes as strings, the flag as an integer, distances as
    // eight bytes each through the unsigned-byte writer, most significant first.
    EXPECT_EQ(entries[4]->children[2].s, "");
    EXPECT_EQ(entries[10]->children[2].kind, Node::I4);
    EXPECT_EQ(entries[10]->children[2].i, 0);
    const unsigned char eps[8] = {0x3F, 0x50, 0x62, 0x4D, 0xD2, 0xF1, 0xA9, 0xFC};
    const unsigned char half[8] = {0x3F, 0xE0, 0, 0, 0, 0, 0, 0};
    for (const auto &d : {std::make_pair(entries[11], eps), std::make_pair(entries[12], half)}) {
        ASSERT_EQ(d.first->children.size(), 10u);
        for (int b = 0; b < 8; ++b) {
            EXPECT_EQ(d.first->children[2 + b].kind, Node::U1);
            EXPECT_EQ(d.first->children[2 + b].i, d.second[b]) << d.first->children[0].s << " byte " << b;
        }
    }
}

TEST_F(PersistenceTest, EntriesInAnotherOrderRestoreEveryValue) {
    SkinInstance *a = create();
    std::strcpy(a->skin_prefix, "key");
    std::strcpy(a->sheen_prefix, "rim light");
    a->sheen_trace = 1;
    a->trace_eps = 0.0125;
    a->sheen_decay = 2.75;
    Vparam *SkinInstance::*const params[] = {&SkinInstance::skin_color,   &SkinInstance::sheen_color,
                                             &SkinInstance::Ksub,         &SkinInstance::Ksheen,
                                             &SkinInstance::diff_rough,   &SkinInstance::shadow_amount,
                                             &SkinInstance::scatter_wrap, &SkinInstance::Ka};
    double v = 0.11;
    for (auto p : params) val(a->*p) = (v += 0.07);

    TestState ts;
    skinSave(a, ts.save());
    std::vector<Node> &lib = ts.root.children[1].children;
    std::reverse(lib.begin() + 1, lib.end());

    SkinInstance *b = create();
    EXPECT_EQ(skinLoad(b, ts.load()), nullptr);
    EXPECT_TRUE(ts.balanced());
    EXPECT_STREQ(b->skin_prefix, "key");
    EXPECT_STREQ(b->sheen_prefix, "rim light");
    EXPECT_EQ(b->sheen_trace, 1);
    EXPECT_EQ(b->trace_eps, 0.0125);
    EXPECT_EQ(b->sheen_decay, 2.75);
    for (auto p : params) EXPECT_EQ(val(b->*p), val(a->*p));
}

TEST_F(PersistenceTest, EntriesOfAnotherNameOrTypeAreSkippedWhole) {
    SkinInstance *s = create();
    TestState ts;
    instanceFile(ts, 5,
                 {entry("sheen_trace", kTypePDBL, doubleBytes(1.0)),  // sheen_trace is PINT
                  entry("bogus", kTypePINT, {Node::i4(5)}), entry("trace_eps", kTypePINT, {Node::i4(9)}),
                  entry("Sheen_decay", kTypePDBL, doubleBytes(9.0)),  // names are case-sensitive
                  entry("sheen_decay", kTypePDBL, doubleBytes(2.0))});
    skinLoad(s, ts.load());
    EXPECT_TRUE(ts.balanced());
    EXPECT_EQ(s->sheen_trace, 0);
    EXPECT_EQ(s->trace_eps, 0.001);
    EXPECT_EQ(s->sheen_decay, 2.0);
}

TEST_F(PersistenceTest, DamagedFilesLeaveTheValuesAsTheyWere) {
    const struct Case {
        const char *what;
        std::vector<Node> top;
        int finds;  // finds the load may make
    } cases[] = {
        {"version 255",
         {Node::i4(255), Node::block(kBlockPDLB, {Node::i4(1), entry("sheen_trace", kTypePINT, {Node::i4(1)})})},
         0},
        {"no version", {}, 0},
        {"no PDLB", {Node::i4(256), Node::block(kBlockVPRM, {})}, 1},
        {"no count",
         {Node::i4(256), Node::block(kBlockPDLB, {entry("sheen_trace", kTypePINT, {Node::i4(1)})})},
         1},
        {"negative count",
         {Node::i4(256), Node::block(kBlockPDLB, {Node::i4(-5), entry("sheen_trace", kTypePINT, {Node::i4(1)})})},
         1},
        {"short double",
         {Node::i4(256), Node::block(kBlockPDLB, {Node::i4(1), entry("trace_eps", kTypePDBL,
                                                                     {Node::u1(1), Node::u1(2), Node::u1(3)})})},
         2},
        {"nameless entry",
         {Node::i4(256),
          Node::block(kBlockPDLB, {Node::i4(1), Node::block(kBlockPDPR, {Node::u4(kTypePINT), Node::i4(1)})})},
         2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SkinInstance *s = create();
        TestState ts;
        ts.root.children = c.top;
        EXPECT_EQ(skinLoad(s, ts.load()), nullptr);
        EXPECT_TRUE(ts.balanced());
        EXPECT_EQ(ts.finds, c.finds);
        EXPECT_EQ(s->sheen_trace, 0);
        EXPECT_EQ(s->trace_eps, 0.001);
    }
}

// A count of two billion from a damaged file: the load ends at the first missing entry.
TEST_F(PersistenceTest, CorruptCountStopsAtTheFirstMissingEntry) {
    SkinInstance *s = create();
    TestState ts;
    instanceFile(ts, 2000000000, {entry("sheen_trace", kTypePINT, {Node::i4(1)})});
    skinLoad(s, ts.load());
    EXPECT_EQ(s->sheen_trace, 1);
    EXPECT_EQ(ts.finds, 3);  // PDLB, the one entry, the missing second entry
    EXPECT_TRUE(ts.balanced());
}

// A file cut after k of its 13 entries, its count still 13: the first k load, the rest keep
// their values.
TEST_F(PersistenceTest, TruncatedFilesLoadTheEntriesThatArePresent) {
    SkinInstance *a = create();
    a->sheen_trace = 1;
    a->trace_eps = 0.5;
    a->sheen_decay = 7.0;
    std::strcpy(a->skin_prefix, "key");
    TestState full;
    skinSave(a, full.save());
    for (size_t k = 0; k <= 13; ++k) {
        SCOPED_TRACE(k);
        TestState ts;
        ts.root = full.root;
        std::vector<Node> &lib = ts.root.children[1].children;
        lib.resize(1 + k);
        SkinInstance *b = create();
        skinLoad(b, ts.load());
        EXPECT_TRUE(ts.balanced());
        EXPECT_STREQ(b->skin_prefix, k > 4 ? "key" : "");
        EXPECT_EQ(b->sheen_trace, k > 10 ? 1 : 0);
        EXPECT_EQ(b->trace_eps, k > 11 ? 0.5 : 0.001);
        EXPECT_EQ(b->sheen_decay, k > 12 ? 7.0 : 0.5);
    }
}

// A host whose reads start failing at any point: the load ends cleanly, and every value is
// either the saved one or the one it had.
TEST_F(PersistenceTest, LoadSurvivesAReadFailureAtEveryPoint) {
    SkinInstance *a = create();
    std::strcpy(a->skin_prefix, "key");
    std::strcpy(a->sheen_prefix, "rim");
    a->sheen_trace = 1;
    a->trace_eps = 0.5;
    a->sheen_decay = 7.0;
    val(a->Ka) = 0.25;
    TestState full;
    skinSave(a, full.save());
    for (int n = 0;; ++n) {
        SCOPED_TRACE(n);
        TestState ts;
        ts.root = full.root;
        ts.failAfter = n;
        SkinInstance *b = create();
        skinLoad(b, ts.load());
        EXPECT_TRUE(ts.balanced());
        EXPECT_TRUE(std::strcmp(b->skin_prefix, "key") == 0 || b->skin_prefix[0] == '\0') << b->skin_prefix;
        EXPECT_TRUE(std::strcmp(b->sheen_prefix, "rim") == 0 || b->sheen_prefix[0] == '\0') << b->sheen_prefix;
        EXPECT_TRUE(b->sheen_trace == 1 || b->sheen_trace == 0) << b->sheen_trace;
        EXPECT_TRUE(b->trace_eps == 0.5 || b->trace_eps == 0.001) << b->trace_eps;
        EXPECT_TRUE(b->sheen_decay == 7.0 || b->sheen_decay == 0.5) << b->sheen_decay;
        EXPECT_TRUE(val(b->Ka) == 0.25 || val(b->Ka) == 1.0) << val(b->Ka);
        if (!ts.faulted()) {  // the whole file was read: everything came back
            EXPECT_EQ(b->sheen_decay, 7.0);
            EXPECT_EQ(val(b->Ka), 0.25);
            break;
        }
        ASSERT_LT(n, 1000) << "the sweep never got through the file";
    }
}

// Prefixes load with the buffer's full size: a 16-character prefix keeps its 16th character.
TEST_F(PersistenceTest, PrefixesOfSixteenCharactersSurviveTheRoundTrip) {
    SkinInstance *a = create();
    panelSet(a, 0x8009, const_cast<char *>("abcdefghijklmnop"));
    panelSet(a, 0x800a, const_cast<char *>("0123456789ABCDEF"));
    TestState ts;
    skinSave(a, ts.save());
    SkinInstance *b = create();
    skinLoad(b, ts.load());
    EXPECT_STREQ(b->skin_prefix, "abcdefghijklmnop");
    EXPECT_STREQ(b->sheen_prefix, "0123456789ABCDEF");

    // A longer text in the file is cut to 16 characters and stays terminated.
    TestState longer;
    instanceFile(longer, 1, {entry("skin_prefix", kTypePSTR, {Node::str("abcdefghijklmnopqrst")})});
    std::memset(b->sheen_prefix, 0, kPrefixSize);
    skinLoad(b, longer.load());
    EXPECT_STREQ(b->skin_prefix, "abcdefghijklmnop");
    EXPECT_STREQ(b->sheen_prefix, "");
}

// The generic store, with every plain type code, a user row and a row without data.
namespace generic {
unsigned char bin[4];
double dbl[2];
float flt[2];
int i32[3];
char str[8];
unsigned int u32[2];
int user;
int userSaves, userLoads;
void userSave(const LWSaveState *save, void *data) {
    ++userSaves;
    save->writeI4(save->writeData, static_cast<int *>(data), 1);
}
void userLoad(const LWLoadState *load, void *data) {
    ++userLoads;
    load->readI4(load->readData, static_cast<int *>(data), 1);
}
Vparam *pairs[2] = {nullptr, nullptr};  // one PVEV pair whose parameter word is null

PluginDataEntry table[] = {
    {"bin", kTypePBIN, bin, 4, nullptr, nullptr},      {"dbl", kTypePDBL, dbl, 2, nullptr, nullptr},
    {"flt", kTypePFLT, flt, 2, nullptr, nullptr},      {"int", kTypePINT, i32, 3, nullptr, nullptr},
    {"none", kTypePINT, nullptr, 1, nullptr, nullptr}, {"str", kTypePSTR, str, 8, nullptr, nullptr},
    {"unt", kTypePUNT, u32, 2, nullptr, nullptr},      {"usr", kTypePUSR, &user, 1, userSave, userLoad},
    {"pvev", kTypePVEV, pairs, 1, nullptr, nullptr},   {nullptr, 0, nullptr, 0, nullptr, nullptr},
};

void set(int base) {
    for (int i = 0; i < 4; ++i) bin[i] = static_cast<unsigned char>(base + 250 + i);
    dbl[0] = base + 0.1;
    dbl[1] = -1e300 * base;
    flt[0] = base + 0.5f;
    flt[1] = -2.0f;
    for (int i = 0; i < 3; ++i) i32[i] = base * -100000 + i;
    std::strcpy(str, base ? "seven!!" : "");
    u32[0] = 0xfffffff0u + base;
    u32[1] = base;
    user = base * 3;
}
}  // namespace generic

TEST(PluginData, EveryTypeCodeRoundTrips) {
    using namespace generic;
    set(1);
    TestState ts;
    pluginDataSave(ts.save(), table);
    EXPECT_TRUE(ts.balanced());
    const Node &lib = ts.root.children.at(0);
    EXPECT_EQ(lib.children.at(0).i, 8);  // the row without data is neither counted nor saved
    EXPECT_EQ(lib.blocks().size(), 8u);
    EXPECT_EQ(userSaves, 1);

    set(0);
    pluginDataLoad(ts.load(), table);
    EXPECT_TRUE(ts.balanced());
    EXPECT_EQ(userLoads, 1);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(bin[i], 251 + i);
    EXPECT_EQ(dbl[0], 1.1);
    EXPECT_EQ(dbl[1], -1e300);
    EXPECT_EQ(flt[0], 1.5f);
    EXPECT_EQ(flt[1], -2.0f);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(i32[i], -100000 + i);
    EXPECT_STREQ(str, "seven!!");
    EXPECT_EQ(u32[0], 0xfffffff1u);
    EXPECT_EQ(u32[1], 1u);
    EXPECT_EQ(user, 3);
}

}  // namespace
