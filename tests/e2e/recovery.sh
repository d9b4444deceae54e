#!/usr/bin/env bash
# A recording survives a killed program: in the running program (Xvfb, PulseAudio null sink) Q W E
# are recorded and the program is killed (SIGKILL) while still recording. Started again, it turns
# the journal left behind into a song in the Recordings folder of its data folder and names that
# file in its message (a message box, and the same text on its terminal); the song, opened from the
# command line and played on Ctrl+P, sounds 60, 62 and 64 in that order. Asked to stop (SIGTERM, as
# at the end of a session) while recording, the program closes as its window would: exit code 0,
# the recording kept in Recordings, no journal left.
#
# Usage: recovery.sh PROGRAM WAV_NOTES_CHECK
# Exit codes: 0 passed, 1 failed, 77 skipped (PROGRAM not built).
# Set MELO_E2E_KEEP=1 to keep the temporary folder (logs, journal, song, recording).
set -uo pipefail

# The journal is written out every half second: this much after the last key it holds them all.
readonly JournalWaitSeconds=1.5

# shellcheck source=session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
paths_from_arguments "PROGRAM WAV_NOTES_CHECK" program checker -- "$@"
# shellcheck source=songs.sh
source "$(dirname "${BASH_SOURCE[0]}")/songs.sh"

journals() { compgen -G "$data/Recording-*.journal"; }
recovered() { compgen -G "$data/Recordings/*.lyt"; }
kept_count() { compgen -G "$data/Recordings/*.lyt" | wc -l; }

record_and_kill() {
  start_recording_program
  play_keys "$KeyQ" "$KeyW" "$KeyE"
  sleep "$JournalWaitSeconds"
  journals >/dev/null || fail "no journal in $data while recording"
  kill -KILL "$app"
  wait "$app" 2>/dev/null
  log "killed the program while recording; journal $(journals)"
}

message_box() { # the program's window other than its main window
  local id
  for id in $(xdotool search --onlyvisible --pid "$app" --name "$WindowName" 2>/dev/null); do
    [[ $id != "$win" ]] && echo "$id" && return 0
  done
  return 1
}

message_gone() { ! message_box; }

recover() {
  start_program "$program"
  find_window
  wait_until 10 recovered || fail "no song in $data/Recordings after the start"
  song=$(recovered)
  grep -qF "$song" "$work/program.log" || fail "the program did not name the recovered song $song"
  ! journals >/dev/null || fail "the journal $(journals) is still there"
  log "recovered $song"
  local box
  wait_until 10 message_box || fail "no message about the recovered song; visible windows:
$(visible_windows)"
  box=$(message_box)
  timeout 10 xdotool windowfocus --sync "$box" || fail "could not focus the message"
  xdotool key "$KeyReturn" || fail "xdotool key Return failed"
  wait_until 10 message_gone || fail "the message did not close on Return"
  focus_window
  quit_program
}

record_and_terminate() {
  local before
  before=$(kept_count)
  start_recording_program
  play_keys "$KeyQ"
  kill -TERM "$app"
  wait_until 15 dead "$app" || fail "the program did not end within 15 s of SIGTERM"
  wait "$app"
  local code=$?
  ((code == 0)) || fail "the program ended with exit code $code after SIGTERM"
  (($(kept_count) == before + 1)) || fail "SIGTERM while recording kept no song in $data/Recordings"
  ! journals >/dev/null || fail "SIGTERM left the journal $(journals)"
  log "SIGTERM while recording: exit code 0, the recording kept"
}

require_tools parecord
[[ -x $checker ]] || fail "the note checker $checker is not built"
[[ -e $(dirname "$program")/msf4.s ]] || fail "no sound set msf4.s beside $program: there is nothing to hear"
isolate
start_x
start_pulse
record_and_kill
recover
open_from_command_line "$song"
play_and_listen 60 62 64
quit_program
record_and_terminate
echo "PASS: Q W E recorded, the program killed, the recording recovered as $song, named, and"
echo "played as 60 62 64; SIGTERM while recording kept the recording"
