#!/bin/sh
# The main job on the built-in demo data: makes the small demo game (once),
# runs the patcher with the pack embedded unattended into a fresh folder,
# and compares what it built with the expected Windows tree byte for byte.
set -e
BUILD=${1:-build}
DEMO=demo-out
if [ ! -f "$DEMO/.complete" ] || [ "$BUILD/velmo-demo-game" -nt "$DEMO/.complete" ] || [ "$BUILD/velmo-patcher" -nt "$DEMO/.complete" ]; then
  echo "== making the small demo game in $DEMO/"
  rm -rf "$DEMO"
  "$BUILD/velmo-demo-game" "$DEMO" --scale small --music --patcher "$BUILD/velmo-patcher"
  touch "$DEMO/.complete"
fi
rm -rf "$DEMO/game" "$DEMO/patcher-auto.txt"
echo "== $DEMO/velmo-patcher /auto $DEMO/harrowmere-1.0.7.xapk $DEMO/game"
start=$(date +%s.%N)
set +e
"$DEMO/velmo-patcher" /auto "$DEMO/harrowmere-1.0.7.xapk" "$DEMO/game"
code=$?
set -e
end=$(date +%s.%N)
echo "exit code: $code"
printf 'log (%s/patcher-auto.txt): ' "$DEMO"; cat "$DEMO/patcher-auto.txt"; echo
if [ -d "$DEMO/game" ]; then
  files=$(find "$DEMO/game" -type f | wc -l)
  bytes=$(find "$DEMO/game" -type f -printf '%s\n' | awk '{s+=$1} END {print s+0}')
  echo "built: $files files, $bytes bytes in $(echo "$end - $start" | bc) s"
fi
if diff -r "$DEMO/expected" "$DEMO/game" >/dev/null 2>&1; then
  echo "result: the built tree equals the expected Windows tree byte for byte"
else
  echo "result: the built tree DIFFERS from the expected Windows tree"; exit 1
fi
