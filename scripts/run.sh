#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program against the simulated
# counter: a window where there is a display, the live terminal readout where there is
# none. Options are passed to pulsemeter-sim (try --help).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh build >&2
cmake --preset linux >/dev/null
cmake --build --preset linux -j"$(nproc 2>/dev/null || echo 2)" >&2

program=build/linux/programs/pulsemeter-sim
if [[ ! -x "$program" ]]; then
  echo "run.sh: $program was not built" >&2
  exit 1
fi
exec "$program" "$@"
