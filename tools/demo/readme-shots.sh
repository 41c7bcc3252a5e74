#!/usr/bin/env bash
# Makes the README's screenshots with the project's own screenshot programs, under xvfb-run:
# the recorder's dashboard, chart panel and Alarms screen (against the simulator), a daily report
# (through the report window) and the data viewer on a generated month; then shrinks them for the
# README.
#   usage: tools/demo/readme-shots.sh [BUILD_DIR]   (a build with the tests; writes docs/screenshots)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
out=docs/screenshots
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work XDG_RUNTIME_DIR=$work/runtime
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
mkdir -p "$out" "$work/recorder" "$work/report" "$work/viewer"

xvfb-run -a -s "-screen 0 1280x800x24" "$build/tools/demo/quillmar_screens" "$work/recorder" \
  > "$work/recorder.log" 2>&1
xvfb-run -a -s "-screen 0 1280x800x24" "$build/tools/reportdemo/tallyforge_screens" "$work/report" \
  > "$work/report.log" 2>&1
"$build/tools/dbgen/quillmar_dbgen" --project "$work/month/Cold rooms.tpc" --days 30 --nodes 8 \
  --interval 10 --spikes 6 --gaps 3 --excursions 4 --index > "$work/dbgen.log" 2>&1
xvfb-run -a -s "-screen 0 1400x900x24" "$build/tools/demo/trendscope_screens" "$work/viewer" \
  "$work/month/Cold rooms.tpc" > "$work/viewer.log" 2>&1

shrink() { QT_QPA_PLATFORM=offscreen "$build/tools/demo/shrinkshot" "$1" "$out/$2" 720; }
shrink "$work/recorder/3-project-centre.png" recorder-dashboard.jpg
shrink "$work/recorder/6-chart-panel.png" recorder-chart-panel.jpg
shrink "$work/recorder/9-alarms.png" recorder-alarms.jpg
shrink "$work/report/report-stop-restart.png" report-daily.jpg
shrink "$work/viewer/viewer-month.png" viewer-month.jpg
ls -l "$out"
