#!/usr/bin/env bash
# Crash safety of the recording: the recorder records one simulated gateway at a 1-second
# interval and is killed with SIGKILL at a random moment, several times over the same project.
# After each kill the database must pass PRAGMA integrity_check, hold every row that was
# committed (seen by a reader) before the kill, and miss at most the samples of the last 60
# seconds. Prints the figures of each round; exits non-zero on any failure.
#
# With --during-build each round starts from a copy of a 7-day, 16-node file made without the
# index and the summary (as an older recorder left it), and kills the recorder while it builds
# them: the build holds the write lock, so the samples wait in the recorder's spill journal. The
# build is slowed on purpose (the test hook QUILLMAR_TEST_INDEX_PAUSE_US) so that it outlasts the
# kill. The recorder is then started once more, unslowed, until the journal is replayed: every
# sample polled more than a flush interval (the flush policy's 60 s) before the kill must be in
# the database. The simulator counts the polls it answered, so a poll the recorder never made
# (a busy machine) is told apart from a sample lost.
#   usage: tools/crash-safety.sh [--during-build] [BUILD_DIR] [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
during_build=false
if [ "${1:-}" = "--during-build" ]; then
  during_build=true
  shift
fi
build=${1:-build}
rounds=${2:-3}
sim="$build/tools/gatewaysim/gatewaysim"
recorder="$build/recorder/shell/QuillmarLiteModbus"
maker="$build/tools/demo/quillmar_demoproject"
dbgen="$build/tools/dbgen/quillmar_dbgen"
programs=("$sim" "$recorder" "$maker")
$during_build && programs+=("$dbgen")
for program in "${programs[@]}"; do
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
answered() { # polls the simulator has answered so far
  local seen
  seen=$(grep -c '^OK gateway=0 ' "$work/sim.log" || true)
  echo "stats 0" >&3
  for _ in $(seq 50); do
    [ "$(grep -c '^OK gateway=0 ' "$work/sim.log" || true)" -gt "$seen" ] && break
    sleep 0.1
  done
  grep '^OK gateway=0 ' "$work/sim.log" | tail -n 1 | sed 's/.* polls=\([0-9]*\).*/\1/'
}
start_recorder() { # $1: log file; the environment of the call is passed on
  QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$PULSE_DIR" \
    QT_LOGGING_RULES='*.debug=false' "$recorder" > "$1" 2>&1 &
  rec_pid=$!
}

if $during_build; then
  # Samples up to 8 days ago: the recording's own rows are the ones after its start.
  end=$(date -d '8 days ago' '+%Y-%m-%d %H:%M:%S')
  "$dbgen" --project "$work/old/Old.tpc" --days 7 --end "$end" > "$work/dbgen.log"
  old="$work/old/Old.dat"
  sqlite3 "$old" "pragma wal_checkpoint(truncate)" > /dev/null
  printf '7-day file without index or summary: %s rows, %s bytes\n' \
    "$(sqlite3 "$old" "select count(*) from quorbinal")" "$(stat -c %s "$old")"
  # Pauses at each of the build's progress calls (about 43,000 for 7 days): a build of well over
  # two minutes, so that the kill at 75 to 100 s falls into it.
  pause_us=${QUILLMAR_TEST_INDEX_PAUSE_US:-5000}
fi

