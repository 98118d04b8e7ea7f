// How refusals quote their input: short excerpts with control characters escaped, file names a
// little longer, numbers exactly. Shared by the scene loader and the mesh readers.
#pragma once

#include <charconv>
#include <cstdio>
#include <string>

namespace host::scene {

constexpr size_t kExcerpt = 40;  // longest quote of the input in a message, in bytes

// A short excerpt of input text for a message: at most `max` bytes (cut at a character
// boundary, "..." marking the cut) with control characters written as \xNN.
inline std::string excerpt(const std::string &s, size_t max = kExcerpt) {
    size_t end = s.size();
    if (end > max) {
        end = max;
        while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
    }
    std::string out;
    for (size_t i = 0; i < end; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return end < s.size() ? out + "..." : out;
}

// An input string quoted for a message.
inline std::string quote(const std::string &s) { return "\"" + excerpt(s) + "\""; }

// A file name quoted for a message: longer than other quotes, since the folder matters.
inline std::string quoteFile(const std::string &s) { return "\"" + excerpt(s, 4 * kExcerpt) + "\""; }

// A number written exactly: the shortest text that reads back as the same double.
inline std::string numberText(double v) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

}  // namespace host::scene
