#!/usr/bin/env bash
# Starts the gateway simulator with the bundled demo configuration and opens the recorder on a
# demo project that polls it. The project lies in a writable place, made on the first run:
#   ${XDG_DATA_HOME:-~/.local/share}/QuillmarLite/demo/Demo.tpc
# The recorder runs with its own settings folder there, so the user's recent projects are not
# touched. Closing the recorder stops the simulator. With DEMO_FORWARD_MQTT=1 the project forwards
# its samples to an MQTT broker on 127.0.0.1:${DEMO_MQTT_PORT:-1883} when one listens there (watch
# with: mosquitto_sub -t 'quillmar-demo/#' -v); otherwise, and by default, forwarding is off.
#   usage: tools/demo/start-demo.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
sim="$build/tools/gatewaysim/gatewaysim"
recorder="$build/recorder/shell/QuillmarLiteModbus"
maker="$build/tools/demo/quillmar_demoproject"
for program in "$sim" "$recorder" "$maker"; do
  [ -x "$program" ] || { echo "start-demo: $program is missing; build first" >&2; exit 1; }
done

demo_dir=${XDG_DATA_HOME:-$HOME/.local/share}/QuillmarLite/demo
mkdir -p "$demo_dir"
source tools/gatewaysim/sim-fifo.sh
work=$(mktemp -d)
cleanup() {
  sim_stop
  rm -rf "$work"
}
trap cleanup EXIT

sim_start "$work" "$sim" --config tools/gatewaysim/demo.json || exit 1
grep '^gateway' "$work/sim.log"

forward=()
if [ -n "${DEMO_FORWARD_MQTT:-}" ]; then
  mqtt_port=${DEMO_MQTT_PORT:-1883}
  if (exec 3<>"/dev/tcp/127.0.0.1/$mqtt_port") 2>/dev/null; then
    forward=(--forward-mqtt "127.0.0.1:$mqtt_port")
    echo "demo: forwarding to the MQTT broker on 127.0.0.1:$mqtt_port, topics quillmar-demo/#"
  else
    echo "demo: no MQTT broker listens on 127.0.0.1:$mqtt_port; forwarding stays off" >&2
  fi
fi

# Made once; later runs keep the project and its recorded data.
project=$("$maker" --project "$demo_dir/Demo.tpc" --ports 1502,1503 --interval 1000 \
  --config-home "$demo_dir/config" --keep "${forward[@]}")
echo "demo project: $project"

# The report generator and the data viewer are found beside the recorder or on PATH.
export PATH="$PWD/$build/reportgen:$PWD/$build/viewer:$PATH"
export XDG_CONFIG_HOME="$demo_dir/config"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "start-demo: no display; running the recorder under xvfb-run (nothing to see)" >&2
  xvfb-run -a "$recorder"
else
  "$recorder"
fi
