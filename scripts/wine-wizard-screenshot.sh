#!/bin/sh
# wine-wizard-screenshot.sh WIN_BUILD_DIR: starts the Windows wizard (with the
# demo pack embedded and its XAPK pre-filled) under Wine on a private
# X server and keeps a picture of the first screen as
# WIN_BUILD_DIR/wizard-screens/first.png. Needs xvfb-run and ImageMagick.
set -e
build=$(cd "$1" && pwd)
demo="$build/demo"
out="$build/wizard-screens"
mkdir -p "$out"
[ -f "$demo/pack.bin" ] || { echo "no demo game in $demo (ctest -R wine_demo_game makes it)"; exit 1; }
"$build/../build/velmo-pack" embed "$build/VELMO Patcher.exe" "$demo/pack.bin" -o "$out/VELMO Patcher.exe"
xapk=$(echo "Z:$demo/harrowmere-1.0.7.xapk" | tr / '\\')
export WINEPREFIX="$build/wineprefix"
xvfb-run -a -s "-screen 0 1280x800x24" sh -c '
  sh "$1/../scripts/wine-run.sh" "$WINEPREFIX" "$2/VELMO Patcher.exe" /xapk "$3" >/dev/null 2>&1 &
  sleep 12
  import -window root "$2/first.png"
  # The close cell of the window centred on the 1280x800 screen: the
  # wizard closes its XAPK and removes its temporary copies itself.
  xdotool mousemove 1125 104 click 1
  wineserver -w' sh "$build" "$out" "$xapk"
echo "$out/first.png"
