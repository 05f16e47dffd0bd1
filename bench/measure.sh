# Sourced by the benchmark scripts: a scratch directory ($work) and, on demand, a display
# on Xvfb, both gone when the script exits; one program run, measured from outside.
#
# start_xvfb / stop_xvfb
#   Start an Xvfb server and export its DISPLAY ($xvfb_pid is its process); stop it.
#
# measure_run WORK SAMPLE_SECONDS COMMAND...
#   Runs COMMAND (standard output to WORK/output, standard error to WORK/stderr) and sets
#   peak_mib     its peak resident memory (VmHWM, from /usr/bin/time -v),
#   user_s, system_s  its CPU time, from the shell's account of its children (getrusage,
#                to the millisecond; the /usr/bin/time wrapper's own few hundred
#                microseconds are included, for floors and programs alike),
#   wall_s       its wall time,
#   steady_pct   its CPU in percent of one core between 5 s after the start and 1 s before
#                SAMPLE_SECONDS, from the scheduler's account in /proc, so that start-up
#                does not count; "-" when SAMPLE_SECONDS is under 8.

work=$(mktemp -d)
xvfb_pid=""

start_xvfb() {
  Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
  xvfb_pid=$!
  for _ in $(seq 50); do
    [[ -s $work/display ]] && break
    sleep 0.1
  done
  export DISPLAY=":$(head -n 1 "$work/display")"
}

stop_xvfb() {
  if [[ -n $xvfb_pid ]]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  xvfb_pid=""
  unset DISPLAY
}

cleanup_measure() {
  stop_xvfb
  rm -rf "$work"
}
trap cleanup_measure EXIT

# Nanoseconds a process has run, from the scheduler's own account.
run_nanos() {
  awk '{ print $1 }' "/proc/$1/schedstat" 2>/dev/null || echo 0
}

measure_run() {
  local work=$1 sample=$2
  shift 2
  # The run in a subshell of its own, so that its children's account is the run alone;
  # the sampling is done from here.
  (
    /usr/bin/time -v -o "$work/report" "$@" >"$work/output" 2>"$work/stderr" &
    echo $! >"$work/wrapper"
    wait $! || true
    # Not in a pipeline: there `times` would run in a child that has no children.
    times >"$work/times"
  ) &
  local run_shell=$!
  steady_pct=-
  if ((sample > 7)); then
    sleep 5
    local pid a b ta tb
    pid=$(pgrep -P "$(cat "$work/wrapper")" | head -n 1)
    a=$(run_nanos "$pid") ta=$(date +%s%N)
    sleep $((sample - 6))
    b=$(run_nanos "$pid") tb=$(date +%s%N)
    steady_pct=$(awk -v a="$a" -v b="$b" -v ta="$ta" -v tb="$tb" \
      'BEGIN { printf "%.3f", (b - a) / (tb - ta) * 100 }')
  fi
  wait "$run_shell"
  read -r peak_mib wall_s < <(awk -F': ' '
    /Maximum resident set size/ { rss = $2 / 1024 }
    /Elapsed \(wall clock\)/ { n = split($2, t, ":"); wall = 0; for (i = 1; i <= n; i++) wall = wall * 60 + t[i] }
    END { printf "%.2f %.2f\n", rss, wall }' "$work/report")
  read -r user_s system_s < <(tail -n 1 "$work/times" | awk '
    function seconds(text,  m) { split(text, m, /[ms]/); return m[1] * 60 + m[2] }
    { printf "%.3f %.3f\n", seconds($1), seconds($2) }')
}
