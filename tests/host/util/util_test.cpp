#include <gtest/gtest.h>

#include <cstdint>
#include <string>

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

}  // namespace
