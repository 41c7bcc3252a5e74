#!/usr/bin/env bash
# Installs the report page's scripts (jQuery, Chart.js) from npm into reportgen/page/node_modules,
# exactly as pinned by reportgen/page/package-lock.json. The build inlines them into the report
# template; nothing from npm is committed. Runs npm only when the lock file changed since the
# last install.
set -euo pipefail
cd "$(dirname "$0")/.."
page=reportgen/page
[ -f "$page/package-lock.json" ] || exit 0
if [ -d "$page/node_modules" ] && [ ! "$page/package-lock.json" -nt "$page/node_modules" ] \
   && [ -f "$page/node_modules/jquery/dist/jquery.min.js" ] \
   && [ -f "$page/node_modules/chart.js/dist/Chart.bundle.min.js" ]; then
  exit 0
fi
if ! command -v npm >/dev/null 2>&1; then
  echo "install-page-scripts: npm is missing (tools/install-deps.sh installs nodejs)" >&2
  exit 1
fi
npm ci --prefix "$page" --no-audit --no-fund
touch "$page/node_modules"
