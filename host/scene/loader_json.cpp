// SPDX-License-Identifier: Apache-2.0
// JSON as scene files are read: parsed in two passes with positions for messages, nesting and
// cost bounded before the document is built; numbers and channels read from fields.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <new>
#include <set>

#include "host/scene/loader_pvt.h"

namespace host::scene {

namespace {

// JSON text read through a pointer that remembers the last byte the parser took, so that SAX
// handlers know where in the text they are.
class TrackingIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char *;
    using reference = const char &;

    TrackingIterator(const char *p, const char **last) : p_(p), last_(last) {}
    const char &operator*() const {
        *last_ = p_;
        return *p_;
    }
    TrackingIterator &operator++() {
        ++p_;
        return *this;
    }
    TrackingIterator operator++(int) {
        TrackingIterator before = *this;
        ++p_;
        return before;
    }
    bool operator==(const TrackingIterator &o) const { return p_ == o.p_; }
    bool operator!=(const TrackingIterator &o) const { return p_ != o.p_; }

private:
    const char *p_;
    const char **last_;
};

// Memory of the parsed JSON document, estimated value by value while the text is checked, and
// where nesting first goes deeper than kMaxNesting. Reads through a TrackingIterator, whose last
// byte read is the bracket just opened.
class JsonCost : public nlohmann::json_sax<json> {
public:
    JsonCost(const char *text, const char *const *last) : text_(text), last_(last) {}

    uint64_t bytes = 0;
    bool tooDeep = false;
    size_t tooDeepAt = 0;  // offset of the first bracket past the limit
    size_t errorByte = 0;
    std::string errorText;

    // Each value is a 16-byte slot in its container, whose storage may be twice what it holds.
    bool null() override { return value(0); }
    bool boolean(bool) override { return value(0); }
    bool number_integer(number_integer_t) override { return value(0); }
    bool number_unsigned(number_unsigned_t) override { return value(0); }
    bool number_float(number_float_t, const string_t &) override { return value(0); }
    bool string(string_t &s) override { return value(64 + s.size()); }
    bool binary(binary_t &b) override { return value(64 + b.size()); }
    bool start_object(std::size_t) override { return open(80); }
    bool key(string_t &k) override { return value(96 + k.size()); }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(56); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t byte, const std::string &token, const nlohmann::detail::exception &e) override {
        errorByte = byte;
        // A number too large for a double is only known once read: place it at its first digit.
        if (dynamic_cast<const nlohmann::detail::out_of_range *>(&e) && !token.empty() && token.size() <= byte)
            errorByte = byte - token.size() + 1;
        errorText = e.what();
        return false;
    }

private:
    const char *text_;
    const char *const *last_;
    int depth_ = 0;
    bool value(uint64_t extra) {
        bytes += 32 + extra;
        return true;
    }
    bool open(uint64_t extra) {
        tooDeep = ++depth_ > kMaxNesting;
        if (tooDeep) tooDeepAt = static_cast<size_t>(*last_ - text_);
        return !tooDeep && value(extra);
    }
    bool close() {
        --depth_;
        return true;
    }
};

// Builds the document from SAX events read through a TrackingIterator, refusing a key its object
// already has: the parser's own reading would keep the last silently. The object itself answers
// whether a key is taken, so the check costs no memory of its own.
class DomBuilder : public nlohmann::json_sax<json> {
public:
    DomBuilder(json &root, const std::string &text, const char *const *last)
        : root_(root), text_(text), last_(last) {}

    std::string duplicate;   // the key given twice
    size_t duplicateAt = 0;  // offset of its second opening quote
    size_t errorByte = 0;
    std::string errorText;

    bool null() override { return put(nullptr); }
    bool boolean(bool b) override { return put(b); }
    bool number_integer(number_integer_t v) override { return put(v); }
    bool number_unsigned(number_unsigned_t v) override { return put(v); }
    bool number_float(number_float_t v, const string_t &) override { return put(v); }
    bool string(string_t &s) override { return put(std::move(s)); }
    bool binary(binary_t &b) override { return put(json::binary(std::move(b))); }
    bool start_object(std::size_t) override { return open(json::object()); }
    bool key(string_t &k) override {
        if (stack_.back()->contains(k)) {
            duplicate = k;
            duplicateAt = openingQuote(static_cast<size_t>(*last_ - text_.data()));
            return false;
        }
        key_ = std::move(k);
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(json::array()); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t byte, const std::string &, const nlohmann::detail::exception &e) override {
        errorByte = byte;
        errorText = e.what();
        return false;
    }

private:
    json &root_;
    const std::string &text_;
    const char *const *last_;
    std::vector<json *> stack_;  // the open arrays and objects, innermost last
    std::string key_;            // the key of the next value in the innermost object

