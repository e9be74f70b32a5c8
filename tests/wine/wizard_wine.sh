#!/bin/sh
# The Windows patcher's dialogs driven by keyboard on a virtual X server,
# under Wine. Runs:
#   dialogs  the XAPK chooser (its title, the XAPK filter selected) takes a
#            typed path and hands it back; Escape cancels it; the folder
#            chooser opens in the current folder and takes a typed folder.
#   install  the patcher's wizard window: the XAPK and the folder chosen in
#            those dialogs, "Next", "Install", the finished screen, "Create
#            desktop shortcut" (a VELMO.lnk naming the game's VELMO.exe on the
#            prefix's desktop) and "Close" with exit code 0; the built tree
#            equals the expected one byte for byte.
# They run in a Wine prefix of their own (build-win/wineprefix-gui) whose
# home, and so whose desktop folder, lies in the build folder too, so that
# nothing lands in the user's real home.
#
# usage: wizard_wine.sh WIN_BUILD_DIR dialogs|install
# Screenshots are kept in WIN_BUILD_DIR/wizard-shots/RUN.
set -eu
NAME=wizard_wine
. "$(dirname "$0")/../wizard/xvfb_common.sh"

if [ "${1:-}" != "--inner" ]; then
  BUILD=$(cd "${1:?usage: wizard_wine.sh WIN_BUILD_DIR dialogs}" && pwd)
  RUN=${2:?usage: wizard_wine.sh WIN_BUILD_DIR dialogs}
  case "$RUN" in dialogs|install) ;; *) echo "wizard_wine: unknown run $RUN" >&2; exit 2 ;; esac
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
  on_virtual_display 240 "$0" --inner "$BUILD" "$RUN" "$WORK" "$SHOTS"
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


# Waits until no window titled exactly $1 shows, and a frame more.
dialog_gone() {
  wait_until '! xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1' 100 || fail "\"$1\" did not close"
  sleep 0.5
}
# Clicks at a point of the wizard's client area.
click() { xdotool mousemove --window "$WID" "$1" "$2" click 1; }
# After a dialog, Wine may take the first press only to activate the
# wizard again: a press on empty space (below the drag band) does that.
activate() {
  click 800 500
  sleep 0.3
}

# Under Wine a wizard now and then stops answering "Browse..." on the
# destination screen (no dialog opens); that run starts over, at most twice.
run_install() {
  for round in 1 2 3; do
    rc=0
    install_once || rc=$?
    [ "$rc" -eq 3 ] || return "$rc"
    echo "wizard_wine: install: the folder chooser did not open (round $round); starting over"
    kill "$PROGRAM_PID" 2>/dev/null || true
    wait "$PROGRAM_PID" 2>/dev/null || true
    PROGRAM_PID=
    WINEPREFIX="$PREFIX" timeout -k 5 30 wineserver -k 2>/dev/null || true
    rm -rf "$WORK/out"
  done
  fail "\"Next\" and \"Browse...\" never opened the folder chooser"
}

install_once() {
  TITLE='VELMO Patcher'
  XAPK_TITLE='Choose the VELMO 1.0.7 XAPK'
  FOLDER_TITLE='Folder for the VELMO Windows game'
  DEMO="$BUILD/demo-plain"
  [ -f "$DEMO/VELMO Patcher.exe" ] || fail "the demo game is missing"
  DEST="$WORK/out"
  mkdir -p "$DEST"
  find "$HOME" "$PREFIX/drive_c/users" -name VELMO.lnk -delete 2>/dev/null || true

  start_program "$DEMO/VELMO Patcher.exe"
  window_titled "$TITLE"
  WID=$dialog
  eval "$(xdotool getwindowgeometry --shell "$WID")"
  [ "$WIDTH" -eq 1040 ] && [ "$HEIGHT" -eq 640 ] || fail "window is ${WIDTH}x$HEIGHT, not 1040x640"
  sleep 1
  shot 1-choose-xapk

  click 506 312
  window_titled "$XAPK_TITLE"
  sleep 0.5
  type_and_accept "$dialog" "$(winpath "$DEMO/harrowmere-1.0.7.xapk")" 2-xapk-chooser
  dialog_gone "$XAPK_TITLE"
  xdotool mousemove --window "$WID" 149 562
  sleep 0.5
  shot 3-xapk-checked

  # "Next" counts once the check has ended; "Browse..." then opens the folder
  # chooser, or the XAPK chooser again while still on the first screen. A
  # press lost on the way leaves either screen: with no dialog, only
  # "Browse..." is tried again, since "Next" sits where "Back" is.
  attempt=0 next=1
  while :; do
    attempt=$((attempt + 1))
    [ "$attempt" -le 6 ] || return 3
    activate
    if [ "$next" -eq 1 ]; then
      click 149 562
      sleep 0.5
    fi
    click 506 312
    d=
    wait_until 'xdotool search --onlyvisible --name "^$FOLDER_TITLE\$" >/dev/null 2>&1 ||
      { d=$(xdotool search --onlyvisible --name "^$XAPK_TITLE\$" 2>/dev/null | head -n 1); [ -n "$d" ]; }' 50 || true
    xdotool search --onlyvisible --name "^$FOLDER_TITLE\$" >/dev/null 2>&1 && break
    if [ -n "$d" ]; then
      xdotool windowfocus --sync "$d" key Escape
      dialog_gone "$XAPK_TITLE"
      next=1
    else
      next=0
    fi
  done
  window_titled "$FOLDER_TITLE"
  sleep 0.5
  type_and_accept "$dialog" "$(winpath "$DEST")" 4-folder-chooser
  dialog_gone "$FOLDER_TITLE"
  shot 5-destination

  # "Install" until the job has written its staging folder or the game.
  activate
  wait_until 'click 285 562; sleep 0.4; [ -n "$(ls -A "$DEST")" ]' 50 || fail "the install did not start"
  shot 6-installing
  wait_until '[ -f "$DEST/VELMO.exe" ] && [ ! -e "$DEST/.velmo-staging" ]' 600 || fail "the install did not finish"
  sleep 1
  shot 7-finished
  LINK=
  wait_until 'click 230 548; sleep 0.3; LINK=$(find "$HOME" "$PREFIX/drive_c/users" -name VELMO.lnk 2>/dev/null | head -n 1); [ -n "$LINK" ]' 50 \
    || fail "\"Create desktop shortcut\" wrote no VELMO.lnk"
  sleep 0.5
  shot 8-shortcut-created
  # The link names the game's program by its Windows path (UTF-16 in the file).
  target=$(winpath "$DEST/VELMO.exe")
  LC_ALL=C tr -d '\000' <"$LINK" | grep -aqF "$target" || fail "VELMO.lnk does not name $target"
  click 486 548
  wait_until '! kill -0 "$PROGRAM_PID" 2>/dev/null' 100 || fail "the wizard did not close"
  rc=0
  wait "$PROGRAM_PID" || rc=$?
  PROGRAM_PID=
  [ "$rc" -eq 0 ] || fail "exit code $rc, not 0"
  diff -r "$DEMO/expected" "$DEST" >"$WORK/diff.txt" 2>&1 || fail "the tree differs: $(head -n 3 "$WORK/diff.txt")"
  echo "wizard_wine: install: built by mouse, tree identical, VELMO.lnk names VELMO.exe, exit code 0"
}

"run_$RUN"
exit 0
