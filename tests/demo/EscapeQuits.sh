#!/usr/bin/env bash
# Runs the program on the display it is given, presses Escape in its window
# once the street is loading, and checks that it ends by itself with status
# 0, having loaded every asset of the level without a problem line and
# without a GL error.
#   EscapeQuits.sh <path to KestorEngine>
# Exit status 77 means skipped (no display, or no xdotool to press keys).
set -u
program=$1
if [ -z "${DISPLAY:-}" ] || ! command -v xdotool > /dev/null; then
  echo "skipped: needs an X display and xdotool"
  exit 77
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$program" > "$scratch/out" 2> "$scratch/err" &
pid=$!

# Events wait in the window's queue until the frame loop pumps them, so the
# key may be pressed as soon as the window exists; it is pressed again each
# second in case the first came before the window took key events.
status=
for _ in $(seq 1 60); do
  if ! kill -0 "$pid" 2> /dev/null; then
    wait "$pid"
    status=$?
    break
  fi
  # Only this program's windows: other tests' engines use the same title.
  windows=$(xdotool search --pid "$pid" --name "I can fly like a real bird!" 2> /dev/null)
  if [ -n "$windows" ] && grep -q "Loading meh" "$scratch/out"; then
    for window in $windows; do
      xdotool key --window "$window" Escape 2> /dev/null
    done
  fi
  sleep 1
done
if [ -z "$status" ]; then
  kill "$pid" 2> /dev/null
  wait "$pid" 2> /dev/null
  echo "FAIL: still running a minute after the first Escape"
  exit 1
fi

failed=0
if [ "$status" -ne 0 ]; then
  echo "FAIL: exit status $status"
  failed=1
fi
if ! grep -q "Loading meh" "$scratch/out"; then
  echo "FAIL: the level's mesh renderers were never loaded"
  failed=1
fi
# Asset loaders report against the file's path ("<path>: <problem>").
problems='CompiledAssets/[^ ]*\.(xml|fml|shader|glinc|png|bmp|tga): |Empty material name issue|Error compiling|Error linking|Nonexistent pass'
gl_errors='^GL_[A-Z_]+ - |\*\* GL ERROR \*\*'
if grep -aEn "$problems|$gl_errors" "$scratch/out" "$scratch/err"; then
  echo "FAIL: the lines above report problems"
  failed=1
fi
if [ "$failed" -ne 0 ]; then
  echo "--- last lines of standard error:"
  tail -n 20 "$scratch/err"
fi
exit "$failed"
