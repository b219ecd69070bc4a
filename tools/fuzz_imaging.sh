#!/usr/bin/env bash
# Runs every imaging fuzz target for a number of minutes each with the clang
# 16 fuzz build (ASan and UBSan), minimises what it found and copies the
# inputs that raise coverage into the committed corpora (fuzz/corpus/<target>).
#
#   tools/fuzz_imaging.sh [minutes per target, default 30] [target ...]
#
# Needs -DQLM_FUZZ=ON in build/fuzz (made here when missing). Per target it
# prints executions, coverage and findings; crashers stay in
# build/fuzz/findings/<target>/ (crash-*, leak-*, timeout-*, oom-*) to be
# made into named fixtures with their fix. A refused allocation under the
# 64 MB bitmap cap is a logged failure, not a finding; the memory limit
# (-rss_limit_mb) catches what passes the cap.
set -euo pipefail
cd "$(dirname "$0")/.."
minutes="${1:-30}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(jpeg_open png_open png_text jng_open svg_open svg_micro png_roundtrip png_differential bitmap_ops image_frames)
fi
build=build/fuzz
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DQLM_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang-16 -DCMAKE_CXX_COMPILER=clang++-16 >/dev/null
fi
cmake --build "$build" -j3 --target $(printf '%s_fuzz ' "${targets[@]}") >/dev/null
seconds=$((minutes * 60))
for t in "${targets[@]}"; do
  corpus="fuzz/corpus/$t"
  work="$build/work/$t"
  findings="$build/findings/$t"
  mkdir -p "$work" "$findings" "$corpus"
  dict=()
  case "$t" in
    png_*|jng_open) dict=(-dict=fuzz/png.dict) ;;
    svg_*) dict=(-dict=fuzz/svg.dict) ;;
  esac
  log="$build/findings/$t.log"
  # Timeout per input: fuzz_limits.h's cnFuzzSecondsPerInput.
  "$build/fuzz/${t}_fuzz" "${dict[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$work" "$corpus" >"$log" 2>&1 || true
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || echo 0)
  found=$(find "$findings" -maxdepth 1 -type f | wc -l)
  # Inputs of the run that add coverage to the committed corpus go into it
  # (libFuzzer's merge names them by their SHA-1); larger than 64 KB only by
  # hand, with a reason in the commit.
  before=$(ls "$corpus" | wc -l)
  "$build/fuzz/${t}_fuzz" -merge=1 -max_len=65536 "$corpus" "$work" >/dev/null 2>&1 || true
  added=$(( $(ls "$corpus" | wc -l) - before ))
  echo "$t: ${minutes} min, ${execs} executions, coverage ${cov}, ${found} findings, ${added} inputs added"
done
