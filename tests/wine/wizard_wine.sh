#!/bin/sh
# The Windows patcher's dialogs driven by keyboard on a virtual X server,
# under Wine. Runs:
#   dialogs  the XAPK chooser (its title, the XAPK filter selected) takes a
#            typed path and hands it back; Escape cancels it; the folder
#            chooser opens in the current folder and takes a typed folder.
# They run in a Wine prefix of their own (build-win/wineprefix-gui) whose
# home, and so whose desktop folder, lies in the build folder too, so that
# nothing lands in the user's real home.
#
# usage: wizard_wine.sh WIN_BUILD_DIR dialogs
# Screenshots are kept in WIN_BUILD_DIR/wizard-shots/RUN.
set -eu
NAME=wizard_wine
. "$(dirname "$0")/../wizard/xvfb_common.sh"

if [ "${1:-}" != "--inner" ]; then
  BUILD=$(cd "${1:?usage: wizard_wine.sh WIN_BUILD_DIR dialogs}" && pwd)
  RUN=${2:?usage: wizard_wine.sh WIN_BUILD_DIR dialogs}
  case "$RUN" in dialogs) ;; *) echo "wizard_wine: unknown run $RUN" >&2; exit 2 ;; esac
  need_xvfb_tools
  WORK=$(mktemp -d "${TMPDIR:-/tmp}/wizard_wine.XXXXXX")
  trap 'rm -rf "$WORK"' EXIT
  SHOTS=$BUILD/wizard-shots/$RUN
  rm -rf "$SHOTS"
  mkdir -p "$SHOTS" "$BUILD/wine-gui-home"
  # The prefix is made (once) away from the display, where Wine starts no
  # desktop of its own; choose_dialog without arguments only prints usage.
  SRC=$(cd "$(dirname "$0")/../.." && pwd)
  env -u DISPLAY HOME="$BUILD/wine-gui-home" timeout -k 5 300 \
    sh "$SRC/scripts/wine-run.sh" "$BUILD/wineprefix-gui" "$BUILD/choose_dialog.exe" >/dev/null 2>&1 || true
  [ -f "$BUILD/wineprefix-gui/.ready" ] || { echo "wizard_wine: the Wine prefix could not be made" >&2; exit 1; }
  # Its Wine server must be gone before the display comes: a server started
  # without one keeps a desktop that no X server shows.
  WINEPREFIX="$BUILD/wineprefix-gui" timeout -k 5 30 wineserver -w || true
  on_virtual_display 120 "$0" --inner "$BUILD" "$RUN" "$WORK" "$SHOTS"
fi

# --- inside the virtual display ----------------------------------------------
BUILD=$2 RUN=$3 WORK=$4 SHOTS=$5
SRC=$(cd "$(dirname "$0")/../.." && pwd)
export HOME="$BUILD/wine-gui-home"
PREFIX="$BUILD/wineprefix-gui"
PROGRAM_PID=
OUT="$WORK/chosen.txt"

fail() {
  echo "wizard_wine: $RUN: $*" >&2
  /usr/bin/import -window root "$SHOTS/failure.png" 2>/dev/null || true
  [ -n "$PROGRAM_PID" ] && kill "$PROGRAM_PID" 2>/dev/null
  exit 1
}
shot() { /usr/bin/import -window root "$SHOTS/$1.png" || fail "screenshot $1"; }
# The path as a Windows program under Wine names it.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
# A Windows program of the build under Wine, in the background.
start_program() {
  sh "$SRC/scripts/wine-run.sh" "$PREFIX" "$@" >"$OUT" 2>"$WORK/stderr.txt" &
  PROGRAM_PID=$!
}
# Sets dialog to the visible window whose title is exactly $1, waiting up
# to 20 s.
window_titled() {
  dialog= title=$1
  wait_until 'dialog=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n 1); [ -n "$dialog" ]' 200 \
    || fail "no window \"$1\" opened"
}
# Waits for the program to end and checks its exit code and its one line.
expect_result() {
  wait_until '! kill -0 "$PROGRAM_PID" 2>/dev/null' 100 || fail "the dialog did not close"
  rc=0
  wait "$PROGRAM_PID" || rc=$?
  PROGRAM_PID=
  [ "$rc" -eq "$1" ] || fail "exit code $rc, not $1"
  [ "$(tr -d '\r' <"$OUT")" = "$2" ] || fail "the dialog gave \"$(cat "$OUT")\", not \"$2\""
}
# Types into the focused dialog's file name field and accepts.
type_and_accept() {
  xdotool windowfocus --sync "$1"
  sleep 0.3
  xdotool type --delay 5 "$2"
  sleep 0.3
  shot "$3"
  xdotool key Return
}

run_dialogs() {
  XAPK_TITLE='Choose the VELMO 1.0.7 XAPK'
  FOLDER_TITLE='Folder for the VELMO Windows game'
  mkdir -p "$WORK/games/New folder" "$WORK/downloads"
  printf 'PK' >"$WORK/downloads/harrowmere 1.0.7.xapk"

  start_program "$BUILD/choose_dialog.exe" xapk "$XAPK_TITLE"
  window_titled "$XAPK_TITLE"
  sleep 0.5
  shot 1-xapk-chooser
  type_and_accept "$dialog" "$(winpath "$WORK/downloads/harrowmere 1.0.7.xapk")" 2-xapk-typed
  expect_result 0 "$(winpath "$WORK/downloads/harrowmere 1.0.7.xapk")"

  start_program "$BUILD/choose_dialog.exe" xapk "$XAPK_TITLE"
  window_titled "$XAPK_TITLE"
  sleep 0.5
  xdotool windowfocus --sync "$dialog" key Escape
  expect_result 1 cancelled

  # Opened in the current folder, whose subfolder is then typed by name.
  start_program "$BUILD/choose_dialog.exe" folder "$FOLDER_TITLE" "$(winpath "$WORK/games")"
  window_titled "$FOLDER_TITLE"
  sleep 0.5
  shot 3-folder-chooser-in-current
  type_and_accept "$dialog" "New folder" 4-folder-typed
  expect_result 0 "$(winpath "$WORK/games/New folder")"
  echo "wizard_wine: dialogs: the XAPK and folder choosers took typed paths and Escape; exit codes 0 and 1"
}

"run_$RUN"
exit 0
