#!/usr/bin/env bash
# Installs, builds and renders the built-in default scene to velmora.png.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux
build/linux/velmora-render -o velmora.png "$@"
