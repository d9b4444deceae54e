#!/usr/bin/env bash
# Plays middle C on the built program through a real X server (Xvfb) and a real audio server
# (PulseAudio with a null sink): Q is held for a second and let go while the sink's monitor is
# recorded. The recording must hold a tone near 261.6 Hz that stops after the release. Keys after
# rests must not be taken for a lost output, and Alt+F4 must then end the program with exit code 0.
#
# Usage: play_q.sh PROGRAM WAV_TONE_CHECK
# Exit codes: 0 passed, 1 failed, 77 skipped (PROGRAM not built).
# Set MELO_E2E_KEEP=1 to keep the temporary folder (logs, recording) for a look afterwards.
set -uo pipefail

readonly QKeycode=24 # X keycode of Q (evdev 16 + 8), whatever the layout
readonly MiddleCHz=261.63
readonly PitchTolerance=0.03
readonly TailSeconds=0.5
readonly HoldSeconds=1
readonly AfterReleaseSeconds=1.5

# shellcheck source=session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
paths_from_arguments "PROGRAM WAV_TONE_CHECK" program checker -- "$@"

# True once parecord has written about a quarter of a second of sound.
recording_started() {
  local size
  size=$(stat -c %s "$work/q.wav" 2>/dev/null) && ((size > 20000))
}

play_q() {
  parecord --device=nul.monitor --file-format=wav --format=s16le --rate=44100 --channels=1 \
    --latency-msec=20 "$work/q.wav" 2>"$work/parecord.log" &
  local recorder=$!
  pids+=("$recorder")
  # A busy machine may take a second or more to start the stream: press only once it flows.
  wait_until 20 recording_started ||
    fail "parecord does not record nul.monitor: $(cat "$work/parecord.log")"
  sleep 0.3 # some silence before the key
  xdotool keydown "$QKeycode" || fail "xdotool keydown failed"
  sleep "$HoldSeconds"
  xdotool keyup "$QKeycode" || fail "xdotool keyup failed"
  sleep "$AfterReleaseSeconds"
  kill -INT "$recorder"
  wait "$recorder"
  [[ -s $work/q.wav ]] || fail "parecord wrote no recording: $(cat "$work/parecord.log")"
}

# Every start sets the master volume to 50 of 127 (mixer value 25600 of 65535); the server had the
# sink at 100 %. Then it goes back to 100 %, so the note is measured at full level.
check_start_volume() {
  wait_until 10 sink_at_start_volume ||
    fail "the start did not set the master volume to 50: $(pactl get-sink-volume nul | head -n 1)"
  [[ $(pactl get-sink-volume nul) == *"front-right: 25600 /"* ]] ||
    fail "the start set the channels unequally: $(pactl get-sink-volume nul | head -n 1)"
  pactl set-sink-volume nul 100% || fail "cannot set the sink back to 100 %"
}

check_sound() {
  if ! "$checker" "$work/q.wav" "$MiddleCHz" "$PitchTolerance" "$TailSeconds"; then
    cp "$work/q.wav" "$(evidence wav)" 2>/dev/null && log "recording kept as $(evidence wav)"
    fail "pressing Q did not sound middle C that stopped on release"
  fi
}

# With nothing sounding the synthesizer rests and the output is handed silence; a key after a rest
# is no lost output: the program must not say so, nor close and reopen it.
check_wake_after_rest() {
  local round
  for round in 1 2; do
    sleep 0.5
    xdotool keydown "$QKeycode" sleep 0.2 keyup "$QKeycode" || fail "xdotool failed"
    sleep 2.5
  done
  ! grep -q "sound output was lost" "$work/program.log" ||
    fail "a key after a rest was taken for a lost sound output: $(cat "$work/program.log")"
}

close_window() {
  has_focus || fail "the window lost the focus while playing; visible windows:
$(visible_windows)"
  xdotool key alt+F4 || fail "xdotool key alt+F4 failed"
  wait_until 15 dead "$app" || fail "the program did not end within 15 s of Alt+F4"
  wait "$app"
  local code=$?
  ((code == 0)) || fail "the program ended with exit code $code after Alt+F4"
  log "the program ended with exit code 0"
}

require_tools parecord
[[ -x $checker ]] || fail "the tone checker $checker is not built"
[[ -e $(dirname "$program")/msf4.s ]] || fail "no sound set msf4.s beside $program: there is nothing to hear"
session_open "$program"
check_start_volume
play_q
check_sound
check_wake_after_rest
close_window
echo "PASS: Q sounded middle C, stopped on release, and Alt+F4 closed the program"
