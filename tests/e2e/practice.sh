#!/usr/bin/env bash
# Practises a two-note MIDI file in wait mode: `melotastico --practice FILE` opens the practice
# window, whose caption names the chord awaited and its key. With no key pressed the song must
# stay at the first note for two seconds; the keypad's 1 (the key the default definitions give
# middle C) must sound middle C and move on to the second note; its key, the keypad's 3, must
# end the song with the score shown and kept as the song's best in the data folder's INI.
#
# Usage: practice.sh PROGRAM WAV_TONE_CHECK
# Exit codes: 0 passed, 1 failed, 77 skipped (PROGRAM not built).
set -uo pipefail

readonly KeyNum1=87 KeyNum3=89 # X keycodes of the keypad's 1 and 3 (evdev 79 and 81, + 8)
readonly MiddleCHz=261.63
readonly Python=/usr/bin/python3 # Debian's, which has python3-mido

# shellcheck source=session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
paths_from_arguments "PROGRAM WAV_TONE_CHECK" program checker -- "$@"
# shellcheck source=songs.sh
source "$(dirname "${BASH_SOURCE[0]}")/songs.sh"

write_song() { # write_song FILE: middle C at 0.5 s, E at 1.5 s, on the first channel
  "$Python" - "$1" <<'EOF'
import sys, mido
track = mido.MidiTrack()
beat = 480  # ticks of half a second at the default tempo
for delay, note in ((beat, 60), (beat, 64)):
    track.append(mido.Message("note_on", note=note, velocity=100, time=delay))
    track.append(mido.Message("note_off", note=note, velocity=0, time=beat // 2))
file = mido.MidiFile(ticks_per_beat=beat)
file.tracks.append(track)
file.save(sys.argv[1])
EOF
}

practice_window() {
  local id
  id=$(xdotool search --all --onlyvisible --pid "$app" --name 'practice\.mid' 2>/dev/null | head -n 1)
  [[ -n $id ]] && echo "$id"
}
caption_has() { [[ $(xdotool getwindowname "$practice" 2>/dev/null) == *"$1"* ]]; }
expect_caption() { # expect_caption TEXT SECONDS WHY
  wait_until "$2" caption_has "$1" ||
    fail "$3: the practice window's caption is \"$(xdotool getwindowname "$practice")\", not with \"$1\"; windows:
$(visible_windows)"
}

press() { # press KEYCODE SECONDS NAME: held for SECONDS
  xdotool keydown "$1" && sleep "$2" && xdotool keyup "$1" || fail "xdotool failed on $3"
}

[[ -x $Python ]] || fail "no $Python (Debian's python3 with python3-mido)"
[[ -x $checker ]] || fail "the tone checker $checker is not built"
require_tools parecord
isolate
start_x
start_pulse
: >"$data/Melotastico.ini" # the best score goes here, not beside the program
write_song "$work/practice.mid" || fail "mido could not write the MIDI file"
start_program "$program" --practice "$work/practice.mid"
find_window
wait_until 30 practice_window || fail "no practice window; visible windows:
$(visible_windows)"
practice=$(practice_window)
expect_caption "1/2: Num-1" 10 "the first note was not awaited"
sleep 2
expect_caption "1/2: Num-1" 0 "the song moved on with no key pressed"

timeout 10 xdotool windowfocus --sync "$practice" || fail "could not focus the practice window"
sleep 0.5
full_volume
wav=$work/middle-c.wav
start_recording middle-c
press "$KeyNum1" 0.6 "the keypad's 1"
sleep 1
stop_recording "$recorder"
if ! "$checker" "$wav" "$MiddleCHz" 0.03 0.5; then
  cp "$wav" "$(evidence wav)" 2>/dev/null && log "recording kept as $(evidence wav)"
  fail "the keypad's 1 did not sound middle C"
fi
expect_caption "2/2: Num-3" 5 "the song did not move on to the second note"

press "$KeyNum3" 0.3 "the keypad's 3"
expect_caption "100%" 10 "no final score"
grep -q '^practice.mid=100$' "$data/Melotastico.ini" ||
  fail "the best score was not kept: $(cat "$data/Melotastico.ini")"
quit_program
echo "PASS: the practice waited for the marked keys, the first sounded middle C, the score was shown and kept"
