#!/bin/sh
# Proves that a release can be rebuilt bit for bit: makes the release of the
# current commit twice, each from a fresh clone, in folders of different
# names and depths, one after the other, in different time zones and with
# the compiler cache off (a cached object would hide a path that leaks), and
# compares every file of the two release/ folders. Then, where Wine is
# installed, the first release's Windows patcher installs the demo game's
# XAPK and the tree it builds must equal the expected one byte for byte.
# Two full builds: run by hand, not by `make test`.
#   check-reproducible.sh [WORK_DIR]   (default: a new temporary folder)
set -e
SRC=$(cd "$(dirname "$0")/.." && pwd)
if [ -n "$1" ]; then mkdir -p "$1" && WORK=$(cd "$1" && pwd); else WORK=$(mktemp -d); fi
COMMIT=$(git -C "$SRC" rev-parse HEAD)
git -C "$SRC" diff --quiet HEAD || echo "check-reproducible: uncommitted changes are not part of the check" >&2

FIRST=$WORK/a/velmo
SECOND=$WORK/second/clone-of/velmo-release
build() {  # folder time-zone
  rm -rf "$1"
  git clone -q --no-checkout "$SRC" "$1"
  git -C "$1" checkout -q "$COMMIT"
  echo "== make release in $1 (TZ=$2) at $(date -u +%H:%M:%S)"
  (cd "$1" && CCACHE_DISABLE=1 TZ=$2 make release JOBS="${JOBS:-2}")
}
build "$FIRST" UTC
build "$SECOND" Pacific/Kiritimati

echo "== comparing"
(cd "$FIRST/release" && ls) > "$WORK/files-first"
(cd "$SECOND/release" && ls) > "$WORK/files-second"
same=yes
cmp -s "$WORK/files-first" "$WORK/files-second" || { echo "the two releases hold different files"; same=no; }
while read -r f; do
  if cmp -s "$FIRST/release/$f" "$SECOND/release/$f"; then
    echo "same:   $f ($(wc -c < "$FIRST/release/$f") bytes)"
  else
    echo "DIFFER: $f"; same=no
  fi
done < "$WORK/files-first"
cat "$FIRST/release/SHA256SUMS"
[ "$same" = yes ] || { echo "result: the builds DIFFER"; exit 1; }
echo "result: both builds made the same bytes"

WINE=/usr/lib/wine/wine64
[ -x "$WINE" ] || WINE=$(command -v wine || true)
if [ -z "$WINE" ]; then echo "== no Wine: the install check is skipped"; exit 0; fi
echo "== the release patcher installs the demo game under Wine"
RUN=$WORK/wine-run
rm -rf "$RUN" && mkdir -p "$RUN"
cp "$FIRST/release/VELMO Patcher.exe" "$RUN/"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
set +e
sh "$FIRST/scripts/wine-run.sh" "$WORK/wineprefix" "$RUN/VELMO Patcher.exe" /auto \
  "$(winpath "$FIRST/demo-out/harrowmere-1.0.7.xapk")" "$(winpath "$RUN/game")"
code=$?
set -e
echo "exit code $code, log: $(cat "$RUN/patcher-auto.txt" 2>/dev/null)"
if [ "$code" -eq 0 ] && diff -r "$FIRST/demo-out/expected" "$RUN/game" >/dev/null; then
  echo "result: the tree equals the expected Windows tree byte for byte"
else
  echo "result: the install under Wine FAILED or built a different tree"; exit 1
fi
