# Shared by the build scripts: where the sources are and how to configure.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="$(nproc)"
# ccache keys on paths relative to the source root, so another clone of the
# project reuses what this one compiled.
export CCACHE_BASEDIR="$ROOT"
export CCACHE_NOHASHDIR=true
# On a miss ccache would first run the preprocessor to compute its key; in
# depend mode it keys on the compiler's own dependency list (-MD) instead,
# so a cold build does not preprocess every file twice.
export CCACHE_DEPEND=true

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
#
# The tests' sandboxes (and every other temporary file of theirs) go to a
# folder of their own in memory (/dev/shm) when there is one: many tests write
# and sync files and whole folder trees, which on a disk made them wait for
# it more than they computed. The folder is removed afterwards.
run_ctest() {
  local rc=0 tmp=""
  if [[ -d /dev/shm && -w /dev/shm ]]; then
    tmp="$(mktemp -d /dev/shm/qlm-ctest-XXXXXX 2>/dev/null)" || tmp=""
    # Shared as /tmp is (sticky, open to every user): the tests that run a
    # child under another user id make their shared folders in it.
    [[ -n "$tmp" ]] && chmod 1777 "$tmp"
  fi
  rm -f Testing/Temporary/LastTestsFailed.log
  if [[ -n "$tmp" ]]; then
    TMPDIR="$tmp" ctest "$@" || rc=$?
    rm -rf "$tmp"
  else
    ctest "$@" || rc=$?
  fi
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
