// SPDX-License-Identifier: Apache-2.0
// The host's scene model: items in a hierarchy (objects with mesh layers and bones, lights,
// cameras), surfaces, images, backdrop, ambient light and render options, with the evaluation of
// every item parameter at a time. Portable C++; knows nothing of the ray tracer.
//
// Identity: every Item, Surface, Image, MeshPoint and MeshPolygon lives at a fixed address for the
// scene's lifetime (the scene is not edited after loading), so the host hands out their addresses
// as LWItemID, LWSurfaceID, LWImageID, LWPntID and LWPolID. A loaded Scene is read-only and may be
// read from any thread.
//
// Coordinates are left-handed with +Y up and +Z forward. Rotations are heading (about +Y, turning
// +Z towards +X), pitch (about +X, turning +Z towards -Y) and bank (about +Z), in radians, applied
// bank first, then pitch, then heading.
//
// Vectors and transforms are Imath's, which multiplies a row vector on the left of a matrix: a
// point p goes to p * m, a direction d to m.multDirMatrix(d, out), and a * b applies a first.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <Imath/ImathMatrix.h>
#include <Imath/ImathVec.h>

#include "host/image/image.h"
#include "host/scene/setting.h"
#include "sdk/host_types.h"

namespace host::scene {

// A position, direction, angle triple or colour; Imath leaves a default-constructed one
// uninitialised, so every one here is given its value.
using Vec3 = Imath::V3d;
// An affine transform: the upper 3x3 turns and scales (rows are the images of the axes), the
// bottom row moves.
using Affine = Imath::M44d;

// How the span that a key ends is drawn (the numbering is the host's scene files'):
// Kochanek-Bartels (TCB), Hermite and 1-D Bézier with the keys' own tangents, straight, held at the
// earlier value, or a 2-D Bézier through the keys' time-and-value handles.
enum class KeyShape { TCB = 0, Hermite = 1, Bezier = 2, Linear = 3, Stepped = 4, Bezier2D = 5 };

// What a channel does before its first key (pre) and after its last (post): 0, the end key's
// value, the keys again, the keys back and forth, the keys again shifted by the change over
// them, or a straight line along the curve's slope at the end key.
enum class Behavior { Reset = 0, Constant = 1, Repeat = 2, Oscillate = 3, OffsetRepeat = 4, Linear = 5 };

// One key of an animated value: a time in seconds and the value there. The remaining fields serve
// shaped channels only: the shape, the TCB parameters, Hermite and 1-D Bézier tangents (value
// change over the span, entering and leaving the key) and 2-D Bézier handles (time and value
// offsets from the key; the incoming handle's time offset is negative).
struct Key {
    double time = 0.0;
    double value = 0.0;
    KeyShape shape = KeyShape::TCB;
    double tension = 0.0, continuity = 0.0, bias = 0.0;
    double inTangent = 0.0, outTangent = 0.0;
    double inDt = 0.0, inDv = 0.0, outDt = 0.0, outDv = 0.0;
};

// An animated scalar: constant when it has no keys, else interpolated between its keys. Keys are
// sorted by time, no two at the same time.
//
// A plain channel (the JSON scenes') is linear between keys, or a Catmull-Rom spline when
// `spline` is set, and holds its end values before the first and after the last key. A shaped
// channel (the host's scene files') draws each span by the shape of the key that ends it and
// follows `pre` and `post` outside its keys.
struct Channel {
    double constant = 0.0;
    std::vector<Key> keys;
    bool spline = false;
    bool shaped = false;
    Behavior pre = Behavior::Constant, post = Behavior::Constant;

