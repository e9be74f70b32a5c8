#!/bin/sh
# The wizard driven by the mouse on a virtual X server: the small demo game's
# patcher is started with the destination pre-filled, the XAPK and then the
# destination are chosen through the file choosers, "Install" runs the job,
# the finished screen writes the desktop launcher and "Close" ends the run.
# The built tree must equal the expected one byte for byte and the exit code
# must be 0.
#
# usage: wizard_xvfb.sh BUILD_DIR
# Set VELMO_SHOTS_DIR to keep screenshots of every screen.
set -eu

if [ "${1:-}" != "--inner" ]; then
  BUILD=$(cd "${1:?usage: wizard_xvfb.sh BUILD_DIR}" && pwd)
  if ! command -v xvfb-run >/dev/null 2>&1; then
    echo "wizard_xvfb: skipped: xvfb-run is not installed (scripts/install-deps.sh installs it)"
    exit 0
  fi
  for tool in xdotool xauth; do
    command -v "$tool" >/dev/null 2>&1 || { echo "wizard_xvfb: $tool is missing" >&2; exit 1; }
  done
  [ -x /usr/bin/import ] || { echo "wizard_xvfb: /usr/bin/import (ImageMagick) is missing" >&2; exit 1; }
  WORK=$(mktemp -d "${TMPDIR:-/tmp}/wizard_xvfb.XXXXXX")
  trap 'rm -rf "$WORK"' EXIT
  "$BUILD/velmo-demo-game" "$WORK/demo" --scale small --music --patcher "$BUILD/velmo-patcher" \
    || { echo "wizard_xvfb: the demo game could not be made" >&2; exit 1; }
  # The whole run is bounded even if the X server or a step hangs.
  status=0
  timeout -k 5 90 xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" sh "$0" --inner "$WORK" || status=$?
  [ "$status" -eq 124 ] && echo "wizard_xvfb: timed out" >&2
  exit "$status"
fi

# --- inside the virtual display ----------------------------------------------
WORK=$2
SHOTS=${VELMO_SHOTS_DIR:-$WORK/shots}
mkdir -p "$SHOTS" "$WORK/home" "$WORK/tmp" "$WORK/out"
export NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory GDK_BACKEND=x11 SDL_AUDIODRIVER=dummy
export HOME="$WORK/home" TMPDIR="$WORK/tmp" XDG_CONFIG_HOME="$WORK/home/.config"
unset XDG_DESKTOP_DIR
XAPK="$WORK/demo/harrowmere-1.0.7.xapk"
DEST="$WORK/out"
PATCHER_PID=

fail() {
  echo "wizard_xvfb: $*" >&2
  /usr/bin/import -window root "$SHOTS/failure.png" 2>/dev/null || true
  [ -n "$PATCHER_PID" ] && kill "$PATCHER_PID" 2>/dev/null
  exit 1
}
shot() { /usr/bin/import -window root "$SHOTS/$1.png" || fail "screenshot $1"; }
# Clicks at a point of the wizard's client area.
click() { xdotool mousemove --window "$WID" "$1" "$2" click 1; }
# The id of a visible window whose title matches, waiting up to 10 s.
window_named() { timeout 10 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -n 1; }
# Types a path into a file chooser's location field and accepts it.
choose_path() {
  dialog=$(window_named "$1") || true
  [ -n "$dialog" ] || fail "the chooser \"$1\" did not open"
  xdotool windowfocus --sync "$dialog"
  sleep 0.3
  xdotool key ctrl+l
  sleep 0.2
  xdotool type --delay 5 "$2"
  sleep 0.3
  shot "$3"
  xdotool key Return
  # The chooser closes once it has accepted the path.
  i=0
  while xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; do
    i=$((i + 1))
    [ "$i" -le 50 ] || fail "the chooser \"$1\" did not accept $2"
    sleep 0.2
  done
}

