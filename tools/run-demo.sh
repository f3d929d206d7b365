#!/usr/bin/env bash
# Installs what is missing, builds, and runs the demo. Without a display the
# demo runs inside a virtual X server (Xvfb); stop it with Ctrl+C.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
dir=$("$root/tools/build.sh" | tail -n 1)
cd "$dir/bin"
if [ -n "${DISPLAY:-}" ]; then
  exec ./KestorEngine
fi
echo "No display: running the demo under Xvfb (nothing is shown; Ctrl+C stops it)."
exec xvfb-run -a -s '-screen 0 1920x1080x24' ./KestorEngine
