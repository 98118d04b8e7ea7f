#include "tests/vparam/memory_state.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace testhost {

namespace {

// Record kinds: a block header, then one per value type.
constexpr uint8_t kBlock = 'B', kI1 = 'c', kI2 = 's', kI4 = 'i', kU1 = 'b', kU2 = 'w', kU4 = 'u', kFP = 'f',
                  kStr = 't';
constexpr size_t kHeader = 1 + 4 + 1 + 4;  // kind, id, leaf, content length

MemoryState &self(void *p) { return *static_cast<MemoryState *>(p); }

uint32_t readWord(const std::vector<uint8_t> &d, size_t at) {
    uint32_t w;
    std::memcpy(&w, d.data() + at, 4);
    return w;
}

std::string outlineOf(const std::vector<uint8_t> &d, size_t from, size_t to) {
    std::string out;
    size_t at = from;
    while (at < to) {
        if (!out.empty()) out += ' ';
        const uint8_t kind = d[at];
        if (kind == kBlock) {
            const uint32_t id = readWord(d, at + 1);
            const size_t content = at + kHeader, end = content + readWord(d, at + 6);
            for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((id >> shift) & 0xff);
            out += '[' + outlineOf(d, content, end) + ']';
            at = end;
        } else if (kind == kStr) {
            const uint32_t length = readWord(d, at + 1);
            out += '"' + std::string(d.begin() + at + 5, d.begin() + at + 5 + length) + '"';
            at += 5 + length;
        } else if (kind == kI4) {
            int v;
            std::memcpy(&v, d.data() + at + 1, 4);
            out += std::to_string(v);
            at += 5;
        } else if (kind == kI2) {
            short v;
            std::memcpy(&v, d.data() + at + 1, 2);
            out += std::to_string(v) + 's';
            at += 3;
        } else if (kind == kFP) {
            float v;
            std::memcpy(&v, d.data() + at + 1, 4);
            char text[32];
            std::snprintf(text, sizeof text, "%gf", v);
            out += text;
            at += 5;
        } else {
            out += '?';
            at = to;
        }
    }
    return out;
}

}  // namespace

std::string MemoryState::outline() const { return outlineOf(bytes, 0, bytes.size()); }

MemoryState::MemoryState() {
    save_ = {LWIO_BINARY, this,    writeI1,  writeI2,  writeI4, writeU1,  writeU2,
             writeU4,     writeFP, writeStr, beginBlk, saveEnd, saveDepth};
    load_ = {LWIO_BINARY, this,   readI1,  readI2,  readI4,  readU1,   readU2,
             readU4,      readFP, readStr, findBlk, loadEnd, loadDepth};
}

size_t MemoryState::count(LWID id) const {
    return static_cast<size_t>(std::count(begunIds.begin(), begunIds.end(), id));
}

void MemoryState::startLoad(const std::vector<uint8_t> &data) {
    data_ = data;
    pos_ = 0;
    frames_.clear();
    finds = loadEnds = failedReads = unmatchedEnds_ = 0;
}

size_t MemoryState::containerEnd() const {
    for (auto it = frames_.rbegin(); it != frames_.rend(); ++it)
        if (it->entered) return it->end;
    return data_.size();
}

void MemoryState::put(uint8_t kind, const void *data, size_t size) {
    bytes.push_back(kind);
    const uint8_t *p = static_cast<const uint8_t *>(data);
    bytes.insert(bytes.end(), p, p + size);
}

bool MemoryState::take(uint8_t kind, void *data, size_t size) {
    if (pos_ + 1 + size > limit() || data_[pos_] != kind) {
        ++failedReads;
        return false;
    }
    std::memcpy(data, data_.data() + pos_ + 1, size);
    pos_ += 1 + size;
    return true;
}

template <typename T>
void MemoryState::writeValues(void *p, uint8_t kind, const T *values, int n) {
    for (int i = 0; i < n; ++i) self(p).put(kind, &values[i], sizeof(T));
}

template <typename T>
int MemoryState::readValues(void *p, uint8_t kind, T *values, int n) {
    int read = 0;
    for (; read < n; ++read) {
        T v;
        if (!self(p).take(kind, &v, sizeof(T))) break;
        values[read] = v;
    }
    return read;
}

void MemoryState::writeI1(void *p, const char *v, int n) { writeValues(p, kI1, v, n); }
void MemoryState::writeI2(void *p, const short *v, int n) { writeValues(p, kI2, v, n); }
void MemoryState::writeI4(void *p, const int *v, int n) { writeValues(p, kI4, v, n); }
void MemoryState::writeU1(void *p, const unsigned char *v, int n) { writeValues(p, kU1, v, n); }
void MemoryState::writeU2(void *p, const unsigned short *v, int n) { writeValues(p, kU2, v, n); }
void MemoryState::writeU4(void *p, const unsigned int *v, int n) { writeValues(p, kU4, v, n); }
void MemoryState::writeFP(void *p, const float *v, int n) { writeValues(p, kFP, v, n); }

