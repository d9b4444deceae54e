#!/usr/bin/env bash
# The program under Wayland: a headless sway (wlroots) as the compositor, Qt's Wayland platform,
# a PulseAudio null sink, and keys typed on a virtual keyboard that sends evdev codes with the
# standard keymap, as a physical keyboard does. The sound is recorded from the sink's monitor.
#  1. Q held a second sounds middle C and stops on release.
#  2. Q held, the focus moved to another workspace, Q released there, the window focused again:
#     middle C sounded and then silence.
#  3. Q held a second, W and E recorded (Ctrl+R) and played back (Ctrl+P): 60, 62 and 64 in that
#     order; the song, quick-saved (Ctrl+Shift+S), holds each key's press once, though sway
#     repeats a held key after 200 ms.
#  4. The mouse pedal (Ctrl+Enter): the pointer cannot be held here, which the first Ctrl+Enter
#     says in a message box, and only the first.
# sway refuses to run as root: then it runs as nobody, in a runtime folder of its own, and the
# program reaches it through a link to its socket.
#
# Usage: wayland.sh PROGRAM WAV_TONE_CHECK WAV_NOTES_CHECK VIRTUAL_KEYBOARD
# Exit codes: 0 passed, 1 failed, 77 skipped (PROGRAM or VIRTUAL_KEYBOARD not built, sway missing).
# Set MELO_E2E_KEEP=1 to keep the temporary folder (logs, recordings).
set -uo pipefail

# evdev key codes, whatever the layout.
readonly KeyQ=16 KeyW=17 KeyE=18 KeyR=19 KeyP=25 KeyCtrl=29 KeyShift=42 KeyEnter=28 KeyS=31
readonly MiddleCHz=261.63
readonly PitchTolerance=0.03
readonly TailSeconds=0.5
readonly HoldSeconds=1
readonly SilenceWaitSeconds=1.5
readonly RepeatDelayMs=200
readonly SwayUser=nobody SwayGroup=nogroup

# shellcheck source=session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
paths_from_arguments "PROGRAM WAV_TONE_CHECK WAV_NOTES_CHECK VIRTUAL_KEYBOARD" \
  program tone_checker notes_checker keyboard_client -- "$@"

skip() {
  echo "SKIP: $*"
  exit 77
}

# exec_as_sway_user COMMAND...: in a background job, so that the job's pid is the command's.
exec_as_sway_user() {
  if ((EUID == 0)); then
    exec setpriv --reuid="$SwayUser" --regid="$SwayGroup" --clear-groups -- "$@"
  else
    exec "$@"
  fi
}

sway_socket() { compgen -G "$sway_run/sway-ipc.*.sock"; }

start_sway() {
  sway_run=$work/sway
  chmod 711 "$work" # the sway user passes through to its own folder
  mkdir -m 700 "$sway_run"
  ((EUID != 0)) || chown "$SwayUser:$SwayGroup" "$sway_run"
  printf '%s\n' 'xwayland disable' "input type:keyboard repeat_delay $RepeatDelayMs" \
    'input type:keyboard repeat_rate 30' >"$work/sway.config"
  chmod 644 "$work/sway.config"
  HOME=$sway_run XDG_RUNTIME_DIR=$sway_run WLR_BACKENDS=headless WLR_RENDERER=pixman \
    WLR_LIBINPUT_NO_DEVICES=1 exec_as_sway_user sway -c "$work/sway.config" >"$work/sway.log" 2>&1 &
  pids+=($!)
  wait_until 15 sway_socket || fail "sway did not start: $(tail -n 5 "$work/sway.log")"
  SWAYSOCK=$(sway_socket)
  export SWAYSOCK
  wait_until 5 test -S "$sway_run/wayland-1" || fail "sway opened no Wayland socket"
  ln -s "$sway_run/wayland-1" "$XDG_RUNTIME_DIR/wayland-1"
  export WAYLAND_DISPLAY=wayland-1 QT_QPA_PLATFORM=wayland
  unset DISPLAY
  log "headless sway on $WAYLAND_DISPLAY"
}

start_keyboard() {
  coproc keyboard { exec "$keyboard_client" 2>>"$work/keyboard.log"; }
  pids+=("$keyboard_PID")
  # sway gives its seat the keyboard at the keyboard's first key: one tap before any window is
  # there, or the window would miss the first press.
  key down "$KeyShift"
  key up "$KeyShift"
}

# key down|up CODE...: each key pressed or released, once the compositor has taken it.
key() {
  local state=$1 code answer
  shift
  for code in "$@"; do
    echo "$state $code" >&"${keyboard[1]}"
    read -r -t 10 answer <&"${keyboard[0]}" && [[ $answer == ok ]] ||
      fail "the virtual keyboard did not take \"$state $code\": ${answer:-no answer} $(cat "$work/keyboard.log")"
  done
}

press() { key down "$1" && sleep "$2" && key up "$1"; } # press CODE SECONDS

