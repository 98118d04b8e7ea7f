// An in-memory scene-file state: a save state that records blocks and values into bytes, and a
// load state that reads them back. Both check that every begin and every find is closed by
// exactly one end; a read past the data, or of a value of another kind, fails as a host read does
// (nothing is stored and 0 or -1 comes back).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sdk/sdk.h"

namespace testhost {

class MemoryState {
public:
    MemoryState();

    // Saving.
    const LWSaveState *save() const { return &save_; }
    std::vector<uint8_t> bytes;
    std::vector<LWID> begunIds;            // every begun block, in order
    std::vector<std::string> begunTokens;  // and the token of its row

    // Loading: reads `data` from its start.
    void startLoad(const std::vector<uint8_t> &data);
    const LWLoadState *load() const { return &load_; }
    int finds = 0;     // findBlk calls
    int loadEnds = 0;  // endBlk calls of the load state
    int failedReads = 0;

    // Every begin and find so far was closed by one end, and no end came without one.
    bool balanced() const { return openSaves_.empty() && frames_.empty() && unmatchedEnds_ == 0; }
    size_t count(LWID id) const;  // blocks of this id begun while saving
    // The saved bytes as text: blocks as CODE[...], 32-bit integers as numbers, 16-bit ones with
    // an "s", floats with an "f", strings in quotes; items apart by one blank.
    std::string outline() const;

private:
    struct Frame {
        bool entered;
        size_t end;  // where the entered block's content ends
    };

    size_t limit() const {
        return frames_.empty() || !frames_.back().entered ? containerEnd() : frames_.back().end;
    }
    size_t containerEnd() const;
    void put(uint8_t kind, const void *data, size_t size);
    bool take(uint8_t kind, void *data, size_t size);

    static void writeI1(void *, const char *, int);
    static void writeI2(void *, const short *, int);
    static void writeI4(void *, const int *, int);
    static void writeU1(void *, const unsigned char *, int);
    static void writeU2(void *, const unsigned short *, int);
    static void writeU4(void *, const unsigned int *, int);
    static void writeFP(void *, const float *, int);
    static void writeStr(void *, const char *);
    static void beginBlk(void *, const LWBlockIdent *, int);
    static void saveEnd(void *);
    static int saveDepth(void *);
    static int readI1(void *, char *, int);
    static int readI2(void *, short *, int);
    static int readI4(void *, int *, int);
    static int readU1(void *, unsigned char *, int);
    static int readU2(void *, unsigned short *, int);
    static int readU4(void *, unsigned int *, int);
    static int readFP(void *, float *, int);
    static int readStr(void *, char *, int);
    static LWID findBlk(void *, const LWBlockIdent *);
    static void loadEnd(void *);
    static int loadDepth(void *);

    template <typename T>
    static void writeValues(void *self, uint8_t kind, const T *values, int n);
    template <typename T>
    static int readValues(void *self, uint8_t kind, T *values, int n);

    LWSaveState save_;
    LWLoadState load_;
    std::vector<size_t> openSaves_;  // offsets of the length words of open blocks
    std::vector<uint8_t> data_;
    size_t pos_ = 0;
    std::vector<Frame> frames_;
    int unmatchedEnds_ = 0;
};

}  // namespace testhost
