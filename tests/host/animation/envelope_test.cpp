// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "host/animation/envelopes.h"
#include "host/state/memory_state.h"

namespace {

using host::animation::Key;
using host::state::Format;

class Envelopes : public ::testing::Test {
protected:
    void TearDown() override { host::animation::clearAll(); }
    const LWEnvelopeFuncs &env = *host::animation::envelopeFuncs();
    const LWChannelInfo &chan = *host::animation::channelInfo();

    LWEnvelopeID make(std::vector<Key> keys) {
        LWChanGroupID g = env.createGroup(nullptr, "test");
        LWEnvelopeID e = env.create(g, "value", 0);
        EXPECT_TRUE(host::animation::setKeys(e, std::move(keys)));
        return e;
    }
};

Key key(double t, double v, int shape = LWKEY_TCB, double tension = 0) {
    Key k;
    k.time = t;
    k.value = v;
    k.shape = shape;
    k.tension = tension;
    return k;
}

// Closed-form values: linear and stepped spans, the Catmull-Rom spline (TCB at 0) through
// (0,0) (1,1) (2,0) whose inner tangent is 0, tension 1 (zero tangents: smoothstep), and constant
// behaviour outside the keys.
TEST_F(Envelopes, InterpolationMatchesClosedForms) {
    struct Case {
        const char *what;
        std::vector<Key> keys;
        double time, want;
    };
    const Case cases[] = {
        {"no keys", {}, 0.5, 0.0},
        {"one key", {key(1, 3)}, -5, 3.0},
        {"linear mid", {key(0, 2), key(2, 6, LWKEY_LINEAR)}, 0.5, 3.0},
        {"stepped holds", {key(0, 2), key(2, 6, LWKEY_STEPPED)}, 1.99, 2.0},
        {"before first", {key(1, 2), key(2, 6, LWKEY_LINEAR)}, 0, 2.0},
        {"after last", {key(1, 2), key(2, 6, LWKEY_LINEAR)}, 9, 6.0},
        {"on a key", {key(0, 0), key(1, 1), key(2, 0)}, 1, 1.0},
        {"catmull-rom first span", {key(0, 0), key(1, 1), key(2, 0)}, 0.5, 0.625},
        {"catmull-rom second span", {key(0, 0), key(1, 1), key(2, 0)}, 1.5, 0.625},
        {"two TCB keys are straight", {key(0, 0), key(4, 2)}, 1, 0.5},
        {"tension 1 is smoothstep", {key(0, 0, LWKEY_TCB, 1), key(1, 1, LWKEY_TCB, 1)}, 0.25, 0.15625},
        {"hermite as catmull-rom", {key(0, 0), key(1, 1, LWKEY_HERMITE), key(2, 0, LWKEY_HERMITE)}, 0.5, 0.625},
    };
    for (const Case &c : cases) {
        LWEnvelopeID e = make(c.keys);
        EXPECT_NEAR(env.value(e, c.time), c.want, 1e-12) << c.what;
    }
}

TEST_F(Envelopes, KeysStaySortedAndUniqueInTime) {
    LWEnvelopeID e = make({});
    env.createKey(e, 2, 20);
    LWEnvKeyframeID k0 = env.createKey(e, 0, 0);
    env.createKey(e, 1, 10);
    env.createKey(e, 1, 11);  // replaces the value at 1
    std::vector<Key> ks = host::animation::keys(e);
    ASSERT_EQ(ks.size(), 3u);
    EXPECT_EQ(ks[1].value, 11);
    EXPECT_EQ(env.nextKey(e, nullptr), k0);
    EXPECT_EQ(env.keySet(e, k0, 99), 0) << "unknown shape";
    EXPECT_EQ(env.keySet(e, k0, LWKEY_LINEAR), 1);
    env.destroyKey(e, k0);
    EXPECT_EQ(host::animation::keys(e).size(), 2u);
    EXPECT_EQ(env.createKey(e, NAN, 1), nullptr);
}

TEST_F(Envelopes, SaveThenLoadKeepsEveryKeyExactly) {
    Key odd = key(1.0 / 3.0, 0.1, LWKEY_TCB, 0.25);
    odd.continuity = -0.5;
    odd.bias = 0.125;
    std::vector<Key> want = {key(0, -1e-300), odd, key(7.5, 1e300, LWKEY_STEPPED)};
    for (Format f : {Format::Binary, Format::Text}) {
        LWEnvelopeID src = make(want);
        host::state::SaveState save(f);
        EXPECT_EQ(env.save(src, save.record()), nullptr);
        LWEnvelopeID dst = make({key(5, 5)});
        host::state::LoadState load(f, save.bytes());
        EXPECT_EQ(env.load(dst, load.record()), nullptr);
        std::vector<Key> got = host::animation::keys(dst);
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < want.size(); ++i) {
            EXPECT_EQ(got[i].time, want[i].time) << i;
            EXPECT_EQ(got[i].value, want[i].value) << i;
            EXPECT_EQ(got[i].shape, want[i].shape) << i;
            EXPECT_EQ(got[i].tension, want[i].tension) << i;
            EXPECT_EQ(got[i].continuity, want[i].continuity) << i;
            EXPECT_EQ(got[i].bias, want[i].bias) << i;
        }
    }
}

