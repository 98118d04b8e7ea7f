#!/usr/bin/env bash
# CI's checks beyond the test suites: a multi-threaded render under ThreadSanitizer, and a short
# fuzzing campaign on the plug-in's load path.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -x scripts/tsan-render.sh ]; then
  echo "== multi-threaded render under ThreadSanitizer"
  scripts/tsan-render.sh
fi
if [ -x fuzz/run-campaign.sh ]; then
  echo "== fuzzing the load path"
  fuzz/run-campaign.sh "${VELMORA_FUZZ_SECONDS:-60}"
fi
