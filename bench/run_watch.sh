#!/usr/bin/env bash
# An hour spent waiting for a counter: CPU and peak memory of the program with no
# counter attached, which looks for one once a second, next to its floors. On the
# virtual clock: runs of a minute, an hour and ten hours (the peak memory must not grow
# with the length), and an hour ended by a counter plugged in. On the real clock, scaled
# down to REAL_SECONDS (default 20; the watch costs the same every second): pulsemeter-sim
# and the tty program pulsemeter with no USB serial port, against a bare timer loop
# ticking once a second. Prints a Markdown section on standard output.
# Usage: bench/run_watch.sh [BUILD_DIR]   (REAL_SECONDS=20 sets the real-clock runs)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/measure.sh

build=${1:-build/linux}
real_seconds=${REAL_SECONDS:-20}
sim=$build/programs/pulsemeter-sim
tty_program=$build/programs/pulsemeter
floor=$build/bench/floor_timer
for binary in "$sim" "$floor"; do
  [[ -x $binary ]] || { echo "run_watch.sh: $binary not built (cmake --build --preset linux)" >&2; exit 1; }
done
[[ -x /usr/bin/time ]] || { echo "run_watch.sh: /usr/bin/time missing (scripts/deps.sh bench)" >&2; exit 1; }

cpu() { awk -v u="$user_s" -v s="$system_s" 'BEGIN { printf "%.3f", u + s }'; }
row() { printf '| %s | %s | %s | %s | %s |\n' "$@"; }

echo "## Waiting for a counter"
echo
echo "With no counter open the program makes one listing call a second (the watch) and"
echo "otherwise sleeps; timer 1 is stopped. Measured by \`bench/run_watch.sh\` (load $(cut -d' ' -f1-3 /proc/loadavg))."
echo
echo "Virtual clock (\`pulsemeter-sim --headless --virtual-time --no-device\`): the hour runs at once,"
echo "so its CPU is what an hour of looks costs; a peak memory that does not grow from a minute to"
echo "ten hours is memory that stays flat."
echo
row "run" "CPU s" "peak MiB" "listing calls" "note"
row "---" "---" "---" "---" "---"
measure_run "$work" 0 "$sim" --headless --virtual-time --run-for 0
row "floor: start and stop at once" "$(cpu)" "$peak_mib" "–" "the program's own start-up"
for seconds in 60 3600 36000; do
  measure_run "$work" 0 "$sim" --headless --virtual-time --no-device --run-for "$seconds"
  row "no counter, $seconds s" "$(cpu)" "$peak_mib" "20001 + $seconds" "start-up search, then the watch"
done
measure_run "$work" 0 "$sim" --headless --virtual-time --no-device --plug-at 3600 --run-for 3605 \
  --draw-log
reading=$(grep -c '(0,150) "  *[0-9]' "$work/output" || true)
row "no counter for an hour, then one" "$(cpu)" "$peak_mib" "20001 + 3600" "$reading readings in the 5 s after"
echo
echo "Real clock, ${real_seconds} s (scaled down from an hour: each second costs the same)."
echo "Steady CPU is in percent of one core, from 5 s after the start to 1 s before the end."
echo
row "run" "CPU s" "steady CPU %" "peak MiB" "what"
row "---" "---" "---" "---" "---"
measure_run "$work" "$real_seconds" "$floor" "$real_seconds" 1000
row "floor: a timer once a second" "$(cpu)" "$steady_pct" "$peak_mib" "floor_timer $real_seconds 1000"
measure_run "$work" "$real_seconds" "$sim" --headless --no-device --run-for "$real_seconds"
row "pulsemeter-sim, no counter" "$(cpu)" "$steady_pct" "$peak_mib" "headless, live readout to a file"
if [[ -x $tty_program ]]; then
  # No --run-for here: a SIGTERM ends it (SIGINT may be ignored in a script). The shell
  # becomes the program (exec), so that the program is the one measured.
  measure_run "$work" "$real_seconds" env -u DISPLAY -u WAYLAND_DISPLAY sh -c \
    '(sleep "$1"; kill -TERM $$) & exec "$2" </dev/null' sh "$real_seconds" "$tty_program"
  row "pulsemeter (tty), no USB serial port" "$(cpu)" "$steady_pct" "$peak_mib" \
    "lists the system's ports once a second"
fi
