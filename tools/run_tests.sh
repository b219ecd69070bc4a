#!/usr/bin/env bash
# Sets up the machine, builds everything (Release) and runs every test.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
bash "$ROOT/tools/setup.sh"
bash "$ROOT/tools/fetch_corpora.sh"
# The corpora are there: a test that cannot find its file fails instead of skipping.
export QLM_REQUIRE_CORPORA=1
configure_and_build build/release -DCMAKE_BUILD_TYPE=Release
cd "$ROOT/build/release"
run_ctest --output-on-failure -j "$JOBS"
