#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Tests the Debian package as a user gets it: its dependencies resolve, and the copy it installs
# (into a clean root of its own) renders the default scene, an example (its mesh read by the
# installed mesh importer) and a preset from its own files, with the source and build trees out
# of its reach where the kernel allows hiding them.
#   scripts/test-package.sh [PACKAGE.deb]     (default: build/packages/velmora_*.deb)
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
deb=${1:-$(ls build/packages/velmora_*_amd64.deb 2>/dev/null | head -1)}
[ -f "$deb" ] || { echo "test-package: no package (run scripts/package.sh first)" >&2; exit 1; }
deb=$(realpath "$deb")

echo "== the package's dependencies resolve"
apt-get install --simulate -q "$deb" >/dev/null

root=$(mktemp -d /tmp/velmora-package-root.XXXXXX)
work=$(mktemp -d /tmp/velmora-package-work.XXXXXX)
trap 'rm -rf "$root" "$work"' EXIT
dpkg-deb -x "$deb" "$root"
echo "== installed into $root: $(find "$root" -type f | wc -l) files"

# Runs the checks in a clean environment from an empty folder. Given "hidden", the source tree is
# first covered by an empty file system in a mount namespace of the check's own.
checks() {
  local bin=$root/usr/bin/velmora-render share=$root/usr/share/velmora
  cd "$work"
  [ "${1:-}" != hidden ] || { mount -t tmpfs none "$src" && [ ! -e "$src/CMakeLists.txt" ]; }
  env -i PATH=/usr/bin:/bin HOME="$work" sh -eu -c "
    '$bin' --version
    '$bin' -q -o default.png --width 160 --height 120 --samples 1
    '$bin' '$share/examples/bunny.json' -q -o bunny.png --width 160 --height 120 --samples 1
    '$bin' -q --preset light_skin -o preset.exr --width 80 --height 60 --samples 1
    test -s '$root/usr/share/man/man1/velmora-render.1'
    test -x \"\$(find '$root/usr/lib' -path '*/velmora/velmora-mesh-import')\"
  "
  for f in default.png bunny.png; do
    [ "$(head -c 8 "$f" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || { echo "$f is not a PNG" >&2; return 1; }
  done
  [ "$(head -c 4 preset.exr | od -An -tx1 | tr -d ' \n')" = 762f3101 ] || { echo "preset.exr is not an EXR" >&2; return 1; }
}

if [ "$(id -u)" -eq 0 ] && unshare --mount true 2>/dev/null; then
  echo "== renders from the installed copy, the source tree hidden"
  export -f checks
  export root work src
  unshare --mount bash -c 'checks hidden'
else
  echo "== renders from the installed copy (the source tree cannot be hidden here: not root, or no mount namespaces)"
  checks
fi
echo "== package test passed: $(basename "$deb")"
