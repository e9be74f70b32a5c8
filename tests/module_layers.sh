#!/bin/sh
# Fails when a module's own code (its subfolders included) includes a module
# above it, or when a module is not listed here: each module may include only
# the ones listed after it (tests may include more).
# usage: module_layers.sh SOURCE_DIR
set -eu
SRC=${1:?usage: module_layers.sh SOURCE_DIR}
LAYERS='common
platform common
pack common platform
xapk common platform pack
patch common platform pack
install common platform pack xapk patch
audio common platform
ui common platform pack xapk patch install audio
app common platform pack xapk patch install audio ui'
status=0
for dir in "$SRC"/src/*/; do
  module=$(basename "$dir")
  if ! printf '%s\n' "$LAYERS" | grep -q "^$module\( \|$\)"; then
    echo "module_layers: src/$module/ has no place among the layers"
    status=1
  fi
done
while read -r module allowed; do
  [ -d "$SRC/src/$module" ] || { echo "module_layers: src/$module/ is missing"; status=1; continue; }
  for f in $(find "$SRC/src/$module" -name '*.cc' -o -name '*.h' | grep -v '_unittest\.cc$'); do
    for used in $(sed -n 's|^#include "\([a-z_-]*\)/.*|\1|p' "$f" | sort -u); do
      case " $module $allowed " in
        *" $used "*) ;;
        *) echo "module_layers: ${f#"$SRC"/} includes $used/, above $module"; status=1 ;;
      esac
    done
  done
done <<EOT
$LAYERS
EOT
[ "$status" -eq 0 ] && echo "module_layers: every module includes only modules below it"
exit "$status"
