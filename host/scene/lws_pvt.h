// SPDX-License-Identifier: Apache-2.0
// Shared by the host scene reader's files (lws_scene.cpp, lws_motion.cpp, lws_objects.cpp); not
// for use outside host/scene.
#pragma once

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

#include "host/io/file_io.h"
#include "host/scene/lws_scene.h"
#include "host/scene/mesh_import.h"
#include "host/util/diagnostic.h"
#include "host/util/text.h"

namespace host::scene {

constexpr double kDegree = 3.14159265358979323846 / 180;
constexpr size_t kMaxItems = 10000;                  // objects, lights, cameras and bones together
constexpr long long kMaxChannels = 1000;             // channels in one motion
constexpr long long kMaxEnvelopeKeys = 100000;       // keys in one envelope
constexpr size_t kMaxSceneKeys = 1000000;            // keys in the whole file
constexpr double kMaxNumber = 1e9;                   // the size of any number read
constexpr size_t kMaxWords = 2 * kMaxChannels + 16;  // words read from a line
constexpr int kMaxParentDepth = 256;                 // deepest parent chain; worldTransform walks no further

// Item id prefixes: the top hex digit of an id names the kind, the rest the index among its kind.
enum IdKind : uint32_t { kObjectId = 1, kLightId = 2, kCameraId = 3, kBoneId = 4 };

std::string_view trim(std::string_view s);

// The words of a line, separated by spaces and tabs; at most kMaxWords (no line needs more, and a
// long line of short words then costs no more memory than its text).
std::vector<std::string_view> words(std::string_view s);

// The line after its first n words, trimmed (a file or item name, which may hold spaces).
std::string_view after(std::string_view s, size_t n);

// A decimal number, the whole word, read as strtod reads it: to the nearest double, a number
// too small for one becoming 0 or a denormal; one too large for a double is an overflow.
enum class NumberRead { Ok, NotNumber, Overflow };
NumberRead number(std::string_view w, double &out);

// A whole decimal number, the whole word.
bool integer(std::string_view w, long long &out);

// An item id: one to eight hex digits.
bool itemId(std::string_view w, uint32_t &out);

std::string hexId(uint32_t id);

// A name's last path component without its extension; both separators count, as object paths
// in these files are often written on Windows.
std::string baseName(const std::string &path);

// Multiplies a channel's values, and with them its tangents and handles (every shape is linear in
// its values, so the curve scales with them).
void scaleChannel(Channel &c, double k);

// Reads a whole file's text line by line (lines end at \n, \r\n or a lone \r).
class TextLines {
public:
    explicit TextLines(const std::string &text) : text_(text) {}
    bool next(std::string_view &line) {
        if (pos_ >= text_.size()) return false;
        size_t end = text_.find_first_of("\r\n", pos_);
        if (end == std::string::npos) end = text_.size();
        line = std::string_view(text_).substr(pos_, end - pos_);
        pos_ = end;
        if (pos_ < text_.size() && text_[pos_] == '\r') ++pos_;
        if (pos_ < text_.size() && text_[pos_] == '\n' && (pos_ == end || text_[end] == '\r')) ++pos_;
        ++number_;
        return true;
    }
    int number() const { return number_; }

private:
    const std::string &text_;
    size_t pos_ = 0;
    int number_ = 0;
};

class LwsReader {
public:
    LwsReader(const std::string &text, std::string label, std::string folder)
        : lines_(text), label_(std::move(label)), folder_(std::move(folder)) {
        uint64_t avail = io::availableMemory();
        memoryLimit_ = avail ? avail / 2 : (8ull << 30);
    }

    std::unique_ptr<Scene> read();

private:
    // Refusals at a line; the file is named where they are caught.
    [[noreturn]] void fail(const std::string &what) const { failAt(lines_.number(), what); }
    [[noreturn]] void failAt(int line, const std::string &what) const {
        throw util::Diagnostic::at(util::FileLoc::atLine("", line), what);
    }

    bool nextLine() { return lines_.next(line_); }

    // The next line that is not blank; refuses at the end of the file, saying what was expected.
    std::vector<std::string_view> nextWords(const std::string &expected);

    double num(std::string_view w, const std::string &what, double lo = -kMaxNumber, double hi = kMaxNumber);

    long long whole(std::string_view w, const std::string &what, long long lo, long long hi);

    // The words of the current line must number at least n (the keyword included).
    void need(const std::vector<std::string_view> &w, size_t n, const std::string &what);

    void readHeader();

    // Skips a block opened on `openLine` up to its closing brace, nested blocks included.
    void skipBlock(int openLine);

    // Plug-in data between Plugin and EndPlugin follows no rule of this format: skipped whole.
    void skipPlugin();

    // ---- items ------------------------------------------------------------------------------

