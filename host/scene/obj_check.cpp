// SPDX-License-Identifier: Apache-2.0
#include "host/scene/obj_check.h"
#include "host/util/text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace host::scene {

namespace {

using util::excerpt;
using util::numberText;
using util::quote;

// Calls `line(begin, end, number)` for each line of OBJ text, split as the OBJ parser splits it:
// at "\n", "\r\n" or a lone "\r". Stops when `line` returns false; returns whether it went through.
template <typename F>
bool forEachObjLine(const std::string &text, F line) {
    const char *p = text.data(), *end = p + text.size();
    uint64_t number = 0;
    while (p < end) {
        const char *start = p;
        while (p < end && *p != '\n' && *p != '\r') ++p;
        const char *stop = p;
        if (p < end && *p++ == '\r' && p < end && *p == '\n') ++p;
        if (!line(start, stop, ++number)) return false;
    }
    return true;
}

// The words of an OBJ line, split at spaces and tabs.
struct ObjWords {
    const char *p, *end;
    bool next(const char *&b, const char *&e) {
        while (p < end && (*p == ' ' || *p == '\t')) ++p;
        if (p == end) return false;
        b = p;
        while (p < end && *p != ' ' && *p != '\t') ++p;
        e = p;
        return true;
    }
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool wordIs(const char *b, const char *e, const char *w) {
    size_t n = std::strlen(w);
    return static_cast<size_t>(e - b) == n && std::memcmp(b, w, n) == 0;
}

// Reads a whole word as an OBJ number: [sign] digits [. digits] or [sign] . digits, then an
// optional exponent. A number too large for a double reads as infinity, one too small as 0.
bool objNumber(const char *b, const char *e, double &v) {
    const char *p = b;
    if (p < e && (*p == '+' || *p == '-')) ++p;
    const char *mantissa = p;
    size_t digits = 0;
    for (; p < e && isDigit(*p); ++p) ++digits;
    if (p < e && *p == '.')
        for (++p; p < e && isDigit(*p); ++p) ++digits;
    if (digits == 0) return false;
    long exponent = 0;
    if (p < e && (*p == 'e' || *p == 'E')) {
        ++p;
        bool negative = p < e && *p == '-';
        if (p < e && (*p == '+' || *p == '-')) ++p;
        if (p == e || !isDigit(*p)) return false;
        for (; p < e && isDigit(*p); ++p) exponent = std::min(exponent * 10 + (*p - '0'), 100000L);
        if (negative) exponent = -exponent;
    }
    if (p != e) return false;
    auto r = std::from_chars(*b == '+' ? b + 1 : b, e, v);
    if (r.ec == std::errc::result_out_of_range) {
        // The power of ten of the first significant digit tells overflow from underflow.
        long magnitude = 0;
        bool fraction = false, significant = false;
        for (const char *q = mantissa; q < e && *q != 'e' && *q != 'E'; ++q) {
            if (*q == '.') {
                fraction = true;
            } else if (!significant && *q == '0') {
                if (fraction) --magnitude;
            } else {
                significant = true;
                if (!fraction) ++magnitude;
            }
        }
        double sign = *b == '-' ? -1.0 : 1.0;
        v = magnitude + exponent > 0 ? sign * HUGE_VAL : sign * 0.0;
    } else if (r.ec != std::errc() || r.ptr != e) {
        return false;
    }
    return true;
}

// Whether a word would read as infinity or "not a number" to a lenient reader.
bool looksNonFinite(const char *b, const char *e) {
    if (b < e && (*b == '+' || *b == '-')) ++b;
    auto lower = [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); };
    return e - b >= 3 && ((lower(b[0]) == 'n' && lower(b[1]) == 'a' && lower(b[2]) == 'n') ||
                          (lower(b[0]) == 'i' && lower(b[1]) == 'n' && lower(b[2]) == 'f'));
}

// A whole number word: [-] digits, its size capped far above any element count.
bool objIndex(const char *b, const char *e, int64_t &v) {
    bool negative = b < e && *b == '-';
    if (negative) ++b;
    if (b == e) return false;
    v = 0;
    for (; b < e; ++b) {
        if (!isDigit(*b)) return false;
        v = std::min<int64_t>(v * 10 + (*b - '0'), int64_t(1) << 40);
    }
    if (negative) v = -v;
    return true;
}

}  // namespace

