// SPDX-License-Identifier: Apache-2.0
// The host scene reader's motions: channels, envelopes and their keys, and the older motion
// blocks.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "host/scene/lws_pvt.h"

namespace host::scene {

namespace {

using util::numberText;
using util::quote;

}  // namespace

Channel &LwsReader::motionChannel(Item &item, int index) {
    Channel3 &group = index < 3 ? item.motion.position : index < 6 ? item.motion.rotation : item.motion.scale;
    return group.c[index % 3];
}

void LwsReader::closeMotion() {
    if (motion_.declared >= 0 && motion_.seen != motion_.declared)
        failAt(motion_.line, "NumChannels declares " + std::to_string(motion_.declared) + " channels but " +
                                 std::to_string(motion_.seen) + " follow");
    motion_ = MotionState();
}

void LwsReader::expectEnvelope(Channel &c) {
    std::vector<std::string_view> w = nextWords("an envelope");
    std::string_view open = w[0];
    bool ok = open == "{" ? w.size() >= 2 && w[1] == "Envelope" : open == "{Envelope";
    if (!ok) fail(quote(line_) + ": expected an envelope ({ Envelope)");
    readEnvelope(c, lines_.number());
}

void LwsReader::readEnvelope(Channel &c, int openLine) {
    c = Channel();
    c.shaped = true;
    long long declared = -1;
    while (nextLine()) {
        std::vector<std::string_view> w = words(line_);
        if (w.empty()) continue;
        if (w[0] == "}") {
            if (declared < 0)
                fail("the envelope opened on line " + std::to_string(openLine) + " has no key count");
            if (static_cast<long long>(c.keys.size()) != declared)
                fail("the envelope opened on line " + std::to_string(openLine) + " declares " +
                     std::to_string(declared) + " keys but has " + std::to_string(c.keys.size()));
            return;
        }
        if (w[0][0] == '{') {
            skipBlock(lines_.number());
        } else if (declared < 0) {
            if (w.size() != 1) fail(quote(line_) + ": expected the envelope's number of keys");
            declared = whole(w[0], "the number of keys", 0, kMaxEnvelopeKeys);
        } else if (w[0] == "Key") {
            if (static_cast<long long>(c.keys.size()) == declared)
                fail(quote(line_) + ": more keys than the " + std::to_string(declared) + " the envelope declares");
            if (w.size() < 10) fail(quote(line_) + ": a key needs a value, a time, a shape and six parameters");
            Key k;
            k.value = num(w[1], "the key's value");
            k.time = num(w[2], "the key's time");
            k.shape = static_cast<KeyShape>(whole(w[3], "the key's shape (0 TCB to 5 2-D Bezier)", 0, 5));
            double p[6];
            for (int i = 0; i < 6; ++i) p[i] = num(w[4 + i], "a key parameter");
            switch (k.shape) {
                case KeyShape::TCB:
                    k.tension = p[0];
                    k.continuity = p[1];
                    k.bias = p[2];
                    break;
                case KeyShape::Hermite:
                case KeyShape::Bezier:
                    k.inTangent = p[3];
                    k.outTangent = p[4];
                    break;
                case KeyShape::Bezier2D:
                    k.inDt = p[0];
                    k.inDv = p[1];
                    k.outDt = p[2];
                    k.outDv = p[3];
                    break;
                default:
                    break;
            }
            addKey(c, k);
        } else if (w[0] == "Behaviors") {
            need(w, 3, "the pre and post behaviours");
            c.pre = static_cast<Behavior>(whole(w[1], "the pre behaviour (0 reset to 5 linear)", 0, 5));
            c.post = static_cast<Behavior>(whole(w[2], "the post behaviour (0 reset to 5 linear)", 0, 5));
        }
    }
    fail("the file ends inside the envelope opened on line " + std::to_string(openLine));
}

void LwsReader::addKey(Channel &c, const Key &k) {
    if (!c.keys.empty() && !(k.time > c.keys.back().time))
        fail(quote(line_) + ": the key's time " + numberText(k.time, 10) + " is not after the previous key's " +
             numberText(c.keys.back().time, 10));
    if (++keysRead_ > kMaxSceneKeys)
        fail("more than " + std::to_string(kMaxSceneKeys) + " keys in the file; the scene is refused");
    c.keys.push_back(k);
}

void LwsReader::readOldMotion(Item &item) {
    std::vector<std::string_view> w = nextWords("the number of channels");
    if (w.size() != 1) fail(quote(line_) + ": expected the motion's number of channels");
    long long channels = whole(w[0], "the number of channels", 0, kMaxChannels);
    oldChannels_.clear();
    oldMotionLine_ = lines_.number();
    for (long long i = 0; i < channels; ++i) {
        w = nextWords("a channel's number of keys");
        if (w.size() != 1) fail(quote(line_) + ": expected the channel's number of keys");
        long long keys = whole(w[0], "the number of keys", 0, kMaxEnvelopeKeys);
        Channel c;
        c.shaped = true;
        for (long long k = 0; k < keys; ++k) {
            w = nextWords("a key");
            if (w.size() < 6)
                fail(quote(line_) + ": a key needs a value, a time, a span type and three parameters");
            Key key;
            key.value = num(w[0], "the key's value");
            key.time = num(w[1], "the key's time");
            num(w[2], "the key's span type");
            key.tension = num(w[3], "the key's tension");
            key.continuity = num(w[4], "the key's continuity");
            key.bias = num(w[5], "the key's bias");
            addKey(c, key);
        }
        if (i >= 3 && i < 6) scaleChannel(c, kDegree);
        if (i < 9) {
            Channel &target = motionChannel(item, static_cast<int>(i));
            target = std::move(c);
            oldChannels_.push_back(&target);
        }
    }
}

void LwsReader::readOldBehaviors(const std::vector<std::string_view> &w) {
    if (oldChannels_.empty()) return;
    if (w.size() < 1 + 2 * oldChannels_.size())
        fail(quote(line_) + ": expected two behaviours for each of the " + std::to_string(oldChannels_.size()) +
             " channels of the motion on line " + std::to_string(oldMotionLine_));
    for (size_t i = 0; i < oldChannels_.size(); ++i) {
        oldChannels_[i]->pre = static_cast<Behavior>(whole(w[1 + 2 * i], "a pre behaviour", 0, 5));
        oldChannels_[i]->post = static_cast<Behavior>(whole(w[2 + 2 * i], "a post behaviour", 0, 5));
    }
    oldChannels_.clear();
}

}  // namespace host::scene
