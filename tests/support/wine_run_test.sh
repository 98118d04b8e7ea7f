#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The wine tests' runner: skipped (77, with the reason) where no 32-bit code can run or when asked,
# never passed in that case; otherwise the program runs and its status is passed through.
set -u
runner=$(dirname "$0")/wine_run.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# An ELF header no kernel accepts: exec fails with ENOEXEC, as 32-bit programs do on a 64-bit-only kernel.
printf '\177ELF\001\001\001\000not a program' >"$work/no32"
chmod +x "$work/no32"

failures=0
check() {  # name, expected status, expected text, env..., --, command...
  local name=$1 want=$2 text=$3; shift 3
  local env=()
  while [ "$1" != -- ]; do env+=("$1"); shift; done
  shift
  local out status
  out=$(env "${env[@]}" "$runner" "$@" 2>&1); status=$?
  if [ "$status" -ne "$want" ] || [[ "$out" != *"$text"* ]]; then
    echo "FAIL $name: status $status (want $want), output: $out"
    failures=$((failures + 1))
  fi
}
check forced-skip 77 "SKIPPED: VELMORA_NO_32BIT is set" VELMORA_NO_32BIT=1 -- true true
check no-32bit-kernel 77 "SKIPPED: this machine's kernel runs no 32-bit x86 code" VELMORA_NO_32BIT= VELMORA_32BIT_PROBE="$work/no32" -- true true
check runs-and-passes 0 "ran" VELMORA_NO_32BIT=0 VELMORA_32BIT_PROBE=/bin/true -- sh -c 'echo ran'
check failure-kept 3 "" VELMORA_NO_32BIT= VELMORA_32BIT_PROBE=/bin/true -- sh -c 'exit 3'
check no-loader 1 "no 32-bit loader" VELMORA_NO_32BIT= VELMORA_32BIT_PROBE="$work/missing" -- true true
[ "$failures" -eq 0 ] && echo "wine runner: 5 cases as expected"
exit $((failures > 0))
