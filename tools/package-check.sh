#!/usr/bin/env bash
# Builds the Debian package (cpack -G DEB) and installs it with apt on a fresh Debian 12, made by
# debootstrap in a folder, so that every dependency the package declares is fetched from Debian
# and nothing of this machine's own installs helps. Then, inside that system, without a display:
#   - both programs find all their libraries (ldd);
#   - the recorder opens a demo project that polls the simulator (run here, on loopback) and
#     records for a while: the database gets rows, so the SQLite driver and libmodbus work; its
#     alarm plays into a PulseAudio null sink run here, whose socket lies inside the chroot;
#   - the report generator starts on that project and stays up (its web view and template load).
# Needs root (debootstrap, chroot) and Debian's mirror. The pristine system is made once and kept
# in the build folder; each run installs into a fresh copy of it.
#   usage: tools/package-check.sh [BUILD_DIR]      (default build-package)
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
build=$(realpath -m "${1:-build-package}")
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
record_seconds=${RECORD_SECONDS:-12}

[ "$(id -u)" = 0 ] || { echo "package-check: needs root (debootstrap, chroot)" >&2; exit 2; }

bash tools/install-deps.sh
command -v debootstrap > /dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y debootstrap
bash tools/install-page-scripts.sh

# Only the programs, the simulator and the demo-project maker are needed.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DBUILD_BENCHMARKS=OFF
cmake --build "$build" -j"$(nproc)" --target QuillmarLiteModbus Tallyforge gatewaysim \
  quillmar_demoproject
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB)
deb=$(ls "$build"/*.deb)
echo "package-check: package $deb"
dpkg-deb --field "$deb" Package Version Depends Recommends

base="$build/debian12"
if [ ! -x "$base/usr/bin/apt-get" ]; then
  rm -rf "$base.partial"
  debootstrap --variant=minbase bookworm "$base.partial" "$mirror"
  mv "$base.partial" "$base"
fi

root="$build/debian12-run"
source tools/pulse-null-sink.sh
source tools/gatewaysim/sim-fifo.sh
cleanup() {
  sim_stop
  pulse_stop
  for m in dev/pts dev proc; do umount -l "$root/$m" 2> /dev/null || true; done
}
trap cleanup EXIT
cleanup
# Never follow a mount left behind into the host.
rm -rf --one-file-system "$root"
cp -a "$base" "$root"
mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
cp /etc/resolv.conf "$root/etc/resolv.conf"
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"; }

cp "$deb" "$root/tmp/"
in_root apt-get update
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
  "/tmp/$(basename "$deb")"
in_root dpkg -s quillmar-lite-modbus | grep -E '^(Status|Version)'

fail() { echo "package-check: FAIL: $*" >&2; exit 1; }
trap 'echo "package-check: FAIL: command at line $LINENO failed" >&2' ERR
for program in QuillmarLiteModbus Tallyforge; do
  in_root test -x "/usr/bin/$program" || fail "/usr/bin/$program not installed"
  missing=$(in_root ldd "/usr/bin/$program" | grep 'not found' || true)
  [ -z "$missing" ] || fail "$program lacks libraries: $missing"
done
for file in applications/quillmarlitemodbus.desktop applications/tallyforge.desktop \
  icons/hicolor/64x64/apps/quillmarlitemodbus.png icons/hicolor/64x64/apps/tallyforge.png; do
  in_root test -s "/usr/share/$file" || fail "/usr/share/$file not installed"
done

# The simulator runs on this machine, on free loopback ports; the chroot shares the network.
work="$root/root/check"
mkdir -p "$work"
sed -e 's/"port": 150[23]/"port": 0/' tools/gatewaysim/demo.json > "$work/gateways.json"
sim_start "$work" "$build/tools/gatewaysim/gatewaysim" --config "$work/gateways.json" ||
  fail "simulator did not start"
ports=$SIM_PORTS

# Project and settings are written inside the chroot, so that they name its paths; the maker
# needs only Qt Core, which the package brought.
cp "$build/tools/demo/quillmar_demoproject" "$work/"
in_root /root/check/quillmar_demoproject --project /root/check/Demo.tpc --ports "$ports" \
  --interval 1000 --config-home /root/check/config --auto-record > /dev/null

# Without a sound device the recorder would wait at start-up on its audio message box.
pulse_start "$work/pulse"
run_env=(env QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=/root/check/config
  XDG_RUNTIME_DIR=/root/check/runtime PULSE_SERVER=unix:/root/check/pulse/pulse.sock)
mkdir -p "$work/runtime" && chmod 700 "$work/runtime"
status=0
in_root "${run_env[@]}" timeout -s TERM "$record_seconds" /usr/bin/QuillmarLiteModbus \
  > "$work/recorder.log" 2>&1 || status=$?
[ "$status" = 124 ] || fail "recorder ended by itself with status $status: $(tail -20 "$work/recorder.log")"
! grep -E "not loaded|Cannot load library|could not find or load" "$work/recorder.log" ||
  fail "recorder could not load a plugin"
db="$work/Demo.dat"
[ -f "$db" ] || fail "recorder made no database: $(tail -20 "$work/recorder.log")"
rows=$(sqlite3 "$db" 'select count(*) from quorbinal')
[ "$rows" -gt 0 ] || fail "database has no rows"
echo "package-check: recorder recorded $rows rows in ${record_seconds} s into $(basename "$db")"

status=0
in_root "${run_env[@]}" timeout -s TERM 10 /usr/bin/Tallyforge "'/root/check/Demo.tpc'" \
  > "$work/report.log" 2>&1 || status=$?
[ "$status" = 124 ] || fail "report generator ended by itself with status $status: $(tail -20 "$work/report.log")"
! grep -E "not loaded|Cannot load library|could not find or load" "$work/report.log" ||
  fail "report generator could not load a plugin"
echo "package-check: report generator stayed up for 10 s on the demo project"
echo "package-check: OK, $(basename "$deb") installs and runs on a fresh Debian 12"
