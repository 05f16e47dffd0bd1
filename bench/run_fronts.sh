#!/usr/bin/env bash
# CPU and peak memory of pulsemeter-sim measuring on the real clock for SECONDS (default
# 20), each front next to its floor: the headless front (live terminal readout, written
# to a file) against a bare 50 ms timer loop (floor_timer), and the GTK front on Xvfb
# against a bare GTK window with the same timer (floor_gtk). One tab-separated line per
# run:
#   run frequency_hz peak_mib user_s system_s wall_s cpu_percent steady_cpu_percent
#   x_server_cpu_s last_reading dividers
# (CPU in percent of one core; see measure() and dividers() below).
# Usage: bench/run_fronts.sh [BUILD_DIR [SECONDS [FREQUENCY_HZ...]]]  (default 1000)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/measure.sh

build=${1:-build/linux}
seconds=${2:-20}
shift $(($# < 2 ? $# : 2))
frequencies=("${@:-1000}")
program=$build/programs/pulsemeter-sim
for binary in "$program" "$build/bench/floor_timer"; do
  [[ -x $binary ]] || { echo "run_fronts.sh: $binary not built (cmake --build --preset linux)" >&2; exit 1; }
done
[[ -x /usr/bin/time ]] || { echo "run_fronts.sh: /usr/bin/time missing (scripts/deps.sh bench)" >&2; exit 1; }

# The last frequency the program drew, from its draw log ("<ms> (0,200) "<number>"") or
# its live readout (lines redrawn in place with ANSI escapes); "-" when it drew none.
plain() {
  sed 's/\x1b\[[0-9;]*[A-Za-z]//g; s/\r/\n/g' "$1"
}
last_reading() {
  local found
  found=$(plain "$1" | sed -nE '/^[0-9.]+ \(/ { s/^[0-9.]+ \(0,200\) "(.*)"$/\1/p; d }; /Hz/p' |
    grep -oE '[0-9][0-9._]*[0-9_]' | tail -n 1)
  echo "${found:--}"
}
# The dividers the program measured with, in order, adjacent repeats folded: a range that
# settled shows one; one that does not keeps coming back to it after every new ranging.
dividers() {
  plain "$1" | grep -o '分周値 [0-9]*' |
    awk '{ if ($2 != last) { printf "%s%s", sep, $2; sep = ","; last = $2; n++ } }
         END { if (n == 0) printf "-"; print "" }'
}

# measure RUN FREQUENCY COMMAND...: one line as described above. With a display, the X
# server's CPU over the run is its own column.
measure() {
  local run=$1 frequency=$2
  shift 2
  local x0=0
  [[ -n $xvfb_pid ]] && x0=$(run_nanos "$xvfb_pid")
  measure_run "$work" "$seconds" "$@"
  local xcpu=-
  [[ -n $xvfb_pid ]] && xcpu=$(awk -v a="$x0" -v b="$(run_nanos "$xvfb_pid")" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')
  local reading=- seen=-
  if [[ $run != floor* ]]; then
    reading=$(last_reading "$work/output")
    seen=$(dividers "$work/output")
  fi
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$run" "$frequency" "$peak_mib" \
    "$user_s" "$system_s" "$wall_s" \
    "$(awk -v u="$user_s" -v s="$system_s" -v w="$wall_s" 'BEGIN { printf "%.3f", (u + s) / w * 100 }')" \
    "$steady_pct" "$xcpu" "$reading" "$seen"
}

printf '# run\tfrequency_hz\tpeak_mib\tuser_s\tsystem_s\twall_s\tcpu_percent\tsteady_cpu_percent\tx_server_cpu_s\tlast_reading\tdividers\n'
measure floor_timer - "$build/bench/floor_timer" "$seconds"
for f in "${frequencies[@]}"; do
  measure headless "$f" "$program" --headless --frequency "$f" --run-for "$seconds"
done

if ! command -v Xvfb >/dev/null; then
  echo "# gtk skipped: Xvfb is not installed (scripts/deps.sh gui)"
  exit 0
fi
start_xvfb
if [[ -x $build/bench/floor_gtk ]]; then
  measure floor_gtk - "$build/bench/floor_gtk" "$seconds"
fi
for f in "${frequencies[@]}"; do
  # The GTK front has no terminal readout; the draw log says what it showed.
  measure gtk "$f" "$program" --frequency "$f" --run-for "$seconds" --draw-log
done
