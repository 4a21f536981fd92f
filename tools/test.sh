#!/usr/bin/env bash
# Builds Quorvel and runs every test three times: in the normal build, under
# AddressSanitizer with UndefinedBehaviorSanitizer, and under ThreadSanitizer
# (the worker and the UI thread share the terminal state).
#   tools/test.sh [preset...]   (default: default asan tsan)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
cd "$root"

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(default asan tsan)
for preset in "${presets[@]}"; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
