#!/bin/sh
# The wizard driven by the mouse on a virtual X server, with the small demo
# game. Three runs:
#   install  the XAPK and the destination are chosen through the file
#            choosers, "Install" builds the game, the finished screen writes
#            the desktop launcher and "Close" ends the run with exit code 0;
#            the built tree must equal the expected one byte for byte.
#   cancel   "Cancel" during the install (held in the middle by a disk that
#            waits, see gated_writes.c) shows "Cancelled." on the failed
#            screen and leaves nothing behind; closing then exits with 1.
#   close    closing the window during the install asks "Stop the
#            installation?": "No" keeps the job going, "Yes" stops it and
#            the process exits with the job's exit code, 1.
#   play     "Play now" with no handler for Windows programs does nothing;
#            with one configured it starts the game through it, in the
#            game's folder, and closes the wizard; the desktop launcher
#            runs the same command.
# No run may print GTK or GLib warnings.
#
# usage: wizard_xvfb.sh BUILD_DIR install|cancel|close|play
# Screenshots of every screen are kept in BUILD_DIR/wizard-shots/RUN (or
# $VELMO_SHOTS_DIR/RUN).
set -eu
NAME=wizard_xvfb
. "$(dirname "$0")/xvfb_common.sh"

if [ "${1:-}" != "--inner" ]; then
  BUILD=$(cd "${1:?usage: wizard_xvfb.sh BUILD_DIR install|cancel|close|play}" && pwd)
  RUN=${2:?usage: wizard_xvfb.sh BUILD_DIR install|cancel|close|play}
  case "$RUN" in install|cancel|close|play) ;; *) echo "wizard_xvfb: unknown run $RUN" >&2; exit 2 ;; esac
  need_xvfb_tools
  WORK=$(mktemp -d "${TMPDIR:-/tmp}/wizard_xvfb.XXXXXX")
  trap 'rm -rf "$WORK"' EXIT
  "$BUILD/velmo-demo-game" "$WORK/demo" --scale small --music --patcher "$BUILD/velmo-patcher" >/dev/null \
    || { echo "wizard_xvfb: the demo game could not be made" >&2; exit 1; }
  SHOTS=${VELMO_SHOTS_DIR:-$BUILD/wizard-shots}/$RUN
  rm -rf "$SHOTS"
  mkdir -p "$SHOTS"
  on_virtual_display 90 "$0" --inner "$BUILD" "$RUN" "$WORK" "$SHOTS"
fi

# --- inside the virtual display ----------------------------------------------
BUILD=$2 RUN=$3 WORK=$4 SHOTS=$5
mkdir -p "$WORK/home" "$WORK/tmp" "$WORK/out"
export NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory GDK_BACKEND=x11 SDL_AUDIODRIVER=dummy
export HOME="$WORK/home" TMPDIR="$WORK/tmp" XDG_CONFIG_HOME="$WORK/home/.config"
unset XDG_DESKTOP_DIR
XAPK="$WORK/demo/harrowmere-1.0.7.xapk"
LOG="$WORK/patcher.log"
GATE="$WORK/gate"
TITLE='^VELMO Patcher$'
LAUNCHER="$HOME/Desktop/VELMO.desktop"
PATCHER_PID=

fail() {
  echo "wizard_xvfb: $RUN: $*" >&2
  /usr/bin/import -window root "$SHOTS/failure.png" 2>/dev/null || true
  [ -s "$LOG" ] && sed 's/^/  patcher: /' "$LOG" >&2
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
  chooser=$1
  dialog=$(window_named "$chooser") || true
  [ -n "$dialog" ] || fail "the chooser \"$1\" did not open"
  xdotool windowfocus --sync "$dialog"
  sleep 0.3
  # Held like a person would: GTK's chooser shows its location field on the
  # press, and a release that arrives before the field is realized makes it
  # print a critical warning.
  xdotool keydown ctrl+l
  sleep 0.2
  xdotool keyup ctrl+l
  sleep 0.2
  xdotool type --delay 5 "$2"
  sleep 0.3
  shot "$3"
  xdotool key Return
  # The chooser closes once it has accepted the path.
  wait_until '! xdotool search --onlyvisible --name "$chooser" >/dev/null 2>&1' 100 \
    || fail "the chooser \"$1\" did not accept $2"
}

