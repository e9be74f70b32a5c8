#!/bin/sh
# make-windows-kit.sh WIN_BUILD HOST_BUILD VECTORS_DIR [--zip]: puts together
# the Windows test kit in WIN_BUILD/velmo-windows-tests (and, with --zip,
# WIN_BUILD/velmo-windows-tests.zip): every Windows test program, the genuine
# vectors, LZMS buffers written by our pack tool, the small demo game with an
# LZMS pack and its expected tree (which the unit tests read too), the
# reference renders, and run-tests.cmd.
set -eu
WIN=$(cd "${1:?usage: make-windows-kit.sh WIN_BUILD HOST_BUILD VECTORS_DIR [--zip]}" && pwd)
HOST=$(cd "${2:?}" && pwd)
VECTORS=$(cd "${3:?}" && pwd)
SRC=$(cd "$(dirname "$0")/.." && pwd)
KIT="$WIN/velmo-windows-tests"

# Data made by the build machine's tools (also read in place by the Windows
# build's own run of velmo_tests_kit).
DATA="$WIN/kit-data"
rm -rf "$DATA"
mkdir -p "$DATA/lzms"
"$HOST/velmo-demo-game" "$DATA/demo" --scale small --patcher "$WIN/VELMO Patcher.exe" >/dev/null
rm -rf "$DATA/demo/pack-src" "$DATA/demo/velmo-patcher"
# Text that compresses, several 64 KiB chunks of it; then text, 64 KiB of
# the demo XAPK (deflated already: its chunk is stored) and a short tail.
cat "$SRC"/src/*/*.cc | head -c 200000 > "$DATA/lzms/text.raw"
{ head -c 65536 "$DATA/lzms/text.raw"; head -c 65536 "$DATA/demo/harrowmere-1.0.7.xapk"; head -c 1000 "$DATA/lzms/text.raw"; } \
  > "$DATA/lzms/mixed.raw"
for name in text mixed; do
  "$HOST/velmo-pack" lzms-encode "$DATA/lzms/$name.raw" "$DATA/lzms/$name.lzms" >/dev/null
done

rm -rf "$KIT"
mkdir -p "$KIT/bin" "$KIT/host"
tr -d '\r' < "$WIN/kit-tests.txt" | sed 's/$/\r/' > "$KIT/tests.txt"
for exe in $(cut -d' ' -f1 "$WIN/kit-tests.txt") kit_runner.exe write_cwd.exe; do
  cp "$WIN/$exe" "$KIT/bin/"
done
# Without their debug information: a kit of megabytes, not hundreds.
"${STRIP:-x86_64-w64-mingw32-strip}" "$KIT"/bin/*.exe
sed 's/$/\r/' "$SRC/tests/kit/run-tests.cmd" > "$KIT/run-tests.cmd"
sed 's/$/\r/' "$SRC/tests/kit/README.txt" > "$KIT/README.txt"
cp -r "$VECTORS" "$KIT/vectors"
cp -r "$DATA/demo" "$DATA/lzms" "$KIT/"
if [ -d "$HOST/wizard-frames" ]; then
  mkdir -p "$KIT/host/wizard-frames"
  cp "$HOST"/wizard-frames/*.png "$HOST"/wizard-frames/*.textmask "$KIT/host/wizard-frames/"
fi
if [ "${4:-}" = "--zip" ]; then
  rm -f "$WIN/velmo-windows-tests.zip"
  (cd "$WIN" && zip -qr velmo-windows-tests.zip velmo-windows-tests)
  echo "$WIN/velmo-windows-tests.zip"
fi
