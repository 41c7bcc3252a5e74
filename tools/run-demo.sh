#!/usr/bin/env bash
# Installs what is needed, builds the three programs, the simulator and the demo helpers (no tests
# or benchmarks), starts the gateway simulator on loopback with the bundled demo configuration and
# opens the recorder on a demo project that polls it (made on the first run under
# ~/.local/share/QuillmarLite/demo). Closing the recorder stops the simulator.
#   usage: tools/run-demo.sh [--forward-mqtt]
# --forward-mqtt: the demo project forwards to a broker on 127.0.0.1:1883 when one runs there
# (DEMO_MQTT_PORT for another port); without it, forwarding is off.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
if [ "${1:-}" = "--forward-mqtt" ]; then
  export DEMO_FORWARD_MQTT=1
fi

bash tools/install-deps.sh
bash tools/install-page-scripts.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Only what the demo runs; `cmake --build "$build"` builds the tests and benchmarks as well.
cmake --build "$build" -j"$(nproc)" --target demo

exec bash tools/demo/start-demo.sh "$build"
