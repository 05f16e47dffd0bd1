#!/usr/bin/env bash
# The whole program and the fault scenarios under valgrind's memcheck: no invalid read
# or write, no use of an uninitialised value, and no leak of the program's own.
set -euo pipefail
cd "$(dirname "$0")/../.."

scripts/deps.sh memcheck >/dev/null
build=build/linux
sim=$build/programs/pulsemeter-sim
[[ -x $sim ]] || { echo "memcheck: $sim is not built" >&2; exit 1; }

memcheck() {
  valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
    --show-leak-kinds=definite "$@"
}

status=0
run() {
  local name=$1
  shift
  if memcheck "$@" >/dev/null; then
    echo "memcheck $name: clean"
  else
    echo "memcheck $name: FAILED ($?)"
    status=1
  fi
}

run "measuring with keys" $sim --headless --virtual-time --run-for 30 --frequency 1234.5 \
  --key "12: +-x" --key "20: "
run "no device" $sim --headless --virtual-time --no-device --run-for 3 --key "1:+"
run "input stops" $sim --headless --virtual-time --run-for 20 --frequency 45678 --stop-at 8
run "fault scenarios" $build/tests/sim/fault_scenario_tests \
  --gtest_filter='-*RegistersWrapPast2To32' --gtest_brief=1
exit $status
