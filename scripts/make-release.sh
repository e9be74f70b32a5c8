#!/bin/sh
# Assembles a release from the release builds:
#   make-release.sh NATIVE_BUILD WIN_BUILD OUT [PACK] [CERT KEY]
# OUT gets "VELMO Patcher.exe" and velmo-patcher carrying PACK (default: the
# small demo game's, made in demo-out/ as `make demo` makes it), and
# SHA256SUMS. With CERT and KEY the Windows patcher is signed after the pack
# is in, and its signature checked. OUT is replaced only when all of it is
# made.
set -e
NATIVE=${1:?usage: make-release.sh NATIVE_BUILD WIN_BUILD OUT [PACK] [CERT KEY]}
WIN=${2:?} OUT=${3:?} PACK=$4 CERT=$5 KEY=$6
if [ -n "$CERT$KEY" ] && { [ -z "$CERT" ] || [ -z "$KEY" ]; }; then
  echo "make-release: signing needs both SIGN_CERT and SIGN_KEY" >&2; exit 1
fi
# The commit's time stands for "now" wherever a tool wants one.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 0)}
export SOURCE_DATE_EPOCH

if [ -z "$PACK" ]; then
  DEMO=demo-out
  if [ ! -f "$DEMO/.complete" ] || [ "$NATIVE/velmo-demo-game" -nt "$DEMO/.complete" ]; then
    echo "make-release: making the small demo game in $DEMO/"
    rm -rf "$DEMO"
    "$NATIVE/velmo-demo-game" "$DEMO" --scale small --music --patcher "$NATIVE/velmo-patcher"
    touch "$DEMO/.complete"
  fi
  PACK=$DEMO/pack.bin
fi
[ -f "$PACK" ] || { echo "make-release: no pack at $PACK" >&2; exit 1; }

STAGE=$OUT.partial
rm -rf "$STAGE"
mkdir -p "$STAGE"
"$NATIVE/velmo-pack" embed "$NATIVE/velmo-patcher" "$PACK" -o "$STAGE/velmo-patcher"
if [ -n "$CERT" ]; then
  "$NATIVE/velmo-pack" embed "$WIN/VELMO Patcher.exe" "$PACK" -o "$STAGE/unsigned.exe"
  # The signing time is the commit's, so the signer can make the same bytes
  # again with the same key.
  osslsigncode sign -certs "$CERT" -key "$KEY" -h sha256 -n "VELMO Patcher" -time "$SOURCE_DATE_EPOCH" \
    -in "$STAGE/unsigned.exe" -out "$STAGE/VELMO Patcher.exe" >/dev/null
  rm "$STAGE/unsigned.exe"
  # A certificate of a public authority verifies against the system's roots,
  # a private one against itself.
  osslsigncode verify -in "$STAGE/VELMO Patcher.exe" >/dev/null 2>&1 ||
    osslsigncode verify -CAfile "$CERT" -in "$STAGE/VELMO Patcher.exe" >/dev/null ||
    { echo "make-release: the signed patcher does not verify" >&2; exit 1; }
else
  "$NATIVE/velmo-pack" embed "$WIN/VELMO Patcher.exe" "$PACK" -o "$STAGE/VELMO Patcher.exe"
fi
(cd "$STAGE" && sha256sum "VELMO Patcher.exe" velmo-patcher > SHA256SUMS)
rm -rf "$OUT"
mv "$STAGE" "$OUT"
echo "make-release: $OUT/"
sed 's/^/  /' "$OUT/SHA256SUMS"
