#!/usr/bin/env bash
# Installs every package the build, the tests and the host need (Debian 12). Run as root or with
# sudo; does nothing that is already done.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686-posix mingw-w64-i686-dev
  libembree-dev nlohmann-json3-dev libassimp-dev libopenimageio-dev zlib1g-dev libcli11-dev
  clang libclang-rt-14-dev
  assimp-testmodels
)

need=()
for p in "${packages[@]}" wine wine32:i386; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
[ ${#need[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
# wine32 comes from the i386 architecture.
dpkg --print-foreign-architectures | grep -qx i386 || "${sudo_cmd[@]}" dpkg --add-architecture i386
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${need[@]}"
