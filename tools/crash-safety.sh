#!/usr/bin/env bash
# Crash safety of the recording: the recorder records one simulated gateway at a 1-second
# interval and is killed with SIGKILL at a random moment, several times over the same project.
# After each kill the database must pass PRAGMA integrity_check, hold every row that was
# committed (seen by a reader) before the kill, and miss at most the samples of the last 60
# seconds. Prints the figures of each round; exits non-zero on any failure.
#
# With --during-build each round records 16 nodes (two gateways of 8) at 1 s, starting from a
# copy of a 16-node file of DAYS days (7 unless --days says otherwise) made without the index
# and the summary (as an older recorder left it), and kills the recorder 15 s into the build
# of them: the build holds the write lock, so the samples go to the recorder's spill journal,
# a batch at every flush tick. The build is slowed on purpose (the test hook
# QUILLMAR_TEST_INDEX_PAUSE_US) so that it outlasts the kill. The recorder is then started once
# more, unslowed, until the journal is replayed: every sample polled more than one batch (2 s
# at 1 s) before the kill must be in the database. The simulator counts the polls each gateway
# answered, so a poll the recorder never made (a busy machine) is told apart from a sample lost.
#   usage: tools/crash-safety.sh [--during-build [--days DAYS]] [BUILD_DIR] [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
during_build=false
days=7
if [ "${1:-}" = "--during-build" ]; then
  during_build=true
  shift
  if [ "${1:-}" = "--days" ]; then
    days=$2
    shift 2
  fi
fi
# Seconds into the build at which the recorder is killed, and the age beyond which every polled
# sample must have been kept: one batch at 1 s (16 samples) and the flush tick after it.
kill_after=15
batch_s=2
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
# The verdict is the script's exit status: a clean-up step that fails (under set -e, inside the
# trap) must not replace it.
cleanup() {
  local verdict=$?
  set +e
  [ -n "$rec_pid" ] && kill -9 "$rec_pid" 2>/dev/null && wait "$rec_pid" 2>/dev/null
  sim_stop
  pulse_stop
  rm -rf "$work"
  exit "$verdict"
}
trap cleanup EXIT
pulse_start

if $during_build; then
  # Two gateways of 8 nodes: the demo project's 16 nodes, the flush policy's batch of 16.
  eight=()
  for i in $(seq 0 7); do eight+=(--node "$((4 * i))/sine:22,3,120/ramp:40,0.1,40,60/200/90"); done
  sim_start "$work" "$sim" --gateway TQ100:0 "${eight[@]}" --gateway TQ700:0 "${eight[@]}" || exit 1
  nodes=8
else
  sim_start "$work" "$sim" --gateway TQ100:0 --node "0/sine:22,3,120/ramp:40,0.1,40,60/200/90" ||
    exit 1
  nodes=1
fi
ports=$SIM_PORTS

project=$("$maker" --project "$work/project/Crash.tpc" --ports "$ports" --nodes "$nodes" \
  --interval 1000 --config-home "$work/config" --auto-record)
db="$work/project/Crash.dat"
count() { sqlite3 "$db" "select count(*) from quorbinal" 2>/dev/null || echo 0; }
answered() { # polls gateway $1 (0 unless given) has answered so far
  local g=${1:-0} seen
  seen=$(grep -c "^OK gateway=$g " "$work/sim.log" || true)
  echo "stats $g" >&3
  for _ in $(seq 50); do
    [ "$(grep -c "^OK gateway=$g " "$work/sim.log" || true)" -gt "$seen" ] && break
    sleep 0.1
  done
  grep "^OK gateway=$g " "$work/sim.log" | tail -n 1 | sed 's/.* polls=\([0-9]*\).*/\1/'
}
start_recorder() { # $1: log file; the environment of the call is passed on
  QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$PULSE_DIR" \
    QT_LOGGING_RULES='*.debug=false' "$recorder" > "$1" 2>&1 &
  rec_pid=$!
}

