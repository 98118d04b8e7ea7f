#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Renders a small multi-threaded scene with the skin shader under ThreadSanitizer: a skin-shaded
# head and floor, a point light with sampled area shadows, a spot light and a half-transparent
# skin-shaded blocker whose shader runs inside the floor's shadow queries; then the same over two
# frames with interpolated radiosity, whose cache is filled on every thread. Fails on any report
# outside the ray-tracing libraries that tests/host/tsan.supp names.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset linux-tsan >/dev/null
cmake --build build/linux-tsan -j2 --target velmora velmora-render

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/scene.json" <<'JSON'
{
  "name": "threaded skin",
  "render": {"width": 96, "height": 72, "samples": 2, "recursion_limit": 3},
  "ambient": {"color": [0.85, 0.9, 1.0], "intensity": 0.06},
  "backdrop": {"type": "gradient"},
  "surfaces": [
    {"name": "Skin", "color": [0.85, 0.62, 0.52], "specular": 0.35, "translucency": 0.2,
     "shaders": [{"server": "QZ_velmora"}]},
    {"name": "Veil", "color": [0.6, 0.7, 0.9], "transparency": 0.5, "color_filter": 0.5,
     "shaders": [{"server": "QZ_velmora"}]}
  ],
  "items": [
    {"type": "camera", "name": "Camera", "position": [0, 1.6, -5.6], "rotation": [0, 6, 0], "fov": 40},
    {"type": "object", "name": "Head", "position": [0, 1, 0],
     "mesh": {"primitive": "sphere", "radius": 1, "segments": 24, "rings": 12, "surface": "Skin"}},
    {"type": "object", "name": "Floor", "mesh": {"primitive": "plane", "size": [20, 20], "surface": "Skin"}},
    {"type": "object", "name": "Veil", "position": [1.5, 2.5, 0.5],
     "mesh": {"primitive": "plane", "size": [1.5, 1.5], "surface": "Veil"}},
    {"type": "light", "name": "key", "light": "point", "position": [1.6, 4.5, -1.2],
     "tags": ["QZ_lightParam: areashadow = 1", "QZ_lightParam: areashadow_size = 0.8",
              "QZ_lightParam: areashadow_sample = 3"]},
    {"type": "light", "name": "rim", "light": "spot", "position": [-2, 3, 3], "rotation": [145, 30, 0],
     "cone_angle": 35}
  ]
}
JSON

sed 's/"recursion_limit": 3}/"recursion_limit": 3, "frames": [1, 2],\
             "radiosity": {"mode": "interpolated", "bounces": 2, "rays": 9}}/' "$work/scene.json" >"$work/bounced.json"
grep -q interpolated "$work/bounced.json"

export TSAN_OPTIONS="suppressions=$PWD/tests/host/tsan.supp halt_on_error=1 exitcode=66 report_signal_unsafe=0"
for scene in scene bounced; do
  build/linux-tsan/velmora-render -q --threads 2 -o "$work/$scene.png" "$work/$scene.json" 2>"$work/log" || {
    status=$?
    cat "$work/log" >&2
    echo "tsan-render: the threaded render of $scene.json failed (status $status)" >&2
    exit 1
  }
  if grep -q "WARNING: ThreadSanitizer" "$work/log"; then
    cat "$work/log" >&2
    echo "tsan-render: ThreadSanitizer reported on $scene.json" >&2
    exit 1
  fi
done
echo "tsan-render: 2 threads, direct and bounced light, no ThreadSanitizer report"
