#!/usr/bin/env bash
# Runs the module host on the display it is given, clicks its button and a
# point along its slider with the real mouse, and checks the console: one
# click reported, the slider's value where it was clicked, the knob eased to
# it, a clean exit on Escape and no GL error.
#   ModuleHostClicks.sh <path to ModuleHost>
# Exit status 77 means skipped (no display, or no xdotool to drive the mouse).
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

fail() {
  echo "FAIL: $*"
  echo "--- console:"
  grep -aE '^(ready|clicked|Hallo|Value|eased)' "$scratch/out"
  echo "--- last lines of standard error:"
  tail -n 20 "$scratch/err"
  kill "$pid" 2> /dev/null
  exit 1
}

# Waits up to 20 seconds for a console line matching the pattern.
await() {
  for _ in $(seq 1 80); do
    grep -aqE "$1" "$scratch/out" && return 0
    kill -0 "$pid" 2> /dev/null || fail "ended while waiting for '$1'"
    sleep 0.25
  done
  fail "no line matching '$1'"
}

await '^ready '
window=$(xdotool search --name "Kestor module host" 2> /dev/null | head -n 1)
[ -n "$window" ] || fail "no window"
# ready button X,Y slider X0,Y0 X1,Y1 sound on|off (window pixels)
read -r _ _ button _ from to _ _ <<< "$(grep -a '^ready ' "$scratch/out")"
xdotool windowraise "$window" 2> /dev/null

# The pump reads the pointer before the frame's events: let a frame or two
# see it over the widget before the button goes down.
xdotool mousemove --window "$window" "${button%,*}" "${button#*,}"
sleep 1
xdotool mousedown 1
sleep 0.3
xdotool mouseup 1
await '^clicked 1$'

# A quarter of the way along the slider.
x0=${from%,*}
y0=${from#*,}
x1=${to%,*}
xdotool mousemove --window "$window" $((x0 + (x1 - x0) / 4)) "$y0"
sleep 1
xdotool click 1
await '^Value:0\.2[3-7]'
await '^eased 0\.2[3-7]$'

xdotool key --window "$window" Escape
for _ in $(seq 1 40); do
  kill -0 "$pid" 2> /dev/null || break
  sleep 0.25
done
kill -0 "$pid" 2> /dev/null && fail "still running after Escape"
wait "$pid"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status"
[ "$(grep -ac '^clicked' "$scratch/out")" -eq 1 ] || fail "the button reported more than one click"
if grep -aEn '^GL_[A-Z_]+ - |\*\* GL ERROR \*\*|Error compiling|Error linking' "$scratch/out" "$scratch/err"; then
  fail "the lines above report GL problems"
fi
exit 0
