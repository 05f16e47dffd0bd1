#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (AddressSanitizer + UBSan) and runs
# each from the checked-in corpus. Usage: scripts/fuzz.sh [RUNS | --minutes M]
#   scripts/fuzz.sh 5000          short run, as the test command does
#   scripts/fuzz.sh --minutes 10  a long run per target; new inputs are kept in
#                                  build/fuzz/corpus/<target>, crashes in build/fuzz/findings
set -euo pipefail
cd "$(dirname "$0")/.."

limit=(-runs="${1:-5000}")
if [[ "${1:-}" == "--minutes" ]]; then
  limit=(-max_total_time=$((${2:?minutes} * 60)))
fi

scripts/deps.sh build fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc 2>/dev/null || echo 2)" >/dev/null

rm -rf build/fuzz/findings
mkdir -p build/fuzz/findings
for target in frame cycle tty; do
  work=build/fuzz/corpus/$target
  mkdir -p "$work"
  echo "== fuzz $target (${limit[*]})"
  build/fuzz/tests/fuzz/${target}_fuzz "${limit[@]}" -max_len=4096 -timeout=10 \
    -artifact_prefix=build/fuzz/findings/${target}- -print_final_stats=1 \
    "$work" tests/fuzz/corpus/$target 2>&1 | grep -E '^(stat::|Done|==[0-9]+==ERROR|SUMMARY|INFO: Seed)|invariant' || true
  # libFuzzer's exit status is lost in the pipe above: a finding leaves an artefact.
  if compgen -G "build/fuzz/findings/${target}-*" >/dev/null; then
    echo "fuzz $target: found a failing input, see build/fuzz/findings" >&2
    exit 1
  fi
done
