#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Slurm job array: each task renders one chunk of a frame range with velmora-render.
#
#   sbatch --array=0-29 scripts/slurm-frames.sh shot.json out.exr 1 240
#
# renders frames 1-240 in 30 tasks of 8 frames (the chunk is the range over the array's size,
# rounded up), each on one node with every core Slurm gives it. Files are numbered by frame
# (out_0001.exr, ...), so the tasks' files are the ones a single --frames 1-240 run writes.
# Set VELMORA_RENDER to the renderer if it is not on PATH; extra arguments after the range go
# to the renderer (--overlay skin.json, --samples 16, ...).
#SBATCH --job-name=velmora-frames
#SBATCH --nodes=1
#SBATCH --ntasks=1
#SBATCH --cpus-per-task=8
#SBATCH --output=velmora-frames-%A_%a.log
set -euo pipefail

if [ $# -lt 4 ]; then
  echo "usage: sbatch --array=0-N $0 SCENE OUTPUT FIRST LAST [renderer options...]" >&2
  exit 2
fi
scene=$1 output=$2 first=$3 last=$4
shift 4
render=${VELMORA_RENDER:-velmora-render}

task=${SLURM_ARRAY_TASK_ID:?run under sbatch --array}
tasks=${SLURM_ARRAY_TASK_COUNT:-1}
total=$((last - first + 1))
chunk=$(((total + tasks - 1) / tasks))
start=$((first + task * chunk))
end=$((start + chunk - 1))
[ "$end" -le "$last" ] || end=$last
if [ "$start" -gt "$last" ]; then
  echo "task $task has no frames"
  exit 0
fi
exec "$render" "$scene" -o "$output" --frames "$start-$end" --threads "${SLURM_CPUS_PER_TASK:-0}" --quiet "$@"
