// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/util/handle_registry.h"
#include "host/util/paths.h"
#include "host/util/text.h"

namespace {

using host::util::excerpt;
using host::util::extensionOf;
using host::util::numberText;
using host::util::quote;

// Messages quote input in a bounded excerpt: control characters as \xNN (capitals), a cut marked
// with "...", and never a cut inside a UTF-8 sequence (the message must stay valid UTF-8).
TEST(MessageText, ExcerptEscapesAndCutsAtCharacters) {
    const std::string e = "\xC3\xA9";  // U+00E9, two bytes
    struct Case {
        std::string in;
        size_t max;
        std::string out;
    } cases[] = {
        {"plain", 40, "plain"},
        {"tab\there", 40, "tab\\x09here"},
        {std::string("\x7F\x1b", 2), 40, "\\x7F\\x1B"},
        {"abcdef", 4, "abcd..."},
        {"abc" + e + "x", 4, "abc..."},  // byte 4 is inside the sequence: cut before it
        {"abc" + e + "x", 5, "abc" + e + "..."},
        {std::string(41, 'a'), 40, std::string(40, 'a') + "..."},
    };
    for (const Case &c : cases) EXPECT_EQ(excerpt(c.in, c.max), c.out) << c.in;
    EXPECT_EQ(quote(std::string(50, 'b')), "\"" + std::string(40, 'b') + "...\"");
}

// Numbers in messages and saved text: the shortest exact text of the value's type, or a stated
// number of significant digits.
TEST(MessageText, NumberText) {
    EXPECT_EQ(numberText(0.1), "0.1");
    EXPECT_EQ(numberText(1e9), "1e+09");  // the shorter of the two forms
    EXPECT_EQ(numberText(0.1f), "0.1");   // a float's own shortest text, not its double's
    EXPECT_EQ(numberText(static_cast<int64_t>(-42)), "-42");
    EXPECT_EQ(numberText(1.0 / 3.0), "0.3333333333333333");
    EXPECT_EQ(numberText(1.0 / 3.0, 10), "0.3333333333");
    EXPECT_EQ(numberText(1e12, 10), "1e+12");
}

TEST(FileNames, Extension) {
    struct Case {
        const char *path, *ext;
    } cases[] = {
        {"a/b.PNG", "png"}, {"scene.lws", "lws"}, {"dir.d/file", ""},
        {"noext", ""},      {"a.tar.GZ", "gz"},   {".hdr", "hdr"},
    };
    for (const Case &c : cases) EXPECT_EQ(extensionOf(c.path), c.ext) << c.path;
}

// Handles: valid from add until remove, null for anything else; owned objects die with their
// handle unless shared, tracked ones never; walks go oldest first.
struct Thing {
    int *alive;
    explicit Thing(int *a) : alive(a) { ++*alive; }
    ~Thing() { --*alive; }
};
struct Other {};
using Registry = host::util::HandleRegistry<std::shared_mutex, Thing, Other>;

TEST(HandleRegistry, HandlesLiveFromAddToRemove) {
    Registry reg;
    int alive = 0;
    Thing outside(&alive);
    auto w = reg.write();
    Thing *a = w.add(std::make_unique<Thing>(&alive)), *b = w.add(std::make_unique<Thing>(&alive));
    Thing *t = w.track(&outside);
    Other *o = w.add(std::make_unique<Other>());
    EXPECT_EQ(alive, 3);
    EXPECT_EQ(w.find<Thing>(a), a);
    EXPECT_EQ(w.find<Thing>(t), t);
    EXPECT_EQ(w.find<Thing>(o), nullptr) << "a handle of another kind";
    EXPECT_EQ(w.find<Other>(a), nullptr);
    EXPECT_EQ(w.find<Thing>(nullptr), nullptr);
    EXPECT_EQ(w.find<Thing>(&alive), nullptr) << "a foreign pointer";
    std::shared_ptr<Thing> kept = w.share<Thing>(b);
    EXPECT_TRUE(w.remove<Thing>(a));
    EXPECT_TRUE(w.remove<Thing>(b));
    EXPECT_FALSE(w.remove<Thing>(a)) << "a stale handle";
    EXPECT_EQ(w.find<Thing>(b), nullptr);
    EXPECT_EQ(alive, 2) << "a destroyed, b kept by its share";
    kept.reset();
    Thing *c = w.add(std::make_unique<Thing>(&alive));
    std::vector<Thing *> order;
    w.each<Thing>([&](Thing &x) { order.push_back(&x); });
    EXPECT_EQ(order, (std::vector<Thing *>{t, c}));
    w.clear<Thing>();
    EXPECT_TRUE(w.empty<Thing>());
    EXPECT_FALSE(w.empty<Other>());
    EXPECT_EQ(alive, 1) << "the tracked object is not the registry's";
}

TEST(HandleRegistry, WritersAndReadersAtOnce) {
    Registry reg;
    int alive = 0;  // changed only under the registry's exclusive lock
    Thing *kept = reg.write().add(std::make_unique<Thing>(&alive));
    std::vector<std::thread> threads;
    for (int k = 0; k < 4; ++k)
        threads.emplace_back([&, k] {
            for (int i = 0; i < 2000; ++i) {
                if (k % 2) {
                    auto w = reg.write();
                    w.remove<Thing>(w.add(std::make_unique<Thing>(&alive)));
                } else {
                    EXPECT_EQ(reg.read().find<Thing>(kept), kept);
                }
            }
        });
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(alive, 1);
}

}  // namespace
