#!/usr/bin/env bash
# The folders' include rule, as the build enforces it: a source of one folder
# can include a header of each folder it depends on, and no other. Compiles a
# one-line file against each folder's include root, both ways.
#   layout_check.sh COMPILER INCLUDE_ROOTS SOURCE_DIR
set -euo pipefail
compiler=$1 roots=$2 source=$3
folders=$(ls "$roots")
failures=0
for folder in $folders; do
  for other in $folders; do
    header=$(cd "$source/$other" && ls -S ./*.h | tail -n 1)
    header="$other/${header#./}"
    if [ -e "$roots/$folder/$other" ]; then expect=compiles; else expect=refused; fi
    if echo "#include \"$header\"" |
       "$compiler" -std=c++20 -fsyntax-only -I "$roots/$folder" -x c++ - 2>/dev/null; then
      got=compiles
    else
      got=refused
    fi
    if [ "$got" != "$expect" ]; then
      echo "$folder/ including $header: $got, expected $expect"
      failures=$((failures + 1))
    fi
  done
done
# The rule is only worth something if it refuses the way up.
[ -e "$roots/engine/connection" ] && { echo "engine/ may include connection/"; failures=$((failures + 1)); }
[ -e "$roots/core/link" ] && { echo "core/ may include link/"; failures=$((failures + 1)); }
exit $((failures > 0))
