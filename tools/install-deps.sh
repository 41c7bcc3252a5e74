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
)

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
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
