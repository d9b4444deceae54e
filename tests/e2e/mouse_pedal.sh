#!/usr/bin/env bash
# The mouse pedal in the built program under a real X server: Ctrl+Enter keeps the pointer at the
# window's point (400, 120) however the mouse moves; Ctrl+Enter again frees it; and a program that
# dies while it holds the pointer leaves it free.
#
# Usage: mouse_pedal.sh PROGRAM
# Exit codes: 0 passed, 1 failed, 77 skipped (PROGRAM not built).
set -uo pipefail

# shellcheck source=session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
paths_from_arguments "PROGRAM" program -- "$@"

pointer() {
  local X Y SCREEN WINDOW
  eval "$(xdotool getmouselocation --shell)"
  echo "$X,$Y"
}

# The screen point of the window's client point (400, 120).
pedal_point() {
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$win")"
  echo "$((X + 400)),$((Y + 120))"
}

at() { [[ $(pointer) == "$1" ]]; }

# Moves the pointer to X Y and says whether it got there.
moves_to() {
  xdotool mousemove "$1" "$2"
  at "$1,$2"
}

session_open "$program"
point=$(pedal_point)

xdotool key ctrl+Return || fail "xdotool key failed"
wait_until 5 at "$point" || fail "Ctrl+Enter did not bring the pointer to $point (it is at $(pointer))"
xdotool mousemove 5 5
xdotool mousemove_relative 300 200
sleep 0.3
at "$point" || fail "the pointer left $point while the mouse pedal was on (it is at $(pointer))"
log "the pointer stays at $point"

xdotool key ctrl+Return
sleep 0.3
xdotool mousemove 5 5
wait_until 5 at "5,5" || fail "a second Ctrl+Enter did not free the pointer (it is at $(pointer))"
log "Ctrl+Enter again frees it"

xdotool key ctrl+Return
wait_until 5 at "$point" || fail "Ctrl+Enter did not keep the pointer a second time"
# Another client keeps the X server from starting afresh (which would centre the pointer) once
# the program is gone.
xev -root >/dev/null 2>&1 &
pids+=($!)
kill -KILL "$app"
wait "$app" 2>/dev/null
wait_until 5 moves_to 7 7 || fail "the pointer stayed held after the program died (it is at $(pointer))"
log "a program that dies leaves the pointer free"
echo "PASS: the mouse pedal keeps the pointer at the window's point and always lets it go"
