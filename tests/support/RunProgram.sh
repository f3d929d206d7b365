# Sourced by the tests that run one of our programs on the test's X display
# and drive it with xdotool. They wait for what the program shows (a console
# line, a window, its exit), never for a fixed time, each wait with a limit
# generous enough for a machine busy with other work.
#
#   . RunProgram.sh            exits 77 (skipped) without a display or xdotool
#   start_program PROGRAM [ARGS...]
#                              runs it in the background: $pid, its console in
#                              $scratch/out and $scratch/err
#   await_line PATTERN [SECONDS]
#   await_window TITLE [SECONDS]   sets $window to the program's first window
#   await_exit SECONDS [COMMAND...]  runs COMMAND (if any) until the program
#                              has ended, sets $status to its exit status
#   fail MESSAGE               ends the test, showing the console
#   check_console PATTERN      fails when a console line matches
if [ -z "${DISPLAY:-}" ] || ! command -v xdotool > /dev/null; then
  echo "skipped: needs an X display and xdotool"
  exit 77
fi

scratch=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2> /dev/null; rm -rf "$scratch"' EXIT

# On X only: SDL would otherwise fall back, when it cannot reach the display,
# to drawing off screen, and the program would run where no key can reach it.
# A server that resets when its last client leaves refuses connections for
# a moment; the program starts once the display answers.
start_program() {
  local deadline=$((SECONDS + 20))
  until xdotool getdisplaygeometry > /dev/null 2>&1 || [ "$SECONDS" -ge "$deadline" ]; do sleep 0.2; done
  SDL_VIDEODRIVER=x11 "$@" > "$scratch/out" 2> "$scratch/err" &
  pid=$!
}

fail() {
  echo "FAIL: $*"
  echo "--- last lines of standard output:"
  tail -n 20 "$scratch/out"
  echo "--- last lines of standard error:"
  tail -n 20 "$scratch/err"
  exit 1
}

alive() { kill -0 "$pid" 2> /dev/null; }

await_line() {
  local deadline=$((SECONDS + ${2:-300}))
  until grep -aqE "$1" "$scratch/out"; do
    alive || fail "ended while waiting for a line matching '$1'"
    [ "$SECONDS" -lt "$deadline" ] || fail "no line matching '$1' within ${2:-300} s"
    sleep 0.25
  done
}

await_window() {
  local deadline=$((SECONDS + ${2:-300}))
  window=
  while [ -z "$window" ]; do
    alive || fail "ended before its window '$1' appeared"
    if [ "$SECONDS" -ge "$deadline" ]; then
      echo "windows of the program: $(xdotool search --pid "$pid" 2>&1 | tr '\n' ' ')"
      echo "windows by that title: $(xdotool search --name "$1" 2>&1 | tr '\n' ' ')"
      echo "xdotool said: $(tail -n 3 "$scratch/xdotool" 2> /dev/null)"
      fail "no window '$1' within ${2:-300} s"
    fi
    # Only this program's windows (--all: its process id and the title):
    # other tests' programs may share the title.
    window=$(xdotool search --all --pid "$pid" --name "$1" 2> "$scratch/xdotool" | head -n 1)
    [ -n "$window" ] || sleep 0.25
  done
}

await_exit() {
  local limit=$1
  shift
  local deadline=$((SECONDS + limit))
  while alive; do
    if [ "$SECONDS" -ge "$deadline" ]; then
      kill "$pid" 2> /dev/null
      wait "$pid" 2> /dev/null
      fail "still running after $limit s"
    fi
    [ $# -gt 0 ] && "$@"
    sleep 1
  done
  wait "$pid"
  status=$?
  pid=
}

check_console() {
  if grep -aEn "$1" "$scratch/out" "$scratch/err"; then
    fail "the lines above report problems"
  fi
}

# Lines by which the engine reports a GL error.
gl_errors='^GL_[A-Z_]+ - |\*\* GL ERROR \*\*|Error compiling|Error linking'
