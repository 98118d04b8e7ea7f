// SPDX-License-Identifier: Apache-2.0
#include "lights/light_tags.h"

#include <cfloat>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>

#include "base/host_globals.h"
#include "lights/light_model.h"

namespace velmora {

const char kLightTagPrefix[] = "QZ_lightParam:";
PlatformLock lightTagLock;

namespace {

std::map<uintptr_t, std::unique_ptr<LightTagRecord>> tagTable;

const char *const kKeys[] = {"areashadow", "areashadow_size", "areashadow_sample", "userid1", "userid2",
                             "userid3",    "userid4"};

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

const char *skipBlanks(const char *s) {
    while (isBlank(*s)) ++s;
    return s;
}

bool startsWith(const char *s, const char *word) { return std::strncmp(s, word, std::strlen(word)) == 0; }

// The value text of a line that sets key, or null: prefix, blanks, key, blanks, a run of "=",
// blanks, then a value that must not be empty. A line whose key is a longer known key beginning
// with the one asked for (areashadow_size for areashadow) does not count.
const char *tagValue(const char *line, const char *prefix, const char *key) {
    if (!line || !startsWith(line, prefix)) return nullptr;
    const char *s = skipBlanks(line + std::strlen(prefix));
    if (!startsWith(s, key)) return nullptr;
    const size_t keyLen = std::strlen(key);
    for (const char *other : kKeys)
        if (std::strlen(other) > keyLen && startsWith(other, key) && startsWith(s, other)) return nullptr;
    s = skipBlanks(s + keyLen);
    while (*s == '=') ++s;
    s = skipBlanks(s);
    return *s ? s : nullptr;
}

// The first line of the light's tags that sets key, or null.
const char *findTag(LWItemID light, const char *prefix, const char *key) {
    const LWItemInfo *info = shaderGlobals.itemInfo;
    if (!info || !prefix || !key) return nullptr;
    for (int n = 1;; ++n) {
        const char *line = info->getTag(light, n);
        if (!line) return nullptr;
        if (const char *value = tagValue(line, prefix, key)) return value;
    }
}

// Optional sign and digits; 0 when no digit follows; saturates at the 32-bit limits.
int parseInt(const char *s) {
    bool negative = false;
    if (*s == '+' || *s == '-') negative = *s++ == '-';
    int64_t value = 0;
    for (; isDigit(*s); ++s)
        if (value <= int64_t(INT_MAX) + 1) value = value * 10 + (*s - '0');
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

// Optional sign, digits with an optional point, an optional exponent; 0 when nothing is
// readable. Read without the C locale, whose decimal point the host may have changed. Values
// beyond the double range saturate at its largest finite value, those below it go to zero.
double parseReal(const char *s) {
    bool negative = false;
    if (*s == '+' || *s == '-') negative = *s++ == '-';
    const char *begin = s;
    int digits = 0, leadExponent = 0;  // decimal exponent of the first non-zero digit
    bool seenNonZero = false;
    for (; isDigit(*s); ++s, ++digits) {
        if (*s != '0' && !seenNonZero) seenNonZero = true;
        if (seenNonZero) ++leadExponent;
    }
    if (*s == '.') {
        for (++s; isDigit(*s); ++s, ++digits) {
            if (seenNonZero) continue;
            if (*s != '0')
                seenNonZero = true;
            else
                --leadExponent;
        }
    }
    if (digits == 0) return 0.0;
    if (*s == 'e' || *s == 'E') {
        const char *e = s + 1;
        if (*e == '+' || *e == '-') ++e;
        if (isDigit(*e)) {
            const int exponent = parseInt(s + 1);
            leadExponent = exponent > 0 ? (leadExponent > INT_MAX - exponent ? INT_MAX : leadExponent + exponent)
                                        : (leadExponent < INT_MIN - exponent ? INT_MIN : leadExponent + exponent);
            for (s = e; isDigit(*s); ++s) {
            }
        }
    }
    double value = 0.0;
    const auto result = std::from_chars(begin, s, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) value = leadExponent > 0 ? DBL_MAX : 0.0;
    return negative ? -value : value;
}

}  // namespace

void readTagInt(LWItemID light, const char *prefix, const char *key, int *out) {
    const char *value = findTag(light, prefix, key);
    if (value && out) *out = parseInt(value);
}

void readTagReal(LWItemID light, const char *prefix, const char *key, double *out) {
    const char *value = findTag(light, prefix, key);
    if (value && out) *out = parseReal(value);
}

LightTagRecord *lightTagsGet(LWItemID light) {
    if (!shaderGlobals.itemInfo) return nullptr;
    std::lock_guard<PlatformLock> hold(lightTagLock);
    const uintptr_t key = reinterpret_cast<uintptr_t>(light);
    auto found = tagTable.find(key);
    if (found != tagTable.end()) return found->second.get();

    std::unique_ptr<LightTagRecord> record(new (std::nothrow) LightTagRecord{0, 1.0, 6, 0.0, 0.0, 0.0, 0.0});
    if (!record) return nullptr;
    readTagInt(light, kLightTagPrefix, "areashadow", &record->areashadow);
    readTagReal(light, kLightTagPrefix, "areashadow_size", &record->areashadow_size);
    readTagInt(light, kLightTagPrefix, "areashadow_sample", &record->areashadow_sample);
    readTagReal(light, kLightTagPrefix, "userid1", &record->userid1);
    readTagReal(light, kLightTagPrefix, "userid2", &record->userid2);
    readTagReal(light, kLightTagPrefix, "userid3", &record->userid3);
    readTagReal(light, kLightTagPrefix, "userid4", &record->userid4);
    try {
        LightTagRecord *kept = record.get();
        tagTable.emplace(key, std::move(record));
        return kept;
    } catch (...) {
        return nullptr;
    }
}

void lightTagsClear() {
    std::lock_guard<PlatformLock> hold(lightTagLock);
    tagTable.clear();
}

int illuminateTagged(LWShaderAccess *sa, LWItemID light, const double position[3], double dir[3],
                     double color[3]) {
    const ShaderGlobals &g = shaderGlobals;
    if (g.itemInfo && g.lightInfo) {
        if (const LightTagRecord *tags = lightTagsGet(light)) {
            const int type = g.lightInfo->type(light);
            const bool traced = g.sceneInfo && (g.sceneInfo->renderOpts & LWROPT_SHADOWTRACE);
            if ((type == LWLIGHT_POINT || type == LWLIGHT_SPOT) && tags->areashadow && traced)
                return illuminateAreaShadow(sa, light, position, dir, color, tags->areashadow_size,
                                            static_cast<double>(tags->areashadow_sample));
        }
    }
    return sa && sa->illuminate ? sa->illuminate(light, position, dir, color) : 0;
}

}  // namespace velmora
