#!/usr/bin/env bash
# Runs the program on the display it is given, presses Escape in its window
# once the street is loading, and checks that it ends by itself with status
# 0, having loaded every asset of the level without a problem line and
# without a GL error. Full screen by default, its window covers the screen,
# with or without a window manager to grant it.
#   EscapeQuits.sh <path to KestorEngine>
# Exit status 77 means skipped (no display, or no xdotool to press keys).
set -u
. "$(dirname "$0")/../support/RunProgram.sh"

start_program "$1"
await_window "I can fly like a real bird!"
await_line "Loading meh"
eval "$(xdotool getwindowgeometry --shell "$window")"
[ "$WIDTH $HEIGHT" = "$(xdotool getdisplaygeometry)" ] ||
  fail "a full-screen window of $WIDTH x $HEIGHT on a screen of $(xdotool getdisplaygeometry)"
# Events wait in the window's queue until the frame loop pumps them, so the
# key may be pressed at once; it is pressed again each second in case the
# first came before the window took key events.
press_escape() { xdotool key --window "$window" Escape 2> /dev/null; }
await_exit 300 press_escape
[ "$status" -eq 0 ] || fail "exit status $status"
# Asset loaders report against the file's path ("<path>: <problem>").
check_console "CompiledAssets/[^ ]*\.(xml|fml|shader|glinc|png|bmp|tga): |Empty material name issue|Nonexistent pass|$gl_errors"
exit 0
