// SPDX-License-Identifier: Apache-2.0
// Load and save states: the host's scene-file reader and writer, handed to a plug-in's load and
// save operations. The same calls serve the binary and the text formats.
//
// Blocks are found and begun by four-character codes; in the text format each block carries the
// token of its LWBlockIdent row instead. Every findBlk and every beginBlk is closed by exactly one
// endBlk, also a findBlk that entered nothing. Counted reads return the number of values read,
// 0 or less on failure. States are used from the host's main thread only.
#pragma once

#include "host_types.h"

#define LWIO_OBJECT 0
#define LWIO_SCENE 1
#define LWIO_ASCII 0
#define LWIO_BINARY 1

// One block kind that a find may enter, or that a begin opens. Lists end with a {0, null} row.
struct LWBlockIdent {
    LWID id;
    const char *token;
};

struct LWLoadState {
    int ioMode;      // LWIO_ASCII or LWIO_BINARY
    void *readData;  // the host's reader; first argument of every call
    int (*readI1)(void *, char *, int n);
    int (*readI2)(void *, short *, int n);
    int (*readI4)(void *, int *, int n);
    int (*readU1)(void *, unsigned char *, int n);
    int (*readU2)(void *, unsigned short *, int n);
    int (*readU4)(void *, unsigned int *, int n);
    int (*readFP)(void *, float *, int n);
    // Reads one string into a buffer of `max` bytes, always zero-terminated; returns its length
    // (0 for an empty string) or -1 on failure.
    int (*readStr)(void *, char *, int max);
    // Enters the next block whose id is in the list; returns its id, or 0 when none comes next.
    LWID (*findBlk)(void *, const LWBlockIdent *);
    void (*endBlk)(void *);  // leaves the block entered by the matching findBlk
    int (*depth)(void *);    // number of blocks currently entered
};

struct LWSaveState {
    int ioMode;
    void *writeData;
    void (*writeI1)(void *, const char *, int n);
    void (*writeI2)(void *, const short *, int n);
    void (*writeI4)(void *, const int *, int n);
    void (*writeU1)(void *, const unsigned char *, int n);
    void (*writeU2)(void *, const unsigned short *, int n);
    void (*writeU4)(void *, const unsigned int *, int n);
    void (*writeFP)(void *, const float *, int n);
    void (*writeStr)(void *, const char *);
    // Opens a block; a leaf holds only values, a non-leaf may hold further blocks.
    void (*beginBlk)(void *, const LWBlockIdent *, int leaf);
    void (*endBlk)(void *);
    int (*depth)(void *);
};

// The host's 32-bit x86 layout of these records, as the Windows target lays them out (the 32-bit
// Linux build matches it with -malign-double).
#if defined(__i386__) || defined(_M_IX86)
#include <cstddef>
static_assert(sizeof(LWBlockIdent) == 8, "LWBlockIdent is 8 bytes");
static_assert(offsetof(LWBlockIdent, id) == 0, "LWBlockIdent::id");
static_assert(offsetof(LWBlockIdent, token) == 4, "LWBlockIdent::token");
static_assert(sizeof(LWLoadState) == 52, "LWLoadState is 52 bytes");
static_assert(offsetof(LWLoadState, ioMode) == 0, "LWLoadState::ioMode");
static_assert(offsetof(LWLoadState, readData) == 4, "LWLoadState::readData");
static_assert(offsetof(LWLoadState, readI1) == 8, "LWLoadState::readI1");
static_assert(offsetof(LWLoadState, readI2) == 12, "LWLoadState::readI2");
static_assert(offsetof(LWLoadState, readI4) == 16, "LWLoadState::readI4");
static_assert(offsetof(LWLoadState, readU1) == 20, "LWLoadState::readU1");
static_assert(offsetof(LWLoadState, readU2) == 24, "LWLoadState::readU2");
static_assert(offsetof(LWLoadState, readU4) == 28, "LWLoadState::readU4");
static_assert(offsetof(LWLoadState, readFP) == 32, "LWLoadState::readFP");
static_assert(offsetof(LWLoadState, readStr) == 36, "LWLoadState::readStr");
static_assert(offsetof(LWLoadState, findBlk) == 40, "LWLoadState::findBlk");
static_assert(offsetof(LWLoadState, endBlk) == 44, "LWLoadState::endBlk");
static_assert(offsetof(LWLoadState, depth) == 48, "LWLoadState::depth");
static_assert(sizeof(LWSaveState) == 52, "LWSaveState is 52 bytes");
static_assert(offsetof(LWSaveState, ioMode) == 0, "LWSaveState::ioMode");
static_assert(offsetof(LWSaveState, writeData) == 4, "LWSaveState::writeData");
static_assert(offsetof(LWSaveState, writeI1) == 8, "LWSaveState::writeI1");
static_assert(offsetof(LWSaveState, writeI2) == 12, "LWSaveState::writeI2");
static_assert(offsetof(LWSaveState, writeI4) == 16, "LWSaveState::writeI4");
static_assert(offsetof(LWSaveState, writeU1) == 20, "LWSaveState::writeU1");
static_assert(offsetof(LWSaveState, writeU2) == 24, "LWSaveState::writeU2");
static_assert(offsetof(LWSaveState, writeU4) == 28, "LWSaveState::writeU4");
static_assert(offsetof(LWSaveState, writeFP) == 32, "LWSaveState::writeFP");
static_assert(offsetof(LWSaveState, writeStr) == 36, "LWSaveState::writeStr");
static_assert(offsetof(LWSaveState, beginBlk) == 40, "LWSaveState::beginBlk");
static_assert(offsetof(LWSaveState, endBlk) == 44, "LWSaveState::endBlk");
static_assert(offsetof(LWSaveState, depth) == 48, "LWSaveState::depth");
#endif
