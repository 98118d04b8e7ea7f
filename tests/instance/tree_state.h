// An in-memory scene file kept as a tree: a save state that records every write and block, and a
// load state that reads a tree back (one written by the save state, or one built by a test).
// Values are kept one element a node, so that a counted read may span several writes. A read of
// the wrong kind, or past the end of the entered block, fails as a host read does. Both states
// count their finds, begins and ends, so that a test can check every one is closed exactly once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sdk/sdk.h"

namespace skintest {

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

class TreeState {
public:
    TreeState();
    TreeState(const TreeState &) = delete;
    TreeState &operator=(const TreeState &) = delete;

    Node root;  // what the save state wrote, or what the load state reads

    const LWSaveState *save() { return &save_; }
    // Reads root from its start; call again to read it once more.
    const LWLoadState *load();

    int begins = 0, saveEnds = 0, finds = 0, loadEnds = 0, unmatchedEnds = 0, reads = 0;
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

}  // namespace skintest
