#!/usr/bin/env bash
# Configures and builds into build/ (or build-sanitize/ with --sanitize).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir="$root/build"
args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
  dir="$root/build-sanitize"
  args+=(-DKESTOR_SANITIZE=ON)
fi
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$dir" "${args[@]}" >&2
fi
cmake --build "$dir" -j "$(nproc)" >&2
echo "$dir"
