#!/usr/bin/env bash
# Every note sounds after silence: in the running program (Xvfb, a null sink on PulseAudio or on
# PipeWire's PulseAudio server) a phrase is played while a recorder, started after the program,
# records the sink's monitor: three piano notes a second apart, more than four seconds of silence,
# three more, more silence, then a violin note held three seconds. Between the groups the
# synthesizer rests. Every note must be heard at its pitch, each piano note within SpreadMs of its
# neighbours' delay from key to sound, and the violin for the three seconds it was held. Played
# twice: with the recorder at its default latency (seconds, as a screen recorder holds a sink)
# and at 20 ms. The program plays to its default output (ALSA's default device, which ALSA's
# pulse plugin takes to the server), or to OUTPUT ("pulse": the server itself), with the delays
# of neighbouring notes SPREAD_MS apart at most (SpreadMs when not given).
#
# Usage: notes_after_silence.sh PROGRAM WAV_PHRASE_CHECK pulse|pipewire [OUTPUT [SPREAD_MS]]
# Exit codes: 0 passed, 1 failed, 77 skipped (PROGRAM not built).
# Set MELO_E2E_KEEP=1 to keep the temporary folder (logs, recordings).
set -uo pipefail

# shellcheck source=session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
paths_from_arguments "PROGRAM WAV_PHRASE_CHECK pulse|pipewire [OUTPUT [SPREAD_MS]]" program checker -- "$@"
server=${3:-}
output=${4:-}
[[ $server == pulse || $server == pipewire ]] || fail "the sound server must be pulse or pipewire"

# X keycodes (evdev + 8), whatever the layout: Q W E R T Y, Shift, F1, F4.
readonly KeyQ=24 KeyW=25 KeyE=26 KeyR=27 KeyT=28 KeyY=29 KeyShift=50 KeyF1=67 KeyF4=70
readonly SpreadMs=${5:-20}
# What the phrase plays: the note of each key, when it goes down (ms), how long it is held (ms).
readonly TapMs=300
readonly Phrase=(
  "$KeyQ 60 0 $TapMs" "$KeyW 62 1000 $TapMs" "$KeyE 64 2000 $TapMs"
  "$KeyR 65 7000 $TapMs" "$KeyT 67 8000 $TapMs" "$KeyY 69 9000 $TapMs"
  "violin"
  "$KeyQ 60 14000 3000")
readonly ViolinChangeAtMs=11500

seconds() { printf '%d.%03d' $(($1 / 1000)) $(($1 % 1000)); }

# One xdotool command for the whole phrase, so that its own sleeps time the keys (each key with
# no delay of its own: xdotool's default adds 12 ms); Shift+F4 (the left hand's fourth favourite
# voice, a violin) before the held note.
favourite_voice() { echo keydown --delay 0 "$KeyShift" key --delay 0 "$1" keyup --delay 0 "$KeyShift"; }
phrase_command() {
  local args=() stroke key note at held now=0
  for stroke in "${Phrase[@]}"; do
    if [[ $stroke == violin ]]; then
      # shellcheck disable=SC2207
      args+=(sleep "$(seconds $((ViolinChangeAtMs - now)))" $(favourite_voice "$KeyF4"))
      now=$ViolinChangeAtMs
      continue
    fi
    read -r key note at held <<<"$stroke"
    args+=(sleep "$(seconds $((at - now)))" keydown --delay 0 "$key" sleep "$(seconds "$held")"
      keyup --delay 0 "$key")
    now=$((at + held))
  done
  echo "${args[@]}" sleep 1.5
}

# The checker's expectations: NOTE@SECONDS, and +HELD for the note held longer than a tap.
expected_notes() {
  local stroke key note at held
  for stroke in "${Phrase[@]}"; do
    [[ $stroke == violin ]] && continue
    read -r key note at held <<<"$stroke"
    if ((held == TapMs)); then
      echo "$note@$(seconds "$at")"
    else
      echo "$note@$(seconds "$at")+$(seconds "$held")"
    fi
  done
}

# Each key and voice of the phrase once, unrecorded: the first note the program ever plays pays
# for what is done the first time (its wave read in, code paths first taken), 20 to 30 ms more
# in a sanitizer build; the rests are what is measured here.
warm_up() {
  local stroke key note at held args=()
  for stroke in "${Phrase[@]}"; do
    [[ $stroke == violin ]] && continue
    read -r key note at held <<<"$stroke"
    args+=(keydown --delay 0 "$key" sleep 0.15 keyup --delay 0 "$key" sleep 0.1)
  done
  # shellcheck disable=SC2046
  xdotool $(favourite_voice "$KeyF4") "${args[@]}" $(favourite_voice "$KeyF1") "${args[@]}" ||
    fail "xdotool failed while warming up"
  sleep 3 # its last note dies away before the recorder starts
}

# play_phrase NAME [RECORDER_LATENCY_MS]: the recorder starts, the piano is chosen (Shift+F1, the
# left hand's first favourite voice) and the synthesizer left to rest, the phrase is played and
# the recording checked.
play_phrase() {
  start_recording "$1" "${2:-}"
  # shellcheck disable=SC2046
  xdotool $(favourite_voice "$KeyF1") || fail "xdotool failed choosing the piano"
  sleep 2
  # shellcheck disable=SC2046
  xdotool $(phrase_command) || fail "xdotool failed while playing the phrase"
  sleep 2.5 # a recorder at seconds of latency hands its last stretch over late
  stop_recording "$recorder"
  # shellcheck disable=SC2046
  if ! "$checker" "$work/$1.wav" "$SpreadMs" $(expected_notes); then
    cp "$work/$1.wav" "$(evidence "$1.wav")" 2>/dev/null && log "recording kept as $(evidence "$1.wav")"
    fail "the phrase recorded with the recorder's latency at ${2:-its default} did not sound whole"
  fi
}

require_tools parecord
[[ -x $checker ]] || fail "the phrase checker $checker is not built"
[[ -e $(dirname "$program")/msf4.s ]] || fail "no sound set msf4.s beside $program: there is nothing to hear"
isolate
start_x
"start_$server"
start_program "$program" ${output:+--audio "$output"}
find_window
focus_window
full_volume
warm_up
play_phrase default-latency
play_phrase low-latency 20
! grep -q "sound output was lost" "$work/program.log" ||
  fail "a key after silence was taken for a lost sound output: $(cat "$work/program.log")"
echo "PASS ($server${output:+, output $output}): every note of the phrase sounded after silence, on time and as long as held,"
echo "with the recorder at its default latency and at 20 ms"