    // Where the next value goes: the root, the end of the innermost array or its object's key.
    json &slot() {
        if (stack_.empty()) return root_;
        json &top = *stack_.back();
        if (!top.is_array()) return top[key_];
        top.emplace_back();
        return top.back();
    }
    template <typename V>
    bool put(V &&v) {
        slot() = json(std::forward<V>(v));
        return true;
    }
    bool open(json &&container) {
        json &at = slot();
        at = std::move(container);
        stack_.push_back(&at);
        return true;
    }
    bool close() {
        stack_.pop_back();
        return true;
    }
    // The opening quote of the string whose closing quote is at `close`: the nearest quote before
    // it not escaped by an odd run of backslashes (a string holds no other).
    size_t openingQuote(size_t close) const {
        for (size_t i = close; i-- > 0;) {
            if (text_[i] != '"') continue;
            size_t slashes = 0;
            while (slashes < i && text_[i - 1 - slashes] == '\\') ++slashes;
            if (slashes % 2 == 0) return i;
        }
        return 0;
    }
};

// A parser's message with its quote of the input ("last read: '...'") cut to an excerpt.
std::string syntaxMessage(const std::string &what) {
    // Without the parser's own prefixes: "[json.exception.parse_error.101] parse error at ...: ".
    size_t from = what.find("syntax error");
    if (from == std::string::npos && what.compare(0, 1, "[") == 0 && what.find("] ") != std::string::npos)
        from = what.find("] ") + 2;
    std::string m = from == std::string::npos ? what : what.substr(from);
    size_t start = m.find('\'');
    if (start == std::string::npos) return excerpt(m, 4 * kExcerpt);
    start += 1;
    size_t end = m.rfind("'; expected");
    if (end == std::string::npos || end < start) end = m.rfind('\'');
    if (end == std::string::npos || end < start) end = m.size();
    std::string tail = m.substr(end);
    if (tail.size() > 2 * kExcerpt) tail = tail.substr(0, 2 * kExcerpt) + "...";
    return m.substr(0, start) + excerpt(m.substr(start, end - start)) + tail;
}

// The line and column of a byte of the text (from 1), in `label`.
util::FileLoc syntaxPlace(const std::string &label, const std::string &text, size_t byte) {
    size_t line = 1, column = 1;
    for (size_t i = 0; i + 1 < byte && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return util::FileLoc::atLine(label, static_cast<long long>(line), static_cast<long long>(column));
}

}  // namespace

double asNumber(const json &j, const std::string &path, double lo, double hi) {
    if (!j.is_number()) fail(path, "expected a number, found " + jsonTypeName(j));
    double v = j.get<double>();
    if (!std::isfinite(v) || v < lo || v > hi)
        fail(path, "value " + numberText(v) + " is out of range [" + numberText(lo) + ", " + numberText(hi) + "]");
    return v;
}

int asInt(const json &j, const std::string &path, int lo, int hi) {
    if (!j.is_number_integer()) fail(path, "expected a whole number, found " + jsonTypeName(j));
    // Above the signed range a value would wrap to a negative one.
    if (j.is_number_unsigned() && j.get<uint64_t>() > static_cast<uint64_t>(hi))
        fail(path, "value " + std::to_string(j.get<uint64_t>()) + " is out of range [" + std::to_string(lo) +
                       ", " + std::to_string(hi) + "]");
    long long v = j.get<long long>();
    if (v < lo || v > hi)
        fail(path, "value " + std::to_string(v) + " is out of range [" + std::to_string(lo) + ", " +
                       std::to_string(hi) + "]");
    return static_cast<int>(v);
}

