#!/usr/bin/env bash
# Coverage-guided fuzzing with libFuzzer (clang, AddressSanitizer + UndefinedBehaviorSanitizer).
#   scripts/fuzz.sh [RUNS_CONFIG] [SECONDS_OTHERS]
# The configuration target runs RUNS_CONFIG executions (default 2000000), then the
# request, text and recording targets side by side for SECONDS_OTHERS seconds
# (default 120). A crash stops the run
# and leaves its input in build/fuzz/findings/; keep it in tests/fuzz/regressions/<target>/
# once fixed, so that the ordinary test command replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
runs_config=${1:-2000000}
seconds_others=${2:-120}
jobs=$(nproc)
runtime_dir=$(dirname "$(clang++ -print-file-name=libclang_rt.asan-x86_64.so)")
if [[ ! -f build/fuzz/build.ninja ]]; then
  CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTOVI_SANITIZE=address -DTOVI_FUZZ=ON -DTOVI_BUILD_BENCHMARKS=OFF \
    "-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link -shared-libasan" \
    "-DCMAKE_EXE_LINKER_FLAGS=-shared-libasan -Wl,-rpath,$runtime_dir" \
    "-DCMAKE_SHARED_LINKER_FLAGS=-shared-libasan -Wl,-rpath,$runtime_dir" > build-fuzz.log 2>&1 \
    || { cat build-fuzz.log; exit 1; }
  rm -f build-fuzz.log
fi
cmake --build build/fuzz -j "$jobs" --target fuzz_config fuzz_requests fuzz_text fuzz_recording
export ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
root=$PWD
findings=$root/build/fuzz/findings
mkdir -p "$findings"

# fuzz TARGET PROCESSES [libFuzzer options]: PROCESSES fuzzers side by side on one
# corpus; prints the executions they made together.
fuzz() {
  local target=$1 processes=$2; shift 2
  # Kept findings live in the source tree; git keeps no empty directory.
  mkdir -p "build/fuzz/corpus/$target" "$root/tests/fuzz/regressions/$target"
  echo "== fuzz $target ($processes processes) $*"
  local pids=() i
  for ((i = 0; i < processes; i++)); do
    (cd build/fuzz/bin && exec ./fuzz_$target -artifact_prefix="$findings/$target-" -print_final_stats=1 \
        -max_len=4096 -seed=$((i + 1)) "$@" "$root/build/fuzz/corpus/$target" "$root/tests/fuzz/seeds/$target" \
        "$root/tests/fuzz/regressions/$target") > "build/fuzz/$target-$i.log" 2>&1 &
    pids+=($!)
  done
  local failed=0
  for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
  local executed
  executed=$(cat build/fuzz/$target-*.log | awk '/^stat::number_of_executed_units:/ {s += $2} END {print s + 0}')
  echo "fuzz $target: ${executed:-0} executions"
  if ((failed)) || ls "$findings/$target-"* > /dev/null 2>&1; then
    grep -hE 'ERROR|SUMMARY|Test unit written|No such file' build/fuzz/$target-*.log || tail -5 build/fuzz/$target-0.log
    echo "fuzz $target: failed; inputs that made it fail are in $findings"
    exit 1
  fi
}

fuzz config "$jobs" -runs="$((runs_config / jobs))" -dict="$root/tests/fuzz/config.dict"
# The time-bounded targets run side by side, sharing the cores for the same time.
pids=()
fuzz requests 1 -max_total_time="$seconds_others" & pids+=($!)
fuzz text 1 -max_total_time="$seconds_others" & pids+=($!)
fuzz recording 1 -max_total_time="$seconds_others" -dict="$root/tests/fuzz/recording.dict" & pids+=($!)
failed=0
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
((failed == 0)) || exit 1
echo "== fuzzing found nothing"
