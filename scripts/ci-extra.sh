#!/usr/bin/env bash
# CI's checks beyond the test suites: a multi-threaded render under ThreadSanitizer, and a short
# fuzzing campaign per target: each replays its corpus, then fuzzes with a fixed seed.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -x scripts/tsan-render.sh ]; then
  echo "== multi-threaded render under ThreadSanitizer"
  scripts/tsan-render.sh
fi
if [ -x fuzz/run-campaign.sh ]; then
  echo "== fuzzing: the plug-in's load path and every parser of the renderer"
  fuzz/run-campaign.sh "${VELMORA_FUZZ_SECONDS:-20}"
fi
