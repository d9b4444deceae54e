#!/usr/bin/env bash
# No note is left sounding when a held key's release cannot reach the piano, in the running
# program (Xvfb, PulseAudio null sink), each case recorded from the sink's monitor:
#  1. Q held, the keyboard focus moved to another X window (xmessage), Q released there, the
#     focus given back: middle C sounded and then silence.
#  2. Q held, the settings dialog opened with the mouse (the Setup button), Q released in the
#     dialog, the dialog closed with Escape: middle C sounded and then silence.
#  3. A song in memory (three seconds without notes, recorded with Ctrl+R), Q held and Ctrl+P
#     pressed: Q sounds on while the song plays and falls silent when it ends, Q still held.
#
# Usage: stuck_notes.sh PROGRAM WAV_TONE_CHECK
# Exit codes: 0 passed, 1 failed, 77 skipped (PROGRAM not built).
# Set MELO_E2E_KEEP=1 to keep the temporary folder (logs, recordings).
set -uo pipefail

readonly KeyQ=24 # X keycode of Q (evdev 16 + 8), whatever the layout
readonly MiddleCHz=261.63
readonly PitchTolerance=0.03
readonly TailSeconds=0.5
readonly SilenceWaitSeconds=1.5
readonly SongSeconds=3
readonly SetupButtonX=342 SetupButtonY=23 # middle of the fifth button of the bar
readonly DialogName='^设置$'

# shellcheck source=session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
paths_from_arguments "PROGRAM WAV_TONE_CHECK" program checker -- "$@"

# check_stopped NAME WHAT: middle C sounded in NAME.wav and its last TailSeconds are silent.
check_stopped() {
  if ! "$checker" "$work/$1.wav" "$MiddleCHz" "$PitchTolerance" "$TailSeconds"; then
    cp "$work/$1.wav" "$(evidence "$1.wav")" 2>/dev/null && log "recording kept as $(evidence "$1.wav")"
    fail "$2"
  fi
}

# peak_db FILE [SOX EFFECT...]: the peak level in dB (sox), -200 for digital silence.
peak_db() {
  local file=$1 peak
  shift
  peak=$(sox "$file" -n "$@" stat 2>&1 | sed -n 's/^Maximum amplitude: *//p')
  awk -v p="${peak:-0}" 'BEGIN { if (p <= 0) print -200; else printf "%.1f\n", 20 * log(p) / log(10) }'
}

focus_back() {
  xdotool windowactivate --sync "$win" 2>/dev/null || timeout 10 xdotool windowfocus --sync "$win" ||
    fail "could not give the window the focus back"
  sleep 0.3
  has_focus || fail "the window did not get the focus back; visible windows:
$(visible_windows)"
}

other_pid=
readonly OtherTitle=melo-other-window
# xmessage sets no process id on its window: it is found by its title.
other_window() { xdotool search --onlyvisible --name "^$OtherTitle\$" 2>/dev/null | head -n 1; }
other_shown() { [[ -n $(other_window) ]]; }

release_in_other_window() {
  xmessage -geometry 200x60+700+600 -title "$OtherTitle" "another window" >/dev/null 2>&1 &
  other_pid=$!
  pids+=("$other_pid")
  wait_until 15 other_shown || fail "xmessage showed no window"
  local other
  other=$(other_window)

  start_recording focus
  xdotool keydown "$KeyQ" || fail "xdotool keydown failed"
  sleep 0.5
  xdotool windowactivate --sync "$other" 2>/dev/null || timeout 10 xdotool windowfocus --sync "$other" ||
    fail "could not move the focus to the other window"
  sleep 0.3
  [[ $(xdotool getwindowfocus) == "$win" ]] && fail "the focus stayed on the piano"
  xdotool keyup "$KeyQ" || fail "xdotool keyup failed"
  sleep 0.3
  focus_back
  sleep "$SilenceWaitSeconds"
  stop_recording "$recorder"
  check_stopped focus "Q released in another window kept sounding after the focus came back"
  kill "$other_pid" 2>/dev/null
  log "Q released in another window: silence"
}

dialog() { xdotool search --all --onlyvisible --pid "$app" --name "$DialogName" 2>/dev/null | head -n 1; }
dialog_shown() { [[ -n $(dialog) ]]; }
dialog_gone() { [[ -z $(dialog) ]]; }

release_in_settings_dialog() {
  start_recording dialog
  xdotool keydown "$KeyQ" || fail "xdotool keydown failed"
  sleep 0.5
  xdotool mousemove --window "$win" "$SetupButtonX" "$SetupButtonY" click 1 ||
    fail "xdotool could not click the Setup button"
  wait_until 20 dialog_shown || fail "no settings dialog within 20 s of the click"
  timeout 10 xdotool windowfocus --sync "$(dialog)" || fail "could not give the settings dialog the focus"
  xdotool keyup "$KeyQ" || fail "xdotool keyup failed"
  sleep 0.3
  xdotool key Escape || fail "xdotool key Escape failed"
  wait_until 10 dialog_gone || fail "Escape did not close the settings dialog"
  focus_back
  sleep "$SilenceWaitSeconds"
  stop_recording "$recorder"
  check_stopped dialog "Q released in the settings dialog kept sounding after it closed"
  log "Q released in the settings dialog: silence"
}

held_through_playback() {
  # A song of SongSeconds without notes: Ctrl+R, wait, Ctrl+R.
  xdotool key ctrl+r || fail "xdotool key ctrl+r failed"
  sleep "$SongSeconds"
  xdotool key ctrl+r || fail "xdotool key ctrl+r failed"
  sleep 0.3

  # Two recordings: the first ends while the song still plays, the second after it ended.
  start_recording playing
  local playing=$recorder
  start_recording ended
  local ended=$recorder
  xdotool keydown "$KeyQ" || fail "xdotool keydown failed"
  sleep 0.5
  xdotool key ctrl+p || fail "xdotool key ctrl+p failed"
  sleep $((SongSeconds - 1))
  stop_recording "$playing"
  # Still sounding: its last half second within 40 dB of the peak (the checker's "stopped" is
  # 40 dB below it; a held piano note fades by 20 to 30 dB in two seconds).
  local peak level
  peak=$(peak_db "$work/playing.wav")
  level=$(peak_db "$work/playing.wav" trim -0.5)
  log "while the song plays, Q sounds at $level dB (peak $peak dB)"
  awk -v l="$level" -v p="$peak" 'BEGIN { exit !(p > -50 && l > p - 40) }' ||
    fail "Q held stopped sounding before the song ended (last 0.5 s at $level dB, peak $peak dB)"
  sleep 1 # the song ends
  sleep "$SilenceWaitSeconds"
  stop_recording "$ended"
  check_stopped ended "Q held through the playback sounded on after the song ended"
  xdotool keyup "$KeyQ" || fail "xdotool keyup failed"
  log "Q held through the playback: silent once the song ended"
}

require_tools parecord xmessage sox
[[ -x $checker ]] || fail "the tone checker $checker is not built"
[[ -e $(dirname "$program")/msf4.s ]] || fail "no sound set msf4.s beside $program: there is nothing to hear"
session_open "$program"
full_volume
release_in_other_window
release_in_settings_dialog
held_through_playback
alive "$app" || fail "the program ended during the test"
echo "PASS: no note sounded on after its key's release went elsewhere or its playback ended"
