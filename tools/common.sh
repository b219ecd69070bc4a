# Shared by the build scripts: where the sources are and how to configure.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="$(nproc)"
# ccache keys on paths relative to the source root, so another clone of the
# project reuses what this one compiled.
export CCACHE_BASEDIR="$ROOT"
export CCACHE_NOHASHDIR=true

# configure_and_build <build folder> <cmake options...>
configure_and_build() {
  local dir="$1"
  shift
  cmake -S "$ROOT" -B "$ROOT/$dir" -G Ninja "$@" >/dev/null
  cmake --build "$ROOT/$dir" -j "$JOBS"
}

# run_ctest <ctest options...>: runs CTest in the current folder and, when
# tests failed, ends by naming them (from CTest's failed-tests log), so that
# a rare failure is named at the end of what CI prints.
run_ctest() {
  local rc=0
  rm -f Testing/Temporary/LastTestsFailed.log
  ctest "$@" || rc=$?
  if ((rc != 0)); then
    echo "Tests that failed:"
    if [[ -s Testing/Temporary/LastTestsFailed.log ]]; then
      sed 's/^[0-9]*:/  /' Testing/Temporary/LastTestsFailed.log
    else
      echo "  (none named: CTest itself failed, exit $rc)"
    fi
  fi
  return "$rc"
}
