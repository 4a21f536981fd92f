#!/usr/bin/env bash
# Builds the benchmarks in Release (in build-bench) and prints the report
# table: the headless core and the window offscreen.
# Arguments go to quorvel_bench (--help lists them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
"$root/tools/install-deps.sh"

# Warnings are enforced by the test builds; -O3 adds false positives of its
# own (GCC 12's -Wrestrict in std::string) that must not stop a measurement.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_UI=ON \
  -DQUORVEL_WERROR=OFF >/dev/null
cmake --build "$build" --target quorvel_bench >&2

export QT_QPA_PLATFORM=offscreen
# Qt wants a private runtime directory and complains at every start without one.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  XDG_RUNTIME_DIR=$(mktemp -d)
  export XDG_RUNTIME_DIR
  trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
fi
"$build/bench/quorvel_bench" "$@"
