#!/bin/sh
# Builds static liblzma and libzip for mingw-w64 from Debian's source
# packages into DIR/prefix (Debian ships neither for Windows). The sources
# come through a private apt list under DIR, so the machine's own apt
# configuration stays untouched. No path of DIR ends up in the objects, so
# the libraries are the same in any folder. A second run with the libraries
# in place does nothing.
set -e
DIR=$(mkdir -p "${1:?usage: build-win-deps.sh DIR}" && cd "$1" && pwd)
SRC_DIR=$(cd "$(dirname "$0")/.." && pwd)
PREFIX="$DIR/prefix"
[ -f "$PREFIX/.complete" ] && exit 0

APT="$DIR/apt"
mkdir -p "$APT/lists/partial" "$DIR/src"
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main" \
  > "$APT/sources.list"
apt_private() {
  apt-get -qq -o Dir::Etc::SourceList="$APT/sources.list" -o Dir::Etc::SourceParts=/dev/null \
    -o Dir::State::Lists="$APT/lists" -o APT::Sandbox::User=root "$@"
}
echo "build-win-deps: fetching the xz-utils and libzip sources"
apt_private update
(cd "$DIR/src" && rm -rf xz-utils-* libzip-* && apt_private source xz-utils libzip >/dev/null 2>&1)

TOOLCHAIN="$SRC_DIR/cmake/mingw-w64-x86_64.cmake"
build() {  # name source-dir cmake-args...
  name=$1; src=$2; shift 2
  echo "build-win-deps: building $name"
  cmake -S "$src" -B "$DIR/build-$name" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" -DBUILD_SHARED_LIBS=OFF \
    -DCMAKE_C_FLAGS="-ffile-prefix-map=$DIR=." "$@" >/dev/null
  cmake --build "$DIR/build-$name" >/dev/null
  cmake --install "$DIR/build-$name" >/dev/null
}
build xz "$(ls -d "$DIR"/src/xz-utils-*/ | head -n 1)"
build libzip "$(ls -d "$DIR"/src/libzip-*/ | head -n 1)" \
  -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF -DENABLE_COMMONCRYPTO=OFF \
  -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF -DENABLE_OPENSSL=OFF -DENABLE_WINDOWS_CRYPTO=OFF \
  -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF
touch "$PREFIX/.complete"
