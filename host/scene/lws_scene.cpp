#include "host/scene/lws_scene.h"

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
#include "host/scene/mesh_import.h"
#include "host/util/text.h"

namespace host::scene {

namespace {

using util::numberText;
using util::quote;

constexpr double kDegree = 3.14159265358979323846 / 180;
constexpr size_t kMaxItems = 10000;                  // objects, lights, cameras and bones together
constexpr long long kMaxChannels = 1000;             // channels in one motion
constexpr long long kMaxEnvelopeKeys = 100000;       // keys in one envelope
constexpr size_t kMaxSceneKeys = 1000000;            // keys in the whole file
constexpr double kMaxNumber = 1e9;                   // the size of any number read
constexpr size_t kMaxWords = 2 * kMaxChannels + 16;  // words read from a line

// Item id prefixes: the top hex digit of an id names the kind, the rest the index among its kind.
enum IdKind : uint32_t { kObjectId = 1, kLightId = 2, kCameraId = 3, kBoneId = 4 };

struct Refusal {
    int line;
    std::string message;
};

std::string_view trim(std::string_view s) {
    size_t a = 0, b = s.size();
    while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
    while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t')) --b;
    return s.substr(a, b - a);
}

// The words of a line, separated by spaces and tabs; at most kMaxWords (no line needs more, and a
// long line of short words then costs no more memory than its text).
std::vector<std::string_view> words(std::string_view s) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < s.size() && out.size() < kMaxWords) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
        size_t start = i;
        while (i < s.size() && s[i] != ' ' && s[i] != '\t') ++i;
        if (i > start) out.push_back(s.substr(start, i - start));
    }
    return out;
}

// The line after its first n words, trimmed (a file or item name, which may hold spaces).
std::string_view after(std::string_view s, size_t n) {
    size_t i = 0;
    for (size_t k = 0; k < n; ++k) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
        while (i < s.size() && s[i] != ' ' && s[i] != '\t') ++i;
    }
    return trim(s.substr(i));
}

