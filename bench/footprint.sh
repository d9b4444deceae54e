#!/usr/bin/env bash
# What the program costs beside other work, in one run, on Xvfb with a
# PulseAudio null sink as the end-to-end tests use:
# - processor time over 20 s with the window open, as a share of one core:
#   nothing sounding (the synthesizer rests), the same program busy (a key
#   held, so every period is rendered), and FluidSynth's own driver rendering
#   silence at a period of the same size;
# - peak resident memory of a MIDI and of a WAV export of a three-note song
#   recorded in the window, against the window's own peak.
# Prints figures; never fails a build. Needs the fluidsynth program.
#
# Usage: bench/footprint.sh [BUILD_DIR]
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath "${1:-$root/build}")
readonly Seconds=20
readonly KeyQ=24 KeyW=25 KeyE=26 KeyR=27 KeyCtrl=37
# The default response time's buffer (DriverBufferForResponse at 40 ms, 44.1 kHz).
readonly PeriodFrames=192 PeriodCount=8

# shellcheck source=../tests/e2e/session.sh
source "$root/tests/e2e/session.sh"
paths_from_arguments "BUILD_DIR" built -- "$build/src/app/melotastico"
require_tools fluidsynth

# Processor time (user + system) of a process, in clock ticks.
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# share PID: percent of one core the process used over the next $Seconds s.
share() {
  local before after
  before=$(ticks "$1")
  sleep "$Seconds"
  after=$(ticks "$1")
  awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" -v s="$Seconds" \
    'BEGIN { printf "%.2f", 100 * t / hz / s }'
}

peak_mb() { awk '/VmHWM/ { printf "%.0f", $2 / 1024 }' "/proc/$1/status"; }

# export_peak_mb SONG OUT: the export's peak resident memory.
export_peak_mb() {
  /usr/bin/time -f %M -o "$work/time" "$program" --export "$1" "$2" >/dev/null 2>&1 ||
    fail "--export $2 failed"
  awk '{ printf "%.0f", $1 / 1024 }' "$work/time"
}

isolate
# A folder of its own for the program, as an installed copy has.
mkdir "$work/app" && cp "$build"/src/app/{melotastico,msf4.s,*.rcc,*.qm,*.html} "$work/app/" 2>/dev/null
program=$work/app/melotastico
start_x
start_pulse
start_program "$program"
find_window
focus_window
sleep 2 # the start's own work is over
idle=$(share "$app")
xdotool keydown "$KeyQ"
busy=$(share "$app")
xdotool keyup "$KeyQ"

xdotool keydown "$KeyCtrl" key "$KeyR" keyup "$KeyCtrl"
for key in "$KeyQ" "$KeyW" "$KeyE"; do xdotool keydown "$key" sleep 0.3 keyup "$key" sleep 0.2; done
xdotool keydown "$KeyCtrl" key "$KeyR" keyup "$KeyCtrl"
sleep 1
window_mb=$(peak_mb "$app")
# Closed unsaved, the recording is kept in the Recordings folder.
xdotool key --clearmodifiers alt+F4
wait_until 15 dead "$app" || fail "the program did not end within 15 s of Alt+F4"
song=$(find "$data/Recordings" -name '*.lyt' 2>/dev/null | head -n 1)
[[ -n $song ]] || fail "the closed window kept no recording"
midi_mb=$(export_peak_mb "$song" "$work/song.mid")
wav_mb=$(export_peak_mb "$song" "$work/song.wav")

fluidsynth -q -i -s -a pulseaudio -z "$PeriodFrames" -c "$PeriodCount" -r 44100 \
  </dev/null >"$work/fluidsynth.log" 2>&1 &
synth=$!
pids+=("$synth")
sleep 2
alive "$synth" || fail "fluidsynth ended: $(cat "$work/fluidsynth.log")"
synth_share=$(share "$synth")

printf 'processor time over %d s, %% of one core (goal: idle <= 1)\n' "$Seconds"
printf '  %-34s %6s\n' "idle (nothing sounding)" "$idle" "busy (a key held)" "$busy" \
  "FluidSynth's driver, silent" "$synth_share"
printf 'peak resident memory, MB (goals: MIDI export < 40, WAV export within 20 of the window)\n'
printf '  %-34s %6s\n' "window" "$window_mb" "MIDI export" "$midi_mb" "WAV export" "$wav_mb"
