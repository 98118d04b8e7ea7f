// SPDX-License-Identifier: Apache-2.0
#include "host/state/memory_state.h"

#include <charconv>
#include <cstring>
#include <limits>

#include "host/util/text.h"

namespace host::state {

namespace {

using util::numberText;

// Bytes allowed in a bare block token of the text format; anything else is quoted.
bool bareTokenChar(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool isSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

int hexDigit(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string quote(const char *s) {
    static const char digits[] = "0123456789abcdef";
    std::string q = "\"";
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(s); p && *p; ++p) {
        if (*p == '"' || *p == '\\') {
            q += '\\';
            q += static_cast<char>(*p);
        } else if (*p < 0x20 || *p >= 0x7f) {
            q += "\\x";
            q += digits[*p >> 4];
            q += digits[*p & 15];
        } else {
            q += static_cast<char>(*p);
        }
    }
    return q + "\"";
}

// The four-character code as text, for a block row without a token.
std::string codeText(LWID id) {
    std::string t;
    for (int shift = 24; shift >= 0; shift -= 8) t += static_cast<char>((id >> shift) & 0xff);
    return t;
}

std::string blockToken(const LWBlockIdent *id) {
    std::string t = id->token ? id->token : codeText(id->id);
    bool bare = !t.empty();
    for (unsigned char c : t) bare = bare && bareTokenChar(c);
    return bare ? t : quote(t.c_str());
}

void putBE(std::vector<uint8_t> &out, uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

// ---- Saving --------------------------------------------------------------------------------------

struct SaveOps {
    static SaveState *self(void *p) { return static_cast<SaveState *>(p); }

    template <typename T, int Bytes>
    static void ints(void *p, const T *v, int n) {
        SaveState *s = self(p);
        if (!v || n <= 0) return;
        if (s->format_ == Format::Binary) {
            for (int i = 0; i < n; ++i) putBE(s->out_, static_cast<uint64_t>(v[i]), Bytes);
            return;
        }
        std::string line;
        for (int i = 0; i < n; ++i) {
            if (i) line += ' ';
            line += numberText(static_cast<int64_t>(v[i]));
        }
        s->textLine(line);
    }
    static void writeI1(void *p, const char *v, int n) {
        ints<signed char, 1>(p, reinterpret_cast<const signed char *>(v), n);
    }
    static void writeI2(void *p, const short *v, int n) { ints<short, 2>(p, v, n); }
    static void writeI4(void *p, const int *v, int n) { ints<int, 4>(p, v, n); }
    static void writeU1(void *p, const unsigned char *v, int n) { ints<unsigned char, 1>(p, v, n); }
    static void writeU2(void *p, const unsigned short *v, int n) { ints<unsigned short, 2>(p, v, n); }
    static void writeU4(void *p, const unsigned int *v, int n) { ints<unsigned int, 4>(p, v, n); }

    static void writeFP(void *p, const float *v, int n) {
        SaveState *s = self(p);
        if (!v || n <= 0) return;
        if (s->format_ == Format::Binary) {
            for (int i = 0; i < n; ++i) {
                uint32_t bits;
                std::memcpy(&bits, &v[i], 4);
                putBE(s->out_, bits, 4);
            }
            return;
        }
        std::string line;
        for (int i = 0; i < n; ++i) {
            if (i) line += ' ';
            line += numberText(v[i]);
        }
        s->textLine(line);
    }

    static void writeStr(void *p, const char *str) {
        SaveState *s = self(p);
        if (s->format_ == Format::Binary) {
            if (str) s->raw(str, std::strlen(str));
            s->out_.push_back(0);
            return;
        }
        s->textLine(quote(str));
    }

    static void beginBlk(void *p, const LWBlockIdent *id, int leaf) { self(p)->begin(id, leaf); }
    static void endBlk(void *p) { self(p)->end(); }
    static int depth(void *p) { return self(p)->openBlocks(); }
};

SaveState::SaveState(Format format) : format_(format) {
    record_.ioMode = format == Format::Binary ? LWIO_BINARY : LWIO_ASCII;
    record_.writeData = this;
    record_.writeI1 = SaveOps::writeI1;
    record_.writeI2 = SaveOps::writeI2;
    record_.writeI4 = SaveOps::writeI4;
    record_.writeU1 = SaveOps::writeU1;
    record_.writeU2 = SaveOps::writeU2;
    record_.writeU4 = SaveOps::writeU4;
    record_.writeFP = SaveOps::writeFP;
    record_.writeStr = SaveOps::writeStr;
    record_.beginBlk = SaveOps::beginBlk;
    record_.endBlk = SaveOps::endBlk;
    record_.depth = SaveOps::depth;
}

void SaveState::raw(const void *data, size_t n) {
    const uint8_t *b = static_cast<const uint8_t *>(data);
    out_.insert(out_.end(), b, b + n);
}

void SaveState::textLine(const std::string &line) {
    out_.insert(out_.end(), 2 * open_.size(), ' ');
    raw(line.data(), line.size());
    out_.push_back('\n');
}

void SaveState::begin(const LWBlockIdent *id, int) {
    if (!id) return;
    if (format_ == Format::Binary) {
        putBE(out_, id->id, 4);
        open_.push_back(out_.size());
        putBE(out_, 0, 4);
        return;
    }
    textLine("{ " + blockToken(id));
    open_.push_back(out_.size());
}

void SaveState::end() {
    if (open_.empty()) return;
    size_t at = open_.back();
    open_.pop_back();
    if (format_ == Format::Binary) {
        uint64_t len = out_.size() - (at + 4);
        for (int i = 0; i < 4; ++i) out_[at + i] = static_cast<uint8_t>(len >> (8 * (3 - i)));
        return;
    }
    textLine("}");
}

void SaveState::finish() {
    while (!open_.empty()) end();
}

// ---- Loading -------------------------------------------------------------------------------------

struct LoadOps {
    static LoadState *self(void *p) { return static_cast<LoadState *>(p); }
    static int readI1(void *p, char *v, int n) {
        return self(p)->readInts(reinterpret_cast<signed char *>(v), n, -128, 127);
    }
    static int readI2(void *p, short *v, int n) { return self(p)->readInts(v, n, -32768, 32767); }
    static int readI4(void *p, int *v, int n) {
        return self(p)->readInts(v, n, std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    }
    static int readU1(void *p, unsigned char *v, int n) { return self(p)->readInts(v, n, 0, 255); }
    static int readU2(void *p, unsigned short *v, int n) { return self(p)->readInts(v, n, 0, 65535); }
    static int readU4(void *p, unsigned int *v, int n) { return self(p)->readInts(v, n, 0, 0xffffffffLL); }
    static int readFP(void *p, float *v, int n) { return self(p)->readFloats(v, n); }
    static int readStr(void *p, char *buf, int max) { return self(p)->readString(buf, max); }
    static LWID findBlk(void *p, const LWBlockIdent *list) { return self(p)->find(list); }
    static void endBlk(void *p) { self(p)->leave(); }
    static int depth(void *p) { return self(p)->depth(); }
};

LoadState::LoadState(Format format, std::vector<uint8_t> data) : format_(format), in_(std::move(data)) {
    record_.ioMode = format == Format::Binary ? LWIO_BINARY : LWIO_ASCII;
    record_.readData = this;
    record_.readI1 = LoadOps::readI1;
    record_.readI2 = LoadOps::readI2;
    record_.readI4 = LoadOps::readI4;
    record_.readU1 = LoadOps::readU1;
    record_.readU2 = LoadOps::readU2;
    record_.readU4 = LoadOps::readU4;
    record_.readFP = LoadOps::readFP;
    record_.readStr = LoadOps::readStr;
    record_.findBlk = LoadOps::findBlk;
    record_.endBlk = LoadOps::endBlk;
    record_.depth = LoadOps::depth;
    frames_.push_back({in_.size(), in_.size(), false});
}

bool LoadState::take(void *dst, size_t n) {
    const Frame &f = top();
    if (f.empty || pos_ > f.end || f.end - pos_ < n) return false;
    std::memcpy(dst, in_.data() + pos_, n);
    pos_ += n;
    return true;
}

size_t LoadState::skipSpace(size_t pos, size_t end) const {
    while (pos < end && isSpace(in_[pos])) ++pos;
    return pos;
}

// Decodes the quoted string starting at pos (which holds the opening quote); pos moves past the
// closing quote. False for an unterminated string or a bad escape.
bool LoadState::readQuoted(size_t &pos, size_t end, std::string *out) const {
    size_t p = pos + 1;
    while (p < end) {
        unsigned char c = in_[p++];
        if (c == '"') {
            pos = p;
            return true;
        }
        if (c != '\\') {
            if (out) *out += static_cast<char>(c);
            continue;
        }
        if (p >= end) return false;
        unsigned char e = in_[p++];
        if (e == '"' || e == '\\') {
            if (out) *out += static_cast<char>(e);
        } else if (e == 'x') {
            if (end - p < 2) return false;
            int hi = hexDigit(in_[p]), lo = hexDigit(in_[p + 1]);
            if (hi < 0 || lo < 0) return false;
            if (out) *out += static_cast<char>(hi * 16 + lo);
            p += 2;
        } else {
            return false;
        }
    }
    return false;
}

// The next token of the current block: [start, stop) without consuming it. The white space
// before it is consumed, and a token is at most kMaxToken bytes, so asking again at the same
// place never rescans hostile data.
bool LoadState::peekToken(size_t &start, size_t &stop) {
    const Frame &f = top();
    if (f.empty) return false;
    pos_ = skipSpace(pos_, f.end);
    size_t p = pos_;
    if (p >= f.end) return false;
    size_t cap = f.end - p > kMaxToken ? p + kMaxToken : f.end;
    start = p;
    if (in_[p] == '"') {
        if (!readQuoted(p, cap, nullptr)) return false;
        stop = p;
        return true;
    }
    while (p < cap && !isSpace(in_[p])) ++p;
    if (p == cap && cap < f.end && !isSpace(in_[cap])) return false;
    stop = p;
    return true;
}

// A bare value token (a number), consumed.
bool LoadState::nextValueToken(std::string &token) {
    size_t start, stop;
    if (!peekToken(start, stop) || in_[start] == '"') return false;
    token.assign(reinterpret_cast<const char *>(in_.data()) + start, stop - start);
    if (token == "{" || token == "}") return false;
    pos_ = stop;
    return true;
}

// Finds the "}" that closes a block whose contents start at `from`, skipping nested blocks and
// strings; no recursion, so any nesting depth costs only a counter.
bool LoadState::matchClose(size_t from, size_t end, size_t &closeAt) const {
    size_t p = from;
    long open = 0;
    for (;;) {
        p = skipSpace(p, end);
        if (p >= end) return false;
        if (in_[p] == '"') {
            if (!readQuoted(p, end, nullptr)) return false;
            continue;
        }
        size_t start = p;
        while (p < end && !isSpace(in_[p])) ++p;
        if (p - start != 1) continue;
        if (in_[start] == '{') {
            ++open;
        } else if (in_[start] == '}') {
            if (open == 0) {
                closeAt = start;
                return true;
            }
            --open;
        }
    }
}

bool LoadState::closeFor(size_t from, size_t end, size_t &closeAt) {
    auto it = closeCache_.find(from);
    if (it == closeCache_.end() || it->second.end != end) {
        CloseSearch c{end, false, 0};
        c.found = matchClose(from, end, c.closeAt);
        it = closeCache_.insert_or_assign(from, c).first;
    }
    closeAt = it->second.closeAt;
    return it->second.found;
}

// The code of the list row a block matches (by code in binary, by token in text), or 0.
LWID LoadState::listed(const LWBlockIdent *list, LWID id, const std::string *name) const {
    for (const LWBlockIdent *row = list; row->id || row->token; ++row) {
        if (!row->id) continue;
        if (name ? *name == (row->token ? row->token : codeText(row->id)) : row->id == id) return row->id;
    }
    return 0;
}

// Blocks not in the list are passed over (and stay behind); a value, a malformed block or the end
// of the enclosing block ends the search.
LWID LoadState::find(const LWBlockIdent *list) {
    LWID found = 0;
    Frame entered{0, 0, false};
    const Frame &f = top();
    if (list && !f.empty && realDepth_ < kMaxDepth) {
        if (format_ == Format::Binary) {
            while (!found && pos_ <= f.end && f.end - pos_ >= 8) {
                const uint8_t *h = in_.data() + pos_;
                LWID id = (LWID(h[0]) << 24) | (LWID(h[1]) << 16) | (LWID(h[2]) << 8) | LWID(h[3]);
                uint64_t len = (uint64_t(h[4]) << 24) | (uint64_t(h[5]) << 16) | (uint64_t(h[6]) << 8) | h[7];
                if (len > f.end - pos_ - 8) break;
                size_t close = pos_ + 8 + static_cast<size_t>(len);
                found = listed(list, id, nullptr);
                if (found) {
                    entered.end = entered.close = close;
                    pos_ += 8;
                } else {
                    pos_ = close;
                }
            }
        } else {
            size_t start, stop, nameStart, nameStop;
            while (!found && peekToken(start, stop) && stop - start == 1 && in_[start] == '{') {
                size_t blockStart = pos_;
                pos_ = stop;
                std::string name;
                bool named = peekToken(nameStart, nameStop);
                if (named && in_[nameStart] == '"') {
                    size_t q = nameStart;
                    named = readQuoted(q, f.end, &name);
                } else if (named) {
                    name.assign(reinterpret_cast<const char *>(in_.data()) + nameStart, nameStop - nameStart);
                }
                // Each search for a closing brace is remembered, so asking again at one place
                // costs no second scan.
                size_t closeAt = 0;
                if (!named || !closeFor(nameStop, f.end, closeAt)) {
                    pos_ = blockStart;
                    break;
                }
                found = listed(list, 0, &name);
                if (found) {
                    entered.end = closeAt;
                    entered.close = closeAt + 1;
                    pos_ = nameStop;
                } else {
                    pos_ = closeAt + 1;
                }
            }
        }
    }
    if (found) {
        frames_.push_back(entered);
        ++realDepth_;
        return found;
    }
    ++failures_;
    frames_.push_back({pos_, pos_, true});
    return 0;
}

void LoadState::leave() {
    if (frames_.size() <= 1) return;
    Frame f = frames_.back();
    frames_.pop_back();
    if (f.empty) return;
    pos_ = f.close;
    --realDepth_;
}

template <typename T>
int LoadState::readInts(T *out, int n, int64_t lo, int64_t hi) {
    if (!out || n <= 0) {
        ++failures_;
        return 0;
    }
    // White space carries no meaning, so it stays consumed even when the read fails.
    if (format_ == Format::Text && !top().empty) pos_ = skipSpace(pos_, top().end);
    size_t start = pos_;
    bool ok = true;
    for (int i = 0; i < n && ok; ++i) {
        if (format_ == Format::Binary) {
            uint8_t b[sizeof(T)];
            ok = take(b, sizeof(T));
            uint64_t v = 0;
            for (size_t k = 0; ok && k < sizeof(T); ++k) v = (v << 8) | b[k];
            if (ok) out[i] = static_cast<T>(v);
        } else {
            std::string token;
            int64_t v = 0;
            ok = nextValueToken(token);
            if (ok) {
                auto r = std::from_chars(token.data(), token.data() + token.size(), v);
                ok = r.ec == std::errc() && r.ptr == token.data() + token.size() && v >= lo && v <= hi;
            }
            if (ok) out[i] = static_cast<T>(v);
        }
    }
    if (ok) return n;
    pos_ = start;
    for (int i = 0; i < n; ++i) out[i] = 0;
    ++failures_;
    return 0;
}

int LoadState::readFloats(float *out, int n) {
    if (!out || n <= 0) {
        ++failures_;
        return 0;
    }
    // White space carries no meaning, so it stays consumed even when the read fails.
    if (format_ == Format::Text && !top().empty) pos_ = skipSpace(pos_, top().end);
    size_t start = pos_;
    bool ok = true;
    for (int i = 0; i < n && ok; ++i) {
        if (format_ == Format::Binary) {
            uint8_t b[4];
            ok = take(b, 4);
            if (ok) {
                uint32_t bits = (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
                std::memcpy(&out[i], &bits, 4);
            }
        } else {
            std::string token;
            ok = nextValueToken(token);
            if (ok) {
                auto r = std::from_chars(token.data(), token.data() + token.size(), out[i]);
                ok = r.ec == std::errc() && r.ptr == token.data() + token.size();
            }
        }
    }
    if (ok) return n;
    pos_ = start;
    for (int i = 0; i < n; ++i) out[i] = 0.0f;
    ++failures_;
    return 0;
}

int LoadState::readString(char *buf, int max) {
    if (!buf || max <= 0) {
        ++failures_;
        return -1;
    }
    buf[0] = 0;
    std::string text;
    const Frame &f = top();
    if (f.empty) {
        ++failures_;
        return -1;
    }
    if (format_ == Format::Binary) {
        if (pos_ >= f.end) {
            ++failures_;
            return -1;
        }
        const void *nul = std::memchr(in_.data() + pos_, 0, f.end - pos_);
        if (!nul) {
            ++failures_;
            return -1;
        }
        size_t len = static_cast<const uint8_t *>(nul) - (in_.data() + pos_);
        text.assign(reinterpret_cast<const char *>(in_.data()) + pos_, len);
        pos_ += len + 1;
    } else {
        size_t p = skipSpace(pos_, f.end);
        if (p >= f.end || in_[p] != '"' || !readQuoted(p, f.end, &text)) {
            ++failures_;
            return -1;
        }
        pos_ = p;
    }
    // A string holding a zero byte (possible only in hostile text) ends there.
    size_t len = std::min(std::strlen(text.c_str()), static_cast<size_t>(max - 1));
    std::memcpy(buf, text.data(), len);
    buf[len] = 0;
    return static_cast<int>(len);
}

void writeDouble(const LWSaveState *save, double value) {
    if (!save || !save->writeStr) return;
    save->writeStr(save->writeData, numberText(value).c_str());
}

bool readDouble(const LWLoadState *load, double &value) {
    if (!load || !load->readStr) return false;
    char buf[128];
    int len = load->readStr(load->readData, buf, sizeof buf);
    if (len <= 0 || len >= static_cast<int>(sizeof buf) - 1) return false;
    double v = 0;
    auto r = std::from_chars(buf, buf + len, v);
    if (r.ec != std::errc() || r.ptr != buf + len) return false;
    value = v;
    return true;
}

}  // namespace host::state