// A decimal number: the whole word, finite and within kMaxNumber.
bool number(std::string_view w, double &out) {
    if (w.empty() || w.size() > 64) return false;
    for (char c : w)
        if (!((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E')) return false;
    std::string s(w);
    char *end = nullptr;
    errno = 0;
    double v = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size() || errno == ERANGE || !std::isfinite(v) || std::fabs(v) > kMaxNumber)
        return false;
    out = v;
    return true;
}

// A whole decimal number, the whole word.
bool integer(std::string_view w, long long &out) {
    size_t i = (!w.empty() && (w[0] == '-' || w[0] == '+')) ? 1 : 0;
    if (i == w.size() || w.size() - i > 12) return false;
    long long v = 0;
    for (size_t k = i; k < w.size(); ++k) {
        if (w[k] < '0' || w[k] > '9') return false;
        v = v * 10 + (w[k] - '0');
    }
    out = w[0] == '-' ? -v : v;
    return true;
}

// An item id: one to eight hex digits.
bool itemId(std::string_view w, uint32_t &out) {
    if (w.empty() || w.size() > 8) return false;
    uint32_t v = 0;
    for (char c : w) {
        int d = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
        if (d < 0) return false;
        v = v * 16 + static_cast<uint32_t>(d);
    }
    out = v;
    return true;
}

std::string hexId(uint32_t id) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", id);
    return buf;
}

// A name's last path component without its extension; both separators count, as object paths
// in these files are often written on Windows.
std::string baseName(const std::string &path) {
    size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// Multiplies a channel's values, and with them its tangents and handles (every shape is linear in
// its values, so the curve scales with them).
void scaleChannel(Channel &c, double k) {
    c.constant *= k;
    for (Key &key : c.keys) {
        key.value *= k;
        key.inTangent *= k;
        key.outTangent *= k;
        key.inDv *= k;
        key.outDv *= k;
    }
}

// Reads a whole file's text line by line (lines end at \n, \r\n or a lone \r).
class Lines {
public:
    explicit Lines(const std::string &text) : text_(text) {}
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

class Reader {
public:
    Reader(const std::string &text, std::string label, std::string folder)
        : lines_(text), label_(std::move(label)), folder_(std::move(folder)) {
        uint64_t avail = io::availableMemory();
        memoryLimit_ = avail ? avail / 2 : (8ull << 30);
    }

    std::unique_ptr<Scene> read() {
        scene_ = std::make_unique<Scene>();
        scene_->filename = label_;
        scene_->folder = folder_;
        scene_->name = baseName(label_);
        scene_->source = nlohmann::json();
        readHeader();
        while (nextLine()) {
            std::vector<std::string_view> w = words(line_);
            if (w.empty()) continue;
            if (motion_.item && w[0] != "NumChannels" && w[0] != "Channel") closeMotion();
            if (w[0][0] == '{') {
                skipBlock(lines_.number());
            } else if (w[0] == "Plugin") {
                skipPlugin();
            } else {
                statement(w);
            }
        }
        if (motion_.item) closeMotion();
        finish();
        return std::move(scene_);
    }

private:
    [[noreturn]] void fail(const std::string &what) const { throw Refusal{lines_.number(), what}; }
    [[noreturn]] void failAt(int line, const std::string &what) const { throw Refusal{line, what}; }

    bool nextLine() { return lines_.next(line_); }

    // The next line that is not blank; refuses at the end of the file, saying what was expected.
    std::vector<std::string_view> nextWords(const std::string &expected) {
        while (nextLine()) {
            std::vector<std::string_view> w = words(line_);
            if (!w.empty()) return w;
        }
        fail("the file ends where " + expected + " should follow");
    }

    double num(std::string_view w, const std::string &what, double lo = -kMaxNumber, double hi = kMaxNumber) {
        double v = 0;
        if (!number(w, v)) fail(quote(line_) + ": " + what + " must be a number, not " + quote(w));
        if (v < lo || v > hi)
            fail(quote(line_) + ": " + what + " " + numberText(v, 10) + " is out of range [" + numberText(lo, 10) +
                 ", " + numberText(hi, 10) + "]");
        return v;
    }

    long long whole(std::string_view w, const std::string &what, long long lo, long long hi) {
        long long v = 0;
        if (!integer(w, v)) fail(quote(line_) + ": " + what + " must be a whole number, not " + quote(w));
        if (v < lo || v > hi)
            fail(quote(line_) + ": " + what + " " + std::to_string(v) + " is out of range [" + std::to_string(lo) +
                 ", " + std::to_string(hi) + "]");
        return v;
    }

    // The words of the current line must number at least n (the keyword included).
    void need(const std::vector<std::string_view> &w, size_t n, const std::string &what) {
        if (w.size() < n) fail(quote(line_) + ": expected " + what);
    }

    void readHeader() {
        std::vector<std::string_view> w = nextWords("the LWSC tag");
        // A UTF-8 byte order mark before the tag is allowed.
        std::string_view tag = w[0];
        if (tag.size() >= 3 && tag.substr(0, 3) == "\xEF\xBB\xBF") tag.remove_prefix(3);
        if (tag != "LWSC" || w.size() != 1) fail(quote(line_) + ": not a host scene file (it starts with LWSC)");
        w = nextWords("the format version");
        if (w.size() != 1) fail(quote(line_) + ": expected the format version");
        version_ = static_cast<int>(whole(w[0], "the format version", 1, 1000));
        if (version_ < 2) fail("scene files of version 1 are not read (versions 2 and later are)");
    }

    // Skips a block opened on `openLine` up to its closing brace, nested blocks included.
    void skipBlock(int openLine) {
        long long depth = 1;
        while (nextLine()) {
            std::string_view t = trim(line_);
            if (t.empty()) continue;
            if (t[0] == '{') ++depth;
            if (t[0] == '}' && --depth == 0) return;
        }
        fail("the file ends inside the block opened on line " + std::to_string(openLine));
    }

    // Plug-in data between Plugin and EndPlugin follows no rule of this format: skipped whole.
    void skipPlugin() {
        int open = lines_.number();
        while (nextLine())
            if (trim(line_).substr(0, 9) == "EndPlugin") return;
        fail("the file ends inside the Plugin opened on line " + std::to_string(open));
    }

    // ---- items ------------------------------------------------------------------------------

    template <typename T>
    T *addItem(IdKind kind, uint32_t id, bool explicitId, size_t &counter) {
        if (scene_->items.size() >= kMaxItems)
            fail("more than " + std::to_string(kMaxItems) + " items; the scene is refused");
        if (!explicitId) id = (static_cast<uint32_t>(kind) << 28) | static_cast<uint32_t>(counter & 0x0fffffff);
        ++counter;
        auto found = ids_.find(id);
        if (found != ids_.end())
            fail(quote(line_) + ": item id " + hexId(id) + " is already used (line " +
                 std::to_string(found->second.line) + ")");
        auto item = std::make_unique<T>();
        T *raw = item.get();
        scene_->items.push_back(std::move(item));
        ids_[id] = {raw, lines_.number()};
        current_ = raw;
        return raw;
    }

    // An explicit item id after the keyword (files of version 4 and later give one).
    bool readId(const std::vector<std::string_view> &w, size_t at, uint32_t &id) {
        if (version_ < 4) return false;
        if (w.size() <= at || !itemId(w[at], id)) fail(quote(line_) + ": expected the item id (hex digits)");
        return true;
    }

    void statement(const std::vector<std::string_view> &w) {
        const std::string_view kw = w[0];
        uint32_t id = 0;
        if (kw == "LoadObjectLayer") {
            need(w, 3, "a layer number and an object file");
            int layer = static_cast<int>(whole(w[1], "the layer number", 1, 1000000));
            bool explicitId = readId(w, 2, id);
            std::string file(after(line_, explicitId ? 3 : 2));
            if (file.empty()) fail(quote(line_) + ": expected an object file after the layer number");
            ObjectItem *o = addItem<ObjectItem>(kObjectId, id, explicitId, objects_);
            loadObject(*o, file, layer);
        } else if (kw == "LoadObject") {
            need(w, 2, "an object file");
            bool explicitId = readId(w, 1, id);
            std::string file(after(line_, explicitId ? 2 : 1));
            if (file.empty()) fail(quote(line_) + ": expected an object file");
            ObjectItem *o = addItem<ObjectItem>(kObjectId, id, explicitId, objects_);
            loadObject(*o, file, 0);
        } else if (kw == "AddNullObject") {
            bool explicitId = readId(w, 1, id);
            ObjectItem *o = addItem<ObjectItem>(kObjectId, id, explicitId, objects_);
            o->name = std::string(after(line_, explicitId ? 2 : 1));
            if (o->name.empty()) o->name = "Null";
            o->filename = "null";
            scene_->objects.push_back(o);
        } else if (kw == "AddLight") {
            bool explicitId = readId(w, 1, id);
            LightItem *l = addItem<LightItem>(kLightId, id, explicitId, lights_);
            l->name = "Light";
            scene_->lights.push_back(l);
        } else if (kw == "AddCamera") {
            bool explicitId = readId(w, 1, id);
            CameraItem *c = addItem<CameraItem>(kCameraId, id, explicitId, cameras_);
            c->name = "Camera";
            scene_->cameras.push_back(c);
        } else if (kw == "AddBone") {
            ObjectItem *owner = current_ && current_->kind == ItemKind::Object
                                    ? static_cast<ObjectItem *>(current_)
                                : current_ && current_->kind == ItemKind::Bone
                                    ? static_cast<ObjectItem *>(static_cast<BoneItem *>(current_)->object)
                                    : nullptr;
            if (!owner) fail(quote(line_) + ": a bone must follow the object it belongs to");
            bool explicitId = readId(w, 1, id);
            BoneItem *b = addItem<BoneItem>(kBoneId, id, explicitId, bones_);
            b->name = "Bone";
            b->object = owner;
            b->parent = owner;
            scene_->bones.push_back(b);
        } else if (kw == "ObjectMotion" || kw == "LightMotion" || kw == "CameraMotion" || kw == "BoneMotion") {
            ItemKind kind = kw[0] == 'O'   ? ItemKind::Object
                            : kw[0] == 'L' ? ItemKind::Light
                            : kw[0] == 'C' ? ItemKind::Camera
                                           : ItemKind::Bone;
            if (!current_ || current_->kind != kind)
                fail(quote(line_) + ": a motion must follow the item it moves");
            if (version_ <= 2) {
                readOldMotion(*current_);
            } else {
                motion_ = MotionState();
                motion_.item = current_;
                motion_.line = lines_.number();
            }
        } else if (kw == "NumChannels") {
            if (!motion_.item) return;
            need(w, 2, "the number of channels");
            motion_.declared = whole(w[1], "the number of channels", 0, kMaxChannels);
            motion_.line = lines_.number();
        } else if (kw == "Channel") {
            if (!motion_.item) return;
            need(w, 2, "the channel number");
            long long index = whole(w[1], "the channel number", 0, kMaxChannels - 1);
            if (motion_.declared >= 0 && index >= motion_.declared)
                fail(quote(line_) + ": channel " + std::to_string(index) + " is past the " +
                     std::to_string(motion_.declared) + " that NumChannels declares");
            ++motion_.seen;
            // Channels past the nine of position, rotation and scale are read and dropped.
            Channel unused;
            expectEnvelope(index < 9 ? motionChannel(*motion_.item, static_cast<int>(index)) : unused);
        } else if (kw == "Pre/PostBehavior") {
            readOldBehaviors(w);
        } else if (kw == "ParentItem" || kw == "ParentObject") {
            if (!current_) return;
            need(w, 2, kw == "ParentItem" ? "the parent's item id" : "the parent's object number");
            Parenting p{current_, 0, lines_.number()};
            if (kw == "ParentItem") {
                if (!itemId(w[1], p.id)) fail(quote(line_) + ": expected the parent's item id (hex digits)");
            } else {
                long long n = whole(w[1], "the parent's object number", 1, static_cast<long long>(kMaxItems));
                p.id = (static_cast<uint32_t>(kObjectId) << 28) | static_cast<uint32_t>(n - 1);
            }
            // An item's last ParentItem counts (an item's lines all come before the next item's).
            if (!parents_.empty() && parents_.back().child == current_)
                parents_.back() = p;
            else
                parents_.push_back(p);
        } else if (kw == "PivotPosition" || kw == "PivotPoint") {
            if (!current_) return;
            current_->motion.pivot = vec3(w, "the pivot");
            pivotGiven_.insert(current_);
        } else if (kw == "PivotRotation") {
            if (!current_) return;
            Vec3 r = vec3(w, "the pivot rotation");
            current_->motion.pivotRotation = {r[0] * kDegree, r[1] * kDegree, r[2] * kDegree};
        } else if (!lightStatement(w) && !cameraStatement(w)) {
            sceneStatement(w);  // anything else has no place in the model and is skipped
        }
    }

    LightItem *light() {
        return current_ && current_->kind == ItemKind::Light ? static_cast<LightItem *>(current_) : nullptr;
    }

    bool lightStatement(const std::vector<std::string_view> &w) {
        const std::string_view kw = w[0];
        LightItem *l = light();
        if (kw == "LightName" || kw == "BoneName") {
            if (!current_ || current_->kind != (kw[0] == 'L' ? ItemKind::Light : ItemKind::Bone)) return true;
            std::string name(after(line_, 1));
            if (!name.empty()) current_->name = name;
            return true;
        }
        if (kw == "BoneRestLength") {
            if (current_ && current_->kind == ItemKind::Bone) {
                need(w, 2, "the rest length");
                static_cast<BoneItem *>(current_)->restLength = num(w[1], "the rest length", 0, kMaxNumber);
            }
            return true;
        }
        if (!l) return false;
        if (kw == "LightColor") {
            l->color = color(w, "the light colour");
        } else if (kw == "LightIntensity" || kw == "LgtIntensity") {
            l->intensity = valueOrEnvelope(w, "the intensity", 0, kMaxNumber, 1);
        } else if (kw == "LightType") {
            need(w, 2, "the light type");
            l->type = static_cast<LightType>(whole(w[1], "the light type (0 distant to 4 area)", 0, 4));
        } else if (kw == "LightFalloffType") {
            need(w, 2, "the falloff type");
            l->falloff = static_cast<Falloff>(whole(w[1], "the falloff type (0 off to 3 inverse square)", 0, 3));
        } else if (kw == "LightRange") {
            l->range = valueOrEnvelope(w, "the range", 1e-9, kMaxNumber, 1);
        } else if (kw == "LightConeAngle") {
            l->coneAngle = valueOrEnvelope(w, "the cone angle", 0.01, 179.9, kDegree);
        } else if (kw == "LightEdgeAngle") {
            l->coneEdge = valueOrEnvelope(w, "the edge angle", 0, 179.9, kDegree);
        } else if (kw == "ShadowType") {
            need(w, 2, "the shadow type");
            l->shadow = static_cast<ShadowType>(whole(w[1], "the shadow type (0 off, 1 ray traced, 2 map)", 0, 2));
        } else if (kw == "ShadowColor") {
            l->shadowColor = color(w, "the shadow colour");
        } else if (kw == "AffectDiffuse" || kw == "AffectSpecular" || kw == "AffectCaustics") {
            need(w, 2, "0 or 1");
            bool off = whole(w[1], "the flag", 0, 1) == 0;
            (kw == "AffectDiffuse" ? l->noDiffuse : kw == "AffectSpecular" ? l->noSpecular : l->noCaustics) = off;
        } else {
            return false;
        }
        return true;
    }

    bool cameraStatement(const std::vector<std::string_view> &w) {
        const std::string_view kw = w[0];
        if (kw == "GlobalFrameSize") {
            globalSize_ = frameSize(w);
            return true;
        }
        if (!current_ || current_->kind != ItemKind::Camera) return false;
        auto *cam = static_cast<CameraItem *>(current_);
        if (kw == "CameraName") {
            std::string name(after(line_, 1));
            if (!name.empty()) cam->name = name;
        } else if (kw == "ZoomFactor") {
            cam->zoom = valueOrEnvelope(w, "the zoom factor", 1e-6, 1e6, 1);
        } else if (kw == "FrameSize" || kw == "CustomSize") {
            cameraSizes_[cam] = frameSize(w);
        } else if (kw == "UseGlobalResolution") {
            need(w, 2, "0 or 1");
            if (whole(w[1], "the flag", 0, 1)) globalCameras_.insert(cam);
        } else if (kw == "PixelAspect" || kw == "CustomPixelRatio") {
            need(w, 2, "the pixel aspect");
            if (cam == scene_->cameras.front())
                scene_->render.pixelAspect = num(w[1], "the pixel aspect", 0.1, 10);
        } else {
            return false;
        }
        return true;
    }

    bool sceneStatement(const std::vector<std::string_view> &w) {
        const std::string_view kw = w[0];
        RenderOptions &r = scene_->render;
        if (kw == "FirstFrame" || kw == "LastFrame" || kw == "FrameStep") {
            need(w, 2, "a frame number");
            if (kw == "FrameStep") {
                r.frameStep = static_cast<int>(whole(w[1], "the frame step", 1, 1000000000));
            } else {
                int f = static_cast<int>(whole(w[1], "the frame", -1000000000, 1000000000));
                (kw == "FirstFrame" ? r.frameStart : r.frameEnd) = f;
                (kw == "FirstFrame" ? firstFrameLine_ : lastFrameLine_) = lines_.number();
            }
        } else if (kw == "FramesPerSecond") {
            need(w, 2, "the frame rate");
            r.fps = num(w[1], "the frame rate", 1e-3, 1e6);
        } else if (kw == "AmbientColor") {
            scene_->ambientColor = color(w, "the ambient colour");
        } else if (kw == "AmbientIntensity" || kw == "AmbIntensity") {
            Channel c = valueOrEnvelope(w, "the ambient intensity", 0, 1e6, 1);
            scene_->ambientIntensity = c.at(scene_->frameTime(r.frameStart));
        } else if (kw == "BackdropColor") {
            scene_->backdrop.color = color(w, "the backdrop colour");
        } else if (kw == "SolidBackdrop") {
            need(w, 2, "0 or 1");
            scene_->backdrop.kind = whole(w[1], "the flag", 0, 1) ? BackdropKind::Solid : BackdropKind::Gradient;
        } else if (kw == "ZenithColor") {
            scene_->backdrop.zenith = color(w, "the zenith colour");
        } else if (kw == "SkyColor") {
            scene_->backdrop.sky = color(w, "the sky colour");
        } else if (kw == "GroundColor") {
            scene_->backdrop.ground = color(w, "the ground colour");
        } else if (kw == "NadirColor") {
            scene_->backdrop.nadir = color(w, "the nadir colour");
        } else if (kw == "SkySqueezeAmount" || kw == "GroundSqueezeAmount") {
            need(w, 2, "the squeeze");
            (kw[0] == 'S' ? scene_->backdrop.skySqueeze : scene_->backdrop.groundSqueeze) =
                num(w[1], "the squeeze", 0.01, 1000);
        } else if (kw == "RayRecursionLimit") {
            need(w, 2, "the recursion limit");
            r.recursionLimit =
                static_cast<int>(std::min<long long>(whole(w[1], "the recursion limit", 0, 1000000), 64));
        } else if (kw == "RayCutoff") {
            need(w, 2, "the ray cutoff");
            r.rayCutoff = num(w[1], "the ray cutoff", 0, 1);
        } else {
            return false;
        }
        return true;
    }

    std::pair<int, int> frameSize(const std::vector<std::string_view> &w) {
        need(w, 3, "a width and a height");
        return {static_cast<int>(whole(w[1], "the width", 1, 16384)),
                static_cast<int>(whole(w[2], "the height", 1, 16384))};
    }

    Vec3 vec3(const std::vector<std::string_view> &w, const std::string &what) {
        need(w, 4, "three numbers for " + what);
        return {num(w[1], what), num(w[2], what), num(w[3], what)};
    }

    // A colour: three components, 0..1 (0..255 in version 2 files), each a number or an envelope,
    // which gives its value at the first frame.
    Vec3 color(const std::vector<std::string_view> &w, const std::string &what) {
        need(w, 4, "three components for " + what);
        double scale = version_ <= 2 ? 1.0 / 255 : 1.0;
        std::vector<std::string> parts(w.begin() + 1, w.begin() + 4);
        Vec3 c{};
        for (int i = 0; i < 3; ++i) {
            if (parts[i] == "(envelope)") {
                Channel env;
                expectEnvelope(env);
                c[i] = env.at(scene_->frameTime(scene_->render.frameStart)) * scale;
            } else {
                c[i] = num(parts[i], what, 0, 1e6) * scale;
            }
        }
        return c;
    }

    // A value given as a number or as "(envelope)" with the envelope's block on the next lines;
    // the number (and every key of an envelope) must lie in [lo, hi] before `scale` applies.
    Channel valueOrEnvelope(const std::vector<std::string_view> &w, const std::string &what, double lo, double hi,
                            double scale) {
        need(w, 2, what);
        Channel c;
        if (w[1] == "(envelope)") {
            int line = lines_.number();
            expectEnvelope(c);
            for (const Key &k : c.keys)
                if (k.value < lo || k.value > hi)
                    failAt(line, "a key of " + what + "'s envelope, " + numberText(k.value, 10) +
                                     ", is out of range [" + numberText(lo, 10) + ", " + numberText(hi, 10) + "]");
        } else {
            c = Channel::fixed(num(w[1], what, lo, hi));
        }
        scaleChannel(c, scale);
        return c;
    }

    // ---- motion -----------------------------------------------------------------------------

    struct MotionState {
        Item *item = nullptr;
        long long declared = -1, seen = 0;
        int line = 0;
    };

    Channel &motionChannel(Item &item, int index) {
        Channel3 &group = index < 3 ? item.motion.position : index < 6 ? item.motion.rotation : item.motion.scale;
        return group.c[index % 3];
    }

    void closeMotion() {
        if (motion_.declared >= 0 && motion_.seen != motion_.declared)
            failAt(motion_.line, "NumChannels declares " + std::to_string(motion_.declared) + " channels but " +
                                     std::to_string(motion_.seen) + " follow");
        motion_ = MotionState();
    }

    // The next line must open an envelope block; reads it into c.
    void expectEnvelope(Channel &c) {
        std::vector<std::string_view> w = nextWords("an envelope");
        std::string_view open = w[0];
        bool ok = open == "{" ? w.size() >= 2 && w[1] == "Envelope" : open == "{Envelope";
        if (!ok) fail(quote(line_) + ": expected an envelope ({ Envelope)");
        readEnvelope(c, lines_.number());
    }

    // An envelope block, after its opening line: the number of keys, the keys
    // ("Key value time shape p1 ... p6") and the behaviours ("Behaviors pre post").
    void readEnvelope(Channel &c, int openLine) {
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
                    fail(quote(line_) + ": more keys than the " + std::to_string(declared) +
                         " the envelope declares");
                if (w.size() < 10)
                    fail(quote(line_) + ": a key needs a value, a time, a shape and six parameters");
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

    void addKey(Channel &c, const Key &k) {
        if (!c.keys.empty() && !(k.time > c.keys.back().time))
            fail(quote(line_) + ": the key's time " + numberText(k.time, 10) +
                 " is not after the previous key's " + numberText(c.keys.back().time, 10));
        if (++keysRead_ > kMaxSceneKeys)
            fail("more than " + std::to_string(kMaxSceneKeys) + " keys in the file; the scene is refused");
        c.keys.push_back(k);
    }

    // The motion of version 2 files: the number of channels, then for each the number of keys and
    // one line per key ("value time span tension continuity bias"). Keys are TCB keys; angles are
    // in degrees. Pre/PostBehavior may follow with two numbers per channel.
    void readOldMotion(Item &item) {
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

    void readOldBehaviors(const std::vector<std::string_view> &w) {
        if (oldChannels_.empty()) return;
        if (w.size() < 1 + 2 * oldChannels_.size())
            fail(quote(line_) + ": expected two behaviours for each of the " +
                 std::to_string(oldChannels_.size()) + " channels of the motion on line " +
                 std::to_string(oldMotionLine_));
        for (size_t i = 0; i < oldChannels_.size(); ++i) {
            oldChannels_[i]->pre = static_cast<Behavior>(whole(w[1 + 2 * i], "a pre behaviour", 0, 5));
            oldChannels_[i]->post = static_cast<Behavior>(whole(w[2 + 2 * i], "a post behaviour", 0, 5));
        }
        oldChannels_.clear();
    }

    // ---- objects ----------------------------------------------------------------------------

    // Where an object file named in the scene is: as written (absolute, or from the scene's
    // folder), from the content folder above the scene's folder (scenes and objects in sibling
    // folders), or in the scene's folder by its bare name. Empty when none exists.
    std::string findObjectFile(std::string file) const {
        std::replace(file.begin(), file.end(), '\\', '/');
        std::vector<std::string> tries;
        if (!file.empty() && file[0] == '/') tries.push_back(file);
        tries.push_back(folder_ + "/" + file);
        tries.push_back(folder_ + "/../" + file);
        size_t slash = file.find_last_of('/');
        if (slash != std::string::npos) tries.push_back(folder_ + "/" + file.substr(slash + 1));
        for (const std::string &t : tries)
            if (io::fileId(t).valid) return t;
        return {};
    }

    void loadObject(ObjectItem &obj, const std::string &file, int layer) {
        std::string path = findObjectFile(file);
        if (path.empty())
            fail(quote(line_) + ": object file " + quote(file) + " not found (looked beside the scene file, in " +
                 "the content folder above it and for its bare name)");
        if (meshBytes_ >= memoryLimit_)
            fail(quote(line_) + ": the objects loaded so far take the " + io::byteText(memoryLimit_) +
                 " of memory the scene may take");
        ImportedMesh mesh;
        std::string why;
        if (!importMesh(path, layer, mesh, why, memoryLimit_ - meshBytes_)) fail(quote(line_) + ": " + why);
        if (mesh.layers.empty()) fail(quote(line_) + ": object file " + quote(file) + " has no layer to load");
        meshBytes_ += mesh.bytes;

        // Surfaces are shared by name across the scene's objects: the first object to bring a
        // name defines it, as the scene's overlay and shaders address surfaces by name.
        std::vector<int> surfaceIndex;
        for (Surface &s : mesh.surfaces) surfaceIndex.push_back(addSurface(std::move(s)));
        int fallback = -1;  // polygons the file gives no surface
        for (ImportedLayer &l : mesh.layers) {
            for (MeshPolygon &p : l.mesh.polygons) {
                if (p.surface >= 0 && static_cast<size_t>(p.surface) < surfaceIndex.size()) {
                    p.surface = surfaceIndex[static_cast<size_t>(p.surface)];
                } else {
                    if (fallback < 0) fallback = defaultSurface();
                    p.surface = fallback;
                }
            }
            l.mesh.index = l.index;
            finishLayer(l.mesh);
            obj.layers.push_back(std::move(l.mesh));
        }
        obj.filename = path;
        // Named by the file; a layer loaded alone adds its name (or its number past the first).
        obj.name = baseName(file);
        if (layer > 0) {
            const ImportedLayer &l = mesh.layers.front();
            if (!l.name.empty())
                obj.name += ":" + l.name;
            else if (layer > 1)
                obj.name += ":" + std::to_string(layer);
            layerPivot_[&obj] = l.pivot;
        }
        scene_->inputFiles.insert(scene_->inputFiles.end(), mesh.files.begin(), mesh.files.end());
        objectLine_[&obj] = lines_.number();
        scene_->objects.push_back(&obj);
    }

    // The scene's surface of that name, made from `s` when there is none yet.
    int addSurface(Surface s) {
        auto found = surfaceByName_.find(s.name);
        if (found != surfaceByName_.end()) return found->second;
        int i = static_cast<int>(scene_->surfaces.size());
        surfaceByName_[s.name] = i;
        scene_->surfaces.push_back(std::make_unique<Surface>(std::move(s)));
        return i;
    }

    int defaultSurface() {
        Surface s;
        s.name = "Default";
        return addSurface(std::move(s));
    }

    // ---- the whole scene --------------------------------------------------------------------

    void finish() {
        for (const Parenting &p : parents_) {
            auto found = ids_.find(p.id);
            if (found == ids_.end()) failAt(p.line, "the parent " + hexId(p.id) + " is no item of the scene");
            if (found->second.item == p.child) failAt(p.line, "an item cannot be its own parent");
            p.child->parent = found->second.item;
        }
        for (const Parenting &p : parents_) {
            size_t steps = 0;
            for (const Item *up = p.child->parent; up; up = up->parent)
                if (up == p.child || ++steps > scene_->items.size())
                    failAt(p.line, "the parenting makes a loop: the item is its own ancestor");
        }
        // A layer loaded alone turns about its own pivot unless the scene gives one.
        for (const auto &lp : layerPivot_)
            if (!pivotGiven_.count(lp.first)) lp.first->motion.pivot = lp.second;

        RenderOptions &r = scene_->render;
        if (r.frameEnd < r.frameStart)
            failAt(lastFrameLine_ ? lastFrameLine_ : firstFrameLine_, "LastFrame " + std::to_string(r.frameEnd) +
                                                                          " is before FirstFrame " +
                                                                          std::to_string(r.frameStart));
        if (scene_->cameras.empty()) failAt(lines_.number(), "the scene has no camera (AddCamera)");
        scene_->camera = scene_->cameras.front();
        auto own = cameraSizes_.find(scene_->cameras.front());
        bool global = globalCameras_.count(scene_->cameras.front()) && globalSize_.first > 0;
        std::pair<int, int> size = own != cameraSizes_.end() && !global ? own->second
                                   : globalSize_.first > 0              ? globalSize_
                                                                        : std::make_pair(r.width, r.height);
        r.width = size.first;
        r.height = size.second;
        if (scene_->surfaces.empty()) defaultSurface();
        smoothAll();
        uniqueNames();
    }

    // Corner normals for layers with polygons on surfaces that smooth within an angle, once every
    // object has brought its surfaces; their memory counts with the objects'.
    void smoothAll() {
        for (ObjectItem *obj : scene_->objects)
            for (MeshLayer &layer : obj->layers) {
                uint64_t bytes = cornerNormalBytes(layer, scene_->surfaces);
                if (bytes > memoryLimit_ || meshBytes_ > memoryLimit_ - bytes)
                    failAt(objectLine_[obj], "the corner normals of " + quote(obj->name) + " would need about " +
                                                 io::byteText(bytes) + " of memory, more than the " +
                                                 io::byteText(memoryLimit_ - std::min(meshBytes_, memoryLimit_)) +
                                                 " left for the scene");
                meshBytes_ += bytes;
                smoothCorners(layer, scene_->surfaces);
            }
    }

    // Every item's name unique: a later item with a taken name gets " (2)", " (3)", ... after it,
    // which keeps the name's start (lights are picked by name prefix).
    void uniqueNames() {
        std::set<std::string> taken;
        std::map<std::string, long long> next;  // the next suffix to try for a name
        for (const auto &it : scene_->items) {
            std::string name = it->name;
            if (taken.count(name)) {
                long long &n = next[it->name];
                if (n < 2) n = 2;
                do name = it->name + " (" + std::to_string(n++) + ")";
                while (taken.count(name));
            }
            it->name = name;
            taken.insert(name);
        }
    }

    struct IdEntry {
        Item *item;
        int line;
    };
    struct Parenting {
        Item *child;
        uint32_t id;
        int line;
    };

    Lines lines_;
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

}  // namespace

bool isLwsPath(const std::string &path) {
    if (path.size() < 4) return false;
    std::string ext = path.substr(path.size() - 4);
    for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".lws";
}

LoadResult loadLwsText(const std::string &text, const std::string &label, const std::string &folder) {
    LoadResult result;
    try {
        Reader reader(text, label, folder);
        result.scene = reader.read();
    } catch (const Refusal &r) {
        result.error = label + ", line " + std::to_string(r.line) + ": " + r.message;
    } catch (const std::bad_alloc &) {
        result.error = label + ": the scene needs more memory than there is";
    } catch (const std::exception &e) {
        result.error = label + ": " + e.what();
    }
    if (!result.error.empty()) result.scene.reset();
    return result;
}

LoadResult loadLwsFile(const std::string &path) { return loadFileWith(path, &loadLwsText); }

}  // namespace host::scene
