# shellcheck shell=bash
# Songs in the running program, for the end-to-end tests that record, open and play them: keys by
# X keycode, the song-information dialog, Ctrl+P heard through the null sink. Sourced after
# session.sh; play_and_listen needs $checker (wav_notes_check).

# X keycodes (evdev + 8), whatever the layout; used by the scripts that source this one.
# shellcheck disable=SC2034
readonly KeyQ=24 KeyW=25 KeyE=26 KeyR=27 KeyT=28 KeyS=39 KeyP=33 KeyCtrl=37 KeyShift=50 KeyReturn=36
readonly HoldSeconds=0.4
readonly GapSeconds=0.3
readonly InfoSize='201x262'

chord() { # chord KEYCODE...: pressed in order, released in reverse
  local key args=()
  for key in "$@"; do args+=(keydown "$key"); done
  for ((key = $# ; key > 0; key--)); do args+=(keyup "${!key}"); done
  xdotool "${args[@]}" || fail "xdotool ${args[*]} failed"
}

song_written() { (($(stat -c %s "$song" 2>/dev/null || echo 0) > 8760)); }

# The program started and focused, Ctrl+R pressed: a recording runs.
start_recording_program() {
  start_program "$program"
  find_window
  focus_window
  chord "$KeyCtrl" "$KeyR"
  sleep 0.3
}

play_keys() {
  local key
  for key in "$@"; do
    xdotool keydown "$key" && sleep "$HoldSeconds" && xdotool keyup "$key" || fail "xdotool failed on $key"
    sleep "$GapSeconds"
  done
}

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
