#!/usr/bin/env bash
# Installs the report page's scripts from npm, pinned by the lock file (nothing to do until the
# report template declares them).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -f reportgen/page/package-lock.json ]; then
  if [ ! -d reportgen/page/node_modules ] || [ reportgen/page/package-lock.json -nt reportgen/page/node_modules ]; then
    npm ci --prefix reportgen/page --no-audit --no-fund
  fi
fi
