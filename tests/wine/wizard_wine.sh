#!/bin/sh
# The Windows patcher's dialogs driven by keyboard on a virtual X server,
# under Wine. Runs:
#   dialogs  the XAPK chooser (its title, the XAPK filter selected) takes a
#            typed path and hands it back; Escape cancels it; the folder
#            chooser opens in the current folder and takes a typed folder.
#   install  the patcher's wizard window, with the program's icon: the XAPK
#            and the folder chosen in those dialogs, "Next", "Install", the
#            finished screen, "Create desktop shortcut" (a VELMO.lnk naming
#            the game's VELMO.exe on the prefix's desktop) and "Close" with
#            exit code 0; the built tree equals the expected one byte for
#            byte.
#   cancel   "Cancel" during the install (held in the middle by a disk that
#            waits: the wizard tests' gated_writes library, preloaded into
#            Wine) shows "Cancelled." on the failed screen and leaves nothing
#            behind; the title bar's close then exits with 1.
#   close    Alt+F4 during the install asks "Stop the installation?": "No"
#            keeps the job going, "Yes" stops it, and the process exits with
#            the job's exit code, 1; while it waits for the job the window
#            keeps painting and ignores presses.
# They run in a Wine prefix of their own (build-win/wineprefix-gui) whose
# home, and so whose desktop folder, lies in the build folder too, so that
# nothing lands in the user's real home.
#
# usage: wizard_wine.sh WIN_BUILD_DIR dialogs|install|cancel|close [HOST_BUILD_DIR]
# HOST_BUILD_DIR (default: build beside the sources) is the native build,
# whose wizard-tools hold the gated_writes library.
# Screenshots are kept in WIN_BUILD_DIR/wizard-shots/RUN.
set -eu
NAME=wizard_wine
. "$(dirname "$0")/../wizard/xvfb_common.sh"

if [ "${1:-}" != "--inner" ]; then
  usage='usage: wizard_wine.sh WIN_BUILD_DIR dialogs|install|cancel|close [HOST_BUILD_DIR]'
  BUILD=$(cd "${1:?$usage}" && pwd)
  RUN=${2:?$usage}
  case "$RUN" in dialogs|install|cancel|close) ;; *) echo "wizard_wine: unknown run $RUN" >&2; exit 2 ;; esac
  SRC=$(cd "$(dirname "$0")/../.." && pwd)
  HOST=$(cd "${3:-$SRC/build}" && pwd)
  need_xvfb_tools
  WORK=$(mktemp -d "${TMPDIR:-/tmp}/wizard_wine.XXXXXX")
  trap 'rm -rf "$WORK"' EXIT
  SHOTS=$BUILD/wizard-shots/$RUN
  rm -rf "$SHOTS"
  mkdir -p "$SHOTS" "$BUILD/wine-gui-home"
  # The prefix is made (once) away from the display, where Wine starts no
  # desktop of its own; choose_dialog without arguments only prints usage.
  env -u DISPLAY HOME="$BUILD/wine-gui-home" timeout -k 5 300 \
    sh "$SRC/scripts/wine-run.sh" "$BUILD/wineprefix-gui" "$BUILD/choose_dialog.exe" >/dev/null 2>&1 || true
  [ -f "$BUILD/wineprefix-gui/.ready" ] || { echo "wizard_wine: the Wine prefix could not be made" >&2; exit 1; }
  # Its Wine server must be gone before the display comes: a server started
  # without one keeps a desktop that no X server shows.
  WINEPREFIX="$BUILD/wineprefix-gui" timeout -k 5 30 wineserver -w || true
  on_virtual_display 240 "$0" --inner "$BUILD" "$RUN" "$WORK" "$SHOTS" "$HOST"
fi

