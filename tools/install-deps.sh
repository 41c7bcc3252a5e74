#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run. Idempotent: packages
# already present are skipped by apt-get, and the package index is only refreshed when something
# is missing.
set -euo pipefail

packages=(
  # build
  cmake g++ pkgconf make
  # Qt 5.15 and the modules both programs use
  qtbase5-dev qttools5-dev-tools libqt5sql5-sqlite qtmultimedia5-dev libqt5multimedia5-plugins
  libqt5webkit5-dev libqt5svg5-dev
  # Modbus TCP
  libmodbus-dev
  # the checksums of the recorder's spill journal
  zlib1g-dev
  # headless runs, sound server for the alarm, tools used by tests and benchmarks, the zones
  # local-time tests run in
  xvfb xauth pulseaudio sqlite3 libsqlite3-dev poppler-utils tzdata
  # fuzzing (libFuzzer ships with clang)
  clang libclang-rt-14-dev
  # page scripts of the report template
  nodejs
  # alarm notifications: SMTP and webhooks through libcurl, the desktop's secret store; the
  # tests' own SMTP server and the CA they make for it
  libcurl4-openssl-dev qtkeychain-qt5-dev python3-aiosmtpd openssl
  # a private session bus for the secret store's tests
  dbus-daemon
  # forwarding to MQTT brokers and InfluxDB (libcurl above); the broker, its clients and the
  # database only for the tests, which start their own on loopback ports
  libmosquitto-dev mosquitto mosquitto-clients influxdb
  # the modules' dependency graph drawn from CMake's (tools/dependency-graph.sh)
  graphviz
  # Argon2id password hashes
  libsodium-dev
  # SHA-256 of the audit trail's chain and the samples' seals, with the processor's SHA
  # instructions: a verification hashes every sample row
  libssl-dev
)

# Packages that bring a network service. On a machine run by systemd their install would enable
# and start it (InfluxDB 1.6 listens on every interface without authentication); the tests start
# their own servers, so a service this script installs is kept from starting and disabled.
services=(mosquitto influxdb)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

# The services among the missing packages; one the machine already had is its owner's business.
new_services=()
for s in "${services[@]}"; do
  for p in "${missing[@]}"; do
    if [ "$p" = "$s" ]; then new_services+=("$s"); fi
  done
done

# While installing, policy-rc.d forbids starting any service (invoke-rc.d and deb-systemd-invoke
# both ask it), so that nothing listens even for a moment. One the machine has is left in place.
policy=/usr/sbin/policy-rc.d
own_policy=0
if [ ${#new_services[@]} -gt 0 ] && [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" > /dev/null
  $SUDO chmod 755 "$policy"
  own_policy=1
  trap '$SUDO rm -f "$policy"' EXIT
fi

echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"

if [ "$own_policy" -eq 1 ]; then
  $SUDO rm -f "$policy"
  trap - EXIT
fi

# Only where systemd is the running init (not in a container without it): the packages enabled
# their units; disable them and stop whatever runs. Both are no-ops when done already.
if [ ${#new_services[@]} -gt 0 ] && [ -d /run/systemd/system ]; then
  for s in "${new_services[@]}"; do
    if systemctl cat "$s.service" > /dev/null 2>&1; then
      $SUDO systemctl disable --now "$s.service" || true
    fi
  done
fi
