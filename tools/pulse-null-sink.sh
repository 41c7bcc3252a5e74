# Sourced by the long-run scripts: starts a private PulseAudio daemon with a null sink on a unix
# socket in its own runtime folder, so that the recorder's alarm output has a device and no
# message box waits for a click. pulse_stop ends that daemon (by its pid) again.
#   pulse_start [FOLDER]   the runtime folder, by default a new one under /tmp
pulse_start() {
  PULSE_DIR=${1:-$(mktemp -d /tmp/qlm-pulse-XXXXXX)}
  mkdir -p "$PULSE_DIR"
  chmod 700 "$PULSE_DIR"
  XDG_RUNTIME_DIR=$PULSE_DIR HOME=$PULSE_DIR pulseaudio -D -n --exit-idle-time=-1 --disallow-exit \
    --log-target=file:"$PULSE_DIR/pulse.log" \
    --load="module-native-protocol-unix auth-anonymous=1 socket=$PULSE_DIR/pulse.sock" \
    --load="module-null-sink sink_name=null rate=44100 channels=2" || {
    echo "pulse: the daemon did not start, see $PULSE_DIR/pulse.log" >&2
    return 1
  }
  export PULSE_SERVER=unix:$PULSE_DIR/pulse.sock
  # Up to 30 s: a machine busy with a parallel test run under the sanitizers starts it slowly.
  for _ in $(seq 300); do pactl info >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "pulse: the daemon did not come up, see $PULSE_DIR/pulse.log" >&2
  return 1
}

pulse_stop() {
  [ -n "${PULSE_DIR:-}" ] || return 0
  local pid=""
  [ -f "$PULSE_DIR/pulse/pid" ] && pid=$(cat "$PULSE_DIR/pulse/pid")
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  # The daemon writes its log and removes its socket as it ends: the folder goes after it, or
  # rm races it and fails.
  for _ in $(seq 50); do
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  rm -rf "$PULSE_DIR" || true
  PULSE_DIR=""
}