# The wrong destination first: the chooser must replace it.
"$WORK/demo/velmo-patcher" /dest "$WORK/not-this-one" >"$WORK/patcher.log" 2>&1 &
PATCHER_PID=$!
WID=$(window_named '^VELMO Patcher$') || true
[ -n "$WID" ] || fail "the wizard window did not appear"
eval "$(xdotool getwindowgeometry --shell "$WID")"
[ "$WIDTH" -eq 1040 ] && [ "$HEIGHT" -eq 640 ] || fail "window is ${WIDTH}x$HEIGHT, not 1040x640"
# Centred on the 1280x1024 screen (no panels, so the work area is the screen).
[ "$X" -eq 120 ] && [ "$Y" -eq 192 ] || fail "window at $X,$Y, not centred at 120,192"
sleep 0.5
shot 1-choose-xapk

# Screen 1: "Browse..." opens the XAPK chooser; the check runs when it closes.
click 506 312
choose_path '^Choose the VELMO 1.0.7 XAPK$' "$XAPK" 2-xapk-chooser
sleep 1
# Mute (the pack has music) and hover "Next" before the shot.
click 925 24
xdotool mousemove --window "$WID" 149 562
sleep 0.4
shot 3-xapk-checked

# "Next" counts only once the check has ended and a frame has shown it
# enabled; until then the press is swallowed. "Browse..." then opens the
# folder chooser on screen 2, or the XAPK chooser again if still on screen 1.
XAPK_TITLE='^Choose the VELMO 1.0.7 XAPK$'
FOLDER_TITLE='^Folder for the VELMO Windows game$'
attempt=0
while :; do
  attempt=$((attempt + 1))
  [ "$attempt" -le 10 ] || fail "\"Next\" never led to the destination screen"
  click 149 562
  sleep 0.3
  click 506 312
  i=0
  while :; do
    xdotool search --onlyvisible --name "$FOLDER_TITLE" >/dev/null 2>&1 && break 2
    if dialog=$(xdotool search --onlyvisible --name "$XAPK_TITLE" 2>/dev/null | head -n 1) && [ -n "$dialog" ]; then
      xdotool windowfocus --sync "$dialog" key Escape
      sleep 1
      break
    fi
    i=$((i + 1))
    [ "$i" -le 50 ] || fail "no chooser opened from \"Browse...\""
    sleep 0.2
  done
done
choose_path "$FOLDER_TITLE" "$DEST" 4-folder-chooser
sleep 0.5
shot 5-destination
click 285 562

# Installing, then finished: "Create desktop shortcut" exists only on the
# finished screen, so the launcher appears once that screen is up.
sleep 0.3
shot 6-installing
LAUNCHER="$HOME/Desktop/VELMO.desktop"
i=0
while [ ! -f "$LAUNCHER" ]; do
  i=$((i + 1))
  [ "$i" -le 150 ] || fail "the finished screen did not come (see $WORK/patcher.log)"
  click 230 548
  sleep 0.2
done
sleep 0.3
shot 7-finished
[ "$(stat -c %a "$LAUNCHER")" = 755 ] || fail "the launcher is not executable"
grep -q '^Type=Application$' "$LAUNCHER" || fail "the launcher has no Type=Application"
grep -qx "Path=$DEST" "$LAUNCHER" || fail "the launcher does not start in the game folder"

# "Close" on the finished screen ends the wizard.
click 486 548
i=0
while kill -0 "$PATCHER_PID" 2>/dev/null; do
  i=$((i + 1))
  [ "$i" -le 50 ] || fail "the wizard did not close"
  sleep 0.1
done
rc=0
wait "$PATCHER_PID" || rc=$?
PATCHER_PID=
[ "$rc" -eq 0 ] || fail "exit code $rc after a successful install"

diff -r "$WORK/demo/expected" "$DEST" >"$WORK/diff.txt" 2>&1 \
  || { cat "$WORK/diff.txt" >&2; fail "the built tree differs"; }
[ -z "$(ls -A "$TMPDIR")" ] || fail "temporary files were left: $(ls -A "$TMPDIR")"
echo "wizard_xvfb: built the expected tree through the wizard; exit code 0"
