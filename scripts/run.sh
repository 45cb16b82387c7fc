#!/usr/bin/env bash
# The main job: builds the driver, the simulated device manager and the host
# emulator, then lets tovihost run the shipped example plant for a few cycles
# (inputs read, outputs written, the panel display driven, one injected fault
# reported) and end by itself. Arguments are handed to tovihost.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build/plain -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build/plain -j "$(nproc)" --target tovihost
exec build/plain/bin/tovihost "$@"