// The importer's own reading of numbers is not exact and lets indices wrap: nothing it would
// read differently from the check may reach it (see numberObjPoints).
bool checkObj(const std::string &text, const std::string &label, ObjCounts &c, util::Diagnostic &error,
              std::vector<float> *points) {
    c = ObjCounts();
    uint64_t longest = 0;
    bool ok = forEachObjLine(text, [&](const char *begin, const char *end, uint64_t line) {
        longest = std::max<uint64_t>(longest, end - begin);
        ObjWords words{begin, end};
        const char *kb, *ke;
        if (!words.next(kb, ke) || *kb == '#') return true;
        auto refuse = [&](const std::string &what) {
            while (end > kb && (end[-1] == ' ' || end[-1] == '\t')) --end;
            error = util::Diagnostic::at(util::FileLoc::atLine(label, static_cast<long long>(line)),
                                         quote(std::string(kb, end)) + ": " + what);
            return false;
        };
        // Reads the remaining words as numbers, up to `most` of them into `v`; `count` is how many
        // words there were and `badAt` the first that is not a number.
        const char *bad = nullptr, *badEnd = nullptr, *word[6], *wordEnd[6];
        size_t count = 0, badAt = SIZE_MAX;
        auto numbers = [&](double *v, size_t most) {
            const char *b, *e;
            while (words.next(b, e)) {
                double x = 0;
                if (!objNumber(b, e, x) && !bad) bad = b, badEnd = e, badAt = count;
                if (count < most) v[count] = x, word[count] = b, wordEnd[count] = e;
                ++count;
            }
        };
        // Refuses the first of `n` numbers from `from` past the limit, quoting it as written.
        auto limit = [&](const double *v, size_t from, size_t n, const char *what) {
            for (size_t k = from; k < from + n; ++k)
                if (!(std::fabs(v[k]) <= kMaxCoordinate))
                    return refuse(std::string(what) + " " + excerpt(std::string(word[k], wordEnd[k])) +
                                  " is beyond the limit of " + numberText(kMaxCoordinate));
            return true;
        };
        auto notANumber = [&](const std::string &expected) {
            if (bad && looksNonFinite(bad, badEnd))
                return refuse(quote(std::string(bad, badEnd)) + " is not a finite number");
            return refuse(expected);
        };
        double v[6];
        if (wordIs(kb, ke, "v")) {
            numbers(v, 6);
            if (count < 3 || badAt < 3) return notANumber("expected three numbers");
            if (bad || (count != 3 && count != 4 && count != 6))
                return notANumber("expected three numbers, then a weight or three colour values");
            if (!limit(v, 0, 3, "coordinate") || !limit(v, 3, count - 3, "value")) return false;
            ++c.points;
            c.bytes += 56;  // the point, the importer's copy, the welding table
            if (points)
                for (int k = 0; k < 3; ++k) points->push_back(static_cast<float>(v[k]));
        } else if (wordIs(kb, ke, "vn") || wordIs(kb, ke, "vt")) {
            bool normal = kb[1] == 'n';
            numbers(v, 3);
            if (bad || count < (normal ? 3u : 1u) || count > 3)
                return notANumber(normal ? "expected three numbers" : "expected one to three numbers");
            if (!limit(v, 0, count, "value")) return false;
            ++(normal ? c.normals : c.texcoords);
            c.bytes += 24;
        } else if (wordIs(kb, ke, "f") || wordIs(kb, ke, "l") || wordIs(kb, ke, "p")) {
            const char *b, *e;
            while (words.next(b, e)) {
                // i, i/j, i//k or i/j/k: a point, a texture coordinate and a normal.
                const char *part[3] = {b, nullptr, nullptr}, *partEnd[3] = {e, nullptr, nullptr};
                int parts = 1;
                for (const char *s = b; s < e; ++s) {
                    if (*s != '/') continue;
                    if (parts == 3) return refuse(quote(std::string(b, e)) + " has more than three parts");
                    partEnd[parts - 1] = s;
                    part[parts] = s + 1;
                    partEnd[parts] = e;
                    ++parts;
                }
                static const char *const kinds[3] = {"point", "texture coordinate", "normal"};
                const uint64_t have[3] = {c.points, c.texcoords, c.normals};
                for (int k = 0; k < parts; ++k) {
                    if (k == 1 && parts == 3 && part[1] == partEnd[1]) continue;  // i//k
                    int64_t index = 0;
                    if (!objIndex(part[k], partEnd[k], index))
                        return refuse(quote(std::string(b, e)) + ": expected an index like 3, 3/1, 3//2 or 3/1/2");
                    std::string written(part[k], partEnd[k]);
                    if (index == 0)
                        return refuse(std::string(kinds[k]) +
                                      " index 0 is invalid (indices start at 1, or -1 for the last)");
                    if (uint64_t(index < 0 ? -index : index) > have[k])
                        return refuse(std::string(kinds[k]) + " " + excerpt(written) + " does not exist (" +
                                      std::to_string(have[k]) + " so far)");
                }
                ++count;
            }
            if (*kb == 'f') {
                if (count < 3) return refuse("a face needs at least three points");
                ++c.faces;
                c.corners += count;
                // The importer's face record and its indices, its per-corner points and the mesh's.
                c.bytes += 240 + count * 64;
            } else {
                c.bytes += 16;
            }
        } else {
            uint64_t n = 0;
            for (ObjWords w{begin, end}; w.next(kb, ke);) ++n;
            c.bytes += 128 + n * 48 + 2 * uint64_t(end - begin);  // groups, names, material statements
        }
        if (c.points > kMaxLayerPoints || c.faces > kMaxLayerPoints || c.corners > kMaxLayerCorners) {
            error = util::Diagnostic::of(
                label, "has more than " + std::to_string(kMaxLayerPoints) + " points or polygons");
            return false;
        }
        return true;
    });
    c.bytes += longest + meshBytes(c.points, c.faces, c.corners);
    return ok;
}

