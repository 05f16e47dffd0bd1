#!/usr/bin/env bash
# Builds and runs every test: the native build, the sanitizer build (AddressSanitizer +
# UndefinedBehaviorSanitizer), and whatever checks the tree registers with CTest (the
# GTK window under Xvfb, the Windows program under Wine, ...). Installs the Debian
# packages it needs when they are missing.
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh build gui windows fuzz memcheck || exit 1

jobs=$(nproc 2>/dev/null || echo 2)
summary=()
passed=0
failed=0

run_suite() {
  local preset=$1
  shift
  echo "== $preset: configure and build"
  if ! cmake --preset "$preset" >/dev/null || ! cmake --build --preset "$preset" -j"$jobs"; then
    echo "== $preset: build FAILED"
    failed=$((failed + 1))
    summary+=("$preset: build failed")
    return
  fi
  echo "== $preset: tests"
  # The counts come from CTest's JUnit report and the verdict from its exit status;
  # its human-readable summary is not read.
  local junit="$PWD/build/$preset-junit.xml"
  rm -f "$junit"
  ctest --preset "$preset" -j"$jobs" --output-junit "$junit" "$@"
  local status=$? total bad skipped
  if [[ ! -s "$junit" ]]; then
    failed=$((failed + 1))
    summary+=("$preset: ctest gave no report (status $status)")
    return
  fi
  local head
  # The report's opening tag, which CTest spreads over several lines, on one line.
  head=$(tr '\n\t' '  ' <"$junit" | grep -m1 -o '<testsuite [^>]*>')
  # An attribute's number, 0 when the report leaves it out.
  attribute() {
    local value
    value=$(sed -nE "s/.* $1=\"([0-9]+)\".*/\1/p" <<<"$head")
    echo "${value:-0}"
  }
  total=$(attribute tests)
  bad=$(($(attribute failures) + $(attribute errors)))
  skipped=$(($(attribute skipped) + $(attribute disabled)))
  if [[ $status -ne 0 && $bad -eq 0 ]]; then
    bad=1
  fi
  passed=$((passed + total - bad - skipped))
  failed=$((failed + bad))
  summary+=("$preset: $((total - bad - skipped)) of $total passed, $skipped skipped, exit status $status")
}

run_suite linux
# The slow whole-program checks (Wine, Xvfb, real time) ran above; under the
# sanitizers the rest runs again.
run_suite sanitize -LE 'wine|gui|realtime'

for extra in scripts/test.d/*.sh; do
  [[ -x "$extra" ]] || continue
  echo "== $(basename "$extra")"
  if "$extra"; then
    passed=$((passed + 1))
    summary+=("$(basename "$extra"): passed")
  else
    failed=$((failed + 1))
    summary+=("$(basename "$extra"): FAILED")
  fi
done

echo
printf '%s\n' "${summary[@]}"
echo "tests: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
