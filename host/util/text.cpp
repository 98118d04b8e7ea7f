// SPDX-License-Identifier: Apache-2.0
#include "host/util/text.h"

#include <cstdio>

namespace host::util {

std::string excerpt(std::string_view s, size_t max) {
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

std::string numberText(double v, int digits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    return buf;
}

size_t jsonNestingPast(const std::string &text, int limit) {
    int depth = 0;
    bool quoted = false;
    for (size_t k = 0; k < text.size(); ++k) {
        const char c = text[k];
        if (quoted) {
            if (c == '\\')
                ++k;
            else if (c == '"')
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit) return k + 1;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return 0;
}

}  // namespace host::util
