#!/usr/bin/env bash
# Builds Quorvel and runs every test: the normal build, then the core under
# ThreadSanitizer, since the worker and the UI thread share the terminal state.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
export QT_QPA_PLATFORM=offscreen

run_suite() {  # build-dir, extra cmake arguments...
  local dir="$root/$1"
  shift
  cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir"
  (cd "$dir" && ctest --output-on-failure -j2)
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_BUILD_TESTS=ON -DQUORVEL_BUILD_UI=ON
run_suite build-tsan -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZER=thread -DQUORVEL_BUILD_UI=OFF
