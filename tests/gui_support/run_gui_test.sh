#!/bin/sh
# Runs one window-system test program under a private X server
# (xvfb-run). Exits 77, which CTest counts as skipped, when xvfb-run is
# missing or no X server could be started.
if ! command -v xvfb-run >/dev/null 2>&1; then
  echo "SKIPPED: xvfb-run is not installed (package xvfb)"
  exit 77
fi
marker=$(mktemp) || exit 1
# Parallel runs may race for the same free display number: try again.
for attempt in 1 2 3; do
  rm -f "$marker"
  NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory xvfb-run -a -s "-screen 0 1024x768x24" \
    sh -c 'touch "$0" && exec "$@"' "$marker" "$@"
  rc=$?
  if [ -e "$marker" ]; then
    rm -f "$marker"
    exit $rc
  fi
  sleep "$attempt"
done
echo "SKIPPED: no X server could be started (xvfb-run exit $rc)"
exit 77
