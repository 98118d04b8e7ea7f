// SPDX-License-Identifier: Apache-2.0
#include "host/cli/default_scene.h"

namespace host::cli {

// A head-sized ball of skin on a floor. The key light (named by skin_prefix) feeds the
// sub-surface layer, the rim light behind (named by sheen_prefix, with no diffuse or specular of
// its own) only the sheen; a weak blue fill and the ambient light open up the shadows. The film
// curve keeps the rim's highlight, up to four times white, from clipping to a flat patch.
const char *const kDefaultSceneJson = R"JSON({
  "name": "Velmora default",
  "render": {"width": 640, "height": 480, "samples": 4, "recursion_limit": 4, "display": "film"},
  "ambient": {"color": [0.85, 0.9, 1.0], "intensity": 0.05},
  "backdrop": {"type": "gradient", "zenith": [0.05, 0.07, 0.1], "sky": [0.22, 0.24, 0.28], "ground": [0.12, 0.11, 0.1], "nadir": [0.05, 0.05, 0.05]},
  "surfaces": [
    {"name": "Skin", "color": [0.8, 0.55, 0.45], "diffuse": 0.75, "specular": 0.12, "glossiness": 0.6, "translucency": 0.15, "shaders": [{"server": "QZ_velmora", "settings": {"skin_prefix": "key", "sheen_prefix": "rim", "skin_color": [0.8, 0.2, 0.08], "Ksub": 1.0, "scatter_wrap:": 0.8, "sheen_color": [1.0, 0.82, 0.7], "Ksheen": 1.0, "diff_rough": 0.3, "shadow_amount": 0.5, "Ka": 1}}]},
    {"name": "Ground", "color": [0.42, 0.4, 0.38], "diffuse": 0.8, "specular": 0.05, "glossiness": 0.2}
  ],
  "items": [
    {"type": "camera", "name": "Camera", "position": [0, 1.6, -5.6], "rotation": [0, 6, 0], "fov": 34},
    {"type": "object", "name": "Head", "position": [0, 1, 0], "mesh": {"primitive": "sphere", "radius": 1, "segments": 96, "rings": 48, "surface": "Skin"}},
    {"type": "object", "name": "Floor", "mesh": {"primitive": "plane", "size": [80, 80], "surface": "Ground"}},
    {"type": "light", "name": "key", "light": "spot", "color": [1.0, 0.95, 0.88], "intensity": 1.1, "position": [-4, 2.8, -1.0], "rotation": [76, 24, 0], "cone_angle": 30, "cone_edge": 10},
    {"type": "light", "name": "rim", "light": "point", "color": [0.9, 0.95, 1.0], "intensity": 4.0, "falloff": "inverse_square", "range": 2.4, "position": [1.9, 2.3, 1.9], "no_diffuse": true, "no_specular": true},
    {"type": "light", "name": "fill", "light": "distant", "color": [0.6, 0.7, 0.9], "intensity": 0.12, "rotation": [-60, 20, 0], "shadow": "off"}
  ]
})JSON";

}  // namespace host::cli
