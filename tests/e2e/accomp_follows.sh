#!/usr/bin/env bash
# The accompaniment follows the left hand: in the running program (Xvfb, PulseAudio null sink)
# recording starts, the accompaniment starts (style 1, fixed chords), the left hand holds F
# (key R) and then G (key T), and the song is quick-saved. Exported to a MIDI file, the song's
# bass (channel 5 counting from 1) plays F's notes while F is held and G's once G is, and every
# note of the bass, arpeggio and chord parts is released.
#
# Usage: accomp_follows.sh PROGRAM
# Exit codes: 0 passed, 1 failed, 77 skipped (PROGRAM not built).
# Set MELO_E2E_KEEP=1 to keep the temporary folder (logs, song, MIDI file).
set -uo pipefail

readonly ChordSeconds=3.0

# shellcheck source=session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
paths_from_arguments "PROGRAM" program -- "$@"
# shellcheck source=songs.sh
source "$(dirname "${BASH_SOURCE[0]}")/songs.sh"
# Debian's Python, which has python3-mido.
readonly Python=/usr/bin/python3

hold() { # hold KEYCODE: down for ChordSeconds
  xdotool keydown "$1" && sleep "$ChordSeconds" && xdotool keyup "$1" || fail "xdotool failed on $1"
}

recording_shown() { [[ $(xdotool getwindowname "$win") == *NewFile* ]]; }

# check_bass MIDI_FILE: the left hand's F (65) and G (67) on channel 0 mark when each chord was
# taken; the bass notes (channel 4) from a sixteenth after each must be that chord's root or
# fifth, and each of the two must have sounded its root.
check_bass() {
  "$Python" - "$1" <<'EOF'
import sys, mido

events = []  # (time in ticks, status, data1, data2); a tick is a millisecond
for track in mido.MidiFile(sys.argv[1]).tracks:
    time = 0
    for message in track:
        time += message.time
        if message.type in ("note_on", "note_off"):
            kind = 0x90 if message.type == "note_on" else 0x80
            events.append((time, kind + message.channel, message.note, message.velocity))

def ons(channel):
    return [(t, n) for t, s, n, v in events if s == 0x90 + channel and v > 0]

left = ons(0)
taken = {n: t for t, n in reversed(left)}
if 65 not in taken or 67 not in taken or taken[65] > taken[67]:
    sys.exit(f"the left hand's F and G are not in the song: {left}")
slack = 250  # a sixteenth at the start tempo (150 ms), and some
fifths = {5: 0, 7: 2}
for root, start, stop in ((5, taken[65], taken[67]), (7, taken[67], 10**9)):
    played = [n for t, n in ons(4) if start + slack < t <= stop]
    classes = {n % 12 for n in played}
    if root not in classes or not classes <= {root, fifths[root]}:
        sys.exit(f"bass {played} while the chord of pitch class {root} was held")
for channel in (4, 5, 6):
    on = len(ons(channel))
    off = sum(1 for t, s, n, v in events
              if s == 0x80 + channel or (s == 0x90 + channel and v == 0))
    if on == 0 or on != off:
        sys.exit(f"channel {channel}: {on} notes struck, {off} released")
print(f"bass over F: {[n for t, n in ons(4) if taken[65] < t <= taken[67]]}, "
      f"over G: {[n for t, n in ons(4) if t > taken[67]]}")
EOF
}

[[ -x $Python ]] || fail "no $Python (Debian's python3 with python3-mido)"
[[ -e $(dirname "$program")/msf4.s ]] || fail "no sound set msf4.s beside $program"
isolate
start_x
start_pulse
start_program "$program"
find_window
focus_window
chord "$KeyCtrl" "$KeyR"
wait_until 5 recording_shown || fail "Ctrl+R did not start recording: caption \"$(xdotool getwindowname "$win")\""
xdotool key "$KeyReturn" || fail "xdotool key Return failed"
sleep 0.6
hold "$KeyR"
hold "$KeyT"
xdotool key "$KeyReturn" || fail "xdotool key Return failed"
sleep 0.3
chord "$KeyCtrl" "$KeyR"
chord "$KeyCtrl" "$KeyShift" "$KeyS"
wait_until 10 song_written || fail "quick save wrote no song to $song"
quit_program
"$program" --export "$song" "$work/song.mid" >>"$work/program.log" 2>&1 ||
  fail "--export of the recorded song failed"
result=$(check_bass "$work/song.mid" 2>&1) || fail "the exported accompaniment: $result"
echo "PASS: the accompaniment's bass followed the left hand's F and then G ($result)"
