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
ticks=$(getconf CLK_TCK)
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

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
    [ "$(grep -c '(status)' "$work/sim.log" 2>/dev/null || echo 0)" -ge 3 ] && break
    sleep 0.1
  done
  before=$(cpu_ticks "$app")
  sleep "$secs"
  after=$(cpu_ticks "$app")
  polls=$(grep -c '(status)' "$work/sim.log")
  pct=$(awk -v d=$((after - before)) -v t="$ticks" -v s="$secs" 'BEGIN{printf "%.3f", 100*d/t/s}')
  echo "run $run: ${pct}% of a core over ${secs}s (${polls} status polls in all)"
  results+=("$pct")
  kill "$app" "$sim" 2>/dev/null || true
  wait "$app" "$sim" 2>/dev/null || true
  rm -f "$work/sim.log"
done
median=$(printf '%s\n' "${results[@]}" | sort -g | awk '{a[NR]=$1} END{print a[int((NR+1)/2)]}')
echo "median: ${median}% of a core"