# Starts the patcher with the given arguments and finds its window, which
# must be 1040x640 and centred on the 1280x1024 screen (no panels, so the
# work area is the screen). With GATED set, its install writes are held.
start_patcher() {
  if [ -n "${GATED:-}" ]; then
    GATED_WRITES_GATE="$GATE" GATED_WRITES_FREE="$GATED" LD_PRELOAD="$BUILD/wizard-tools/libgated_writes.so" \
      "$WORK/demo/velmo-patcher" "$@" >"$LOG" 2>&1 &
  else
    "$WORK/demo/velmo-patcher" "$@" >"$LOG" 2>&1 &
  fi
  PATCHER_PID=$!
  WID=$(window_named "$TITLE") || true
  [ -n "$WID" ] || fail "the wizard window did not appear"
  eval "$(xdotool getwindowgeometry --shell "$WID")"
  [ "$WIDTH" -eq 1040 ] && [ "$HEIGHT" -eq 640 ] || fail "window is ${WIDTH}x$HEIGHT, not 1040x640"
  [ "$X" -eq 120 ] && [ "$Y" -eq 192 ] || fail "window at $X,$Y, not centred at 120,192"
  sleep 0.5
}

# Waits for the patcher to end and checks its exit code.
expect_exit() {
  expect_process_exit "$PATCHER_PID" "$1"
  PATCHER_PID=
}

# ... until the job waits at the gate.
install_until_held() {
  press_next_and_install '[ -e "$GATE.waiting" ]'
  sleep 0.3
}
# ... to the finished screen, which is known to be up once its "Create
# desktop shortcut" has written the launcher.
install_to_finished() {
  press_next_and_install '[ -d "$DEST" ]'
  wait_until 'click 230 548; [ -f "$LAUNCHER" ]' 150 || fail "the finished screen did not come"
  sleep 0.3
}

# Answers the "Stop the installation?" question (same title as the wizard)
# with the key of "Yes" or "No".
answer_stop_question() {
  question=
  wait_until 'question=$(xdotool search --onlyvisible --name "$TITLE" | grep -vx "$WID" | head -n 1); [ -n "$question" ]' 50 \
    || fail "closing during the install asked nothing"
  sleep 0.3
  shot "$2"
  xdotool windowfocus --sync "$question" key "$1"
  wait_until '! xdotool search --onlyvisible --name "$TITLE" | grep -qvx "$WID"' 50 \
    || fail "the question did not go away after $1"
}

# Nothing of the job may be left: no staging, no half-built destination,
# no temporary copies.
expect_nothing_left() {
  [ -z "$(ls -A "$WORK/out")" ] || fail "the failed install left $(ls -A "$WORK/out") behind"
  [ -z "$(ls -A "$TMPDIR")" ] || fail "temporary files were left: $(ls -A "$TMPDIR")"
}

run_install() {
  DEST="$WORK/out"
  # The wrong destination first: the chooser must replace it.
  start_patcher /dest "$WORK/not-this-one"
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
  wait_until 'click 230 548; [ -f "$LAUNCHER" ]' 150 || fail "the finished screen did not come"
  sleep 0.3
  shot 7-finished
  [ "$(stat -c %a "$LAUNCHER")" = 755 ] || fail "the launcher is not executable"
  grep -q '^Type=Application$' "$LAUNCHER" || fail "the launcher has no Type=Application"
  grep -qx "Path=$DEST" "$LAUNCHER" || fail "the launcher does not start in the game folder"

  # "Close" on the finished screen ends the wizard.
  click 486 548
  expect_exit 0
  diff -r "$WORK/demo/expected" "$DEST" >"$WORK/diff.txt" 2>&1 \
    || { cat "$WORK/diff.txt" >&2; fail "the built tree differs"; }
  [ -z "$(ls -A "$TMPDIR")" ] || fail "temporary files were left: $(ls -A "$TMPDIR")"
  echo "wizard_xvfb: install: built the expected tree through the wizard; exit code 0"
}

run_cancel() {
  GATED=3 start_patcher /xapk "$XAPK" /dest "$WORK/out/Game"
  shot 1-choose-xapk
  install_until_held
  shot 3-installing-held
  # "Cancel" takes effect when the held write returns.
  click 129 562
  sleep 0.3
  shot 4-cancel-pressed
  touch "$GATE"
  # Three shots, so that the snow, which moves, can be told from the text.
  shots_of_failed() { for n in a b c; do shot "5-failed-$n"; sleep 0.3; done; }
  check_failed_text() {
    "$BUILD/wizard-tools/failed_text_check" 120 192 "$1" "$SHOTS"/5-failed-[abc].png
}
wait_until 'shots_of_failed; check_failed_text "Cancelled." >"$WORK/check.txt"' 20 \
  || { cat "$WORK/check.txt" >&2; fail "the failed screen does not show \"Cancelled.\""; }
cat "$WORK/check.txt"
# The comparison must tell other texts apart: less text, and other text.
for other in "Cancel" "The installation stopped."; do
  if check_failed_text "$other"; then fail "the text check took \"$other\" for \"Cancelled.\""; fi
done
expect_nothing_left
# "Back" leads to the destination screen; the title bar's close ends the
# run with the cancelled job's exit code.
click 134 562
sleep 0.4
shot 6-back-to-destination
click 1005 24
expect_exit 1
expect_nothing_left
echo "wizard_xvfb: cancel: \"Cancelled.\" shown, nothing left behind; exit code 1"
}

