# SPDX-License-Identifier: Apache-2.0
# Sourced by the test and CI scripts: `stage NAME COMMAND...` runs one stage and records its wall
# and CPU time; `stage_table` prints them. Stages nested in a script called by another (CI runs
# scripts/test-all.sh) are recorded in the caller's table through VELMORA_STAGE_LOG.
if [ -z "${VELMORA_STAGE_LOG:-}" ]; then
  VELMORA_STAGE_LOG=$(mktemp)
  export VELMORA_STAGE_LOG
  VELMORA_STAGE_OWNER=$$
fi

stage() {
  local name=$1; shift
  echo "== $name"
  # This shell's CPU time and its waited-for children's, read here: a command substitution is a
  # subshell of its own.
  local start cpu0 cpu1 status=0 self=$BASHPID
  start=$(date +%s.%N)
  cpu0=$(awk '{print $14 + $15 + $16 + $17}' "/proc/$self/stat")
  "$@" || status=$?
  cpu1=$(awk '{print $14 + $15 + $16 + $17}' "/proc/$self/stat")
  printf '%s\t%s\t%s\t%s\n' "$name" "$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN {print b - a}')" \
    "$(awk -v t="$((cpu1 - cpu0))" -v hz="$(getconf CLK_TCK)" 'BEGIN {print t / hz}')" "$status" >>"$VELMORA_STAGE_LOG"
  return $status
}

stage_table() {
  [ "${VELMORA_STAGE_OWNER:-}" = $$ ] || return 0
  echo
  printf '%-44s %9s %9s  %s\n' "stage" "wall s" "CPU s" "result"
  awk -F'\t' '{ printf "%-44s %9.0f %9.0f  %s\n", $1, $2, $3, ($4 == 0 ? "ok" : "FAILED (" $4 ")"); w += $2; c += $3 }
              END { printf "%-44s %9.0f %9.0f\n", "total", w, c }' "$VELMORA_STAGE_LOG"
  rm -f "$VELMORA_STAGE_LOG"
}
