#!/bin/sh
# The installer program end to end on a private X server: started in a
# sandbox (HOME, the XDG folders and the registry inside a fresh temporary
# folder), driven with xdotool through Continue, the agreement box,
# Continue, Install and, once the installation ended, Finish (on the way the
# agreement's print preview is opened, resized and closed). The sandbox
# then holds the installation, its registry values, its shortcuts and its
# configuration, and the installed program was started.
# With "fail", a file stands where the installation's "Data" folder goes:
# the installation fails, Finish ends the program, and its exit status is 1.
# Usage: installer_e2e.sh <korvane_installer> [fail] (run under xvfb-run).
set -u
program=$1
mode=${2:-}
for tool in xdotool; do
  if ! command -v $tool >/dev/null 2>&1; then echo "SKIPPED: $tool is not installed"; exit 77; fi
done
sandbox=$(mktemp -d) || exit 1
trap 'rm -rf "$sandbox"' EXIT
export HOME="$sandbox/home" XDG_DATA_HOME="$sandbox/home/.local/share" XDG_CONFIG_HOME="$sandbox/home/.config" \
  XDG_CACHE_HOME="$sandbox/home/.cache" XDG_DESKTOP_DIR="$sandbox/home/Desktop"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
cd "$sandbox" || exit 1

fail() { echo "FAILED: $*"; [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null; exit 1; }

"$program" >"$sandbox/out.txt" 2>&1 &
pid=$!
win=
for i in $(seq 1 100); do
  win=$(xdotool search --name "^Korvane Snaprill 1.31 Installer\$" 2>/dev/null | head -1)
  [ -n "$win" ] && break
  sleep 0.1
done
[ -n "$win" ] || fail "no installer window"
xdotool windowactivate --sync "$win" >/dev/null 2>&1 || xdotool windowfocus --sync "$win" || true
sleep 0.5

# Clicks at client pixels of the window.
click() {
  xdotool mousemove --window "$win" "$1" "$2" sleep 0.2 click 1
  sleep 0.4
}
dest="$XDG_DATA_HOME/Korvane-Snaprill"
config="$dest/Data/Korvane-Snaprill.capture-config"

if [ "$mode" = fail ]; then
  mkdir -p "$dest" && echo "in the way" >"$dest/Data"
  click 640 453   # Continue
  click 178 397   # the agreement box
  click 640 453   # Continue
  click 640 453   # Install
  # Finish comes where Install was, once the installation has failed.
  for i in $(seq 1 120); do
    kill -0 "$pid" 2>/dev/null || break
    click 639 454
  done
  kill -0 "$pid" 2>/dev/null && fail "Finish did not end the program"
  wait "$pid"
  rc=$?
  [ "$rc" -eq 1 ] || fail "the failed installation exited with $rc: $(cat "$sandbox/out.txt")"
  [ -f "$dest/uninstall.config" ] && fail "the failed installation wrote its manifest"
  echo "PASSED"
  exit 0
fi

click 640 453   # Continue
# The agreement's print preview, enlarged and made small again, then closed.
click 651 400   # Print
preview=
for i in $(seq 1 50); do
  preview=$(xdotool search --onlyvisible --classname korvane_installer 2>/dev/null | grep -vx "$win" | head -1)
  [ -n "$preview" ] && break
  sleep 0.1
done
[ -n "$preview" ] || fail "no print preview"
sleep 0.5
xdotool windowsize "$preview" 800 650
sleep 0.5
xdotool windowsize "$preview" 525 300
sleep 0.5
xdotool mousemove --window "$preview" 476 280 sleep 0.2 click 1   # Close
sleep 0.5
click 178 397   # the agreement box
click 640 453   # Continue
click 640 453   # Install
# The finish page writes the capture configuration last.
for i in $(seq 1 300); do
  [ -s "$config" ] && break
  kill -0 "$pid" 2>/dev/null || fail "the installer ended early: $(cat "$sandbox/out.txt")"
  sleep 0.1
done
[ -s "$config" ] || fail "no finish page"
sleep 0.5
click 639 454   # Finish
for i in $(seq 1 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "Finish did not end the program"
wait "$pid"
rc=$?
[ "$rc" -eq 0 ] || fail "the installer exited with $rc"
sleep 0.5

for f in Korvane-Snaprill.exe uninstall.exe Korvane-Snaprill-EULA.txt uninstall.config Images/snr300.png \
         Images/water16_9.jpg Images/water3_2.jpg Images/water4_3.jpg; do
  [ -f "$dest/$f" ] || fail "missing file $f"
done
for d in Captured Compositions Data Images; do
  [ -d "$dest/$d" ] || fail "missing folder $d"
done
[ "$(grep -c '' "$config")" -eq 6 ] || fail "the capture configuration is not six lines"
grep -q "start_ww = true" "$config" || fail "autorun not in the configuration"
hive=$(find "$XDG_CONFIG_HOME" -type f | head -1)
[ -n "$hive" ] || fail "no registry"
for v in UninstallString DisplayName Publisher; do
  grep -q "$v" "$hive" || fail "no Uninstall value $v"
done
grep -q "Korvane-Snaprill\\\\\\\\Korvane-Snaprill\|Korvane-Snaprill\\\\Korvane-Snaprill" "$hive" || fail "no Run value"
links=$(find "$HOME" -name '*.lnk' -o -name '*.desktop' | wc -l)
[ "$links" -ge 3 ] || fail "expected 3 shortcuts, found $links"
grep -qx "Korvane Snaprill 1.31" "$sandbox/out.txt" || fail "the installed program was not started"
# The toolkit had nothing to complain about on the whole walk.
if grep -E "(Gtk|Gdk|GLib|GLib-GObject|Pango)-(WARNING|CRITICAL)" "$sandbox/out.txt"; then
  fail "GTK printed warnings or criticals"
fi
echo "PASSED"
