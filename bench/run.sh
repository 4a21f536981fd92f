#!/usr/bin/env bash
# Builds the benchmarks in Release (in build-bench) and prints the report
# table: the headless core, the window offscreen, the window on a real X
# server (Xvfb), where every repaint also travels to the server, and the
# terminal's own process under a steady stream (bench/steady_process.sh).
# Arguments go to quorvel_bench (--help lists them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
"$root/tools/install-deps.sh" xvfb xauth

# Warnings are enforced by the test builds; -O3 adds false positives of its
# own (GCC 12's -Wrestrict in std::string) that must not stop a measurement.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_UI=ON \
  -DQUORVEL_WERROR=OFF >/dev/null
cmake --build "$build" --target quorvel_bench quorvel quorvel-devsim >&2

# Qt wants a private runtime directory and complains at every start without one.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  XDG_RUNTIME_DIR=$(mktemp -d)
  export XDG_RUNTIME_DIR
  trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
fi
status=0
QT_QPA_PLATFORM=offscreen "$build/bench/quorvel_bench" "$@" || status=$?
# The same window measurements on Xvfb: their rows continue the table (its
# header left out).
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
  env QT_QPA_PLATFORM=xcb "$build/bench/quorvel_bench" --window-only "$@" >"$build/x-rows.txt" ||
  status=$?
grep '^| ' "$build/x-rows.txt" | tail -n +2
# The terminal in a process of its own, as a user runs it, under a steady
# stream from the device simulator: the view off and on.
if [ -z "$*" ] || [[ "$*" == *Steady* ]]; then
  "$root/bench/steady_process.sh" "$build" || status=$?
fi
exit $status
