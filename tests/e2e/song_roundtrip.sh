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

# X keycodes (evdev + 8), whatever the layout.
readonly KeyQ=24 KeyW=25 KeyE=26 KeyR=27 KeyS=39 KeyP=33 KeyCtrl=37 KeyShift=50 KeyReturn=36
readonly HoldSeconds=0.4
readonly GapSeconds=0.3
readonly InfoSize='201x262'

# shellcheck source=session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
paths_from_arguments "PROGRAM WAV_NOTES_CHECK" program checker -- "$@"

chord() { # chord KEYCODE...: pressed in order, released in reverse
  local key args=()
  for key in "$@"; do args+=(keydown "$key"); done
  for ((key = $# ; key > 0; key--)); do args+=(keyup "${!key}"); done
  xdotool "${args[@]}" || fail "xdotool ${args[*]} failed"
}

play_keys() {
  local key
  for key in "$@"; do
    xdotool keydown "$key" && sleep "$HoldSeconds" && xdotool keyup "$key" || fail "xdotool failed on $key"
    sleep "$GapSeconds"
  done
}

song_written() { (($(stat -c %s "$song" 2>/dev/null || echo 0) > 8760)); }

quit_program() {
  xdotool key --clearmodifiers alt+F4 || fail "xdotool key alt+F4 failed"
  wait_until 15 dead "$app" || fail "the program did not end within 15 s of Alt+F4"
  wait "$app"
  local code=$?
  ((code == 0)) || fail "the program ended with exit code $code after Alt+F4"
}

info_window() {
  local id
  for id in $(xdotool search --onlyvisible --pid "$app" --name '.' 2>/dev/null); do
    if [[ $(xdotool getwindowgeometry "$id" 2>/dev/null) == *"Geometry: $InfoSize"* ]]; then
      echo "$id"
      return 0
    fi
  done
  return 1
}

info_gone() { ! info_window; }

record_and_quick_save() {
  start_program "$program"
  find_window
  focus_window
  chord "$KeyCtrl" "$KeyR"
  sleep 0.3
  play_keys "$KeyQ" "$KeyW" "$KeyE"
  chord "$KeyCtrl" "$KeyR"
  chord "$KeyCtrl" "$KeyShift" "$KeyS"
  wait_until 10 song_written || fail "quick save wrote no song to $song"
  log "quick save wrote $(stat -c %s "$song") bytes to $song"
  quit_program
}

open_from_command_line() { # open_from_command_line FILE
  local song=$1
  start_program "$program" "$song"
  find_window
  local info deadline=$((SECONDS + 30))
  until info=$(info_window); do
    ((SECONDS < deadline)) || fail "no song-information dialog ($InfoSize) after starting with $song; visible windows:
$(visible_windows)"
    sleep 0.2
  done
  local caption
  caption=$(xdotool getwindowname "$win")
  [[ $caption == "Melotastico - $song" ]] || fail "caption \"$caption\", expected \"Melotastico - $song\""
  timeout 10 xdotool windowfocus --sync "$info" || fail "could not focus the song-information dialog"
  sleep 0.3
  xdotool key "$KeyReturn" || fail "xdotool key Return failed"
  wait_until 10 info_gone || fail "the song-information dialog did not close on Return"
  focus_window
}

recording_started() { (($(stat -c %s "$wav" 2>/dev/null || echo 0) > 20000)); }

play_and_listen() { # play_and_listen NOTE...: Ctrl+P must sound them in order
  wav=$work/song-$1.wav
  parecord --device=nul.monitor --file-format=wav --format=s16le --rate=44100 --channels=1 \
    --latency-msec=20 "$wav" 2>"$work/parecord.log" &
  local recorder=$!
  pids+=("$recorder")
  wait_until 20 recording_started || fail "parecord does not record nul.monitor: $(cat "$work/parecord.log")"
  sleep 0.3
  chord "$KeyCtrl" "$KeyP"
  sleep 3.5 # the song (about 2.4 s) and its last note's release
  kill -INT "$recorder"
  wait "$recorder"
  if ! "$checker" "$wav" "$@"; then
    cp "$wav" "$(evidence wav)" 2>/dev/null && log "recording kept as $(evidence wav)"
    fail "the reopened song did not play $*"
  fi
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
# A copy in the user's data folder is where quick save writes "NewFile" (not the build folder).
mkdir -p "$XDG_CONFIG_HOME/Melotastico"
song=$XDG_CONFIG_HOME/Melotastico/NewFile
: >"$song"
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