failures=0
for round in $(seq "$rounds"); do
  if $during_build; then
    rm -f "$db" "$db-wal" "$db-shm" "$db-pending"
    cp "$old" "$db"
  fi
  start=$(date +%s)
  if $during_build; then
    sed -i '/^record_start_time=/d' "$project"
    QUILLMAR_TEST_INDEX_PAUSE_US=$pause_us start_recorder "$work/recorder-$round.log"
    run=$((75 + RANDOM % 26))
    # Polls answered from the start of the recording to a flush interval before the kill.
    for _ in $(seq 300); do grep -q '^record_start_time=.' "$project" && break; sleep 0.1; done
    polls_from=$(answered)
    wait_s=$((run - 61 - ($(date +%s) - start)))
    sleep $((wait_s > 1 ? wait_s : 1))
    polls_to=$(answered)
    limit=$(date +%s)
    run=61
  else
    start_recorder "$work/recorder-$round.log"
    run=$((20 + RANDOM % 31))
  fi
  sleep "$run"
  committed=$(count)
  kill -9 "$rec_pid"
  killed=$(date +%s)
  wait "$rec_pid" 2>/dev/null || true
  rec_pid=""
  mine="serialno like 'DEMO%'"

  status=ok
  if $during_build; then
    built=$(sqlite3 "$db" "select count(*) from sqlite_master where name = 'quorbinal_summarize'")
    journal=$([ -f "$db-pending" ] && stat -c %s "$db-pending" || echo 0)
    stored_at_kill=$(sqlite3 "$db" "select count(*) from quorbinal where $mine and pointDate >= $start")
    [ "$built" = 0 ] || status="the build had ended before the kill; slow it more"
    # The next open, unslowed: the build runs again, then the journal is replayed.
    start_recorder "$work/reopen-$round.log"
    for _ in $(seq 600); do
      [ ! -f "$db-pending" ] &&
        [ "$(sqlite3 "$db" "select count(*) from sqlite_master where name = 'quorbinal_summarize'" 2>/dev/null)" = 1 ] &&
        break
      sleep 1
    done
    kill -TERM "$rec_pid"
    wait "$rec_pid" 2>/dev/null || true
    rec_pid=""
    [ -f "$db-pending" ] && status="journal not replayed after the next open"
  fi

  integrity=$(sqlite3 "$db" "pragma integrity_check")
  after=$(count)
  newest=$(sqlite3 "$db" "select coalesce(max(pointDate), 0) from quorbinal where $mine and pointDate <= $killed")
  this_round=$(sqlite3 "$db" "select count(*) from quorbinal where $mine and pointDate >= $start and pointDate <= $killed")
  lost=$((killed - newest))
  [ "$integrity" = "ok" ] || status="integrity: $integrity"
  [ "$after" -ge "$committed" ] || status="rows lost: $committed seen before the kill, $after after"
  [ "$lost" -le 61 ] || status="newest row $lost s before the kill"
  [ "$this_round" -gt 0 ] || status="nothing recorded in this round"
  if $during_build; then
    # One node: a row per answered poll. One poll may have been in flight at either end.
    old_enough=$(sqlite3 "$db" "select count(*) from quorbinal where $mine and pointDate >= $start and pointDate <= $limit")
    expected=$((polls_to - polls_from))
    widest=$(sqlite3 "$db" "with t(p) as (select distinct pointDate from quorbinal where $mine and pointDate >= $start and pointDate <= $limit) select coalesce(max(b.p - a.p), 0) from t a join t b on b.p = (select min(p) from t where p > a.p)")
    [ "$old_enough" -ge $((expected - 1)) ] ||
      status="samples polled more than 61 s before the kill missing: $old_enough of $expected"
    printf 'round %d: killed %2d s into the build, %3d rows of this round in the file at the kill, journal %6d bytes; after the next open: %3d rows of this round, %3d rows for the %3d polls answered up to %d s before the kill (widest spacing %d s), newest row %2d s before the kill, integrity %s: %s\n' \
      "$round" "$((killed - start))" "$stored_at_kill" "$journal" "$this_round" "$old_enough" \
      "$expected" "$((killed - limit))" "$widest" "$lost" "$integrity" "$status"
  else
    printf 'round %d: ran %2d s, %4d rows committed before the kill, %4d after, %3d from this round, newest row %2d s before the kill, integrity %s: %s\n' \
      "$round" "$((killed - start))" "$committed" "$after" "$this_round" "$lost" "$integrity" "$status"
  fi
  [ "$status" = ok ] || failures=$((failures + 1))
done

[ "$failures" -eq 0 ] && echo "crash-safety: all $rounds rounds passed" || echo "crash-safety: $failures of $rounds rounds failed"
exit "$failures"
