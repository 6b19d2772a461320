#!/usr/bin/env bash
# The page against three.js in the same browser (see run.mjs); three.js and Playwright are
# pinned in this folder's package-lock.json.
# Usage: bench/web_vs_threejs/run.sh [BUILD_DIR] [WEB_DIR] [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-build/release}")
web=$(realpath "${2:-build/web}")
(cd "$here" && npm ci --no-audit --no-fund --loglevel=error)
node "$here/run.mjs" "$build" "$web" "${3:-5}"
