#!/bin/sh
# Installs the Debian packages the build and the tests need. Quiet and quick
# when everything is already there.
set -e

PKGS="build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest
  libzip-dev zipcmp zip liblzma-dev libwim-dev libssl-dev zlib1g-dev nlohmann-json3-dev
  libgtk-3-dev libx11-dev libsdl2-dev
  fonts-dejavu-core fonts-liberation2 fonts-noto-cjk
  xvfb xdotool xauth imagemagick bc osslsigncode openssl
  g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev wine wine64 dpkg-dev"

missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" \
    || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages:$missing (run as root to install them)" >&2
  exit 1
fi
echo "install-deps: installing$missing"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends $missing >/dev/null
