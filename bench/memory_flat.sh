#!/usr/bin/env bash
# Peak memory of the whole program over long runs on the virtual clock, against a run of
# one hour: an input that stops, and one above the automatic range, where the program
# configures the counter again and again. A record that grows with time shows here.
# Prints a Markdown table. Usage: bench/memory_flat.sh [BUILD_DIR] [HOURS]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/measure.sh

build=${1:-build/linux}
hours=${2:-100}
sim=$build/programs/pulsemeter-sim
[[ -x $sim ]] || { echo "memory_flat.sh: $sim not built" >&2; exit 1; }

# The options of each case.
case_options() {
  case $1 in
    stopped) echo "--frequency 1000 --stop-at 1" ;;
    # Above the automatic range every gate is too short: it ranges again and again.
    ranging) echo "--frequency 10000000" ;;
  esac
}

echo "| run | 1 h peak (MiB) | $hours h peak (MiB) | growth | CPU for $hours h (s) |"
echo "|---|---|---|---|---|"
for name in stopped ranging; do
  measure_run "$work" 0 "$sim" --headless --virtual-time --run-for 3600 \
    $(case_options "$name")
  hour_mib=$peak_mib
  seconds=$((hours * 3600))
  measure_run "$work" 0 "$sim" --headless --virtual-time --run-for "$seconds" \
    $(case_options "$name")
  long_mib=$peak_mib
  cpu=$(awk -v u="$user_s" -v s="$system_s" 'BEGIN { printf "%.1f", u + s }')
  growth=$(awk -v a="$hour_mib" -v b="$long_mib" 'BEGIN { printf "%+.1f %%", (b - a) / a * 100 }')
  echo "| $name | $hour_mib | $long_mib | $growth | $cpu |"
done