    double at(double time) const;
    static Channel fixed(double v) {
        Channel c;
        c.constant = v;
        return c;
    }

private:
    double shapedAt(double time) const;
    double spanAt(size_t end, double time) const;
    double outgoing(size_t i) const;   // the tangent leaving key i, value change over its span
    double incoming(size_t i) const;   // the tangent entering key i, likewise
    double endSlope(bool last) const;  // value per second at the first or last key
};

// Three animated scalars: a position, an angle triple (heading, pitch, bank) or a scale.
struct Channel3 {
    Channel c[3];
    Vec3 at(double time) const { return {c[0].at(time), c[1].at(time), c[2].at(time)}; }
    static Channel3 fixed(double x, double y, double z) {
        Channel3 v;
        v.c[0].constant = x;
        v.c[1].constant = y;
        v.c[2].constant = z;
        return v;
    }
};

// An item's motion in its parent's frame. A point p of the item's own space lands in the parent's
// space at position + R(rotation) * (scale * (R(pivotRotation)^-1 * (p - pivot))): the pivot is
// the point the item turns and scales about, the pivot rotation the item's rest orientation.
struct Motion {
    Channel3 position;
    Channel3 rotation;
    Channel3 scale = Channel3::fixed(1, 1, 1);
    Vec3 pivot{0, 0, 0};
    Vec3 pivotRotation{0, 0, 0};
};

// The rotation of a heading, pitch, bank triple; its rows are the item's right, up and forward
// axes.
Affine rotation(const Vec3 &hpb);

enum class ItemKind { Object, Light, Camera, Bone };

// Base of every scene item: kind, name, parent, motion and free text tag lines.
struct Item {
    virtual ~Item() = default;
    ItemKind kind = ItemKind::Object;
    std::string name;
    Item *parent = nullptr;  // null at the top of the hierarchy
    Motion motion;
    std::vector<std::string> tags;
};

// A point of a mesh layer: its position in the object's space and its smoothed normal (the
// normalised sum of the area-weighted normals of the polygons that use it).
struct MeshPoint {
    float pos[3] = {0, 0, 0};
    float normal[3] = {0, 0, 0};
};

// A polygon of a mesh layer: indices of its points (three or more, in order) and its surface.
struct MeshPolygon {
    std::vector<int> points;
    int surface = 0;              // index into Scene::surfaces
    float normal[3] = {0, 0, 0};  // geometric normal in the object's space
};

// A named per-point weight map: a value for each point, and whether the point has one.
struct WeightMap {
    std::string name;
    std::vector<float> values;
    std::vector<uint8_t> has;
};

// A named per-point UV map: u and v for each point (two floats a point), and whether the point
// has them.
struct UVMap {
    std::string name;
    std::vector<float> values;
    std::vector<uint8_t> has;
};

// One layer of an object's mesh. Polygons are fanned into triangles for ray tracing; `triangles`
// holds three point indices per triangle and `triPolygon` the polygon each came from. When a
// polygon's surface smooths within an angle (Surface::smoothingAngle), `cornerNormals` holds the
// smoothed normal at each corner of each triangle (nine floats a triangle, in the object's space);
// otherwise it is empty and corners take their points' normals.
struct MeshLayer {
    int index = 1;  // the layer number, from 1
    std::vector<MeshPoint> points;
    std::vector<MeshPolygon> polygons;
    std::vector<WeightMap> weightMaps;
    std::vector<UVMap> uvMaps;
    std::vector<int> triangles;
    std::vector<int> triPolygon;
    std::vector<float> cornerNormals;
};

// One shader plug-in on a surface: its server name, and either its settings (applied through the
// plug-in's panel when the instance is made, in this order: by name, as the scene loader hands them)
// or the instance's saved data in one of the host's state formats (handed to the instance's load).
struct ShaderRef {
    std::string server;
    std::vector<ShaderSetting> settings;
    bool hasState = false;
    bool binaryState = false;
    std::vector<uint8_t> state;
    // Where it was given, for messages, when not in the scene file (an overlay): that file and
    // the JSON path of its entry. Empty: the scene file, at /surfaces/S/shaders/K.
    std::string givenIn, givenAt;

