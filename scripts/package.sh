#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Makes the packages into build/packages/: the Debian package of the renderer (velmora_*.deb) and
# the Windows plug-in's zip (velmora-*-win32-plugin.zip). Installs what it needs first.
#   scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/stages.sh

stage "install packages" scripts/install-deps.sh package
stage deb bash -c 'cmake --preset release >/dev/null && cmake --build --preset release --target package'
stage zip bash -c 'cmake --preset win32 >/dev/null && cmake --build --preset win32 --target velmora &&
                   cd build/win32 && cpack -B "$PWD/../packages" >/dev/null'
mkdir -p build/packages
cp build/release/packages/*.deb build/packages/
rm -rf build/packages/_CPack_Packages
ls -l build/packages
stage_table
