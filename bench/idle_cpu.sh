#!/usr/bin/env bash
# Processor time of an idle Pravik, per render mode: the program is started
# under a virtual display, left without input for WARMUP seconds (the built-in
# datasets' densities are estimated in that time) and 5 more, then its user +
# system time over the next 5 seconds is printed as a share of one core.
#
#   bench/idle_cpu.sh [BUILD_DIR]      (WARMUP=20 by default)
#
# Target: on-demand under 5 % of one core; continuous redraws all the time.
set -euo pipefail
build=${1:-build}
pravik=$(realpath "$build/Pravik")
warmup=${WARMUP:-20}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '<config><mainwindow width="1000" height="800" fullscreen="0"/></config>\n' >"$work/config.xml"
ticks=$(getconf CLK_TCK)

measure() {
  local mode=$1
  (cd "$work" && exec xvfb-run -a -s "-screen 0 1280x1024x24" "$pravik" --render "$mode" >/dev/null 2>&1) &
  local runner=$!
  local pid=""
  for _ in $(seq 100); do
    pid=$(pgrep -n -f "^$pravik --render $mode" || true)
    [ -n "$pid" ] && break
    sleep 0.1
  done
  [ -n "$pid" ] || { echo "Pravik did not start"; exit 1; }
  sleep $((warmup + 5))
  local a b
  a=$(awk '{print $14 + $15}' "/proc/$pid/stat")
  sleep 5
  b=$(awk '{print $14 + $15}' "/proc/$pid/stat")
  kill "$pid"
  wait "$runner" 2>/dev/null || true
  awk -v t=$((b - a)) -v hz="$ticks" -v m="$mode" 'BEGIN { printf "%-11s %5.1f %% of one core while idle\n", m, 100 * t / (5 * hz) }'
}

measure on-demand
measure continuous
