#!/usr/bin/env bash
# The terminal as a user runs it, its own process with its window on Xvfb,
# while quorvel-devsim streams 1 MB/s at it through a pseudo-terminal (10,000
# bytes every 10 ms): the CPU time of every thread of the process over
# SECONDS, after a few seconds to settle, with the session view off and on
# (stamps with the time of day, sent bytes shown). Prints table rows.
# usage: steady_process.sh BUILD_DIR [RUNS] [SECONDS]
set -euo pipefail
build=$(cd "$1" && pwd)  # the runs start in directories of their own
runs=${2:-3}
seconds=${3:-20}
app="$build/ui/quorvel"
sim="$build/tools/quorvel-devsim"

# Milliseconds of CPU the process's threads have used (the scheduler's own
# count, finer than the clock ticks of /proc/PID/stat).
cpu_ms() {
  cat /proc/"$1"/task/*/sched 2>/dev/null | awk '/se.sum_exec_runtime/ { sum += $3 } END { print sum }'
}

# One run: the CPU share in percent of a core.
measure() {
  local view=$1 dir sim_pid app_pid before after
  dir=$(mktemp -d)
  (cd "$dir" && exec "$sim" --com 1 --stream 1000000 >sim.log 2>&1) &
  sim_pid=$!
  # The simulator writes the Quorvel.ini that maps COM1 to its line.
  for _ in $(seq 100); do [ -s "$dir/Quorvel.ini" ] && break; sleep 0.05; done
  printf '[View]\nSessionView=%s\nStamps=time\nShowTx=1\n' "$view" >>"$dir/Quorvel.ini"
  (cd "$dir" && exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
    env QT_QPA_PLATFORM=xcb "$app" >app.log 2>&1) &
  sleep 4
  app_pid=$(pgrep -n -f "^$app\$" || true)
  if [ -z "$app_pid" ]; then
    echo "failed"
  else
    before=$(cpu_ms "$app_pid")
    sleep "$seconds"
    after=$(cpu_ms "$app_pid")
    awk -v a="$after" -v b="$before" -v s="$seconds" 'BEGIN { printf "%.2f\n", (a - b) / s / 10 }'
    kill "$app_pid"
  fi
  kill "$sim_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$dir"
}

for view in 0 1; do
  figures=()
  for _ in $(seq "$runs"); do figures+=("$(measure "$view")"); done
  sorted=$(printf '%s\n' "${figures[@]}" | sort -g)
  median=$(echo "$sorted" | sed -n "$(((runs + 1) / 2))p")
  max=$(echo "$sorted" | tail -1)
  verdict=$(awk -v m="$median" 'BEGIN { print (m != "failed" && m < 2) ? "met" : "missed" }')
  name="Steady stream, 1 MB/s, quorvel-devsim, session view $([ "$view" = 1 ] && echo on || echo off)"
  echo "| $name | window, X server, own process | $median % CPU | — | $max % CPU | $runs × ${seconds} s | < 2 % of a core | $verdict | every thread of the terminal's process; runs: $(echo "$sorted" | tr '\n' ' ')|"
done