TEST_F(Envelopes, AnotherVersionLeavesTheKeysAndSaysWhy) {
    LWEnvelopeID src = make({key(0, 1), key(1, 2)});
    host::state::SaveState save(Format::Binary);
    env.save(src, save.record());
    std::vector<uint8_t> full = save.bytes();
    std::vector<uint8_t> wrongVersion = full;
    wrongVersion[11] = 2;  // the version word follows the 8-byte block header
    host::state::LoadState load(Format::Binary, wrongVersion);
    LWEnvelopeID dst = make({key(3, 4)});
    EXPECT_NE(env.load(dst, load.record()), nullptr);
    EXPECT_EQ(host::animation::keys(dst).size(), 1u);
}

TEST_F(Envelopes, ChannelInfoWalksTheTree) {
    LWChanGroupID top = env.createGroup(nullptr, "surface");
    LWChanGroupID a = env.createGroup(top, "a");
    LWChanGroupID b = env.createGroup(top, "b");
    LWEnvelopeID r = env.create(a, "col.R", 0);
    LWEnvelopeID g = env.create(a, "col.G", 0);
    EXPECT_EQ(chan.nextGroup(top, nullptr), a);
    EXPECT_EQ(chan.nextGroup(top, a), b);
    EXPECT_EQ(chan.nextGroup(top, b), nullptr);
    EXPECT_EQ(chan.nextChannel(a, nullptr), r);
    EXPECT_EQ(chan.nextChannel(a, r), g);
    EXPECT_EQ(chan.nextChannel(a, g), nullptr);
    EXPECT_STREQ(chan.channelName(g), "col.G");
    EXPECT_STREQ(chan.groupName(b), "b");
    EXPECT_EQ(chan.groupParent(a), top);
    EXPECT_EQ(chan.groupParent(top), nullptr);
    EXPECT_EQ(chan.channelParent(r), a);
    EXPECT_EQ(chan.channelEnvelope(r), r);

    env.destroyGroup(top);  // takes its groups and channels with it
    EXPECT_FALSE(host::animation::isEnvelope(r));
    EXPECT_FALSE(host::animation::isGroup(b));
    EXPECT_EQ(chan.channelName(r), nullptr);
    EXPECT_EQ(env.value(r, 0), 0);
    EXPECT_EQ(env.create(a, "stale", 0), nullptr);
}

TEST_F(Envelopes, ManyThreadsReadTheSameValues) {
    LWEnvelopeID e = make({key(0, 0), key(1, 1), key(2, 0)});
    std::vector<double> sums(4, 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < sums.size(); ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) sums[t] += env.value(e, i / 1000.0);
        });
    for (auto &th : threads) th.join();
    for (size_t t = 1; t < sums.size(); ++t) EXPECT_EQ(sums[t], sums[0]);
}

}  // namespace