tap() { # tap CODE...: pressed in order, released in reverse
  key down "$@"
  local codes=("$@") i
  for ((i = ${#codes[@]} - 1; i >= 0; i--)); do key up "${codes[i]}"; done
}

# The pid of the window that has sway's focus.
focused_pid() { swaymsg -t get_tree | jq -r '[.. | objects | select(.focused? == true) | .pid // empty] | first'; }
has_focus() { [[ $(focused_pid) == "$app" ]]; }
lost_focus() { ! has_focus; }
windows_of_program() {
  swaymsg -t get_tree | jq --argjson pid "$app" '[.. | objects | select(.pid? == $pid)] | length'
}
notice_shown() { (($(windows_of_program) > 1)); }
notice_gone() { (($(windows_of_program) == 1)); }
main_window_shown() {
  swaymsg -t get_tree | jq -e --argjson pid "$app" --arg name "$WindowName" \
    '[.. | objects | select(.pid? == $pid and (.name // "" | test($name)))] | length > 0'
}

find_window() {
  local deadline=$((SECONDS + 60))
  until main_window_shown >/dev/null; do
    alive "$app" || { wait "$app"; fail "the program ended (exit code $?) before showing its window"; }
    ((SECONDS < deadline)) || fail "no window named like $WindowName within 60 s"
    sleep 0.2
  done
  wait_until 10 has_focus || fail "sway did not give the new window the focus"
  sleep 0.5 # let the program see its activation before the first key
  log "the window has the focus"
}

check_stopped() { # check_stopped NAME WHAT: middle C in NAME.wav, silent for its last TailSeconds
  if ! "$tone_checker" "$work/$1.wav" "$MiddleCHz" "$PitchTolerance" "$TailSeconds"; then
    cp "$work/$1.wav" "$(evidence "$1.wav")" 2>/dev/null && log "recording kept as $(evidence "$1.wav")"
    fail "$2"
  fi
}

hold_q() {
  start_recording hold
  press "$KeyQ" "$HoldSeconds"
  sleep "$SilenceWaitSeconds"
  stop_recording "$recorder"
  check_stopped hold "Q held did not sound middle C that stopped on release"
  log "Q held: middle C, stopped on release"
}

release_elsewhere() {
  start_recording away
  key down "$KeyQ"
  sleep 0.5
  swaymsg -q workspace away || fail "swaymsg could not switch to another workspace"
  wait_until 5 lost_focus || fail "the window kept the focus on another workspace"
  key up "$KeyQ"
  sleep 0.3
  swaymsg -q "[pid=$app] focus" || fail "swaymsg could not focus the window again"
  wait_until 5 has_focus || fail "the window did not get the focus back"
  sleep "$SilenceWaitSeconds"
  stop_recording "$recorder"
  check_stopped away "Q released on another workspace kept sounding after the focus came back"
  log "Q released on another workspace: silence"
}

record_and_play_song() {
  tap "$KeyCtrl" "$KeyR"
  sleep 0.3
  press "$KeyQ" "$HoldSeconds"
  sleep 0.3
  press "$KeyW" 0.3
  sleep 0.3
  press "$KeyE" 0.3
  tap "$KeyCtrl" "$KeyR"
  sleep 1 # E dies away before the recording
  start_recording song
  tap "$KeyCtrl" "$KeyP"
  sleep 3.5 # the song (about 2 s) and its last note's release
  stop_recording "$recorder"
  if ! "$notes_checker" "$work/song.wav" 60 62 64; then
    cp "$work/song.wav" "$(evidence wav)" 2>/dev/null && log "recording kept as $(evidence wav)"
    fail "the song recorded as Q W E did not play back as 60 62 64"
  fi
  log "Q W E recorded and played back as 60 62 64"
}

song_written() { (($(stat -c %s "$song" 2>/dev/null || echo 0) > 0)); }

check_song_keys() {
  tap "$KeyCtrl" "$KeyShift" "$KeyS"
  wait_until 10 song_written || fail "quick save wrote no song to $song"
  local keys
  keys=$("$program" --info "$song" | jq -r '[.events[] | select(.kind == "keyDown" or .kind == "keyUp") |
    "\(.kind) \(.key)"] | join(", ")')
  [[ $keys == "keyDown Q, keyUp Q, keyDown W, keyUp W, keyDown E, keyUp E" ]] ||
    fail "the song's keys are \"$keys\", not each of Q W E pressed once and released"
  log "the song holds each key's press once: $keys"
}

pointer_notice_once() {
  tap "$KeyCtrl" "$KeyEnter"
  wait_until 10 notice_shown || fail "the first Ctrl+Enter did not say that the pointer cannot be held"
  tap "$KeyEnter"
  wait_until 10 notice_gone || fail "Enter did not close the message about the pointer"
  wait_until 5 has_focus || fail "the window did not get the focus back from the message"
  tap "$KeyCtrl" "$KeyEnter"
  sleep 1
  notice_gone || fail "the second Ctrl+Enter said again that the pointer cannot be held"
  tap "$KeyCtrl" "$KeyEnter"
  log "the mouse pedal: said once that the pointer cannot be held"
}

command -v sway >/dev/null && command -v swaymsg >/dev/null ||
  skip "sway is not installed (Debian package sway): no Wayland compositor to run the program under"
[[ -x $keyboard_client ]] || skip "the virtual keyboard $keyboard_client is not built (libwayland-dev, libxkbcommon-dev)"
require_tools parecord jq setpriv
[[ -e $(dirname "$program")/msf4.s ]] || fail "no sound set msf4.s beside $program: there is nothing to hear"
isolate
start_sway
start_pulse
start_keyboard
start_program "$program"
find_window
full_volume
hold_q
release_elsewhere
record_and_play_song
check_song_keys
pointer_notice_once
alive "$app" || fail "the program ended during the test"
echo "PASS: under Wayland Q sounded middle C and stopped on release, a release on another"
echo "workspace left no note sounding, a song recorded and played back, and the mouse pedal said"
echo "once that the pointer cannot be held"
