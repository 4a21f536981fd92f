#!/usr/bin/env bash
# Builds Quorvel and runs every test three times: in the normal build, under
# AddressSanitizer with UndefinedBehaviorSanitizer, and under ThreadSanitizer
# (the worker and the UI thread share the terminal state); then builds the
# Debian package and checks it.
#   tools/test.sh [step...]   (default: default asan tsan package)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
cd "$root"

steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(default asan tsan package)
for step in "${steps[@]}"; do
  echo "== $step"
  if [ "$step" = package ]; then
    package=$("$root/tools/package.sh" "$root/build-package")
    "$root/tools/check-package.sh" "$package"
    continue
  fi
  cmake --preset "$step" >/dev/null
  cmake --build --preset "$step"
  ctest --preset "$step"
done
