#!/bin/sh
# run_kit_wine.sh WIN_BUILD: runs the test kit's run-tests.cmd under Wine, as
# a Windows user would, and passes when its last line reports no failure.
set -u
WIN=$(cd "${1:?usage: run_kit_wine.sh WIN_BUILD}" && pwd)
KIT="$WIN/velmo-windows-tests"
[ -f "$KIT/run-tests.cmd" ] || { echo "no kit at $KIT (make-windows-kit.sh)"; exit 1; }
rm -rf "$KIT/logs"
out=$(sh "$(dirname "$0")/../../scripts/wine-run.sh" "$WIN/wineprefix" cmd /c "Z:$(echo "$KIT" | tr / '\\')\\run-tests.cmd" 2>&1)
rc=$?
printf '%s\n' "$out"
last=$(printf '%s\n' "$out" | tr -d '\r' | sed '/^$/d' | tail -n 1)
case "$last" in
  *[0-9]" passed, 0 failed") [ "$rc" -eq 0 ] && exit 0 ;;
esac
echo "run_kit_wine: the kit failed (exit code $rc, last line: $last)"
exit 1
