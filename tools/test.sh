#!/usr/bin/env bash
# Builds Quorvel and runs every test: first the cheap checks (the format of
# every source; the terminal without its window built with clang, which also
# builds the fuzz targets, and a short run of each), then every test three
# times: in the normal build, under AddressSanitizer with
# UndefinedBehaviorSanitizer, and under ThreadSanitizer (the worker and the UI
# thread share the terminal state); then it builds the Debian package and
# checks it.
#   tools/test.sh [step...]   (default: format fuzz default asan tsan package)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
cd "$root"

steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(format fuzz default asan tsan package)
for step in "${steps[@]}"; do
  echo "== $step"
  case $step in
    format) "$root/tools/check-format.sh" ;;
    fuzz) "$root/tools/fuzz.sh" --check "${QUORVEL_FUZZ_SECONDS:-4}" ;;
    package)
      package=$("$root/tools/package.sh" "$root/build-package")
      "$root/tools/check-package.sh" "$package"
      ;;
    *)
      cmake --preset "$step" >/dev/null
      cmake --build --preset "$step"
      ctest --preset "$step"
      ;;
  esac
done