# --- inside the virtual display ----------------------------------------------
BUILD=$2 RUN=$3 WORK=$4 SHOTS=$5 HOST=$6
SRC=$(cd "$(dirname "$0")/../.." && pwd)
export HOME="$BUILD/wine-gui-home"
PREFIX="$BUILD/wineprefix-gui"
PROGRAM_PID=
OUT="$WORK/chosen.txt"
TITLE='VELMO Patcher'
XAPK_TITLE='Choose the VELMO 1.0.7 XAPK'
FOLDER_TITLE='Folder for the VELMO Windows game'
DEMO="$BUILD/demo"

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
# Waits for the program to end with exit code $1.
expect_exit() {
  expect_process_exit "$PROGRAM_PID" "$1"
  PROGRAM_PID=
}
# ... and checks its one line of output.
expect_result() {
  expect_exit "$1"
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
# The mean colour, "R G B", of the wizard's 12x4 pixels at ($1, $2) as the
# screen shows them.
patch_colour() {
  /usr/bin/import -window root "$WORK/screen.png" 2>/dev/null || return 1
  convert "$WORK/screen.png" -crop "12x4+$((WIN_X + $1))+$((WIN_Y + $2))" \
    -format '%[fx:int(255*mean.r)] %[fx:int(255*mean.g)] %[fx:int(255*mean.b)]' info:
}
# Whether the button whose left end is at ($1, $2) shows enabled: blue,
# where a disabled one, "Back" and empty space are dark.
shows_enabled() {
  # shellcheck disable=SC2046 # three numbers
  set -- $(patch_colour "$1" "$2")
  [ "${3:-0}" -gt 150 ]
}
next_enabled() { shows_enabled 62 572; }

# Under Wine on a busy machine a file dialog can vanish seconds before its
# call returns; the wizard neither paints nor takes presses meanwhile, and
# presses made then arrive later, all at once. So every step waits for what
# the screen shows, and a press is made again only once it is seen lost.
run_install() {
  [ -f "$DEMO/VELMO Patcher.exe" ] || fail "the demo game is missing"
  DEST="$WORK/out"
  mkdir -p "$DEST"
  find "$HOME" "$PREFIX/drive_c/users" -name VELMO.lnk -delete 2>/dev/null || true

  start_program "$DEMO/VELMO Patcher.exe"
  window_titled "$TITLE"
  WID=$dialog
  eval "$(xdotool getwindowgeometry --shell "$WID")"
  [ "$WIDTH" -eq 1040 ] && [ "$HEIGHT" -eq 640 ] || fail "window is ${WIDTH}x$HEIGHT, not 1040x640"
  WIN_X=$X WIN_Y=$Y
  sleep 1
  shot 1-choose-xapk
  # The class icon Wine hands to X is the program's own (the snowflake: a
  # clear corner, a pale centre), not Wine's default.
  xprop -id "$WID" -notype -f _NET_WM_ICON 32c _NET_WM_ICON | tr -d ' ' | tr '=,' '\n\n' | awk '
    NR == 2 { w = $1 } NR == 3 { h = $1 }
    NR == 4 { corner = $1 }
    NR == 4 + 16 * w + 16 { centre = $1 }
    END {
      a = int(centre / 16777216); r = int(centre / 65536) % 256; g = int(centre / 256) % 256; b = centre % 256
      exit !(w == 32 && h == 32 && corner < 16777216 && a == 255 && r > 192 && g > 192 && b > 192)
    }' || fail "the window does not carry the program icon"

  click 506 312
  window_titled "$XAPK_TITLE"
  sleep 0.5
  type_and_accept "$dialog" "$(winpath "$DEMO/harrowmere-1.0.7.xapk")" 2-xapk-chooser
  dialog_gone "$XAPK_TITLE"
  # The check has ended, and a frame shows it, once "Next" is enabled.
  wait_until next_enabled 300 || fail "\"Next\" did not become enabled after the XAPK check"
  shot 3-xapk-checked
  # "Next" sits where the destination screen's "Back" is (dark).
  attempt=0
  while next_enabled; do
    attempt=$((attempt + 1))
    [ "$attempt" -le 5 ] || fail "\"Next\" did not lead to the destination screen"
    click 149 562
    wait_until '! next_enabled' 30 || true
  done
  attempt=0
  until xdotool search --onlyvisible --name "^$FOLDER_TITLE\$" >/dev/null 2>&1; do
    attempt=$((attempt + 1))
    [ "$attempt" -le 4 ] || fail "\"Browse...\" did not open the folder chooser"
    click 506 312
    wait_until 'xdotool search --onlyvisible --name "^$FOLDER_TITLE\$" >/dev/null 2>&1' 80 || true
  done
  window_titled "$FOLDER_TITLE"
  sleep 0.5
  type_and_accept "$dialog" "$(winpath "$DEST")" 4-folder-chooser
  dialog_gone "$FOLDER_TITLE"
  wait_until 'shows_enabled 200 572' 300 || fail "\"Install\" did not become enabled"
  shot 5-destination

  # "Install" until the job has written its staging folder or the game.
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
  expect_exit 0
  diff -r "$DEMO/expected" "$DEST" >"$WORK/diff.txt" 2>&1 || fail "the tree differs: $(head -n 3 "$WORK/diff.txt")"
  echo "wizard_wine: install: built by mouse, tree identical, VELMO.lnk names VELMO.exe, exit code 0"
}

# A held install of the demo game, prefilled from the command line. The
# first writes into the staging folder pass; the next one waits until the
# test creates $GATE ($GATE.waiting shows that it waits).
start_held_install() {
  GATE="$WORK/gate"
  GATED_LIB="$HOST/wizard-tools/libgated_writes.so"
  [ -f "$DEMO/VELMO Patcher.exe" ] || fail "the demo game is missing"
  [ -f "$GATED_LIB" ] || fail "$GATED_LIB is missing (build the native tests first)"
  mkdir -p "$WORK/out"
  # The prefix's %TEMP%, where copies of inner archives go.
  TEMP_DIR=$(ls -d "$PREFIX"/drive_c/users/*/Temp | head -n 1)
  [ -d "$TEMP_DIR" ] || fail "the prefix has no temporary folder"
  TEMP_BEFORE=$(ls -A "$TEMP_DIR")
  export GATED_WRITES_GATE="$GATE" GATED_WRITES_FREE=3 LD_PRELOAD="$GATED_LIB"
  start_program "$DEMO/VELMO Patcher.exe" /xapk "$(winpath "$DEMO/harrowmere-1.0.7.xapk")" \
    /dest "$(winpath "$WORK/out/Game")"
  unset GATED_WRITES_GATE GATED_WRITES_FREE LD_PRELOAD
  window_titled "$TITLE"
  WID=$dialog
  eval "$(xdotool getwindowgeometry --shell "$WID")"
  WIN_X=$X WIN_Y=$Y
  sleep 1
  shot 1-choose-xapk
  press_next_and_install '[ -e "$GATE.waiting" ]'
  sleep 0.5
  shot 3-installing-held
}
# No staging, no half-built destination, no temporary copies.
expect_nothing_left() {
  [ -z "$(ls -A "$WORK/out")" ] || fail "the failed install left $(ls -A "$WORK/out") behind"
  temp_now=$(ls -A "$TEMP_DIR")
  [ "$temp_now" = "$TEMP_BEFORE" ] || fail "temporary files were left: $temp_now"
}
# Whether the failed screen in the shots $2... shows the text $1, told by
# the Windows checker, which paints the reference with the window's fonts.
failed_text_shown() {
  text=$1
  shift
  paths=
  for f in "$@"; do paths="$paths $(winpath "$f")"; done
  # shellcheck disable=SC2086 # the shot paths have no blanks
  sh "$SRC/scripts/wine-run.sh" "$PREFIX" "$BUILD/failed_text_check.exe" "$WIN_X" "$WIN_Y" "$text" $paths
}

run_cancel() {
  start_held_install
  # "Cancel" takes effect when the held write returns.
  click 129 562
  sleep 0.3
  shot 4-cancel-pressed
  touch "$GATE"
  # Three shots, so that the snow, which moves, can be told from the text.
  n=0
  until
    for k in a b c; do shot "5-failed-$k"; sleep 0.3; done
    failed_text_shown "Cancelled." "$SHOTS"/5-failed-[abc].png >"$WORK/check.txt" 2>&1
  do
    n=$((n + 1))
    [ "$n" -le 5 ] || { cat "$WORK/check.txt" >&2; fail "the failed screen does not show \"Cancelled.\""; }
  done
  tr -d '\r' <"$WORK/check.txt"
  # The check must tell other texts apart: less text, and other text.
  for other in "Cancel" "The installation stopped."; do
    rc=0
    failed_text_shown "$other" "$SHOTS"/5-failed-[abc].png >/dev/null 2>&1 || rc=$?
    [ "$rc" -eq 1 ] || fail "the text check gave $rc for \"$other\", not 1 (not shown)"
  done
  expect_nothing_left
  # "Back" leads to the destination screen; the title bar's close ends the
  # run with the cancelled job's exit code.
  click 134 562
  sleep 0.5
  shot 6-back-to-destination
  click 1005 24
  expect_exit 1
  expect_nothing_left
  echo "wizard_wine: cancel: \"Cancelled.\" shown, nothing left behind; exit code 1"
}

# Alt+F4 to the wizard, then the "Stop the installation?" box (captioned
# like the wizard) answered with the key $1.
close_and_answer() {
  xdotool windowfocus --sync "$WID"
  sleep 0.2
  xdotool key alt+F4
  question=
  wait_until 'question=$(xdotool search --onlyvisible --name "^$TITLE\$" | grep -vx "$WID" | head -n 1); [ -n "$question" ]' 100 \
    || fail "closing during the install asked nothing"
  sleep 0.5
  shot "$2"
  xdotool windowfocus --sync "$question" key "$1"
  wait_until '! xdotool search --onlyvisible --name "^$TITLE\$" | grep -qvx "$WID"' 50 \
    || fail "the question did not go away after $1"
}

run_close() {
  start_held_install
  close_and_answer alt+n 4-stop-question
  sleep 0.5
  kill -0 "$PROGRAM_PID" 2>/dev/null || fail "the wizard closed although the answer was No"
  [ -e "$GATE.waiting" ] || fail "the install went on after No without its write"
  [ -d "$WORK/out/Game/.velmo-staging" ] || fail "the install was stopped although the answer was No"
  shot 5-still-installing
  # "Yes" cancels; the window waits for the job, then closes.
  close_and_answer alt+y 6-stop-question-again
  sleep 0.5
  kill -0 "$PROGRAM_PID" 2>/dev/null || fail "the wizard closed before its job ended"
  # Meanwhile it keeps painting (the snow moves from one shot to the next)
  # and takes no presses ("Cancel", the title bar's close).
  shot 7-waiting-a
  sleep 1
  shot 7-waiting-b
  changed=$(compare -metric AE \
    "$SHOTS/7-waiting-a.png[1040x640+$WIN_X+$WIN_Y]" "$SHOTS/7-waiting-b.png[1040x640+$WIN_X+$WIN_Y]" null: 2>&1 || true)
  [ "${changed%%[!0-9]*}" -gt 50 ] 2>/dev/null || fail "the window froze while it waited for the job ($changed pixels changed)"
  click 129 562
  click 1005 24
  sleep 0.5
  kill -0 "$PROGRAM_PID" 2>/dev/null || fail "a press during the wait closed the wizard before its job ended"
  [ -e "$GATE.waiting" ] || fail "the job's held write ended before the gate opened"
  touch "$GATE"
  expect_exit 1
  expect_nothing_left
  echo "wizard_wine: close: No kept the install, Yes stopped it; exit code 1"
}

"run_$RUN"
exit 0
