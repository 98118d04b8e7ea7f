#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Runs a Windows test program under wine, or reports it skipped (exit 77) where this machine cannot
# run it: wine's loader is a 32-bit x86 program, and some kernels execute no 32-bit code at all.
#   wine_run.sh WINE PROGRAM [ARGS...]
# VELMORA_NO_32BIT=1 takes the skip path on any machine. VELMORA_32BIT_PROBE names the 32-bit
# program run to find out (default: the i386 dynamic loader that wine's own packages bring).
set -u
skip() { echo "SKIPPED: $*"; exit 77; }

if [ -n "${VELMORA_NO_32BIT:-}" ] && [ "${VELMORA_NO_32BIT}" != 0 ]; then
  skip "VELMORA_NO_32BIT is set"
fi
probe=${VELMORA_32BIT_PROBE:-/lib/ld-linux.so.2}
if [ ! -e "$probe" ]; then
  echo "wine_run: no 32-bit loader at $probe: install libc6:i386 (scripts/install-deps.sh)" >&2
  exit 1
fi
if ! out=$("$probe" --version 2>&1 </dev/null); then
  case "$out" in
    *"Exec format error"*) skip "this machine's kernel runs no 32-bit x86 code ($probe: Exec format error)" ;;
  esac
  echo "wine_run: the 32-bit probe $probe failed: $out" >&2
  exit 1
fi
exec "$@"
