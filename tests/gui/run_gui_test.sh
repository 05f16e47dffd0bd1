#!/usr/bin/env bash
# Starts pulsemeter-sim on Xvfb and checks what a user would: a 500 x 400 window with
# the program's title, keys reaching the program (space, then "+" reconfigures the
# counter at once), and the menu's exit item ending it with exit code 0. Leaves
# screenshot.png and the program's output in OUTPUT_DIR.
# Usage: run_gui_test.sh PULSEMETER_SIM OUTPUT_DIR
set -uo pipefail

program=$1
out=${2:-.}
mkdir -p "$out"
for tool in Xvfb xdotool xwininfo import; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (scripts/deps.sh gui installs it)"
    exit 77
  fi
done

title="ＴＯＲＶ パルス周期計測プログラム"
log="$out/gui-output.txt"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -f "$display_file"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "--- program output (last lines)"
  tail -n 30 "$log" 2>/dev/null
  exit 1
}

# Xvfb picks a free display and names it on the file descriptor.
display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$display_file" 2>"$out/xvfb.log" &
pids+=($!)
for _ in $(seq 50); do
  [[ -s $display_file ]] && break
  sleep 0.1
done
[[ -s $display_file ]] || fail "Xvfb did not start"
export DISPLAY=":$(head -n 1 "$display_file")"

# At 5 kHz the automatic range settles on divider 1000 whatever the timer's jitter, so
# "+" in fixed mode must configure 10000 (R = 4999: "M0201387", "M0300000").
"$program" --frequency 5000 --device-log --draw-log >"$log" 2>"$out/gui-stderr.txt" &
program_pid=$!
pids+=("$program_pid")

window=""
for _ in $(seq 100); do
  window=$(xdotool search --name "$title" 2>/dev/null | head -n 1)
  [[ -n $window ]] && break
  sleep 0.1
done
[[ -n $window ]] || fail "no window titled $title"
info=$(xwininfo -id "$window")
width=$(awk '/Width:/ {print $2}' <<<"$info")
height=$(awk '/Height:/ {print $2}' <<<"$info")
[[ $width == 500 && $height == 400 ]] || fail "window is ${width} x ${height}, not 500 x 400"
grep -q "\"$title\"" <<<"$info" || fail "xwininfo shows another title: $info"
echo "window $window: $width x $height, \"$title\""

# Let it range and measure, then switch to fixed mode and step the divider up.
sleep 2
lines_before=$(wc -l <"$log")
timeout 5 xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
before=$(head -n "$lines_before" "$log")
grep -q '> M0200' <<<"$before" || fail "the counter was never configured"
grep -E '> M020' <<<"$before" | tail -n 1 | grep -q 'M02001f3$' ||
  fail "the automatic range did not settle on divider 1000"
xdotool key --delay 100 space plus
sleep 1
after=$(tail -n +"$((lines_before + 1))" "$log")
grep -q '"固定   "' <<<"$after" || fail "the space key did not switch to fixed mode"
grep -q '> M0201387$' <<<"$after" || fail "\"+\" did not configure divider 10000"
echo "keys: space switched to fixed mode, \"+\" configured divider 10000:"
grep -E '> M0(20|3000)' <<<"$after" | head -n 2

import -window root "$out/screenshot.png" || fail "no screenshot"
left=$(awk '/Absolute upper-left X:/ {print $4}' <<<"$info")
top=$(awk '/Absolute upper-left Y:/ {print $4}' <<<"$info")
import -window root -crop "${width}x${height}+${left}+${top}" +repage "$out/window.png" ||
  fail "no screenshot of the window"
echo "screenshots: $out/screenshot.png (the screen), $out/window.png (the window)"

# The menu: F10 opens the menu bar, Down reaches the exit item, Return chooses it.
xdotool key --delay 300 F10 Down Return
for _ in $(seq 50); do
  kill -0 "$program_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$program_pid" 2>/dev/null && fail "the menu's exit item did not end the program"
wait "$program_pid"
status=$?
[[ $status == 0 ]] || fail "exit code $status after the menu's exit item"
echo "menu: the exit item ended the program with exit code 0"
echo "PASS"
