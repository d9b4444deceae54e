#!/usr/bin/env bash
# What the program costs while it waits: processor time over 20 s with the
# window open, as a share of one core,
# - nothing sounding (the synthesizer rests),
# - the same program busy (a key held, so every period is rendered),
# - FluidSynth's own driver rendering silence at a period of the same size,
# all in one run, on Xvfb with a PulseAudio null sink as the end-to-end tests
# use. Prints figures; never fails a build.
#
# Usage: bench/idle.sh [BUILD_DIR]
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath "${1:-$root/build}")
readonly Seconds=20
readonly QKeycode=24
# The default response time's buffer (DriverBufferForResponse at 40 ms, 44.1 kHz).
readonly PeriodFrames=192 PeriodCount=8

# shellcheck source=../tests/e2e/session.sh
source "$root/tests/e2e/session.sh"
paths_from_arguments "BUILD_DIR" program -- "$build/src/app/melotastico"
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

session_open "$program"
sleep 2 # the start's own work is over
idle=$(share "$app")
xdotool keydown "$QKeycode"
busy=$(share "$app")
xdotool keyup "$QKeycode"
fluidsynth -q -i -s -a pulseaudio -z "$PeriodFrames" -c "$PeriodCount" -r 44100 \
  -o shell.port=0 </dev/null >"$work/fluidsynth.log" 2>&1 &
synth=$!
pids+=("$synth")
sleep 2
synth_share=$(share "$synth")
printf 'processor time over %d s, %% of one core (goal: idle <= 1)\n' "$Seconds"
printf '%-34s %6s\n' "idle (nothing sounding)" "$idle" "busy (a key held)" "$busy" \
  "FluidSynth's driver, silent" "$synth_share"
