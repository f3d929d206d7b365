#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. GL tests need an X
# server with OpenGL 4.3: they always run inside Xvfb on Mesa's llvmpipe, so
# results do not depend on the machine's own display or GPU.
# --sanitize builds and tests with AddressSanitizer and UBSan instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
dir=$("$root/tools/build.sh" "$@" | tail -n 1)
export LIBGL_ALWAYS_SOFTWARE=1
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
# -noreset: by default the server resets whenever its last client leaves,
# and a test starting in that moment finds no display.
xvfb-run -a -s '-screen 0 1280x1024x24 -noreset' \
  ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
