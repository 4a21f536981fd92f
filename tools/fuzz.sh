#!/usr/bin/env bash
# Builds the terminal without its window under clang (preset fuzz, in
# build-fuzz/), with every libFuzzer target in tests/fuzz/, and runs each
# target for a bounded time from the corpus kept in tests/fuzz/corpus/, which
# the ordinary test suite replays.
#   tools/fuzz.sh [seconds] [target...]
#     seconds per target (default 60); what a target finds new that adds
#     coverage is merged into its corpus.
#   tools/fuzz.sh --check [seconds] [target...]
#     CI's short run (default 4 s per target): the corpus is only read, and
#     the run fails when any target crashes, leaks, hangs on an input or fails
#     a check; the input that did it is kept in build-fuzz/.
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
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
build="$root/build-fuzz"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in "$root"/tests/fuzz/*_fuzz.cpp; do
    targets+=("$(basename "$source" _fuzz.cpp)")
  done
fi

failed=()
for name in "${targets[@]}"; do
  fuzzer="$build/tests/fuzz/${name}_fuzzer"
  corpus="$root/tests/fuzz/corpus/$name"
  [ -x "$fuzzer" ] || { echo "fuzz.sh: no target '$name' ($fuzzer)" >&2; exit 2; }
  # New inputs go to the first directory: a scratch one, so that a check
  # leaves the checkout as it was.
  found="$build/found/$name"
  $check && rm -rf "$found"
  mkdir -p "$corpus" "$found"
  echo "== $name: ${seconds}s"
  if ! (cd "$build" && "$fuzzer" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
          -artifact_prefix="$build/crash-$name-" "$found" "$corpus" >"$build/$name.log" 2>&1); then
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
