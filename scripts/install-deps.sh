#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs the Debian 12 packages a job needs; does nothing that is already done. Run as root or
# with sudo.
#   scripts/install-deps.sh render   what building the plug-in and rendering need
#   scripts/install-deps.sh          everything the tests need: also benchmarks, sanitizers, the
#                                    Windows and 32-bit Linux cross-builds, wine and qemu-i386
#   scripts/install-deps.sh package  rendering's, and what making the packages needs
#   scripts/install-deps.sh fuzz     all that, and clang for libFuzzer campaigns
set -euo pipefail

render=(
  cmake ninja-build g++ pkg-config ccache
  libembree-dev nlohmann-json3-dev libopenimageio-dev libimath-dev zlib1g-dev libcli11-dev
  libassimp-dev fonts-dejavu-core libcpp-httplib-dev
)
tests=(
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686-posix mingw-w64-i686-dev
  g++-i686-linux-gnu qemu-user
  assimp-testmodels openimageio-tools parallel
  wine wine32:i386
  chromium chromium-driver python3-selenium
)

# The packages: the manual page, the Debian package's dependencies, the Windows plug-in.
package=(help2man dpkg-dev file g++-mingw-w64-i686-posix mingw-w64-i686-dev)

# libFuzzer campaigns (fuzz/run-campaign.sh) need clang; the tests replay the corpora without it.
fuzz=(clang libclang-rt-14-dev)

case "${1:-all}" in
  render) packages=("${render[@]}") ;;
  package) packages=("${render[@]}" "${package[@]}") ;;
  all) packages=("${render[@]}" "${tests[@]}" "${package[@]}") ;;
  fuzz) packages=("${render[@]}" "${tests[@]}" "${package[@]}" "${fuzz[@]}") ;;
  *) echo "usage: $0 [render|package|all|fuzz]" >&2; exit 2 ;;
esac

need=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
[ ${#need[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
# wine32 comes from the i386 architecture; only the full set needs it.
if printf '%s\n' "${need[@]}" | grep -q ':i386$'; then
  dpkg --print-foreign-architectures | grep -qx i386 || "${sudo_cmd[@]}" dpkg --add-architecture i386
fi
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${need[@]}"
