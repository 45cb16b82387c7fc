#!/usr/bin/env bash
# The main job: builds the driver and the host emulator and runs the emulator on
# the shipped example plant.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build/plain -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build/plain -j "$(nproc)" --target tovihost tovi
exec build/plain/bin/tovihost check examples/plant.ini "$@"
