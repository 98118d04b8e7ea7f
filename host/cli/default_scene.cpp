#include "host/cli/default_scene.h"

namespace host {

const char *const kDefaultSceneJson = R"JSON({
  "name": "Velmora default",
  "render": {"width": 640, "height": 480, "samples": 4, "recursion_limit": 4},
  "ambient": {"color": [0.85, 0.9, 1.0], "intensity": 0.06},
  "backdrop": {"type": "gradient", "zenith": [0.05, 0.07, 0.1], "sky": [0.22, 0.24, 0.28],
               "ground": [0.12, 0.11, 0.1], "nadir": [0.05, 0.05, 0.05]},
  "surfaces": [
    {"name": "Skin", "color": [0.85, 0.62, 0.52], "diffuse": 0.9, "specular": 0.35, "glossiness": 0.45,
     "translucency": 0.2, "shaders": [{"server": "QZ_velmora"}]},
    {"name": "Ground", "color": [0.42, 0.40, 0.38], "diffuse": 0.85, "specular": 0.05, "glossiness": 0.2}
  ],
  "items": [
    {"type": "camera", "name": "Camera", "position": [0, 1.6, -5.6], "rotation": [0, 6, 0], "fov": 34},
    {"type": "object", "name": "Head", "position": [0, 1, 0],
     "mesh": {"primitive": "sphere", "radius": 1, "segments": 96, "rings": 48, "surface": "Skin"}},
    {"type": "object", "name": "Floor",
     "mesh": {"primitive": "plane", "size": [80, 80], "surface": "Ground"}},
    {"type": "light", "name": "key", "light": "spot", "color": [1.0, 0.95, 0.88], "intensity": 1.3,
     "position": [-3, 4.2, -3.2], "rotation": [43, 40, 0], "cone_angle": 28, "cone_edge": 8},
    {"type": "light", "name": "rim", "light": "point", "color": [0.9, 0.95, 1.0], "intensity": 1.6,
     "falloff": "inverse_square", "range": 2.4, "position": [1.6, 2.8, 2.2]},
    {"type": "light", "name": "fill", "light": "distant", "color": [0.6, 0.7, 0.9], "intensity": 0.25,
     "rotation": [-60, 20, 0], "shadow": "off"}
  ]
})JSON";

}  // namespace host
