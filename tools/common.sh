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
