#!/usr/bin/env bash
# Installs what is needed, builds the project and starts the gateway simulator on loopback with
# the bundled demo configuration. It prints the gateways it serves and runs until Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}

bash tools/install-deps.sh
bash tools/install-page-scripts.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)"

exec "$build/tools/gatewaysim/gatewaysim" --config tools/gatewaysim/demo.json
