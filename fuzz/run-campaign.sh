#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the fuzz targets (preset linux-fuzz) and, for each, first replays its committed corpus
# (fuzz/corpus/<corpus>/) and then fuzzes for SECONDS seconds from it, with its dictionary. Exits
# non-zero when any target fails (a crash, a sanitizer report, a time-out, an out-of-memory or a
# broken invariant); the failing input is kept under build/linux-fuzz/campaign/<target>/ with the
# target's log. The generator seed is fixed (VELMORA_FUZZ_SEED, default 1), so a campaign repeats
# itself.
#
# Usage: fuzz/run-campaign.sh SECONDS [--grow]   (CI runs a short campaign)
#   --grow   merge what the campaign found into the committed corpora, minimised (run outside CI)
#   VELMORA_FUZZ_TARGETS="a b"  limits the run to some targets (names as in the table below)
# Reproduce: build/linux-fuzz/fuzz/<target> <input>
set -euo pipefail

seconds=${1:?usage: fuzz/run-campaign.sh SECONDS [--grow]}
case $seconds in
  '' | *[!0-9]*) echo "run-campaign.sh: SECONDS must be a whole number, not '$seconds'" >&2; exit 2 ;;
esac
grow=0
[ "${2:-}" = --grow ] && grow=1

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=build/linux-fuzz

# The image targets run without leak detection and in rounds of 20 s: OpenImageIO 2.4's PNG
# reader leaks its error message (a temporary skipped by libpng's longjmp) on every truncated
# file, and its memory grows by some 30 KB per refused file, which a renderer reading a few images
# never notices but a fuzzer reading thousands a second does. Tracing each allocation far enough
# to tell that leak from ours makes the target 200 times slower. The mesh import target runs
# without leak detection as well: assimp 5.2 leaks some of what it built from files it refuses.
#
# target                    corpus      dictionary   longest input  leaks checked
table="
velmora_fuzz_load_binary    binary      load.dict    16384       1
velmora_fuzz_load_text      text        load.dict    16384       1
velmora_fuzz_tag_lines      tag_lines   tag_lines.dict 4096        1
velmora_fuzz_scene          scene       scene.dict   1048576     1
velmora_fuzz_obj            obj         obj.dict     262144      1
velmora_fuzz_mesh_import    mesh_import mesh.dict    65536       0
velmora_fuzz_image_png      image_png   -            262144      0
velmora_fuzz_image_hdr      image_hdr   -            262144      0
velmora_fuzz_image_jpeg     image_jpeg  -            262144      0
velmora_fuzz_image_tiff     image_tiff  -            262144      0
velmora_fuzz_image_exr      image_exr   -            262144      0
velmora_fuzz_cli            cli         cli.dict     4096        1
velmora_fuzz_serve_requests serve_requests serve.dict 16384     1
velmora_fuzz_lws            lws         lws.dict     262144      1
velmora_fuzz_overlay        overlay     overlay.dict 65536       1
velmora_fuzz_mesh_answer    mesh_answer -            262144      1
"
targets=()
while read -r target _; do
  [ -n "$target" ] || continue
  if [ -n "${VELMORA_FUZZ_TARGETS:-}" ] && [[ " $VELMORA_FUZZ_TARGETS " != *" $target "* ]]; then continue; fi
  targets+=("$target")
done <<<"$table"

scripts/install-deps.sh fuzz
cmake --preset linux-fuzz >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"

status=0
while read -r target corpus dict maxlen leaks; do
  [[ " ${targets[*]} " == *" $target "* ]] || continue
  seeds=fuzz/corpus/$corpus
  work=$build/campaign/$target
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp "$seeds"/* "$work/corpus/"  # new inputs go to the scratch copy, not the committed seeds
  opts=(-timeout=10 -rss_limit_mb=2048 -max_len="$maxlen" -detect_leaks="$leaks" -artifact_prefix="$work/artifacts/")
  export ASAN_OPTIONS="detect_leaks=$leaks"
  round=$seconds
  [ "$leaks" = 1 ] || round=20
  [ "$dict" = - ] || opts+=(-dict="fuzz/$dict")
  echo "== $target: replay $(ls "$seeds" | wc -l) inputs, then ${seconds} s"
  if ! "$build/fuzz/$target" "${opts[@]}" -runs=0 "$seeds" >"$work/replay.log" 2>&1; then
    status=1
    echo "== $target FAILED on its committed corpus:"
    tail -n 60 "$work/replay.log"
    continue
  fi
  ok=1
  : >"$work/log"
  for ((left = seconds, r = 0; left > 0 && ok; left -= round, r++)); do
    "$build/fuzz/$target" "${opts[@]}" -max_total_time=$((left < round ? left : round)) \
      -seed=$((${VELMORA_FUZZ_SEED:-1} + r)) -print_final_stats=1 "$work/corpus" >>"$work/log" 2>&1 || ok=0
  done
  if [ $ok = 1 ]; then
    awk '/^stat::number_of_executed_units/ {n += $2} END {print "   executions: " n}' "$work/log"
    if [ $grow = 1 ]; then
      mkdir -p "$work/merged"
      "$build/fuzz/$target" "${opts[@]}" -merge=1 "$work/merged" "$seeds" "$work/corpus" >"$work/merge.log" 2>&1
      rm -f "$seeds"/*
      cp "$work/merged"/* "$seeds"/
      echo "   corpus now $(ls "$seeds" | wc -l) inputs"
    fi
  else
    status=1
    echo "== $target FAILED; inputs kept in $work/artifacts:"
    ls -l "$work/artifacts"
    tail -n 60 "$work/log"
  fi
done <<<"$table"
exit $status
