#!/usr/bin/env bash
# A song survives a restart: in the running program (Xvfb, PulseAudio null sink) Q W E are
# recorded, quick-saved and the program is closed; started again with the saved song's path on
# its command line, it opens the song (caption, read-only song information), plays it on Ctrl+P,
# and the null sink's recording holds the notes 60, 62 and 64 in that order. Then a MIDI file of
# the notes 67, 71 and 74, named on the command line, opens and plays the same way.
#
# Usage: song_roundtrip.sh PROGRAM WAV_NOTES_CHECK
# Exit codes: 0 passed, 1 failed, 77 skipped (PROGRAM not built).
# Set MELO_E2E_KEEP=1 to keep the temporary folder (logs, song, recording).
set -uo pipefail

# shellcheck source=session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
paths_from_arguments "PROGRAM WAV_NOTES_CHECK" program checker -- "$@"
# shellcheck source=songs.sh
source "$(dirname "${BASH_SOURCE[0]}")/songs.sh"

record_and_quick_save() {
  start_recording_program
  play_keys "$KeyQ" "$KeyW" "$KeyE"
  chord "$KeyCtrl" "$KeyR"
  chord "$KeyCtrl" "$KeyShift" "$KeyS"
  wait_until 10 song_written || fail "quick save wrote no song to $song"
  log "quick save wrote $(stat -c %s "$song") bytes to $song"
  quit_program
}

# A format-0 MIDI file at 1 ms a tick (500 ticks a quarter note, 120 beats a minute): a track
# name, then 67, 71 and 74 held 400 ms with 300 ms between them.
write_midi_file() {
  local track="00FF030B5468726565206E6F746573 00"
  local note
  for note in 43 47 4A; do track+=" 90${note}64 8310 80${note}00 822C"; done
  track="${track// /}FF2F00"
  local header="4D546864 00000006 0000 0001 01F4 4D54726B $(printf '%08X' $((${#track} / 2)))"
  local hex="${header// /}$track"
  printf '%b' "$(sed 's/../\\x&/g' <<<"$hex")" >"$1"
}

require_tools parecord
[[ -x $checker ]] || fail "the note checker $checker is not built"
[[ -e $(dirname "$program")/msf4.s ]] || fail "no sound set msf4.s beside $program: there is nothing to hear"
isolate
start_x
start_pulse
record_and_quick_save
open_from_command_line "$song"
play_and_listen 60 62 64
quit_program
write_midi_file "$work/three notes.mid"
open_from_command_line "$work/three notes.mid"
play_and_listen 67 71 74
quit_program
echo "PASS: Q W E recorded, quick-saved, reopened from the command line and played as 60 62 64;"
echo "a MIDI file on the command line opened and played as 67 71 74"
