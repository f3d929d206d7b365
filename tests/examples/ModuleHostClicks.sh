#!/usr/bin/env bash
# Runs the module host on the display it is given, clicks its button and a
# point along its slider with the real mouse, and checks the console: one
# click reported, the slider's value where it was clicked, the knob eased to
# it, a clean exit on Escape and no GL error.
#   ModuleHostClicks.sh <path to ModuleHost>
# Exit status 77 means skipped (no display, or no xdotool to drive the mouse).
set -u
. "$(dirname "$0")/../support/RunProgram.sh"

start_program "$1"
await_line '^ready '
await_window "Kestor module host"
# ready button X,Y slider X0,Y0 X1,Y1 sound on|off (window pixels)
read -r _ _ button _ from to _ _ <<< "$(grep -a '^ready ' "$scratch/out")"
xdotool windowraise "$window" 2> /dev/null

xdotool mousemove --window "$window" "${button%,*}" "${button#*,}"
xdotool mousedown 1
xdotool mouseup 1
await_line '^clicked 1$'

# A quarter of the way along the slider.
x0=${from%,*}
y0=${from#*,}
x1=${to%,*}
xdotool mousemove --window "$window" $((x0 + (x1 - x0) / 4)) "$y0"
xdotool click 1
await_line '^Value:0\.2[3-7]'
await_line '^eased 0\.2[3-7]$'

xdotool key --window "$window" Escape
await_exit 300
[ "$status" -eq 0 ] || fail "exit status $status"
[ "$(grep -ac '^clicked' "$scratch/out")" -eq 1 ] || fail "the button reported more than one click"
check_console "$gl_errors"
exit 0
