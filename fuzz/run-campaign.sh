#!/usr/bin/env bash
# Builds the fuzz targets (preset linux-fuzz) and runs each for SECONDS seconds, starting from the
# committed seeds in fuzz/corpus/ with the tokens of fuzz/load.dict. Exits non-zero when any
# target fails (a crash, a sanitizer report, a time-out or a broken load); the failing input is
# kept under build/linux-fuzz/campaign/<target>/ with the target's log.
# The generator seed is fixed (VELMORA_FUZZ_SEED, default 1), so a campaign repeats itself.
#
# Usage: fuzz/run-campaign.sh SECONDS      (CI runs a short campaign: 60)
# Reproduce: build/linux-fuzz/fuzz/<target> <input>
set -euo pipefail

seconds=${1:?usage: fuzz/run-campaign.sh SECONDS}
case $seconds in
  '' | *[!0-9]*) echo "run-campaign.sh: SECONDS must be a whole number, not '$seconds'" >&2; exit 2 ;;
esac

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=build/linux-fuzz
targets=(velmora_fuzz_load_binary velmora_fuzz_load_text)

cmake --preset linux-fuzz >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"

status=0
for target in "${targets[@]}"; do
  seeds=fuzz/corpus/${target#velmora_fuzz_load_}
  work=$build/campaign/$target
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp "$seeds"/* "$work/corpus/"  # new inputs go to the scratch copy, not the committed seeds
  echo "== $target: ${seconds} s from $seeds"
  if "$build/fuzz/$target" -max_total_time="$seconds" -max_len=16384 -timeout=10 -rss_limit_mb=2048 \
      -seed="${VELMORA_FUZZ_SEED:-1}" \
      -dict=fuzz/load.dict -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/log" 2>&1; then
    grep -E '^(Done|stat::number_of_executed_units)' "$work/log" || true
  else
    status=1
    echo "== $target FAILED; inputs kept in $work/artifacts:"
    ls -l "$work/artifacts"
    tail -n 60 "$work/log"
  fi
done
exit $status
