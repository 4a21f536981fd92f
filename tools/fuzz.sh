#!/usr/bin/env bash
# Builds every libFuzzer target in tests/fuzz/ in the AddressSanitizer build
# (preset asan, under clang, in build-asan/, with the folder libraries each
# source compiled on its own and the tools), and runs each
# target for a bounded time from the corpus kept in tests/fuzz/corpus/, every
# kept input first. The targets run side by side, as many at once as there
# are processors.
#   tools/fuzz.sh [seconds] [target...]
#     seconds per target (default 60); what a target finds new that adds
#     coverage is merged into its corpus.
#   tools/fuzz.sh --check [seconds] [target...]
#     CI's short run (default 4 s per target): the corpus is only read, and
#     the run fails when any target crashes, leaks, hangs on an input or fails
#     a check; the input that did it is kept in build-asan/.
# Targets default to every tests/fuzz/<name>_fuzz.cpp.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
check=false
if [ "${1:-}" = --check ]; then
  check=true
  shift
fi
seconds=${1:-}
[ -n "$seconds" ] || { $check && seconds=4 || seconds=60; }
shift || true
case $seconds in
  '' | *[!0-9]*) echo "fuzz.sh: seconds must be a whole number, not '$seconds'" >&2; exit 2 ;;
esac
"$root/tools/install-deps.sh"
cd "$root"
# A build directory left by another compiler (this build was GCC's once):
# CMake's first configure then clears its cache and fails, the second works.
cmake --preset asan >/dev/null 2>&1 || cmake --preset asan >/dev/null
cmake --build --preset asan --target quorvel_fuzzers
build="$root/build-asan"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in "$root"/tests/fuzz/*_fuzz.cpp; do
    targets+=("$(basename "$source" _fuzz.cpp)")
  done
fi

for name in "${targets[@]}"; do
  fuzzer="$build/tests/fuzz/${name}_fuzzer"
  [ -x "$fuzzer" ] || { echo "fuzz.sh: no target '$name' ($fuzzer)" >&2; exit 2; }
done

# fuzz_one NAME: one target's run, its output in build-asan/NAME.log and its
# exit status in build-asan/NAME.status.
fuzz_one() {
  local name=$1
  local fuzzer="$build/tests/fuzz/${name}_fuzzer"
  local corpus="$root/tests/fuzz/corpus/$name"
  # New inputs go to the first directory: a scratch one, so that a check
  # leaves the checkout as it was.
  local found="$build/found/$name"
  $check && rm -rf "$found"
  mkdir -p "$corpus" "$found"
  local status=0
  rm -f "$build/$name.status"
  (cd "$build" && "$fuzzer" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
     -artifact_prefix="$build/crash-$name-" "$found" "$corpus" >"$build/$name.log" 2>&1) ||
    status=$?
  echo "$status" >"$build/$name.status"
}

# Each target is one busy thread for its time: as many run at once as there
# are processors, and their reports follow in the targets' order.
slots=$(nproc 2>/dev/null || echo 1)
running=0
for name in "${targets[@]}"; do
  if [ "$running" -ge "$slots" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  fuzz_one "$name" &
  running=$((running + 1))
done
wait

failed=()
for name in "${targets[@]}"; do
  fuzzer="$build/tests/fuzz/${name}_fuzzer"
  corpus="$root/tests/fuzz/corpus/$name"
  found="$build/found/$name"
  echo "== $name: ${seconds}s"
  if [ "$(cat "$build/$name.status" 2>/dev/null)" != 0 ]; then
    tail -n 30 "$build/$name.log"
    echo "fuzz.sh: $name failed; the input is in $build/crash-$name-*;" \
         "run it again with $fuzzer FILE" >&2
    failed+=("$name")
    continue
  fi
  tail -n 2 "$build/$name.log"
  # Keep the corpus small: only inputs that add coverage go back in.
  $check || "$fuzzer" -merge=1 "$corpus" "$found" 2>&1 | tail -n 1
done

echo "fuzz: $((${#targets[@]} - ${#failed[@]})) passed, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ]
