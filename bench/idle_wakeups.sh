#!/usr/bin/env bash
# Wake-ups of the programs while they do nothing but what the processor needs: the window
# connected to the simulator and idle, the window not connected, and the service
# (orn312-scheduler) connected and idle with no plan due. A wake-up is a voluntary context switch
# (the thread slept and was woken), counted per thread from /proc over SECONDS (default 120),
# RUNS times (default 3). Prints each thread's rate and each run's total, then the median total
# per case in wake-ups a second.
#   bench/idle_wakeups.sh [SECONDS] [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
secs=${1:-120}
runs=${2:-3}
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT

# "tid name voluntary-switches" for every thread of a process.
switches() {
  local t
  for t in /proc/"$1"/task/*; do
    [ -r "$t/status" ] || continue
    printf '%s %s %s\n' "${t##*/}" "$(tr ' ' '_' <"$t/comm")" \
      "$(awk '/^voluntary_ctxt_switches/ {print $2}' "$t/status")"
  done
}
polls() { grep -c '(status)' "$1" 2>/dev/null || true; }

start_sim() {
  "$build/sim/orn312-sim" --tcp 0 --log "$work/sim.log" </dev/null >"$work/sim.out" &
  sim=$!
  for _ in $(seq 50); do grep -q '^tcp ' "$work/sim.out" && break; sleep 0.1; done
  port=$(sed -n 's/^tcp 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/sim.out")
}

# Waits until the simulator has answered a few status polls: the program is connected.
wait_connected() {
  for _ in $(seq 100); do
    [ "$(polls "$work/sim.log")" -ge 3 ] 2>/dev/null && break
    sleep 0.1
  done
}

# Counts the wake-ups of process $1 over $secs; prints the per-thread lines, sets $total.
measure() {
  local pid=$1
  switches "$pid" >"$work/before"
  sleep "$secs"
  switches "$pid" >"$work/after"
  total=$(awk -v s="$secs" '
    NR == FNR { b[$1] = $3; next }
    { d = $3 - ($1 in b ? b[$1] : 0); sum += d
      printf "    thread %s %-16s %7.3f /s\n", $1, $2, d / s > "/dev/stderr" }
    END { printf "%.3f", sum / s }' "$work/before" "$work/after")
}

declare -A results
for run in $(seq "$runs"); do
  for case in window-connected window-idle service-connected; do
    rm -f "$work/sim.log" "$work/sim.out"
    sim=
    if [ "$case" != window-idle ]; then
      start_sim
      printf '[CONNECT]\nSerialTcp=0\nIP=127.0.0.1\nPort=%s\nConnectFlag=1\nDeviceID=1\n' \
        "$port" >"$work/Planinfo.ini"
    else
      printf '[CONNECT]\nSerialTcp=0\nConnectFlag=0\n' >"$work/Planinfo.ini"
    fi
    if [ "$case" = service-connected ]; then
      (cd "$work" && exec "$build/tools/orn312-scheduler" Planinfo.ini >/dev/null 2>&1) &
    else
      (cd "$work" && QT_QPA_PLATFORM=offscreen exec "$build/orn312-control" >/dev/null 2>&1) &
    fi
    app=$!
    if [ -n "$sim" ]; then wait_connected; else sleep 5; fi
    echo "run $run, $case:" >&2
    measure "$app"
    echo "run $run: $case $total wake-ups/s"
    results[$case]+="$total "
    kill "$app" $sim 2>/dev/null || true
    wait "$app" $sim 2>/dev/null || true
  done
done
for case in window-connected window-idle service-connected; do
  median=$(printf '%s\n' ${results[$case]} | sort -g | awk '{a[NR]=$1} END{print a[int((NR+1)/2)]}')
  echo "median: $case $median wake-ups/s (target <= 3.5; the window not connected 0)"
done
