#!/usr/bin/env bash
# Checks that every C++ source and header the repository tracks is formatted
# as the project's .clang-format says (Debian 12's clang-format); names each
# file that is not and fails. `clang-format -i FILE` formats one.
#   tools/check-format.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
cd "$root"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
  # An unpacked copy without its history: the sources outside the builds.
  mapfile -t files < <(find . -path './build*' -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
fi
[ ${#files[@]} -gt 0 ] || { echo "check-format.sh: no sources found in $root" >&2; exit 1; }
# One run over every file: clang-format names each line it would change.
report=$(clang-format --dry-run -Werror "${files[@]}" 2>&1) && status=0 || status=$?
mapfile -t unformatted < <(grep -oE '^[^:]+:[0-9]+:[0-9]+: error' <<<"$report" | cut -d: -f1 | sort -u)
if [ $status -ne 0 ]; then
  [ ${#unformatted[@]} -gt 0 ] || { echo "$report" >&2; exit 1; }  # clang-format itself failed
  printf 'not formatted: %s\n' "${unformatted[@]}" >&2
  echo "format: $((${#files[@]} - ${#unformatted[@]})) passed, ${#unformatted[@]} failed" >&2
  exit 1
fi
echo "format: ${#files[@]} files formatted"