    const SettingValue *setting(const std::string &name) const;  // null when not given
};

// A surface's environment for reflection or refraction: the option (0 backdrop, 1 ray tracing,
// 2 spherical image, 3 ray tracing with the image as fall-back), an image (-1: none) and the
// image's seam heading in radians.
struct EnvironmentOptions {
    int option = 1;
    int image = -1;
    double seamAngle = 0.0;
};

// One layer of a texture as a scene file gives it. Which fields apply depends on the type: an
// image map (image, projection, axis, center, size), a fractal noise (color or value, octaves,
// center, size) or a gradient (an input chosen by name, keys over that input's value, and for
// inputs that ask for one an item picked by name). Every type has an opacity and a blend mode.
struct TextureLayerSpec {
    enum class Type { Image = 0, Noise = 1, Gradient = 2 };
    struct Key {
        double position = 0;
        Vec3 value{0, 0, 0};  // a colour, or the value in [0]
        double alpha = 1;
    };
    Type type = Type::Gradient;
    double opacity = 1;
    int blend = 0;  // 0 normal, 1 additive, 2 subtractive, 3 multiply
    bool spherical = false;
    int axis = 2;  // 0 x, 1 y, 2 z: the planar projection's direction or the sphere's pole
    Vec3 center{0, 0, 0}, size{1, 1, 1};
    bool world = false;  // world positions instead of the object's
    int image = -1;      // index into Scene::images
    Vec3 color{1, 1, 1};
    double value = 1;
    int octaves = 4;
    std::string input;  // gradient input name
    std::string item;   // picked item name, empty for none
    std::vector<Key> keys;
    std::string path;  // JSON path of the layer, for messages
};

// A texture: its layers, top first, and where the scene file gave it.
struct TextureSpec {
    std::vector<TextureLayerSpec> layers;
    std::string path;
    std::string givenIn;  // the file it was given in when not the scene file (an overlay), for messages
    bool empty() const { return layers.empty(); }
};

// The surface channels a scene may texture, in the order of kSurfaceChannelNames.
enum SurfaceChannel {
    kChannelColor,
    kChannelLuminosity,
    kChannelDiffuse,
    kChannelSpecular,
    kChannelReflection,
    kChannelTransparency,
    kChannelTranslucency,
    kSurfaceChannels
};
extern const char *const kSurfaceChannelNames[kSurfaceChannels];

constexpr double kNoSmoothingLimit = 3.14159265358979323846;  // Surface::smoothingAngle: no limit

// A surface: the channels the host shades with and hands to shaders, and its shader list.
// Fractions are 0..1; glossiness maps to a Blinn-Phong exponent of 2^(2 + 10 * glossiness).
struct Surface {
    std::string name;
    Vec3 color{0.8, 0.8, 0.8};
    double luminosity = 0, diffuse = 1, specular = 0, glossiness = 0.4, mirror = 0, transparency = 0;
    double eta = 1.0;  // refraction index
    double translucency = 0, colorHighlights = 0, colorFilter = 0;
    bool doubleSided = false;
    bool smoothing = true;  // shade with smoothed normals, else the polygon's own
    // Below pi (radians), a polygon's corner shares its normal only with the polygons of the same
    // surface at that point whose normals are within this angle of its own; from pi up, with every
    // polygon at the point (the point's normal).
    double smoothingAngle = kNoSmoothingLimit;
    EnvironmentOptions reflection, refraction;
    TextureSpec textures[kSurfaceChannels];  // evaluated per spot over the channel's own value
    std::vector<ShaderRef> shaders;

