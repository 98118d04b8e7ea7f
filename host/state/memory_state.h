// SPDX-License-Identifier: Apache-2.0
// In-memory load and save states in two formats with the same meaning.
//
// Binary: a block is its four-character code and a 32-bit big-endian length, then its contents;
// values are big-endian (I1/U1 one byte, I2/U2 two, I4/U4/FP four), strings are zero-terminated.
// Text: a block is "{ Token" ... "}"; each write call puts its values on one line, numbers in
// decimal (floats in their shortest exact form), strings quoted with \" \\ and \xHH escapes, so
// any byte round-trips.
//
// Reading never goes past the data or the end of the block entered. A counted read is all or
// nothing: it returns n when all n values were read, otherwise 0, sets every output value to 0
// and leaves the read position where it was. A failed readStr returns -1 and leaves an empty
// string (when the buffer has room for one). findBlk passes over (consumes) blocks whose id is not
// in the list and enters the first one that is; it stops with 0 at a value, at a truncated or
// malformed block, at the end of the enclosing block, and at once when kMaxDepth blocks are
// entered. A find that returns 0 enters an empty block: reads in it fail, and its endBlk leaves
// the position where the search stopped. endBlk with nothing entered does nothing. States belong
// to one thread at a time (the host's main thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "sdk/io_state.h"

namespace host::state {

enum class Format { Binary, Text };

// Deepest nesting of blocks a reader enters.
constexpr int kMaxDepth = 64;
// Longest text token a reader takes for a number or a block's name.
constexpr size_t kMaxToken = 1024;

class SaveState {
public:
    explicit SaveState(Format format);
    SaveState(const SaveState &) = delete;
    SaveState &operator=(const SaveState &) = delete;

    // The host record to hand a plug-in; valid while this object lives.
    const LWSaveState *record() const { return &record_; }
    Format format() const { return format_; }

    // The bytes written so far; blocks still open have no final length (binary) or no closing
    // brace (text) yet. finish() closes them.
    const std::vector<uint8_t> &bytes() const { return out_; }
    void finish();
    int openBlocks() const { return static_cast<int>(open_.size()); }

private:
    friend struct SaveOps;
    void raw(const void *data, size_t n);
    void textLine(const std::string &line);
    void begin(const LWBlockIdent *id, int leaf);
    void end();

    Format format_;
    LWSaveState record_;
    std::vector<uint8_t> out_;
    std::vector<size_t> open_;  // binary: offset of each open block's length field
};

class LoadState {
public:
    LoadState(Format format, std::vector<uint8_t> data);
    LoadState(const LoadState &) = delete;
    LoadState &operator=(const LoadState &) = delete;

    const LWLoadState *record() const { return &record_; }
    Format format() const { return format_; }
    // Number of reads and finds that failed so far (a find that entered nothing counts).
    int failures() const { return failures_; }
    int depth() const { return static_cast<int>(frames_.size()) - 1; }

private:
    friend struct LoadOps;
    struct Frame {
        size_t end;    // first byte past the block's contents
        size_t close;  // where reading resumes after its endBlk
        bool empty;    // a find that entered nothing
    };
    Frame &top() { return frames_.back(); }
    bool take(void *dst, size_t n);
    // Text: the next token in the current block without consuming it; false when none.
    bool peekToken(size_t &start, size_t &stop);
    bool nextValueToken(std::string &token);
    bool readQuoted(size_t &pos, size_t end, std::string *out) const;
    size_t skipSpace(size_t pos, size_t end) const;
    bool matchClose(size_t from, size_t end, size_t &closeAt) const;
    bool closeFor(size_t from, size_t end, size_t &closeAt);
    LWID listed(const LWBlockIdent *list, LWID id, const std::string *name) const;
    LWID find(const LWBlockIdent *list);
    void leave();
    template <typename T>
    int readInts(T *out, int n, int64_t lo, int64_t hi);
    int readFloats(float *out, int n);
    int readString(char *buf, int max);

    Format format_;
    LWLoadState record_;
    std::vector<uint8_t> in_;
    size_t pos_ = 0;
    std::vector<Frame> frames_;
    int realDepth_ = 0;
    int failures_ = 0;
    struct CloseSearch {
        size_t end;  // the bound the search ran to
        bool found;
        size_t closeAt;
    };
    std::unordered_map<size_t, CloseSearch> closeCache_;  // text: by the block's content start
};

// Doubles stored exactly in either format, as their shortest decimal text.
void writeDouble(const LWSaveState *save, double value);
// Reads a double written by writeDouble; false (value untouched) when absent or malformed.
bool readDouble(const LWLoadState *load, double &value);

}  // namespace host::state
