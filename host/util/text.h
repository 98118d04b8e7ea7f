// SPDX-License-Identifier: Apache-2.0
// How messages show input and numbers: short excerpts with control characters escaped, file names
// a little longer, numbers exactly or to a stated precision. Shared by every reader and writer, so
// that a message quotes its input the same way wherever it comes from.
#pragma once

#include <charconv>
#include <string>
#include <string_view>

namespace host::util {

constexpr size_t kExcerpt = 40;  // longest quote of the input in a message, in bytes

// A short excerpt of input text for a message: at most `max` bytes, cut at a character boundary
// (never inside a UTF-8 sequence) with "..." marking the cut, control characters written as \xNN.
std::string excerpt(std::string_view s, size_t max = kExcerpt);

// An input string quoted for a message.
inline std::string quote(std::string_view s) { return "\"" + excerpt(s) + "\""; }

// A file name quoted for a message: longer than other quotes, since the folder matters.
inline std::string quoteFile(std::string_view s) { return "\"" + excerpt(s, 4 * kExcerpt) + "\""; }

// A number written exactly: the shortest text that reads back as the same value of its type.
template <typename T>
std::string numberText(T v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

// A number to `digits` significant digits, as printf's %g writes it.
std::string numberText(double v, int digits);

// The byte (from 1) at which the arrays and objects of JSON text first nest deeper than `limit`,
// or 0 when they never do. Strings are skipped; the text need not be valid JSON otherwise.
size_t jsonNestingPast(const std::string &text, int limit);

}  // namespace host::util
