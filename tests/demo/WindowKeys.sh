#!/usr/bin/env bash
# Runs the program in a small window and presses the window's own keys: F12
# saves the shown frame as a PNG and its linear light as a PFM under a name
# of the moment in the working folder, with one console line; F11 makes the
# window cover the screen and, pressed again, gives back the window it was.
# With "wm" an openbox window manager runs on the display and grants full
# screen; without (one has run and quit), the window covers the screen
# itself.
#   WindowKeys.sh <path to KestorEngine> [wm]
# Exit status 77 means skipped (no display, no xdotool, or no openbox).
set -u
. "$(dirname "$0")/../support/RunProgram.sh"

command -v openbox > /dev/null || { echo "skipped: needs openbox"; exit 77; }
# openbox marks the root window as managed while it runs.
start_openbox() {
  openbox > /dev/null 2>&1 &
  wm=$!
  local deadline=$((SECONDS + 20))
  until xprop -root _NET_SUPPORTING_WM_CHECK 2> /dev/null | grep -q 'window id' ||
    [ "$SECONDS" -ge "$deadline" ]; do sleep 0.2; done
}
wm=
start_openbox
if [ "${2:-}" = wm ]; then
  trap '[ -n "$pid" ] && kill "$pid" 2> /dev/null; kill "$wm" 2> /dev/null; wait "$wm" 2> /dev/null; rm -rf "$scratch"' EXIT
else
  # Stopped, it leaves the mark behind on a display that lives on: the
  # program must not take it for a manager that grants full screen.
  kill "$wm"
  wait "$wm" 2> /dev/null
fi

cd "$scratch"
start_program "$1" --size 320x180
await_window "I can fly like a real bird!"
await_line "Loading meh"

# Keys wait in the window's queue until the frame loop pumps them; pressed
# again every few seconds in case one came before the window took keys.
snapshot() {
  ls KestorEngine-*.png > /dev/null 2>&1 || xdotool key --window "$window" F12 2> /dev/null
}
deadline=$((SECONDS + 300))
until grep -aqE '^Saved KestorEngine-[0-9]{8}-[0-9]{6}(-[0-9]+)?\.png and KestorEngine-[0-9]{8}-[0-9]{6}(-[0-9]+)?\.pfm$' "$scratch/out"; do
  alive || fail "ended before saving a frame"
  [ "$SECONDS" -lt "$deadline" ] || fail "no frame saved within 300 s of pressing F12"
  snapshot
  sleep 3
done
name=$(grep -aoE '^Saved KestorEngine-[^ ]*\.png' "$scratch/out" | head -n 1 | cut -c7- | sed 's/\.png$//')
[ -s "$name.png" ] && [ -s "$name.pfm" ] || fail "the console named $name, but the files are not there: $(ls)"
[ "$(head -c 3 "$name.pfm" | head -n 1)" = PF ] || fail "$name.pfm is no colour PFM"
file_size=$(identify -format '%w %h' "$name.png" 2> /dev/null || echo none)
[ "$file_size" = "320 180" ] || fail "$name.png is $file_size, not the window's 320 x 180"

# F11 until the window has the screen's size, then again until it has its own.
size_is() {
  eval "$(xdotool getwindowgeometry --shell "$window" 2> /dev/null)"
  [ "$WIDTH $HEIGHT" = "$1" ]
}
toggle_until() {
  local deadline=$((SECONDS + 120))
  xdotool key --window "$window" F11 2> /dev/null
  until size_is "$1"; do
    alive || fail "ended while waiting for a window of $1"
    [ "$SECONDS" -lt "$deadline" ] || fail "F11 left the window at $WIDTH x $HEIGHT, not $1"
    sleep 1
  done
}
screen=$(xdotool getdisplaygeometry)
toggle_until "$screen"
toggle_until "320 180"

xdotool key --window "$window" Escape 2> /dev/null
press_escape() { xdotool key --window "$window" Escape 2> /dev/null; }
await_exit 120 press_escape
[ "$status" -eq 0 ] || fail "exit status $status"
check_console "$gl_errors"
exit 0
