#!/usr/bin/env bash
# CPU use of the controller while it sits connected to the simulator and does nothing but its
# once-a-second status poll. Runs the window offscreen, measures user+system time from /proc over
# SECONDS (default 60) per run, RUNS times (default 3), and prints each run and the median as a
# percentage of one core.
#   bench/idle_cpu.sh [SECONDS] [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
secs=${1:-60}
runs=${2:-3}
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT

# CPU time of every thread of a process, in nanoseconds.
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{s += $1} END {printf "%d", s}'; }
polls() { grep -c '(status)' "$1" 2>/dev/null || true; }

results=()
for run in $(seq "$runs"); do
  "$build/sim/orn312-sim" --tcp 0 --log "$work/sim.log" </dev/null >"$work/sim.out" &
  sim=$!
  for _ in $(seq 50); do grep -q '^tcp ' "$work/sim.out" && break; sleep 0.1; done
  port=$(sed -n 's/^tcp 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/sim.out")
  printf '[CONNECT]\nSerialTcp=0\nIP=127.0.0.1\nPort=%s\nConnectFlag=1\nDeviceID=1\n' "$port" \
    >"$work/Planinfo.ini"
  (cd "$work" && QT_QPA_PLATFORM=offscreen exec "$build/orn312-control" >/dev/null 2>&1) &
  app=$!
  # Connected once the simulator has answered a few status polls.
  for _ in $(seq 100); do
    [ "$(polls "$work/sim.log")" -ge 3 ] 2>/dev/null && break
    sleep 0.1
  done
  before=$(cpu_ns "$app")
  p0=$(polls "$work/sim.log")
  sleep "$secs"
  after=$(cpu_ns "$app")
  p1=$(polls "$work/sim.log")
  pct=$(awk -v d=$((after - before)) -v s="$secs" 'BEGIN{printf "%.3f", 100*d/1e9/s}')
  echo "run $run: ${pct}% of a core over ${secs}s ($((p1 - p0)) status polls meanwhile)"
  results+=("$pct")
  kill "$app" "$sim" 2>/dev/null || true
  wait "$app" "$sim" 2>/dev/null || true
  rm -f "$work/sim.log"
done
median=$(printf '%s\n' "${results[@]}" | sort -g | awk '{a[NR]=$1} END{print a[int((NR+1)/2)]}')
echo "median: ${median}% of a core"
