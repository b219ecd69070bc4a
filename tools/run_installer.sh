#!/usr/bin/env bash
# Sets up the machine, builds the installer (Release) and runs it.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
bash "$ROOT/tools/setup.sh"
configure_and_build build/release -DCMAKE_BUILD_TYPE=Release
exec "$ROOT/build/release/program/korvane_installer" "$@"
