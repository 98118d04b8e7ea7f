// SPDX-License-Identifier: Apache-2.0
// The curve maths of envelopes, shared by the envelope service and the scene model's channels, so
// that a channel and the envelope made from it give the same value at every time.
//
// A span runs from key k to key n and is drawn as a cubic Hermite curve whose tangents are given
// as the value change over the span. Kochanek-Bartels tangents come from a key's tension,
// continuity and bias and its neighbours, scaled for unevenly spaced keys; an end key's tangent
// runs along the chord to its one neighbour.
#pragma once

namespace host::animation {

// A key's place on the curve.
struct CurvePoint {
    double time, value;
};

// The key's tension, continuity and bias.
struct KeyTcb {
    double tension, continuity, bias;
};

// The cubic Hermite curve from a to b with tangents m0 and m1, at s in [0, 1].
inline double hermite(double a, double m0, double b, double m1, double s) {
    double s2 = s * s, s3 = s2 * s;
    return (2 * s3 - 3 * s2 + 1) * a + (s3 - 2 * s2 + s) * m0 + (-2 * s3 + 3 * s2) * b + (s3 - s2) * m1;
}

// The Kochanek-Bartels tangent leaving key k for the span to n; p is the key before k, null when
// k is the first.
inline double kbOutgoing(const CurvePoint *p, CurvePoint k, CurvePoint n, KeyTcb c) {
    if (!p) return (1 - c.tension) * (n.value - k.value);
    double a = (1 - c.tension) * (1 + c.continuity) * (1 + c.bias) / 2;
    double b = (1 - c.tension) * (1 - c.continuity) * (1 - c.bias) / 2;
    return (a * (k.value - p->value) + b * (n.value - k.value)) * 2 * (n.time - k.time) / (n.time - p->time);
}

// The Kochanek-Bartels tangent entering key k from the span from p; n is the key after k, null
// when k is the last.
inline double kbIncoming(CurvePoint p, CurvePoint k, const CurvePoint *n, KeyTcb c) {
    if (!n) return (1 - c.tension) * (k.value - p.value);
    double a = (1 - c.tension) * (1 - c.continuity) * (1 + c.bias) / 2;
    double b = (1 - c.tension) * (1 + c.continuity) * (1 - c.bias) / 2;
    return (a * (k.value - p.value) + b * (n->value - k.value)) * 2 * (k.time - p.time) / (n->time - p.time);
}

}  // namespace host::animation