void MemoryState::writeStr(void *p, const char *s) {
    MemoryState &m = self(p);
    const uint32_t length = static_cast<uint32_t>(std::strlen(s));
    m.put(kStr, &length, 4);
    m.bytes.insert(m.bytes.end(), s, s + length);
}

void MemoryState::beginBlk(void *p, const LWBlockIdent *row, int leaf) {
    MemoryState &m = self(p);
    m.begunIds.push_back(row->id);
    m.begunTokens.push_back(row->token ? row->token : "");
    m.put(kBlock, &row->id, 4);
    m.bytes.push_back(static_cast<uint8_t>(leaf));
    m.openSaves_.push_back(m.bytes.size());
    const uint32_t placeholder = 0;
    m.bytes.insert(m.bytes.end(), reinterpret_cast<const uint8_t *>(&placeholder),
                   reinterpret_cast<const uint8_t *>(&placeholder) + 4);
}

void MemoryState::saveEnd(void *p) {
    MemoryState &m = self(p);
    if (m.openSaves_.empty()) {
        ++m.unmatchedEnds_;
        return;
    }
    const size_t at = m.openSaves_.back();
    m.openSaves_.pop_back();
    const uint32_t length = static_cast<uint32_t>(m.bytes.size() - (at + 4));
    std::memcpy(m.bytes.data() + at, &length, 4);
}

int MemoryState::saveDepth(void *p) { return static_cast<int>(self(p).openSaves_.size()); }

int MemoryState::readI1(void *p, char *v, int n) { return readValues(p, kI1, v, n); }
int MemoryState::readI2(void *p, short *v, int n) { return readValues(p, kI2, v, n); }
int MemoryState::readI4(void *p, int *v, int n) { return readValues(p, kI4, v, n); }
int MemoryState::readU1(void *p, unsigned char *v, int n) { return readValues(p, kU1, v, n); }
int MemoryState::readU2(void *p, unsigned short *v, int n) { return readValues(p, kU2, v, n); }
int MemoryState::readU4(void *p, unsigned int *v, int n) { return readValues(p, kU4, v, n); }
int MemoryState::readFP(void *p, float *v, int n) { return readValues(p, kFP, v, n); }

int MemoryState::readStr(void *p, char *out, int max) {
    MemoryState &m = self(p);
    uint32_t length = 0;
    if (max <= 0) return -1;
    const size_t start = m.pos_;
    if (!m.take(kStr, &length, 4)) return -1;
    if (m.pos_ + length > m.limit()) {
        m.pos_ = start;
        ++m.failedReads;
        return -1;
    }
    const size_t kept = std::min<size_t>(length, static_cast<size_t>(max - 1));
    std::memcpy(out, m.data_.data() + m.pos_, kept);
    out[kept] = '\0';
    m.pos_ += length;
    return static_cast<int>(kept);
}

LWID MemoryState::findBlk(void *p, const LWBlockIdent *list) {
    MemoryState &m = self(p);
    ++m.finds;
    // Blocks whose id is not in the list are passed over; a value or the end stops the search.
    const size_t end = m.limit();
    while (m.pos_ + kHeader <= end && m.data_[m.pos_] == kBlock) {
        const LWID id = readWord(m.data_, m.pos_ + 1);
        const size_t content = m.pos_ + kHeader;
        const size_t blockEnd = std::min<size_t>(content + readWord(m.data_, m.pos_ + 6), end);
        for (const LWBlockIdent *row = list; row->id; ++row) {
            if (row->id != id) continue;
            m.frames_.push_back({true, blockEnd});
            m.pos_ = content;
            return id;
        }
        m.pos_ = blockEnd;
    }
    m.frames_.push_back({false, 0});
    return 0;
}

void MemoryState::loadEnd(void *p) {
    MemoryState &m = self(p);
    ++m.loadEnds;
    if (m.frames_.empty()) {
        ++m.unmatchedEnds_;
        return;
    }
    const Frame f = m.frames_.back();
    m.frames_.pop_back();
    if (f.entered) m.pos_ = f.end;
}

int MemoryState::loadDepth(void *p) {
    int depth = 0;
    for (const Frame &f : self(p).frames_) depth += f.entered ? 1 : 0;
    return depth;
}

}  // namespace testhost