if $during_build; then
  # Samples up to 8 days ago: the recording's own rows are the ones after its start.
  end=$(date -d '8 days ago' '+%Y-%m-%d %H:%M:%S')
  made=$(date +%s)
  "$dbgen" --project "$work/old/Old.tpc" --days "$days" --nodes 16 --end "$end" > "$work/dbgen.log"
  old="$work/old/Old.dat"
  sqlite3 "$old" "pragma wal_checkpoint(truncate)" > /dev/null
  printf '%s-day file without index or summary: %s rows, %s bytes, made in %d s\n' "$days" \
    "$(sqlite3 "$old" "select count(*) from quorbinal")" "$(stat -c %s "$old")" \
    "$(($(date +%s) - made))"
  # Pauses at each of the build's progress calls (about 6,000 a day of 16 nodes): however fast
  # the machine, the build outlasts the kill 15 s into it.
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
    # The build starts when the project's file opens, just before the recording starts.
    for _ in $(seq 300); do grep -q '^record_start_time=.' "$project" && break; sleep 0.1; done
    building_since=$(date +%s)
    # Polls answered from the start of the recording to one batch before the kill.
    polls_since=$(date +%s)
    polls_from=($(answered 0) $(answered 1))
    # Counted now: the build holds the write lock, so nothing is committed until the kill, and a
    # count of a large file without its index takes seconds that would delay the kill.
    committed=$(count)
    wait_s=$((building_since + kill_after - batch_s - $(date +%s)))
    sleep $((wait_s > 0 ? wait_s : 0))
    polls_to=($(answered 0) $(answered 1))
    limit=$(date +%s)
    run=$((building_since + kill_after - limit))
    run=$((run > 0 ? run : 0))
    [ "$run" -ge "$batch_s" ] || echo "crash-safety: a busy machine: the samples are checked up to $run s before the kill" >&2
  else
    start_recorder "$work/recorder-$round.log"
    run=$((20 + RANDOM % 31))
  fi
  sleep "$run"
  $during_build || committed=$(count)
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
    # Each gateway's poll gives a row to each of its 8 nodes, counted over the same seconds as
    # the polls; one poll may have been in flight at either end. Every node of the gateway is
    # checked against its polls.
    old_enough=0
    expected=0
    for g in 0 1; do
      polls=$((polls_to[g] - polls_from[g]))
      expected=$((expected + 8 * polls))
      for n in $(seq $((8 * g + 1)) $((8 * g + 8))); do
        serial=$(printf 'DEMO%02d' "$n")
        rows=$(sqlite3 "$db" "select count(*) from quorbinal where serialno = '$serial' and pointDate >= $polls_since and pointDate <= $limit")
        old_enough=$((old_enough + rows))
        [ "$rows" -ge $((polls - 1)) ] ||
          status="samples polled more than $batch_s s before the kill missing: $serial has $rows rows for $polls polls"
      done
    done
    # A row replayed twice is an exact copy; two polls that fell into one second (a busy
    # machine) share the time but not the values.
    twice=$(sqlite3 "$db" "select coalesce(sum(n), 0) from (select count(*) - 1 as n from quorbinal where $mine and pointDate >= $start group by serialno, pointDate, channel1, channel2)")
    [ "$twice" = 0 ] || status="$twice rows written twice"
    same_second=$(sqlite3 "$db" "select count(*) - count(distinct serialno || ' ' || pointDate) from quorbinal where $mine and pointDate >= $start")
    widest=$(sqlite3 "$db" "with t(p) as (select distinct pointDate from quorbinal where $mine and pointDate >= $start and pointDate <= $limit) select coalesce(max(b.p - a.p), 0) from t a join t b on b.p = (select min(p) from t where p > a.p)")
    printf 'round %d: killed %2d s into the build (%2d s after the start), %4d rows of this round in the file at the kill, journal %6d bytes; after the next open: %4d rows of this round, %4d rows for the %4d samples polled up to %d s before the kill (widest spacing %d s, %d rows in a second of another of their node), newest row %2d s before the kill, integrity %s: %s\n' \
      "$round" "$((killed - building_since))" "$((killed - start))" "$stored_at_kill" "$journal" \
      "$this_round" "$old_enough" "$expected" "$((killed - limit))" "$widest" "$same_second" "$lost" \
      "$integrity" "$status"
  else
    printf 'round %d: ran %2d s, %4d rows committed before the kill, %4d after, %3d from this round, newest row %2d s before the kill, integrity %s: %s\n' \
      "$round" "$((killed - start))" "$committed" "$after" "$this_round" "$lost" "$integrity" "$status"
  fi
  [ "$status" = ok ] || failures=$((failures + 1))
done

[ "$failures" -eq 0 ] && echo "crash-safety: all $rounds rounds passed" || echo "crash-safety: $failures of $rounds rounds failed"
exit "$failures"
