#!/bin/sh
# Rewrites the golden files of tests/golden/ from a build's tovihost and shows what
# changed, for review: commit the new files only when every changed line is meant.
#   scripts/update-goldens.sh [BUILD_DIR]     (default build/plain)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build/plain}
cmake --build "$build" --target tovihost tovi ADSAPI32 ADSCOMM
TOVI_UPDATE_GOLDENS=1 ctest --test-dir "$build" -L golden --output-on-failure >/dev/null || true
ctest --test-dir "$build" -L golden --output-on-failure
git add --intent-to-add -- tests/golden  # new golden files show in the diff too
git --no-pager diff --stat -- tests/golden
git --no-pager diff -- tests/golden