run_close() {
  GATED=3 start_patcher /xapk "$XAPK" /dest "$WORK/out/Game"
  install_until_held
  shot 3-installing-held
  # "No" keeps the install going.
  "$BUILD/wizard-tools/send_close" "$WID" || fail "could not ask the window to close"
  answer_stop_question alt+n 4-stop-question
  sleep 0.3
  kill -0 "$PATCHER_PID" 2>/dev/null || fail "the wizard closed although the answer was No"
  [ -e "$GATE.waiting" ] || fail "the install went on after No without its write"
  [ -d "$WORK/out/Game/.velmo-staging" ] || fail "the install was stopped although the answer was No"
  shot 5-still-installing
  # "Yes" cancels, the window waits for the job, then closes.
  "$BUILD/wizard-tools/send_close" "$WID" || fail "could not ask the window to close"
  answer_stop_question alt+y 6-stop-question-again
  sleep 0.3
  kill -0 "$PATCHER_PID" 2>/dev/null || fail "the wizard closed before its job ended"
  touch "$GATE"
  expect_exit 1
  expect_nothing_left
  echo "wizard_xvfb: close: No kept the install, Yes stopped it; exit code 1"
}

run_play() {
  # No handler for Windows programs: "Play now" does nothing, and the launcher
  # names the game itself.
  DEST="$WORK/out/Game1"
  start_patcher /xapk "$XAPK" /dest "$DEST"
  install_to_finished
  grep -qx "Exec=$DEST/VELMO.exe" "$LAUNCHER" || fail "the launcher does not name the game: $(grep ^Exec "$LAUNCHER")"
  click 144 492
  sleep 1
  kill -0 "$PATCHER_PID" 2>/dev/null || fail "\"Play now\" closed the wizard although nothing could start the game"
  shot 1-play-now-without-handler
  click 486 548
  expect_exit 0

  # A handler configured as the default for the game's file type.
  cat >"$WORK/runner.sh" <<EOF
#!/bin/sh
printf '%s\n' "\$PWD" "\$@" >"$WORK/ran.txt"
EOF
  chmod +x "$WORK/runner.sh"
  mkdir -p "$HOME/.local/share/applications" "$XDG_CONFIG_HOME"
  cat >"$HOME/.local/share/applications/velmo-test-runner.desktop" <<EOF
[Desktop Entry]
Type=Application
Name=Test runner
Exec=$WORK/runner.sh --game %f
MimeType=application/x-ms-dos-executable;application/x-msdownload;
EOF
  cat >"$XDG_CONFIG_HOME/mimeapps.list" <<EOF
[Default Applications]
application/x-ms-dos-executable=velmo-test-runner.desktop
application/x-msdownload=velmo-test-runner.desktop
EOF
  rm -f "$LAUNCHER"
  DEST="$WORK/out/Game2"
  start_patcher /xapk "$XAPK" /dest "$DEST"
  install_to_finished
  grep -qx "Exec=$WORK/runner.sh --game $DEST/VELMO.exe" "$LAUNCHER" \
    || fail "the launcher does not run the handler: $(grep ^Exec "$LAUNCHER")"
  shot 2-finished-with-handler
  click 144 492
  expect_exit 0
  wait_until '[ -s "$WORK/ran.txt" ]' 50 || fail "the handler was not started"
  printf '%s\n' "$DEST" --game "$DEST/VELMO.exe" | cmp -s - "$WORK/ran.txt" \
    || fail "the handler ran as: $(cat "$WORK/ran.txt")"
  echo "wizard_xvfb: play: nothing without a handler; the handler started the game in its folder; exit code 0"
}

"run_$RUN"
# GTK and GLib print their warnings as "Gtk-WARNING **", "GLib-CRITICAL **".
if grep -E -- '-(WARNING|CRITICAL) \*\*' "$LOG" >&2; then fail "warnings on stderr"; fi
exit 0
