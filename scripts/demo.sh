#!/bin/sh
# Builds a small pack, embeds it into the patcher and runs the patcher on it
# unattended, saying what it showed.
set -e
BUILD=${1:-build}
OUT=demo-out
rm -rf "$OUT" && mkdir -p "$OUT/pack-src"
printf '@echo off\nstart VELMO.exe\n' > "$OUT/pack-src/VELMO.bat"
printf '{"name": "VELMO", "version": "1.0.7"}' > "$OUT/pack-src/xapk_info"
cat > "$OUT/pack-src/manifest.json" <<'JSON'
{"formatVersion": 2, "records": [
  {"kind": "asset", "name": "xapk_info", "file": "xapk_info", "compress": true},
  {"kind": "file", "path": "VELMO.bat", "file": "VELMO.bat"}
]}
JSON
"$BUILD/velmo-pack" build "$OUT/pack-src/manifest.json" -o "$OUT/pack.bin"
"$BUILD/velmo-pack" embed "$BUILD/velmo-patcher" "$OUT/pack.bin" -o "$OUT/velmo-patcher"
echo "== the pack inside $OUT/velmo-patcher:"
"$BUILD/velmo-pack" list "$OUT/velmo-patcher"
set +e
"$OUT/velmo-patcher" /auto "" "$OUT/game"
code=$?
echo "== velmo-patcher /auto \"\" $OUT/game exited with $code; its log says:"
cat "$OUT/patcher-auto.txt"; echo
