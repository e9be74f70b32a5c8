#!/bin/sh
# wine-run.sh PREFIX PROGRAM [ARGS...]: runs a Windows program under Wine in
# a private prefix (created on first use, once even when several runs start
# together) and passes its exit code on.
set -e
export WINEPREFIX="$1"
shift
# VELMO_WINEDLLOVERRIDES adds overrides of a test's own.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=${VELMO_WINEDLLOVERRIDES:+;$VELMO_WINEDLLOVERRIDES}"
# The 64-bit loader itself: Debian's wrapper warns about a missing wine32 on
# every start.
WINE=/usr/lib/wine/wine64
[ -x "$WINE" ] || WINE=wine
if [ ! -f "$WINEPREFIX/.ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  flock "$WINEPREFIX.lock" sh -c '
    [ -f "$WINEPREFIX/.ready" ] && exit 0
    rm -rf "$WINEPREFIX"
    "$1" wineboot -i >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.ready"' sh "$WINE"
fi
exec "$WINE" "$@"
