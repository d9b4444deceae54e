#!/usr/bin/env bash
# Every figure of what the player hears, in one run, each against a baseline
# measured in the same run:
# - the built-in set's load time against FluidSynth loading the SoundFont it
#   was made from, and resident memory after load (bench_audible);
# - the reference note's loudness and the densest case's peak (bench_audible);
# - key -> first audible sample per response time 10..100, and accompaniment
#   drum onsets against the sixteenth grid at 10, 40 and 100, measured at the
#   audio output through a private JACK server with the dummy back-end
#   (bench_audio_output).
# The machine should be quiet while it runs (about four minutes).
#
# Usage: bench/audible.sh [BUILD_DIR]
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath "${1:-$root/build}")
status=0
for bench in bench_audible bench_audio_output; do
  if [[ ! -x $build/bench/$bench ]]; then
    echo "$build/bench/$bench is missing: build the target $bench first" >&2
    status=1
    continue
  fi
  echo "== $bench"
  "$build/bench/$bench" || status=1
  echo
done
exit $status
