// SPDX-License-Identifier: Apache-2.0
// An in-memory scene-file state for the module's tests, kept as a tree: a save state that records
// every write and block, and a load state that reads a tree back (one written by the save state,
// one built by a test, or one decoded from bytes). Values are kept one element a node and know
// their kind, so that a counted read may span several writes and a read of another kind fails as
// a host read does (nothing more is stored and the count read so far, or -1, comes back); so does
// a read past the end of the entered block. findBlk passes over blocks whose id is not listed and
// stops at a value or the end. Both states count their finds, begins and ends, so that a test can
// check every one is closed exactly once. Needs only sdk/, so that it builds for every target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sdk/sdk.h"

namespace testhost {

struct Node {
    enum Kind { I1, I2, I4, U1, U2, U4, FP, STR, BLOCK };
    Kind kind = BLOCK;
    int64_t i = 0;  // integer kinds and U1 bytes
    double f = 0.0;
    std::string s;  // STR, and the token of a BLOCK
    LWID id = 0;    // BLOCK
    int leaf = 0;
    std::vector<Node> children;

    static Node i4(int v);
    static Node u4(unsigned int v);
    static Node u1(unsigned char v);
    static Node str(const std::string &v);
    static Node block(LWID id, std::vector<Node> children);
    // The blocks among the children, in order.
    std::vector<const Node *> blocks() const;
};

class TestState {
public:
    TestState();
    TestState(const TestState &) = delete;
    TestState &operator=(const TestState &) = delete;

    Node root;  // what the save state wrote, or what the load state reads

    const LWSaveState *save() { return &save_; }
    // Reads on from where the last read stopped (at first, the start of root).
    const LWLoadState *load() { return &load_; }
    // Reads root from its start again.
    void rewind();

    // The tree as bytes, a block as its kind, id, leaf flag and content length, a value as its
    // kind and contents, so that a test can cut or damage them; startLoad reads such bytes back
    // (whatever a cut left whole of them), from their start and with the load counters cleared.
    std::vector<uint8_t> bytes() const;
    void startLoad(const std::vector<uint8_t> &data);

    // The tree as text: blocks as CODE[...], 32-bit integers as numbers, 16-bit ones with an "s",
    // floats with an "f", strings in quotes; items apart by one blank; "?" ends a block at any
    // other kind.
    std::string outline() const;

    int begins = 0, saveEnds = 0, finds = 0, loadEnds = 0, unmatchedEnds = 0, reads = 0, failedReads = 0;
    std::vector<LWID> begunIds;            // every begun block, in order
    std::vector<std::string> begunTokens;  // and the token of its row
    // Fault injection: every read and find after the first failAfter of them fails (-1: none).
    int failAfter = -1;
    bool faulted() const { return failAfter >= 0 && reads + finds > failAfter; }
    // Every begin and find was closed by exactly one end.
    bool balanced() const { return saveStack_.empty() && loadStack_.empty() && unmatchedEnds == 0; }

private:
    struct Frame {
        Node *node;  // null for a find that entered nothing
        size_t pos;
    };
    Frame &readFrame();
    void put(Node n);
    template <typename T>
    static void writeValues(void *self, Node::Kind kind, const T *v, int n);
    template <typename T>
    static int readValues(void *self, Node::Kind kind, T *v, int n);

    LWSaveState save_;
    LWLoadState load_;
    std::vector<Node *> saveStack_;
    Frame base_ = {nullptr, 0};
    std::vector<Frame> loadStack_;
};

}  // namespace testhost