    double roughness() const { return 1.0 - glossiness; }
    // The channel values the host offers through "Surface Functions" (see docs/scene-format.md).
    std::vector<double> channel(const std::string &name) const;
};

// An object: mesh layers, the file or primitive they came from, and the lights it ignores.
struct ObjectItem : Item {
    ObjectItem() { kind = ItemKind::Object; }
    std::string filename;  // the OBJ file, or "primitive:<kind>"
    std::vector<MeshLayer> layers;
    std::vector<const Item *> excludedLights;
    bool castShadows = true;
    bool excludeRadiosity = false;
    int numPoints() const;
    int numPolygons() const;
};

enum class LightType { Distant = 0, Point = 1, Spot = 2, Linear = 3, Area = 4 };
enum class Falloff { Off = 0, Linear = 1, InverseDistance = 2, InverseSquare = 3 };
// Shadow kinds. A shadow map is accepted and traced like ray-traced shadows (the host has no
// shadow maps); shaders still read the setting the scene gave.
enum class ShadowType { Off = 0, RayTrace = 1, Map = 2 };

// A light: colour and intensity, falloff, spot cone, projection image, shadows and flags. Lights
// shine along their forward (+Z) axis. Area lights are rectangles across that axis, shining from
// their front; linear lights are segments along their x axis, shining all round (see
// docs/scene-format.md).
struct LightItem : Item {
    LightItem() { kind = ItemKind::Light; }
    LightType type = LightType::Point;
    Vec3 color{1, 1, 1};
    Channel intensity = Channel::fixed(1.0);
    Falloff falloff = Falloff::Off;
    Channel range = Channel::fixed(1.0);      // falloff distance, metres
    Channel coneAngle = Channel::fixed(0.5);  // spot half-angle, radians
    Channel coneEdge = Channel::fixed(0.05);  // soft edge inside the cone, radians
    int projectionImage = -1;
    ShadowType shadow = ShadowType::RayTrace;
    Vec3 shadowColor{0, 0, 0};
    bool noDiffuse = false, noSpecular = false, noCaustics = false;
    // Area lights: width and height along the light's x and y axes; linear lights: the length
    // along x (size[1] is 0). A size of zero is a point at the light's position.
    double size[2] = {1.0, 1.0};
    int samples = 16;  // shadow samples over an area or linear light, stratified
};

// A camera: it looks along its forward axis; zoom is the focal length over half the frame width.
struct CameraItem : Item {
    CameraItem() { kind = ItemKind::Camera; }
    Channel zoom = Channel::fixed(3.2);
};

// A bone under an object (or another bone): rest length; it deforms nothing.
struct BoneItem : Item {
    BoneItem() { kind = ItemKind::Bone; }
    double restLength = 1.0;
    Item *object = nullptr;  // the object the bone belongs to
};

enum class BackdropKind { Solid, Gradient, Image };

// What a ray that hits nothing sees: one colour, a four-colour gradient (zenith to sky towards
// the horizon above it, ground to nadir below), or a spherical image.
struct Backdrop {
    BackdropKind kind = BackdropKind::Solid;
    Vec3 color{0, 0, 0};
    Vec3 zenith{0.0, 0.16, 0.31}, sky{0.47, 0.62, 0.78}, ground{0.2, 0.16, 0.12}, nadir{0.1, 0.08, 0.06};
    double skySqueeze = 2.0, groundSqueeze = 2.0;
    int image = -1;
    double seamAngle = 0.0;
};

// Radiosity: none (ambient light alone), the backdrop seen over the hemisphere, Monte Carlo
// gathering of the light that geometry and the backdrop send, over a number of bounces, or the
// same gathering done at chosen spots and interpolated between them (an irradiance cache).
enum class Radiosity { Off, Backdrop, MonteCarlo, Interpolated };
constexpr int kMaxRadiosityBounces = 4;
// Monte Carlo gathering rays per spot the camera sees (rays x secondary rays^(bounces - 1)) above
// which a render is refused: beyond it no picture finishes.
constexpr double kMaxGatheringRays = 65536;

// Render settings: traced effects, recursion, sampling, resolution, radiosity and frames.
struct RenderOptions {
    bool shadows = true, reflection = true, refraction = true;
    int recursionLimit = 8;
    double rayCutoff = 0.001;  // secondary rays weighing less than this in the pixel are not traced
    int samples = 1;           // antialiasing samples per pixel
    int width = 640, height = 480;
    double pixelAspect = 1.0;
    Radiosity radiosity = Radiosity::Off;
    int radiosityRays = 16;          // gathering rays at a spot the camera's rays reach
    int radiositySecondaryRays = 4;  // gathering rays at a spot reached by gathering
    int radiosityBounces = 1;        // bounces of indirect light, 1..kMaxRadiosityBounces
    // Interpolated radiosity: how far a record's light may be carried, as a share of the mean
    // distance to what it sees, and the least and greatest radius of a record, in pixels.
    double radiosityTolerance = 0.3;
    double radiosityMinSpacing = 1.5, radiosityMaxSpacing = 40;
    // Adaptive sampling: a pixel takes samples (at least min, at most max: 0 for the render's
    // samples) until the estimated error of its mean falls below the threshold.
    bool adaptive = false;
    double adaptiveThreshold = 0.01;
    int adaptiveMinSamples = 4, adaptiveMaxSamples = 0;
    int frameStart = 1, frameEnd = 1, frameStep = 1;
    double fps = 30.0;
    double exposure = 0.0;       // stops: every output is scaled by 2^exposure
    bool filmDisplay = false;    // 8-bit outputs through the filmic curve (else the plain sRGB curve)
    int renderOptsBits() const;  // LWROPT_* word
};

// A whole scene. Lists hold items by kind, in file order; `items` owns them all.
struct Scene {
    std::string name;
    std::string filename;
    // The scene file's JSON text as read (with an overlay's fields merged in), for writing the
    // scene back; empty for a host scene file.
    std::string sourceText;
    std::string folder;  // where relative mesh and image file names start
    // Every file the scene was read from: the scene file, its meshes, material files and images.
    // Outputs never overwrite one of these.
    std::vector<std::string> inputFiles;
    std::vector<std::unique_ptr<Item>> items;
    std::vector<ObjectItem *> objects;
    std::vector<LightItem *> lights;
    std::vector<CameraItem *> cameras;
    std::vector<BoneItem *> bones;
    std::vector<std::unique_ptr<Surface>> surfaces;
    std::vector<std::unique_ptr<image::Image>> images;
    Backdrop backdrop;
    Vec3 ambientColor{1, 1, 1};
    double ambientIntensity = 0.05;
    RenderOptions render;
    const CameraItem *camera = nullptr;  // the rendering camera