std::string numberObjPoints(std::string &text) {
    std::string out;
    out.reserve(text.size() / 2 + 64);
    uint64_t point = 0;
    // Statements the importer is to see: others (lines, points, free-form geometry, extensions)
    // become empty lines, so that no statement it would read another way reaches it.
    static const char *const kept[] = {"vt", "vn", "f", "o", "g", "s", "usemtl", "mtllib"};
    forEachObjLine(text, [&](const char *begin, const char *end, uint64_t) {
        ObjWords words{begin, end};
        const char *kb, *ke;
        if (!words.next(kb, ke)) {
            out += '\n';
            return true;
        }
        if (wordIs(kb, ke, "v")) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "v %llu %llu 0\n", static_cast<unsigned long long>(point & 0xFFFFF),
                          static_cast<unsigned long long>(point >> 20));
            out += buf;
            ++point;
            return true;
        }
        bool keep = false;
        for (const char *k : kept) keep = keep || wordIs(kb, ke, k);
        if (!keep) {
            out += '\n';
            return true;
        }
        // The statement's words joined by single spaces, from the line's start: a NUL or form feed
        // would end the line for the importer, a last backslash join the next line to it.
        size_t words0 = out.size(), count = 0;
        out.append(kb, ke);
        const char *b, *e;
        while (words.next(b, e)) {
            out += ' ';
            out.append(b, e);
            ++count;
        }
        if (wordIs(kb, ke, "vt") && count == 1) out += " 0";  // the importer takes two or three
        for (size_t i = words0; i < out.size(); ++i)
            if (out[i] == '\0' || out[i] == '\f') out[i] = ' ';
        if (out.back() == '\\') out.back() = ' ';
        out += '\n';
        return true;
    });
    text.clear();
    text.shrink_to_fit();
    return out;
}

int64_t objPointNumber(float low, float high, float zero) {
    if (!(low >= 0 && low < 1048576.0f && high >= 0 && high < 1048576.0f && zero == 0)) return -1;
    if (low != std::floor(low) || high != std::floor(high)) return -1;
    return static_cast<int64_t>(low) + (static_cast<int64_t>(high) << 20);
}

}  // namespace host::scene
