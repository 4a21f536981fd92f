#!/usr/bin/env bash
# Builds Quorvel and runs every test: first the format of every source, then
# the tests in the normal build and under AddressSanitizer with
# UndefinedBehaviorSanitizer (a clang build, which also has the fuzz
# targets: a short run of each follows), and the tests whose cases start a
# thread under ThreadSanitizer (the worker and the UI thread share the
# terminal state); then it makes the Debian package and checks it.
#   tools/test.sh [step...]   (default: format default asan fuzz tsan package)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
cd "$root"

steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(format default asan fuzz tsan package)
# Each step ends with its time: wall, and the processor time of everything it ran.
run_step() {
  case $1 in
    format) "$root/tools/check-format.sh" ;;
    fuzz) "$root/tools/fuzz.sh" --check "${QUORVEL_FUZZ_SECONDS:-4}" ;;
    package)
      # Made from the optimised build, which is hardened for it.
      cmake --preset default >/dev/null
      package=$("$root/tools/package.sh" "$root/build-package" "$root/build")
      "$root/tools/check-package.sh" "$package"
      ;;
    *)
      # A build directory left by another compiler (the asan build was GCC's
      # once): CMake's first configure then clears its cache and fails, the
      # second works.
      cmake --preset "$1" >/dev/null 2>&1 || cmake --preset "$1" >/dev/null
      cmake --build --preset "$1"
      ctest --preset "$1"
      ;;
  esac
}
for step in "${steps[@]}"; do
  echo "== $step"
  TIMEFORMAT="== $step: %0R s wall, %0U s user, %0S s sys"
  time run_step "$step"
done
