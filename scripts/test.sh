#!/usr/bin/env bash
# Builds everything and runs every test: a plain build, an AddressSanitizer +
# UndefinedBehaviorSanitizer build and a ThreadSanitizer build, then the Windows
# cross builds, each with its tests run under wine: x86_64, and i686 with the i686
# Release build of tovi.dll that goes to a plant; last, a bounded run of the fuzzers.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)

configure_and_build() {
  local name=$1; shift
  echo "== build $name"
  cmake -S . -B "build/$name" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" > "build-$name.log" 2>&1 \
    || { cat "build-$name.log"; exit 1; }
  cmake --build "build/$name" -j "$jobs"
  rm -f "build-$name.log"
}

run_tests() {
  local name=$1
  echo "== test $name"
  ctest --test-dir "build/$name" --output-on-failure -j "$jobs" --timeout 300
}

# A cross build's tests under wine, with one wine server for the whole run, ended
# afterwards whatever the result.
run_wine_tests() {
  local run=build/$1/wine-run.sh
  "$run" --keep
  local code=0
  run_tests "$1" || code=$?
  "$run" --stop || true
  return "$code"
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

configure_and_build plain
run_tests plain
configure_and_build asan -DTOVI_SANITIZE=address -DTOVI_BUILD_BENCHMARKS=OFF
run_tests asan
configure_and_build tsan -DTOVI_SANITIZE=thread -DTOVI_BUILD_BENCHMARKS=OFF
# ThreadSanitizer needs a memory layout that high address randomisation can break.
setarch "$(uname -m)" -R true 2>/dev/null && tsan_prefix=(setarch "$(uname -m)" -R) || tsan_prefix=()
"${tsan_prefix[@]}" ctest --test-dir build/tsan --output-on-failure -j "$jobs" --timeout 300
configure_and_build mingw-x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-w64-mingw32.cmake
# Every test program and the emulator run under wine (build/mingw-x86_64/wine-run.sh),
# in a wine prefix of the build's own, made by the first run.
wine_start=$SECONDS
run_wine_tests mingw-x86_64
echo "== wine tests took $((SECONDS - wine_start)) s"
# The build a plant receives: tovi.dll for the 32-bit host, in Release as a user makes it.
configure_and_build mingw-i686-release -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake \
  -DCMAKE_BUILD_TYPE=Release -DTOVI_BUILD_TESTS=OFF
# The 32-bit suite under 32-bit wine (build/mingw-i686/wine-run.sh, a 32-bit prefix of
# its own), and every scenario and the recorder's round trip against the Release
# tovi.dll above.
configure_and_build mingw-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake \
  -DTOVI_RELEASE_BIN="$PWD/build/mingw-i686-release/bin"
if [[ -x build/mingw-i686/wine-run.sh ]]; then
  wine_start=$SECONDS
  run_wine_tests mingw-i686
  echo "== 32-bit wine tests took $((SECONDS - wine_start)) s"
else
  # The configure step said why (a kernel without 32-bit program support, or no wine32).
  echo "== test mingw-i686: skipped, 32-bit wine cannot start on this machine: compiled and linked only"
fi
# Coverage-guided fuzzing for a bounded time: one million runs of the
# configuration target, then the request, text and recording targets side by side
# for three minutes.
fuzz_start=$SECONDS
scripts/fuzz.sh 1000000 180
echo "== fuzzing took $((SECONDS - fuzz_start)) s"
echo "== all tests passed"
