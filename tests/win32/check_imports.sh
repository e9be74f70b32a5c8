#!/bin/sh
# check_imports.sh EXE LIST: fails when the executable imports a function that
# LIST does not name. LIST holds "dll function" lines (the DLL in lower case):
# every function the program may import statically, each one present on the
# oldest Windows the program supports, by its documentation's "minimum
# supported client". A function of a later Windows is looked up at run time
# instead; a DLL that is not a KnownDLL is never imported (system_dlls.h).
set -eu
EXE=${1:?usage: check_imports.sh EXE LIST}
LIST=${2:?usage: check_imports.sh EXE LIST}
OBJDUMP=${OBJDUMP:-x86_64-w64-mingw32-objdump}
imports=$("$OBJDUMP" -p "$EXE" | awk '
  /^\tDLL Name: / { dll = tolower($3); inTable = 0; next }
  /^\tvma: / { inTable = 1; next }
  inTable && NF == 0 { inTable = 0; next }
  inTable && NF >= 3 { print dll " " $3 }')
[ -n "$imports" ] || { echo "check_imports: no import table read from $EXE"; exit 1; }
missing=$(echo "$imports" | grep -vxF -f "$LIST" || true)
if [ -n "$missing" ]; then
  echo "$missing" | sed 's/^/check_imports: not known to be on the oldest supported Windows: /'
  exit 1
fi
echo "check_imports: $(echo "$imports" | wc -l) imports, each on the oldest supported Windows"
