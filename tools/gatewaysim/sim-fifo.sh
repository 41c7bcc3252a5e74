# Sourced by the scripts that need the gateway simulator in the background: the simulator quits
# when its standard input closes, so it reads commands from a named pipe the script holds open
# on descriptor 3.
#   sim_start FOLDER PROGRAM ARGS...   starts it, waits for READY; sets SIM_PORTS ("p1,p2,...")
#   sim_stop                           closes the pipe and ends the simulator
sim_start() {
  SIM_DIR=$1
  shift
  mkdir -p "$SIM_DIR"
  mkfifo "$SIM_DIR/commands"
  "$@" < "$SIM_DIR/commands" > "$SIM_DIR/sim.log" 2>&1 &
  SIM_PID=$!
  exec 3> "$SIM_DIR/commands"
  for _ in $(seq 100); do grep -q READY "$SIM_DIR/sim.log" && break; sleep 0.1; done
  if ! grep -q READY "$SIM_DIR/sim.log"; then
    cat "$SIM_DIR/sim.log" >&2
    return 1
  fi
  SIM_PORTS=$(sed -n 's/^gateway [0-9]* 127\.0\.0\.1:\([0-9]*\) .*/\1/p' "$SIM_DIR/sim.log" | paste -sd,)
}

sim_stop() {
  exec 3>&- 2> /dev/null || true
  [ -n "${SIM_PID:-}" ] && kill "$SIM_PID" 2> /dev/null || true
  # Until it has ended, it may still write its log into the folder a caller is removing.
  [ -n "${SIM_PID:-}" ] && wait "$SIM_PID" 2> /dev/null || true
  SIM_PID=""
}
