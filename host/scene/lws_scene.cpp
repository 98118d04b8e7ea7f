// SPDX-License-Identifier: Apache-2.0
// Reading host scene files: the reader's words and numbers, the file's statements (items, lights,
// cameras, the scene's settings), and the entry points.
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

// A decimal number, the whole word, read as strtod reads it: to the nearest double, a number
// too small for one becoming 0 or a denormal. Only decimal text counts (no "inf", "nan" or hex).
NumberRead number(std::string_view w, double &out) {
    if (w.empty()) return NumberRead::NotNumber;
    for (char c : w)
        if (!((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E'))
            return NumberRead::NotNumber;
    std::string s(w);
    char *end = nullptr;
    errno = 0;
    double v = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size()) return NumberRead::NotNumber;
    if (std::isinf(v)) return NumberRead::Overflow;  // ERANGE with a finite result is underflow
    out = v;
    return NumberRead::Ok;
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

std::unique_ptr<Scene> LwsReader::read() {
    scene_ = std::make_unique<Scene>();
    scene_->filename = label_;
    scene_->folder = folder_;
    scene_->name = baseName(label_);
    scene_->sourceText.clear();
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

std::vector<std::string_view> LwsReader::nextWords(const std::string &expected) {
    while (nextLine()) {
        std::vector<std::string_view> w = words(line_);
        if (!w.empty()) return w;
    }
    fail("the file ends where " + expected + " should follow");
}

double LwsReader::num(std::string_view w, const std::string &what, double lo, double hi) {
    double v = 0;
    NumberRead read = number(w, v);
    if (read == NumberRead::Overflow)
        fail(quote(line_) + ": " + what + " " + quote(w) + " is too large for a number (it overflows a double)");
    if (read != NumberRead::Ok) fail(quote(line_) + ": " + what + " must be a number, not " + quote(w));
    if (v < lo || v > hi)
        fail(quote(line_) + ": " + what + " " + numberText(v, 10) + " is out of range [" + numberText(lo, 10) +
             ", " + numberText(hi, 10) + "]");
    return v;
}

long long LwsReader::whole(std::string_view w, const std::string &what, long long lo, long long hi) {
    long long v = 0;
    if (!integer(w, v)) fail(quote(line_) + ": " + what + " must be a whole number, not " + quote(w));
    if (v < lo || v > hi)
        fail(quote(line_) + ": " + what + " " + std::to_string(v) + " is out of range [" + std::to_string(lo) +
             ", " + std::to_string(hi) + "]");
    return v;
}

void LwsReader::need(const std::vector<std::string_view> &w, size_t n, const std::string &what) {
    if (w.size() < n) fail(quote(line_) + ": expected " + what);
}

void LwsReader::readHeader() {
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

void LwsReader::skipBlock(int openLine) {
    long long depth = 1;
    while (nextLine()) {
        std::string_view t = trim(line_);
        if (t.empty()) continue;
        if (t[0] == '{') ++depth;
        if (t[0] == '}' && --depth == 0) return;
    }
    fail("the file ends inside the block opened on line " + std::to_string(openLine));
}

void LwsReader::skipPlugin() {
    int open = lines_.number();
    while (nextLine())
        if (trim(line_).substr(0, 9) == "EndPlugin") return;
    fail("the file ends inside the Plugin opened on line " + std::to_string(open));
}

bool LwsReader::readId(const std::vector<std::string_view> &w, size_t at, uint32_t &id) {
    if (version_ < 4) return false;
    if (w.size() <= at || !itemId(w[at], id)) fail(quote(line_) + ": expected the item id (hex digits)");
    return true;
}

void LwsReader::statement(const std::vector<std::string_view> &w) {
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
        ObjectItem *owner = current_ && current_->kind == ItemKind::Object ? static_cast<ObjectItem *>(current_)
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
        if (!current_ || current_->kind != kind) fail(quote(line_) + ": a motion must follow the item it moves");
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
        auto given = motion_.channelLine.emplace(index, lines_.number());
        if (!given.second)
            fail(quote(line_) + ": channel " + std::to_string(index) + " is given twice (first on line " +
                 std::to_string(given.first->second) + ")");
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

LightItem *LwsReader::light() {
    return current_ && current_->kind == ItemKind::Light ? static_cast<LightItem *>(current_) : nullptr;
}

bool LwsReader::lightStatement(const std::vector<std::string_view> &w) {
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

bool LwsReader::cameraStatement(const std::vector<std::string_view> &w) {
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
        if (cam == scene_->cameras.front()) scene_->render.pixelAspect = num(w[1], "the pixel aspect", 0.1, 10);
    } else {
        return false;
    }
    return true;
}

bool LwsReader::sceneStatement(const std::vector<std::string_view> &w) {
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

std::pair<int, int> LwsReader::frameSize(const std::vector<std::string_view> &w) {
    need(w, 3, "a width and a height");
    return {static_cast<int>(whole(w[1], "the width", 1, 16384)),
            static_cast<int>(whole(w[2], "the height", 1, 16384))};
}

Vec3 LwsReader::vec3(const std::vector<std::string_view> &w, const std::string &what) {
    need(w, 4, "three numbers for " + what);
    return {num(w[1], what), num(w[2], what), num(w[3], what)};
}

Vec3 LwsReader::color(const std::vector<std::string_view> &w, const std::string &what) {
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

Channel LwsReader::valueOrEnvelope(const std::vector<std::string_view> &w, const std::string &what, double lo,
                                   double hi, double scale) {
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

bool isLwsPath(const std::string &path) {
    if (path.size() < 4) return false;
    std::string ext = path.substr(path.size() - 4);
    for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".lws";
}

LoadResult loadLwsText(const std::string &text, const std::string &label, const std::string &folder) {
    LoadResult result;
    try {
        LwsReader reader(text, label, folder);
        result.scene = reader.read();
    } catch (const util::Diagnostic &d) {
        result.diagnostic = d.in(label);
    } catch (const std::bad_alloc &) {
        result.diagnostic =
            util::Diagnostic::at(util::FileLoc::ofFile(label), "the scene needs more memory than there is");
    } catch (const std::exception &e) {
        result.diagnostic = util::Diagnostic::at(util::FileLoc::ofFile(label), e.what());
    }
    if (!result.diagnostic.empty()) {
        result.error = result.diagnostic.text();
        result.scene.reset();
    }
    return result;
}

LoadResult loadLwsFile(const std::string &path) { return loadFileWith(path, &loadLwsText); }

}  // namespace host::scene
