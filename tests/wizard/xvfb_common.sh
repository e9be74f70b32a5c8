# Shared by the runs on a virtual X server (sourced; NAME names the script
# in its messages).

# Ends the script with 0 and one line when xvfb-run is missing; fails when
# a tool the runs need is missing.
need_xvfb_tools() {
  if ! command -v xvfb-run >/dev/null 2>&1; then
    echo "$NAME: skipped: xvfb-run is not installed (scripts/install-deps.sh installs it)"
    exit 0
  fi
  for tool in xdotool xauth; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$NAME: $tool is missing" >&2; exit 1; }
  done
  [ -x /usr/bin/import ] || { echo "$NAME: /usr/bin/import (ImageMagick) is missing" >&2; exit 1; }
}

# Waits up to $2 tenths of a second for the command $1 to succeed.
wait_until() {
  i=0
  until eval "$1"; do
    i=$((i + 1))
    [ "$i" -le "$2" ] || return 1
    sleep 0.1
  done
}

# Runs the script again (arguments after the time limit) on a 1280x1024
# virtual X server and exits with its status; the whole run is bounded even
# if the X server or a step hangs.
on_virtual_display() {
  limit=$1
  shift
  status=0
  timeout -k 5 "$limit" xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" sh "$@" || status=$?
  [ "$status" -eq 124 ] && echo "$NAME: $RUN: timed out" >&2
  exit "$status"
}

# Waits up to 10 s for the process $1 to end and checks that its exit code
# is $2 (fail is the calling script's own).
expect_process_exit() {
  wait_until "! kill -0 $1 2>/dev/null" 100 || fail "the program did not end"
  rc=0
  wait "$1" || rc=$?
  [ "$rc" -eq "$2" ] || fail "exit code $rc, not $2"
}

# On the wizard (click, shot and fail are the calling script's own): from
# the first screen, with the XAPK and the destination given, "Next" and
# "Install" until the condition $1 shows that the job has started. "Next"
# sits where the destination screen's "Back" is, so a lost press costs one
# more round, nothing else.
press_next_and_install() {
  started=$1
  attempt=0
  until eval "$started"; do
    attempt=$((attempt + 1))
    [ "$attempt" -le 5 ] || fail "the install did not start"
    click 149 562
    sleep 0.4
    [ "$attempt" -eq 1 ] && shot 2-destination
    click 285 562
    wait_until "$started" 40 || true
  done
}
