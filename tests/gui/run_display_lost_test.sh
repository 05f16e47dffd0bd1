#!/usr/bin/env bash
# The X server goes away under pulsemeter-sim's window: the program ends with a failed
# status and says on standard error that it lost the display.
# Usage: run_display_lost_test.sh PULSEMETER_SIM OUTPUT_DIR
set -uo pipefail

program=$1
out=${2:-.}
mkdir -p "$out"
for tool in Xvfb xdotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (scripts/deps.sh gui installs it)"
    exit 77
  fi
done

title="ＴＯＲＶ パルス周期計測プログラム"
err="$out/display-lost-stderr.txt"
display_file=$(mktemp)
xvfb_pid=""
program_pid=""
cleanup() {
  [[ -n $program_pid ]] && kill "$program_pid" 2>/dev/null
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  rm -f "$display_file"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "--- standard error"
  cat "$err" 2>/dev/null
  exit 1
}

Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$display_file" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 50); do
  [[ -s $display_file ]] && break
  sleep 0.1
done
[[ -s $display_file ]] || fail "Xvfb did not start"
export DISPLAY=":$(head -n 1 "$display_file")"

"$program" --frequency 1000 >/dev/null 2>"$err" &
program_pid=$!
window=""
for _ in $(seq 100); do
  window=$(xdotool search --name "$title" 2>/dev/null | head -n 1)
  [[ -n $window ]] && break
  sleep 0.1
done
[[ -n $window ]] || fail "no window titled $title"

kill "$xvfb_pid"
wait "$xvfb_pid" 2>/dev/null
xvfb_pid=""
wait "$program_pid"
status=$?
program_pid=""
[[ $status -ne 0 ]] || fail "the program ended with status 0"
grep -q "lost the connection to the display" "$err" || fail "nothing said about the display"
echo "ok: status $status, $(head -n 1 "$err")"
