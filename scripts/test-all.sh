#!/usr/bin/env bash
# Builds both targets and runs every test: the Linux suite, and the Windows module tests and
# plug-in load check under wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake --preset linux >/dev/null
cmake --build --preset linux
cmake --preset win32 >/dev/null
cmake --build --preset win32

status=0
ctest --preset win32 || status=1
ctest --preset linux || status=1
exit $status
