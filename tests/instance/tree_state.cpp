#include "tree_state.h"

#include <cstring>

namespace skintest {

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
TreeState *self(void *p) { return static_cast<TreeState *>(p); }
}  // namespace

template <typename T>
void TreeState::writeValues(void *p, Node::Kind kind, const T *v, int n) {
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
int TreeState::readValues(void *p, Node::Kind kind, T *v, int n) {
    TreeState *t = self(p);
    ++t->reads;
    if (t->faulted()) return 0;
    Frame &f = t->readFrame();
    int got = 0;
    while (got < n && f.node && f.pos < f.node->children.size() && f.node->children[f.pos].kind == kind) {
        const Node &node = f.node->children[f.pos++];
        v[got++] = kind == Node::FP ? static_cast<T>(node.f) : static_cast<T>(node.i);
    }
    return got;
}

void TreeState::put(Node n) { (saveStack_.empty() ? root : *saveStack_.back()).children.push_back(std::move(n)); }

TreeState::Frame &TreeState::readFrame() {
    for (auto it = loadStack_.rbegin(); it != loadStack_.rend(); ++it)
        if (it->node) return *it;
    return base_;
}

const LWLoadState *TreeState::load() {
    base_ = {&root, 0};
    loadStack_.clear();
    return &load_;
}

TreeState::TreeState() {
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
        TreeState *t = self(p);
        ++t->begins;
        Node n = Node::block(ident ? ident->id : 0, {});
        n.s = ident && ident->token ? ident->token : "";
        n.leaf = leaf;
        t->put(std::move(n));
        Node &parent = t->saveStack_.empty() ? t->root : *t->saveStack_.back();
        t->saveStack_.push_back(&parent.children.back());
    };
    save_.endBlk = [](void *p) {
        TreeState *t = self(p);
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
        TreeState *t = self(p);
        ++t->reads;
        if (max > 0) buf[0] = '\0';
        if (t->faulted()) return -1;
        Frame &f = t->readFrame();
        if (!f.node || f.pos >= f.node->children.size() || f.node->children[f.pos].kind != Node::STR || max <= 0)
            return -1;
        const std::string &s = f.node->children[f.pos++].s;
        const size_t n = s.size() < static_cast<size_t>(max - 1) ? s.size() : static_cast<size_t>(max - 1);
        std::memcpy(buf, s.data(), n);
        buf[n] = '\0';
        return static_cast<int>(n);
    };
    load_.findBlk = [](void *p, const LWBlockIdent *list) -> LWID {
        TreeState *t = self(p);
        ++t->finds;
        Frame &f = t->readFrame();
        if (!t->faulted() && f.node && f.pos < f.node->children.size() &&
            f.node->children[f.pos].kind == Node::BLOCK) {
            Node &next = f.node->children[f.pos];
            for (const LWBlockIdent *row = list; row && row->id; ++row) {
                if (row->id != next.id) continue;
                ++f.pos;
                t->loadStack_.push_back({&next, 0});
                return next.id;
            }
        }
        t->loadStack_.push_back({nullptr, 0});
        return 0;
    };
    load_.endBlk = [](void *p) {
        TreeState *t = self(p);
        ++t->loadEnds;
        if (t->loadStack_.empty())
            ++t->unmatchedEnds;
        else
            t->loadStack_.pop_back();
    };
    load_.depth = [](void *p) { return static_cast<int>(self(p)->loadStack_.size()); };
    base_ = {&root, 0};
}

}  // namespace skintest
