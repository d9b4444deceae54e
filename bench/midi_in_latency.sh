#!/usr/bin/env bash
# MIDI-in latency: from a note-on sent into the program's JACK MIDI input to the first audible
# sample of the program's JACK audio output, on a private jackd with the dummy back-end at
# 48000 Hz and 128-frame periods. Prints frames and the same figure in periods (the period is
# the least any JACK synthesizer needs: it hears the note in one period and plays it in the next).
#
# Usage: bench/midi_in_latency.sh [BUILD_DIR] [NOTES]
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath "${1:-$root/build}")
notes=${2:-20}
exec bash "$root/tests/e2e/jack_midi.sh" "$build/src/app/melotastico" \
  "$build/tests/e2e/wav_tone_check" "$build/tests/e2e/jack_test_client" bench "$notes"
