#!/usr/bin/env bash
# Peak memory and CPU of pulsemeter-sim measuring a 1 kHz signal on the real clock,
# once with the GTK front (on Xvfb) and once with the headless front (live terminal
# readout, written to /dev/null), each for SECONDS (default 20), measured with
# /usr/bin/time -v. Figures go to standard output.
# Usage: bench/run_fronts.sh [PULSEMETER_SIM [SECONDS]]
set -euo pipefail
cd "$(dirname "$0")/.."

program=${1:-build/linux/platform/linux/pulsemeter-sim}
seconds=${2:-20}
[[ -x $program ]] || { echo "run_fronts.sh: $program not built (cmake --build --preset linux)" >&2; exit 1; }
[[ -x /usr/bin/time ]] || { echo "run_fronts.sh: /usr/bin/time missing (scripts/deps.sh bench)" >&2; exit 1; }

report=$(mktemp)
xvfb_pid=""
display_file=$(mktemp)
cleanup() {
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  rm -f "$report" "$display_file"
}
trap cleanup EXIT

# One run: prints "<front> <peak RSS MiB> <user s> <system s> <CPU %> <wall s>".
measure() {
  local front=$1
  shift
  /usr/bin/time -v -o "$report" "$program" --frequency 1000 --run-for "$seconds" "$@" >/dev/null
  awk -v front="$front" -F': ' '
    /Maximum resident set size/ { rss = $2 / 1024 }
    /User time/ { user = $2 }
    /System time/ { sys = $2 }
    /Percent of CPU/ { cpu = $2 }
    /Elapsed \(wall clock\)/ { n = split($2, t, ":"); wall = 0; for (i = 1; i <= n; i++) wall = wall * 60 + t[i] }
    END { printf "%-9s %10.1f %8.2f %8.2f %6s %8.1f\n", front, rss, user, sys, cpu, wall }' "$report"
}

echo "pulsemeter-sim at 1 kHz for ${seconds} s on the real clock"
printf '%-9s %10s %8s %8s %6s %8s\n' front "peak MiB" "user s" "sys s" "CPU" "wall s"
measure headless --headless
if command -v Xvfb >/dev/null; then
  Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$display_file" 2>/dev/null &
  xvfb_pid=$!
  for _ in $(seq 50); do
    [[ -s $display_file ]] && break
    sleep 0.1
  done
  DISPLAY=":$(head -n 1 "$display_file")" measure gtk
else
  echo "gtk       (skipped: Xvfb is not installed; scripts/deps.sh gui)"
fi
