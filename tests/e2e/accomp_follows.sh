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

# X keycodes (evdev + 8), whatever the layout.
readonly KeyR=27 KeyT=28 KeyS=39 KeyCtrl=37 KeyShift=50 KeyReturn=36
readonly HoldSeconds=3.0

# shellcheck source=session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
paths_from_arguments "PROGRAM" program -- "$@"

chord() { # chord KEYCODE...: pressed in order, released in reverse
  local key args=()
  for key in "$@"; do args+=(keydown "$key"); done
  for ((key = $#; key > 0; key--)); do args+=(keyup "${!key}"); done
  xdotool "${args[@]}" || fail "xdotool ${args[*]} failed"
}

hold() { # hold KEYCODE: down for HoldSeconds
  xdotool keydown "$1" && sleep "$HoldSeconds" && xdotool keyup "$1" || fail "xdotool failed on $1"
}

recording_shown() { [[ $(xdotool getwindowname "$win") == *NewFile* ]]; }

song_written() { (($(stat -c %s "$song" 2>/dev/null || echo 0) > 8760)); }

# check_bass MIDI_FILE: the left hand's F (65) and G (67) on channel 0 mark when each chord was
# taken; the bass notes (channel 4) from a sixteenth after each must be that chord's root or
# fifth, and each of the two must have sounded its root.
check_bass() {
  python3 - "$1" <<'EOF'
import sys

data = open(sys.argv[1], "rb").read()
events = []  # (time in ticks, status, data1, data2); a tick is a millisecond
at = 14
while at < len(data):
    kind, length = data[at:at + 4], int.from_bytes(data[at + 4:at + 8], "big")
    at += 8
    end = at + length
    if kind == b"MTrk":
        time, status = 0, 0
        while at < end:
            delta = 0
            while True:
                byte = data[at]
                at += 1
                delta = (delta << 7) | (byte & 0x7F)
                if byte < 0x80:
                    break
            time += delta
            if data[at] >= 0x80:
                status = data[at]
                at += 1
            if status == 0xFF:
                at += 1
                size = 0
                while True:
                    byte = data[at]
                    at += 1
                    size = (size << 7) | (byte & 0x7F)
                    if byte < 0x80:
                        break
                at += size
            elif status in (0xF0, 0xF7):
                size = 0
                while True:
                    byte = data[at]
                    at += 1
                    size = (size << 7) | (byte & 0x7F)
                    if byte < 0x80:
                        break
                at += size
            else:
                count = 1 if status & 0xF0 in (0xC0, 0xD0) else 2
                body = data[at:at + count]
                at += count
                events.append((time, status, body[0], body[1] if count == 2 else 0))
    at = end

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

require_tools python3
[[ -e $(dirname "$program")/msf4.s ]] || fail "no sound set msf4.s beside $program"
isolate
mkdir -p "$XDG_CONFIG_HOME/Melotastico"
song=$XDG_CONFIG_HOME/Melotastico/NewFile
: >"$song"
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
xdotool key --clearmodifiers alt+F4 || fail "xdotool key alt+F4 failed"
wait_until 15 dead "$app" || fail "the program did not end within 15 s of Alt+F4"
"$program" --export "$song" "$work/song.mid" >>"$work/program.log" 2>&1 ||
  fail "--export of the recorded song failed"
result=$(check_bass "$work/song.mid" 2>&1) || fail "the exported accompaniment: $result"
echo "PASS: the accompaniment's bass followed the left hand's F and then G ($result)"
