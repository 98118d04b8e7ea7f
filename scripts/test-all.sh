#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds every target and runs every test:
#  - the Linux suite (host, module, renders, server, browser), two tests at a time;
#  - the module's tests and the plug-in load check built for 32-bit x86 Linux with the Windows
#    target's arithmetic and record layouts, run under qemu-i386 on any machine;
#  - the Windows module tests and plug-in load check under wine, where this machine runs 32-bit
#    code; elsewhere ctest reports them skipped, with the reason (VELMORA_NO_32BIT=1 forces that);
#  - the packages made (scripts/package.sh) and the Debian one tested as installed
#    (scripts/test-package.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/stages.sh
trap stage_table EXIT
stage "install packages" scripts/install-deps.sh

stage "build linux" bash -c 'cmake --preset linux >/dev/null && cmake --build --preset linux'
stage "build win32" bash -c 'cmake --preset win32 >/dev/null && cmake --build --preset win32'
stage "build linux-i686" bash -c 'cmake --preset linux-i686 >/dev/null && cmake --build --preset linux-i686'

status=0
# Where wine cannot run, ctest reports its tests skipped; the reason is said here.
if ! reason=$(tests/support/wine_run.sh true 2>&1); then echo "win32 tests under wine: $reason"; fi
stage "test win32 (wine)" ctest --preset win32 || status=1
stage "test linux-i686 (qemu-i386)" ctest --preset linux-i686 || status=1
stage "test linux" ctest --preset linux || status=1
scripts/package.sh >/dev/null || status=1
stage "test the package" scripts/test-package.sh || status=1
exit $status
