#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs what rendering needs, builds the plug-in and the renderer, and renders the built-in
# default scene to velmora.png.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh render
cmake --preset render >/dev/null
cmake --build --preset render
build/render/velmora-render -o velmora.png "$@"