// A number, or {"keys": [[seconds, value], ...], "spline": bool}; values are multiplied by scale.
Channel readChannel(const json &j, const std::string &path, double lo, double hi, double scale) {
    Channel c;
    if (j.is_number()) {
        c.constant = asNumber(j, path, lo, hi) * scale;
        return c;
    }
    ObjectFields o(j, path);
    c.spline = o.boolean("spline", false);
    const json &keys = o.need("keys");
    if (!keys.is_array() || keys.empty()) fail(o.at("keys"), "expected a non-empty array of [time, value] pairs");
    for (size_t i = 0; i < keys.size(); ++i) {
        std::string kp = o.at("keys") + "/" + std::to_string(i);
        if (!keys[i].is_array() || keys[i].size() != 2) fail(kp, "expected a [time, value] pair");
        Key k{asNumber(keys[i][0], kp + "/0", -kHuge, kHuge), asNumber(keys[i][1], kp + "/1", lo, hi) * scale};
        if (!c.keys.empty() && k.time <= c.keys.back().time) fail(kp + "/0", "key times must increase");
        c.keys.push_back(k);
    }
    o.finish();
    return c;
}

Channel optChannel(ObjectFields &o, const std::string &key, double def, double lo, double hi, double scale) {
    const json *v = o.get(key);
    return v ? readChannel(*v, o.at(key), lo, hi, scale) : Channel::fixed(def * scale);
}

Channel3 readChannel3(ObjectFields &o, const std::string &key, const Vec3 &def, double scale) {
    const json *v = o.get(key);
    if (!v) return Channel3::fixed(def[0] * scale, def[1] * scale, def[2] * scale);
    if (!v->is_array() || v->size() != 3) fail(o.at(key), "expected an array of three numbers or key lists");
    Channel3 r;
    for (int i = 0; i < 3; ++i)
        r.c[i] = readChannel((*v)[i], o.at(key) + "/" + std::to_string(i), -kHuge, kHuge, scale);
    return r;
}

json sourceDocument(const Scene &scene) {
    json root;
    util::Diagnostic error;
    if (scene.sourceText.empty() ||
        !parseJson(
            scene.sourceText, scene.filename, [](uint64_t) {}, root, error) ||
        !root.is_object())
        return json::object();
    return root;
}

std::string jsonTypeName(const nlohmann::json &j) {
    switch (j.type()) {
        case json::value_t::null:
            return "null";
        case json::value_t::boolean:
            return "a boolean";
        case json::value_t::string:
            return "a string";
        case json::value_t::array:
            return "an array";
        case json::value_t::object:
            return "an object";
        default:
            return "a number";
    }
}

// Parses JSON text as scene files are read: a first pass checks the syntax and nesting and
// estimates what the document will take, `charge` is told that before any of it is built (and
// may refuse by throwing a util::Diagnostic), and the second builds it, refusing a key given twice. On a
// syntax fault returns false with "LABEL: line L, column C: what is wrong" in `error`.
bool parseJson(const std::string &text, const std::string &label, const std::function<void(uint64_t)> &charge,
               json &root, util::Diagnostic &error) {
    // The parser takes a NUL byte for the end of the text; what follows it would go unread.
    if (const size_t nul = text.find('\0'); nul != std::string::npos) {
        error = util::Diagnostic::at(syntaxPlace(label, text, nul + 1),
                                     "a NUL byte: a JSON file is text, and nothing may follow the document");
        return false;
    }
    const char *last = text.data();
    const TrackingIterator begin(text.data(), &last), end(text.data() + text.size(), &last);
    JsonCost cost(text.data(), &last);
    if (!json::sax_parse(begin, end, &cost)) {
        if (cost.tooDeep)
            error = util::Diagnostic::at(
                syntaxPlace(label, text, cost.tooDeepAt + 1),
                "arrays and objects nest deeper than " + std::to_string(kMaxNesting) + " levels");
        else
            error = util::Diagnostic::at(syntaxPlace(label, text, cost.errorByte), syntaxMessage(cost.errorText));
        return false;
    }
    charge(cost.bytes);
    DomBuilder dom(root, text, &last);
    if (!json::sax_parse(begin, end, &dom)) {
        error =
            dom.duplicate.empty()
                ? util::Diagnostic::at(syntaxPlace(label, text, dom.errorByte), syntaxMessage(dom.errorText))
                : util::Diagnostic::at(syntaxPlace(label, text, dom.duplicateAt + 1),
                                       "duplicate key " + q(dom.duplicate) + " (an object names each key once)");
        return false;
    }
    return true;
}

}  // namespace host::scene
