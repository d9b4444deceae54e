#!/usr/bin/env bash
# The sound server goes away and comes back while the program plays (Xvfb, the test's own
# PulseAudio with a null sink): with the accompaniment running and Q held, the server is killed.
# The program must stay up and answer keys (Ctrl+R shows "NewFile" in the caption), say once that
# the output was lost (its stderr and the caption), and once a new server runs, find it again by
# itself: the caption clears, and Q sounds middle C on the new server's null sink. Alt+F4 then
# ends it with exit code 0.
#
# Usage: server_restart.sh PROGRAM WAV_TONE_CHECK
# Exit codes: 0 passed, 1 failed, 77 skipped (PROGRAM not built).
# Set MELO_E2E_KEEP=1 to keep the temporary folder (logs, recording).
set -uo pipefail

readonly KeyQ=24 # X keycode of Q (evdev 16 + 8), whatever the layout
readonly MiddleCHz=261.63
readonly LostCaption='（声音输出已中断）'
readonly LostMessage='the sound output was lost'
readonly BackMessage='the sound output is back'

# shellcheck source=session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
paths_from_arguments "PROGRAM WAV_TONE_CHECK" program checker -- "$@"

caption() { xdotool getwindowname "$win" 2>/dev/null; }
caption_has() { [[ $(caption) == *"$1"* ]]; }
caption_lacks() { [[ $(caption) != *"$1"* ]]; }
said() { grep -c -F "$1" "$work/program.log"; }

kill_server() {
  xdotool key Return || fail "xdotool key Return failed" # the accompaniment starts
  xdotool keydown "$KeyQ" || fail "xdotool keydown failed"
  sleep 1
  kill -KILL "$pulse" || fail "could not kill the sound server"
  wait "$pulse" 2>/dev/null
  log "sound server killed while Q and the accompaniment played"
  wait_until 15 caption_has "$LostCaption" ||
    fail "the caption did not say that the output was lost within 15 s: \"$(caption)\""
  alive "$app" || fail "the program ended when its sound server went away"
  xdotool keyup "$KeyQ" || fail "xdotool keyup failed"
}

still_answers() {
  # Keys still reach the piano: Ctrl+R starts a recording, whose caption names the new song.
  xdotool key ctrl+r || fail "xdotool key ctrl+r failed"
  wait_until 10 caption_has NewFile || fail "Ctrl+R was not handled without a sound server: \"$(caption)\""
  xdotool key ctrl+r Return || fail "xdotool key failed" # recording and accompaniment stop
  sleep 2 # the program retries meanwhile; it must not say it again
  (($(said "$LostMessage") == 1)) || fail "the loss was reported $(said "$LostMessage") times, not once"
  alive "$app" || fail "the program ended while its sound server was away"
  log "keys handled and the loss told once while the server was away"
}

sounds_again() {
  start_pulse
  pulse=${pids[-1]}
  wait_until 20 caption_lacks "$LostCaption" ||
    fail "the output was not found again within 20 s of the server's return: \"$(caption)\""
  (($(said "$BackMessage") == 1)) || fail "the program did not say once that the output is back"
  parecord --device=nul.monitor --file-format=wav --format=s16le --rate=44100 --channels=1 \
    --latency-msec=20 "$work/q.wav" 2>"$work/parecord.log" &
  local recorder=$!
  pids+=("$recorder")
  wait_until 20 recording_started || fail "parecord does not record nul.monitor: $(cat "$work/parecord.log")"
  sleep 0.3
  has_focus || focus_window
  xdotool keydown "$KeyQ" && sleep 1 && xdotool keyup "$KeyQ" || fail "xdotool failed on Q"
  sleep 1.5
  kill -INT "$recorder"
  wait "$recorder"
  if ! "$checker" "$work/q.wav" "$MiddleCHz" 0.03 0.5; then
    cp "$work/q.wav" "$(evidence wav)" 2>/dev/null
    fail "Q did not sound middle C on the new server"
  fi
  log "Q sounds on the new server"
}
recording_started() { (($(stat -c %s "$work/q.wav" 2>/dev/null || echo 0) > 20000)); }

close_window() {
  xdotool key --clearmodifiers alt+F4 || fail "xdotool key alt+F4 failed"
  wait_until 15 dead "$app" || fail "the program did not end within 15 s of Alt+F4"
  wait "$app"
  local code=$?
  ((code == 0)) || fail "the program ended with exit code $code after Alt+F4"
}

require_tools parecord
[[ -x $checker ]] || fail "the tone checker $checker is not built"
[[ -e $(dirname "$program")/msf4.s ]] || fail "no sound set msf4.s beside $program: there is nothing to hear"
isolate
start_x
start_pulse
pulse=${pids[-1]}
start_program "$program"
find_window
focus_window
kill_server
still_answers
sounds_again
close_window
echo "PASS: the program outlived its sound server, said so once, and played again on the new one"
