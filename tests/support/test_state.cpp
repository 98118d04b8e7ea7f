// SPDX-License-Identifier: Apache-2.0
#include "tests/support/test_state.h"

#include <cstdio>
#include <cstring>

namespace testhost {

Node Node::i4(int v) {
    Node n;
    n.kind = I4;
    n.i = v;
    return n;
}

Node Node::u4(unsigned int v) {
    Node n;
    n.kind = U4;
    n.i = v;
    return n;
}

Node Node::u1(unsigned char v) {
    Node n;
    n.kind = U1;
    n.i = v;
    return n;
}

Node Node::str(const std::string &v) {
    Node n;
    n.kind = STR;
    n.s = v;
    return n;
}

Node Node::block(LWID id, std::vector<Node> children) {
    Node n;
    n.kind = BLOCK;
    n.id = id;
    n.children = std::move(children);
    return n;
}

std::vector<const Node *> Node::blocks() const {
    std::vector<const Node *> out;
    for (const Node &c : children)
        if (c.kind == BLOCK) out.push_back(&c);
    return out;
}

namespace {

TestState *self(void *p) { return static_cast<TestState *>(p); }

// Bytes: each node starts with its kind; a block then has its id, leaf flag and content length,
// a string its length and characters, a value its contents in the machine's order.
constexpr size_t kBlockHeader = 1 + 4 + 1 + 4;
const uint8_t kKindCode[] = {'c', 's', 'i', 'b', 'w', 'u', 'f', 't', 'B'};  // by Node::Kind
const size_t kValueSize[] = {1, 2, 4, 1, 2, 4, 4};                          // I1 .. FP

void append(std::vector<uint8_t> &out, const void *data, size_t n) {
    const uint8_t *p = static_cast<const uint8_t *>(data);
    out.insert(out.end(), p, p + n);
}

void encode(const Node &n, std::vector<uint8_t> &out) {
    out.push_back(kKindCode[n.kind]);
    if (n.kind == Node::BLOCK) {
        const uint32_t id = n.id;
        append(out, &id, 4);
        out.push_back(static_cast<uint8_t>(n.leaf));
        const size_t lengthAt = out.size();
        out.resize(out.size() + 4);
        for (const Node &c : n.children) encode(c, out);
        const uint32_t length = static_cast<uint32_t>(out.size() - lengthAt - 4);
        std::memcpy(out.data() + lengthAt, &length, 4);
    } else if (n.kind == Node::STR) {
        const uint32_t length = static_cast<uint32_t>(n.s.size());
        append(out, &length, 4);
        append(out, n.s.data(), n.s.size());
    } else {
        const int8_t i1 = static_cast<int8_t>(n.i);
        const int16_t i2 = static_cast<int16_t>(n.i);
        const int32_t i4 = static_cast<int32_t>(n.i);
        const uint8_t u1 = static_cast<uint8_t>(n.i);
        const uint16_t u2 = static_cast<uint16_t>(n.i);
        const uint32_t u4 = static_cast<uint32_t>(n.i);
        const float fp = static_cast<float>(n.f);
        const void *value[] = {&i1, &i2, &i4, &u1, &u2, &u4, &fp};
        append(out, value[n.kind], kValueSize[n.kind]);
    }
}

int64_t readInteger(Node::Kind kind, const uint8_t *raw) {
    int8_t i1;
    int16_t i2;
    int32_t i4;
    uint16_t u2;
    uint32_t u4;
    switch (kind) {
        case Node::I1:
            std::memcpy(&i1, raw, 1);
            return i1;
        case Node::I2:
            std::memcpy(&i2, raw, 2);
            return i2;
        case Node::I4:
            std::memcpy(&i4, raw, 4);
            return i4;
        case Node::U1:
            return raw[0];
        case Node::U2:
            std::memcpy(&u2, raw, 2);
            return u2;
        case Node::U4:
            std::memcpy(&u4, raw, 4);
            return u4;
        default:
            return 0;
    }
}

// Decodes the nodes in [at, end) into `into`, up to the first one that is cut or unknown.
void decode(const std::vector<uint8_t> &d, size_t at, size_t end, std::vector<Node> &into) {
    while (at < end) {
        Node n;
        const uint8_t *code = static_cast<const uint8_t *>(std::memchr(kKindCode, d[at], sizeof kKindCode));
        if (!code) return;
        n.kind = static_cast<Node::Kind>(code - kKindCode);
        if (n.kind == Node::BLOCK) {
            if (at + kBlockHeader > end) return;
            uint32_t id, length;
            std::memcpy(&id, d.data() + at + 1, 4);
            std::memcpy(&length, d.data() + at + 6, 4);
            n.id = id;
            n.leaf = d[at + 5];
            const size_t content = at + kBlockHeader;
            const size_t stop = end - content < length ? end : content + length;
            decode(d, content, stop, n.children);
            at = stop;
        } else if (n.kind == Node::STR) {
            uint32_t length;
            if (at + 5 > end) return;
            std::memcpy(&length, d.data() + at + 1, 4);
            if (end - (at + 5) < length) return;
            n.s.assign(d.begin() + static_cast<std::ptrdiff_t>(at + 5),
                       d.begin() + static_cast<std::ptrdiff_t>(at + 5 + length));
            at += 5 + length;
        } else {
            const size_t size = kValueSize[n.kind];
            if (at + 1 + size > end) return;
            uint8_t raw[4] = {};
            std::memcpy(raw, d.data() + at + 1, size);
            n.i = readInteger(n.kind, raw);
            if (n.kind == Node::FP) {
                float fp;
                std::memcpy(&fp, raw, 4);
                n.f = fp;
            }
            at += 1 + size;
        }
        into.push_back(std::move(n));
    }
}

std::string outlineOf(const std::vector<Node> &nodes) {
    std::string out;
    for (const Node &n : nodes) {
        if (!out.empty()) out += ' ';
        if (n.kind == Node::BLOCK) {
            for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((n.id >> shift) & 0xff);
            out += '[' + outlineOf(n.children) + ']';
        } else if (n.kind == Node::STR) {
            out += '"' + n.s + '"';
        } else if (n.kind == Node::I4) {
            out += std::to_string(n.i);
        } else if (n.kind == Node::I2) {
            out += std::to_string(n.i) + 's';
        } else if (n.kind == Node::FP) {
            char text[32];
            std::snprintf(text, sizeof text, "%gf", static_cast<float>(n.f));
            out += text;
        } else {
            out += '?';
            break;
        }
    }
    return out;
}

}  // namespace

std::vector<uint8_t> TestState::bytes() const {
    std::vector<uint8_t> out;
    for (const Node &n : root.children) encode(n, out);
    return out;
}

void TestState::startLoad(const std::vector<uint8_t> &data) {
    root = Node();
    decode(data, 0, data.size(), root.children);
    rewind();
    finds = loadEnds = unmatchedEnds = reads = failedReads = 0;
}

std::string TestState::outline() const { return outlineOf(root.children); }

void TestState::rewind() {
    base_ = {&root, 0};
    loadStack_.clear();
}

template <typename T>
void TestState::writeValues(void *p, Node::Kind kind, const T *v, int n) {
    for (int k = 0; k < n; ++k) {
        Node node;
        node.kind = kind;
        if (kind == Node::FP)
            node.f = static_cast<double>(v[k]);
        else
            node.i = static_cast<int64_t>(v[k]);
        self(p)->put(node);
    }
}

template <typename T>
int TestState::readValues(void *p, Node::Kind kind, T *v, int n) {
    TestState *t = self(p);
    ++t->reads;
    if (t->faulted()) return 0;
    Frame &f = t->readFrame();
    int got = 0;
    while (got < n && f.node && f.pos < f.node->children.size() && f.node->children[f.pos].kind == kind) {
        const Node &node = f.node->children[f.pos++];
        v[got++] = kind == Node::FP ? static_cast<T>(node.f) : static_cast<T>(node.i);
    }
    if (got < n) ++t->failedReads;
    return got;
}

void TestState::put(Node n) { (saveStack_.empty() ? root : *saveStack_.back()).children.push_back(std::move(n)); }

TestState::Frame &TestState::readFrame() {
    for (auto it = loadStack_.rbegin(); it != loadStack_.rend(); ++it)
        if (it->node) return *it;
    return base_;
}

TestState::TestState() {
    save_ = {};
    save_.ioMode = LWIO_BINARY;
    save_.writeData = this;
    save_.writeI1 = [](void *p, const char *v, int n) { writeValues(p, Node::I1, v, n); };
    save_.writeI2 = [](void *p, const short *v, int n) { writeValues(p, Node::I2, v, n); };
    save_.writeI4 = [](void *p, const int *v, int n) { writeValues(p, Node::I4, v, n); };
    save_.writeU1 = [](void *p, const unsigned char *v, int n) { writeValues(p, Node::U1, v, n); };
    save_.writeU2 = [](void *p, const unsigned short *v, int n) { writeValues(p, Node::U2, v, n); };
    save_.writeU4 = [](void *p, const unsigned int *v, int n) { writeValues(p, Node::U4, v, n); };
    save_.writeFP = [](void *p, const float *v, int n) { writeValues(p, Node::FP, v, n); };
    save_.writeStr = [](void *p, const char *s) { self(p)->put(Node::str(s ? s : "")); };
    save_.beginBlk = [](void *p, const LWBlockIdent *ident, int leaf) {
        TestState *t = self(p);
        ++t->begins;
        Node n = Node::block(ident ? ident->id : 0, {});
        n.s = ident && ident->token ? ident->token : "";
        n.leaf = leaf;
        t->begunIds.push_back(n.id);
        t->begunTokens.push_back(n.s);
        t->put(std::move(n));
        Node &parent = t->saveStack_.empty() ? t->root : *t->saveStack_.back();
        t->saveStack_.push_back(&parent.children.back());
    };
    save_.endBlk = [](void *p) {
        TestState *t = self(p);
        ++t->saveEnds;
        if (t->saveStack_.empty())
            ++t->unmatchedEnds;
        else
            t->saveStack_.pop_back();
    };
    save_.depth = [](void *p) { return static_cast<int>(self(p)->saveStack_.size()); };

    load_ = {};
    load_.ioMode = LWIO_BINARY;
    load_.readData = this;
    load_.readI1 = [](void *p, char *v, int n) { return readValues(p, Node::I1, v, n); };
    load_.readI2 = [](void *p, short *v, int n) { return readValues(p, Node::I2, v, n); };
    load_.readI4 = [](void *p, int *v, int n) { return readValues(p, Node::I4, v, n); };
    load_.readU1 = [](void *p, unsigned char *v, int n) { return readValues(p, Node::U1, v, n); };
    load_.readU2 = [](void *p, unsigned short *v, int n) { return readValues(p, Node::U2, v, n); };
    load_.readU4 = [](void *p, unsigned int *v, int n) { return readValues(p, Node::U4, v, n); };
    load_.readFP = [](void *p, float *v, int n) { return readValues(p, Node::FP, v, n); };
    load_.readStr = [](void *p, char *buf, int max) {
        TestState *t = self(p);
        ++t->reads;
        if (max > 0) buf[0] = '\0';
        Frame &f = t->readFrame();
        if (t->faulted() || !f.node || f.pos >= f.node->children.size() ||
            f.node->children[f.pos].kind != Node::STR || max <= 0) {
            ++t->failedReads;
            return -1;
        }
        const std::string &s = f.node->children[f.pos++].s;
        const size_t n = s.size() < static_cast<size_t>(max - 1) ? s.size() : static_cast<size_t>(max - 1);
        std::memcpy(buf, s.data(), n);
        buf[n] = '\0';
        return static_cast<int>(n);
    };
    load_.findBlk = [](void *p, const LWBlockIdent *list) -> LWID {
        TestState *t = self(p);
        ++t->finds;
        Frame &f = t->readFrame();
        // Blocks whose id is not in the list are passed over; a value or the end stops the search.
        while (!t->faulted() && f.node && f.pos < f.node->children.size() &&
               f.node->children[f.pos].kind == Node::BLOCK) {
            Node &next = f.node->children[f.pos++];
            for (const LWBlockIdent *row = list; row && row->id; ++row) {
                if (row->id != next.id) continue;
                t->loadStack_.push_back({&next, 0});
                return next.id;
            }
        }
        t->loadStack_.push_back({nullptr, 0});
        return 0;
    };
    load_.endBlk = [](void *p) {
        TestState *t = self(p);
        ++t->loadEnds;
        if (t->loadStack_.empty())
            ++t->unmatchedEnds;
        else
            t->loadStack_.pop_back();
    };
    load_.depth = [](void *p) { return static_cast<int>(self(p)->loadStack_.size()); };
    base_ = {&root, 0};
}

}  // namespace testhost
