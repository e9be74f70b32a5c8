#!/bin/sh
# Fails when a module's own code includes a module above it: each module
# below may include only the ones listed after it (tests may include more).
# usage: module_layers.sh SOURCE_DIR
set -eu
SRC=${1:?usage: module_layers.sh SOURCE_DIR}
status=0
while read -r module allowed; do
  for f in $(find "$SRC/src/$module" -name '*.cc' -o -name '*.h' | grep -v '_unittest\.cc$'); do
    for used in $(sed -n 's|^#include "\([a-z_-]*\)/.*|\1|p' "$f" | sort -u); do
      case " $module $allowed " in
        *" $used "*) ;;
        *) echo "module_layers: ${f#"$SRC"/} includes $used/, above $module"; status=1 ;;
      esac
    done
  done
done <<'LAYERS'
common
platform common
pack common platform
xapk common platform pack
patch common platform pack
install common platform pack xapk patch
audio common platform
LAYERS
[ "$status" -eq 0 ] && echo "module_layers: no module includes one above it"
exit "$status"