    template <typename T>
    T *addItem(IdKind kind, uint32_t id, bool explicitId, size_t &counter) {
        if (scene_->items.size() >= kMaxItems)
            fail("more than " + std::to_string(kMaxItems) + " items; the scene is refused");
        if (!explicitId) id = (static_cast<uint32_t>(kind) << 28) | static_cast<uint32_t>(counter & 0x0fffffff);
        ++counter;
        auto found = ids_.find(id);
        if (found != ids_.end())
            fail(util::quote(line_) + ": item id " + hexId(id) + " is already used (line " +
                 std::to_string(found->second.line) + ")");
        auto item = std::make_unique<T>();
        T *raw = item.get();
        scene_->items.push_back(std::move(item));
        ids_[id] = {raw, lines_.number()};
        current_ = raw;
        return raw;
    }

    // An explicit item id after the keyword (files of version 4 and later give one).
    bool readId(const std::vector<std::string_view> &w, size_t at, uint32_t &id);

    void statement(const std::vector<std::string_view> &w);

    LightItem *light();

    bool lightStatement(const std::vector<std::string_view> &w);

    bool cameraStatement(const std::vector<std::string_view> &w);

    bool sceneStatement(const std::vector<std::string_view> &w);

    std::pair<int, int> frameSize(const std::vector<std::string_view> &w);

    Vec3 vec3(const std::vector<std::string_view> &w, const std::string &what);

    // A colour: three components, 0..1 (0..255 in version 2 files), each a number or an envelope,
    // which gives its value at the first frame.
    Vec3 color(const std::vector<std::string_view> &w, const std::string &what);

    // A value given as a number or as "(envelope)" with the envelope's block on the next lines;
    // the number (and every key of an envelope) must lie in [lo, hi] before `scale` applies.
    Channel valueOrEnvelope(const std::vector<std::string_view> &w, const std::string &what, double lo, double hi,
                            double scale);

    // ---- motion -----------------------------------------------------------------------------

    struct MotionState {
        Item *item = nullptr;
        long long declared = -1, seen = 0;
        int line = 0;
        std::map<long long, int> channelLine;  // each channel given, and its line
    };

    Channel &motionChannel(Item &item, int index);

    void closeMotion();

    // The next line must open an envelope block; reads it into c.
    void expectEnvelope(Channel &c);

    // An envelope block, after its opening line: the number of keys, the keys
    // ("Key value time shape p1 ... p6") and the behaviours ("Behaviors pre post").
    void readEnvelope(Channel &c, int openLine);

    void addKey(Channel &c, const Key &k);

    // The motion of version 2 files: the number of channels, then for each the number of keys and
    // one line per key ("value time span tension continuity bias"). Keys are TCB keys; angles are
    // in degrees. Pre/PostBehavior may follow with two numbers per channel.
    void readOldMotion(Item &item);

    void readOldBehaviors(const std::vector<std::string_view> &w);

    // ---- objects ----------------------------------------------------------------------------

    // Where an object file named in the scene is: as written (absolute, or from the scene's
    // folder), from the content folder above the scene's folder (scenes and objects in sibling
    // folders), or in the scene's folder by its bare name. Empty when none exists.
    std::string findObjectFile(std::string file) const;

    void loadObject(ObjectItem &obj, const std::string &file, int layer);

    // The scene's surface of that name, made from `s` when there is none yet.
    int addSurface(Surface s);

    int defaultSurface();

    // ---- the whole scene --------------------------------------------------------------------

    void finish();

    // Corner normals for layers with polygons on surfaces that smooth within an angle, once every
    // object has brought its surfaces; their memory counts with the objects'.
    void smoothAll();

    // Every item's name unique: a later item with a taken name gets " (2)", " (3)", ... after it,
    // which keeps the name's start (lights are picked by name prefix).
    void uniqueNames();

    struct IdEntry {
        Item *item;
        int line;
    };
    struct Parenting {
        Item *child;
        uint32_t id;
        int line;
    };

    TextLines lines_;
    std::string_view line_;
    std::string label_, folder_;
    int version_ = 0;
    std::unique_ptr<Scene> scene_;
    Item *current_ = nullptr;
    size_t objects_ = 0, lights_ = 0, cameras_ = 0, bones_ = 0;
    std::map<uint32_t, IdEntry> ids_;
    std::vector<Parenting> parents_;
    std::set<Item *> pivotGiven_;
    std::map<Item *, Vec3> layerPivot_;
    std::map<std::string, int> surfaceByName_;
    std::map<const ObjectItem *, int> objectLine_;  // where each object was loaded
    std::map<CameraItem *, std::pair<int, int>> cameraSizes_;
    std::set<CameraItem *> globalCameras_;
    std::pair<int, int> globalSize_{0, 0};
    int firstFrameLine_ = 0, lastFrameLine_ = 0;
    MotionState motion_;
    std::vector<Channel *> oldChannels_;
    int oldMotionLine_ = 0;
    size_t keysRead_ = 0;
    uint64_t meshBytes_ = 0, memoryLimit_ = 0;
};

}  // namespace host::scene
