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
  local log
  log=$(mktemp)
  ctest --preset "$preset" -j"$jobs" "$@" 2>&1 | tee "$log"
  local line total bad
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  if [[ -z "$line" ]]; then
    failed=$((failed + 1))
    summary+=("$preset: ctest gave no result")
  else
    bad=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
    summary+=("$preset: $((total - bad)) of $total passed")
  fi
  rm -f "$log"
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