    Item *findItem(const std::string &name) const;
    int findSurface(const std::string &name) const;  // -1 when absent
    int findImage(const std::string &name) const;    // -1 when absent
    Vec3 ambient() const { return ambientColor * ambientIntensity; }
    double frameTime(int frame) const { return frame / render.fps; }
};

// Host identifiers: an item's LWItemID is the address of its Item base; surfaces, images, points
// and polygons are identified by their own addresses.
inline LWItemID itemID(const Item *item) { return const_cast<Item *>(item); }

// The transform from an item's own space to its parent's at a time.
Affine localTransform(const Item &item, double time);
// The transform from an item's own space to world space at a time.
Affine worldTransform(const Item &item, double time);
// One item parameter (LWIP_*) at a time, as "LW Item Info" answers it; zero for an unknown one.
Vec3 itemParam(const Item &item, int param, double time);

// Fills the smoothed point normals, polygon normals and triangle fan of a layer.
void finishLayer(MeshLayer &layer);

// Fills (or empties) a finished layer's corner normals from the smoothing angles of `surfaces`
// (indexed by MeshPolygon::surface). Returns the bytes they take.
uint64_t smoothCorners(MeshLayer &layer, const std::vector<std::unique_ptr<Surface>> &surfaces);

// The memory smoothCorners will take for a finished layer (0 when no surface of its polygons
// smooths within an angle), for loaders to charge before it is taken.
uint64_t cornerNormalBytes(const MeshLayer &layer, const std::vector<std::unique_ptr<Surface>> &surfaces);

}  // namespace host::scene
