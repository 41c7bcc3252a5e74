#!/usr/bin/env bash
# Crash safety of the recording: the recorder records one simulated gateway at a 1-second
# interval and is killed with SIGKILL at a random moment, several times over the same project.
# After each kill the database must pass PRAGMA integrity_check, hold every row that was
# committed (seen by a reader) before the kill, and miss at most the samples of the last 60
# seconds. Prints the figures of each round; exits non-zero on any failure.
#   usage: tools/crash-safety.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
rounds=${2:-3}
sim="$build/tools/gatewaysim/gatewaysim"
recorder="$build/recorder/shell/QuillmarLiteModbus"
maker="$build/tools/demo/quillmar_demoproject"
for program in "$sim" "$recorder" "$maker"; do
  [ -x "$program" ] || { echo "crash-safety: $program is missing; build first" >&2; exit 1; }
done
command -v sqlite3 >/dev/null || { echo "crash-safety: needs sqlite3" >&2; exit 1; }

source tools/pulse-null-sink.sh
source tools/gatewaysim/sim-fifo.sh
work=$(mktemp -d)
rec_pid=""
cleanup() {
  [ -n "$rec_pid" ] && kill -9 "$rec_pid" 2>/dev/null || true
  sim_stop
  pulse_stop
  rm -rf "$work"
}
trap cleanup EXIT
pulse_start

sim_start "$work" "$sim" --gateway TQ100:0 --node "0/sine:22,3,120/ramp:40,0.1,40,60/200/90" ||
  exit 1
port=$SIM_PORTS

project=$("$maker" --project "$work/project/Crash.tpc" --ports "$port" --nodes 1 --interval 1000 \
  --config-home "$work/config" --auto-record)
db="$work/project/Crash.dat"
count() { sqlite3 "$db" "select count(*) from quorbinal" 2>/dev/null || echo 0; }

failures=0
for round in $(seq "$rounds"); do
  QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$PULSE_DIR" \
    QT_LOGGING_RULES='*.debug=false' "$recorder" > "$work/recorder-$round.log" 2>&1 &
  rec_pid=$!
  start=$(date +%s)
  run=$((20 + RANDOM % 31))
  sleep "$run"
  committed=$(count)
  kill -9 "$rec_pid"
  killed=$(date +%s)
  wait "$rec_pid" 2>/dev/null || true
  rec_pid=""

  integrity=$(sqlite3 "$db" "pragma integrity_check")
  after=$(count)
  newest=$(sqlite3 "$db" "select coalesce(max(pointDate), 0) from quorbinal")
  this_round=$(sqlite3 "$db" "select count(*) from quorbinal where pointDate >= $start")
  lost=$((killed - newest))
  status=ok
  [ "$integrity" = "ok" ] || status="integrity: $integrity"
  [ "$after" -ge "$committed" ] || status="rows lost: $committed seen before the kill, $after after"
  [ "$lost" -le 61 ] || status="newest row $lost s before the kill"
  [ "$this_round" -gt 0 ] || status="nothing recorded in this round"
  printf 'round %d: ran %2d s, %4d rows committed before the kill, %4d after, %3d from this round, newest row %2d s before the kill, integrity %s: %s\n' \
    "$round" "$((killed - start))" "$committed" "$after" "$this_round" "$lost" "$integrity" "$status"
  [ "$status" = ok ] || failures=$((failures + 1))
done

[ "$failures" -eq 0 ] && echo "crash-safety: all $rounds rounds passed" || echo "crash-safety: $failures of $rounds rounds failed"
exit "$failures"
