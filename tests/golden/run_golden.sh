#!/usr/bin/env bash
# Runs each case of cases.txt on the virtual clock and compares its device log and
# draws with the kept ones, byte for byte. With --update it rewrites them instead.
# Usage: run_golden.sh PULSEMETER-SIM [--update]
set -uo pipefail
sim=$1
update=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$here/expected"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
failed=0
while read -r name rest; do
  [[ -z "$name" || "$name" == \#* ]] && continue
  # Word splitting is wanted: the options of the case, as written.
  read -r -a args <<<"$rest"
  # "SPACE" in a key's text stands for the space bar.
  args=("${args[@]//SPACE/ }")
  if ! "$sim" --headless --virtual-time --device-log --draw-log "${args[@]}" >"$out/$name.log" 2>"$out/$name.err"; then
    echo "FAIL $name: the run ended with an error"; cat "$out/$name.err"; failed=1; continue
  fi
  if [[ "$update" == --update ]]; then
    cp "$out/$name.log" "$here/expected/$name.log"
  elif ! cmp -s "$out/$name.log" "$here/expected/$name.log"; then
    echo "FAIL $name: the device log or the draws changed"
    diff "$here/expected/$name.log" "$out/$name.log" | head -n 20
    failed=1
  else
    echo "ok   $name"
  fi
done <"$here/cases.txt"
exit $failed
