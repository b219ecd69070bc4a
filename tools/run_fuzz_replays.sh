#!/usr/bin/env bash
# Builds every libFuzzer target with clang 16 (every library instrumented:
# coverage, AddressSanitizer, UndefinedBehaviorSanitizer with
# float-cast-overflow) and runs each once over its committed corpus
# (fuzz/corpus/<target>, libFuzzer's -runs=0): the fuzz build compiles, and
# every stored input passes under its sanitizers within the per-input time.
#
#   tools/run_fuzz_replays.sh [target ...]     (default: every target)
#
# The per-input time is the one every fuzz run uses (fuzz_limits.h,
# cnFuzzSecondsPerInput: 10 s); a stored input is expected to take a small
# part of it, so that a loaded machine does not stop on one.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
bash "$ROOT/tools/setup.sh"
seconds_per_input=10
build="$ROOT/build/fuzz"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(sed -n 's/^qlm_fuzz_target(\([a-z0-9_]*\).*/\1/p' "$ROOT/fuzz/CMakeLists.txt")
fi
cmake -S "$ROOT" -B "$build" -G Ninja -DQLM_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-16 -DCMAKE_CXX_COMPILER=clang++-16 >/dev/null
cmake --build "$build" -j "$JOBS" --target "${targets[@]/%/_fuzz}"
mkdir -p "$build/replays"
passed=0
failed=()
for t in "${targets[@]}"; do
  log="$build/replays/$t.log"
  start=$EPOCHREALTIME
  if (cd "$build/replays" && ASAN_OPTIONS=detect_leaks=1 "$build/fuzz/${t}_fuzz" -runs=0 \
      -timeout="$seconds_per_input" -rss_limit_mb=2048 "$ROOT/fuzz/corpus/$t") >"$log" 2>&1; then
    passed=$((passed + 1))
    status=passed
  else
    failed+=("$t")
    status=FAILED
  fi
  inputs=$(find "$ROOT/fuzz/corpus/$t" -type f | wc -l)
  printf '%-20s %5d inputs %6.1f s  %s\n' "$t" "$inputs" "$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }')" "$status"
done
for t in "${failed[@]}"; do
  echo "---- $t (build/fuzz/replays/$t.log, last lines)"
  tail -n 30 "$build/replays/$t.log"
done
echo "fuzz: ${passed} passed, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ]
