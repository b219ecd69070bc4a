#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs every test.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
bash "$ROOT/tools/setup.sh"
bash "$ROOT/tools/fetch_corpora.sh"
# The corpora are there: a test that cannot find its file fails instead of skipping.
export QLM_REQUIRE_CORPORA=1
configure_and_build build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQLM_SANITIZE=ON
cd "$ROOT/build/asan"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_ctest --output-on-failure -j "$JOBS"
