#!/usr/bin/env bash
# Runs every fuzz target for a bounded time (seconds per target, default 60)
# and merges what it finds new into the corpus kept in tests/fuzz/corpus/,
# which the ordinary test suite replays.
#   tools/fuzz.sh [seconds] [target...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
"$root/tools/install-deps.sh" clang libclang-rt-14-dev
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DQUORVEL_FUZZ=ON -DQUORVEL_BUILD_UI=OFF >/dev/null
cmake --build "$root/build-fuzz"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in "$root"/tests/fuzz/*_fuzz.cpp; do
    name=$(basename "$source" _fuzz.cpp)
    targets+=("$name")
  done
fi

for name in "${targets[@]}"; do
  corpus="$root/tests/fuzz/corpus/$name"
  found="$root/build-fuzz/found/$name"
  mkdir -p "$corpus" "$found"
  echo "== $name: ${seconds}s"
  (cd "$root/build-fuzz" &&
   "./tests/fuzz/${name}_fuzzer" -max_total_time="$seconds" -max_len=4096 \
     -artifact_prefix="$root/build-fuzz/crash-$name-" "$found" "$corpus" 2>&1 | tail -n 3)
  # Keep the corpus small: only inputs that add coverage go back in.
  "$root/build-fuzz/tests/fuzz/${name}_fuzzer" -merge=1 "$corpus" "$found" 2>&1 | tail -n 1
done
