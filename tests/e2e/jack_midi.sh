#!/usr/bin/env bash
# The program on a real JACK server (jackd's dummy back-end under a name of its own) with a
# JACK test client beside it:
#  1. MIDI input and JACK audio: the client plays note-on 60 / note-off 60 into the program's
#     MIDI input (connected by --midi-in) while the program plays through --audio jack; the
#     client's recording of the program's audio must hold middle C that stops after the release.
#     The frames from the note-on to the first audible sample are printed.
#  2. JACK MIDI output: with the client's MIDI input chosen as the output port (its index read
#     from OutDevList.txt), pressing Q must send exactly 90 3C 46 / 80 3C 40 (the left hand's
#     middle C at velocity 70) and Num-1 exactly 91 3C 64 / 81 3C 40 (the right hand's).
#  3. Recording while the MIDI input plays, then playing the song back, sends the same notes.
#  4. Releases the MIDI input must not lose, each silent within 1 s of its release: twelve held
#     notes whose note-offs follow 700 pitch bends in one period; a release in running status
#     in an event of its own; a note-off split over two events. Then a flood of 500,000 events:
#     a note played after it sounds within 100 ms, nothing of the flood rings on, and resident
#     memory ends within 10 MB of where it was before.
#
# Usage: jack_midi.sh PROGRAM WAV_TONE_CHECK JACK_TEST_CLIENT [bench NOTES]
# With "bench NOTES" only part 1 runs, NOTES times, and the latencies are printed.
# Exit codes: 0 passed, 1 failed, 77 skipped (PROGRAM not built, or no jackd).
set -uo pipefail

readonly QKeycode=24     # X keycode of Q
readonly KeypadOneKeycode=87 # X keycode of Num-1 (KP_End)
readonly MiddleCHz=261.63
readonly PitchTolerance=0.03
readonly TailSeconds=0.5
readonly AudibleLevel=0.001 # about -60 dB: the first sample of the note's attack
readonly SilentLevel=0.01 # -40 dB: a released note's tail falls below it; a held one stays far above
readonly SilentWithinFrames=48000 # 1 s at the test server's rate
readonly FloodEvents=500000
readonly FloodEventsPerPeriod=2700 # about what a period's MIDI buffer holds
readonly FloodLatencyFrames=4800 # 100 ms
readonly LoudLevel=0.05 # a played note's attack, far above the flood's quiet notes
readonly FloodMemoryKb=10240

# shellcheck source=session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
paths_from_arguments "PROGRAM WAV_TONE_CHECK JACK_TEST_CLIENT [bench NOTES]" program checker client -- "$@"
mode=${4:-test}
bench_notes=${5:-20}
if ! command -v jackd >/dev/null; then
  echo "SKIP: jackd is not installed"
  exit 77
fi

# JACK keeps eight server slots for the whole system and frees the slot of a
# server that died without giving it back only when one of the same name
# starts: the test servers (these and the unit tests') take their names from a
# small pool, each name under a lock while its server runs.
take_jack_name() {
  local slot
  for slot in 0 1 2 3 4 5; do
    exec {jack_lock}>"${TMPDIR:-/tmp}/melo-test-jack-$slot.lock"
    if flock -n "$jack_lock"; then
      JACK_DEFAULT_SERVER=melo-test-jack-$slot
      return 0
    fi
    exec {jack_lock}>&-
  done
  return 1
}

start_jack() {
  take_jack_name || fail "every test JACK server name is in use"
  export JACK_DEFAULT_SERVER
  jackd -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 128 >"$work/jackd.log" 2>&1 &
  pids+=($!)
  local jackd=$!
  wait_until 15 jack_lsp || fail "jackd did not start: $(tail -n 5 "$work/jackd.log")"
  # A server of that name started by hand would answer in place of ours.
  alive "$jackd" || fail "jackd ended at once: $(tail -n 5 "$work/jackd.log")"
  log "JACK server $JACK_DEFAULT_SERVER (dummy back-end, 48000 Hz, 128-frame periods)"
}

# ask COMMAND: one command to the test client; its answer (without "ok") in $reply.
ask() {
  echo "$*" >&"${CLIENT[1]}" || fail "the JACK test client is gone"
  IFS= read -r -t 10 reply <&"${CLIENT[0]}" || fail "no answer from the JACK test client to: $*"
  [[ $reply == ok* ]] || fail "the JACK test client answered '$reply' to: $*"
  reply=${reply#ok}
  reply=${reply# }
}

start_client() {
  coproc CLIENT { exec "$client" melo_test 2>"$work/client.log"; }
  pids+=("$CLIENT_PID")
  IFS= read -r -t 10 reply <&"${CLIENT[0]}" || fail "the JACK test client did not start: $(cat "$work/client.log")"
}

# start_melo ARGS...: the program with arguments, up to its window.
start_melo() {
  (cd "$(dirname "$program")" && exec "$program" "$@") >"$work/program.log" 2>&1 &
  app=$!
  pids+=("$app")
  find_window
}

stop_melo() {
  kill "$app" 2>/dev/null
  wait_until 15 dead "$app" || fail "the program did not end within 15 s"
}

program_audio_port() {
  jack_lsp -t 2>/dev/null | awk '/^Melotastico:/ {port=$0; getline; if ($0 ~ /audio/) {print port; exit}}'
}

play_midi_note() {
  local wav=$1
  ask record-start
  sleep 0.3
  ask send 90 3C 64
  local on=$reply
  sleep 1
  ask send 80 3C 40
  sleep 1.5
  ask record-stop "$wav"
  ask onset "$on" "$AudibleLevel"
  latency=$reply
}

part_midi_in_and_jack_audio() {
  start_melo --audio jack --midi-in melo_test:midi_out 0
  wait_until 15 program_audio_port || fail "the program made no JACK audio ports; ports:
$(jack_lsp)"
  jack_lsp -c | grep -A3 '^melo_test:midi_out' | grep -q 'Melotastico in:midi_in' ||
    fail "--midi-in did not connect melo_test:midi_out; connections:
$(jack_lsp -c)"
  local port
  port=$(program_audio_port)
  jack_connect "$port" melo_test:in_l || fail "cannot connect $port to the test client"
  log "recording $port"
  grep -q "no ALSA sequencer" "$work/program.log" &&
    log "the program said once that there is no ALSA sequencer"
  if [[ $mode == bench ]]; then
    local i
    for ((i = 0; i < bench_notes; i++)); do
      play_midi_note "$work/note.wav"
      echo "$latency"
    done >"$work/latencies"
    sort -n "$work/latencies" | awk -v n="$bench_notes" '
      {v[NR] = $1; sum += $1}
      END {printf "MIDI-in note-on to first audible sample, %d notes at 128-frame periods:\n", n;
           printf "  median %d frames (%.2f periods), min %d, max %d, mean %.0f\n",
                  v[int((NR + 1) / 2)], v[int((NR + 1) / 2)] / 128, v[1], v[NR], sum / NR}'
    stop_melo
    return
  fi
  play_midi_note "$work/midi-in.wav"
  log "note-on to first audible sample: $latency frames"
  if ! "$checker" "$work/midi-in.wav" "$MiddleCHz" "$PitchTolerance" "$TailSeconds"; then
    cp "$work/midi-in.wav" "$(evidence wav)" 2>/dev/null
    fail "note 60 from the MIDI input did not sound middle C through JACK, or did not stop"
  fi
  [[ $(grep -c "no ALSA sequencer" "$work/program.log") -le 1 ]] ||
    fail "the missing ALSA sequencer was reported more than once"
  part_releases_and_flood
  stop_melo
}

# release_case WHAT ON_BURST OFF_BURSTS...: the notes of ON_BURST must sound (the burst's frame
# in $on_frame) and, once the last of OFF_BURSTS (each one period's events) is sent, end within
# 1 s.
release_case() {
  local what=$1 off burst
  ask burst "$2"
  on_frame=$reply
  sleep 0.3
  shift 2
  for burst in "$@"; do
    ask burst "$burst"
    off=$reply
  done
  ask wait-frames "$off" $((SilentWithinFrames + 4800))
  ask onset "$on_frame" "$AudibleLevel"
  ask last-sound "$off" "$SilentLevel"
  if ((reply >= SilentWithinFrames)); then
    local last=$reply
    ask record-stop "$(evidence wav)"
    fail "$what: still sounding $last frames after the release (recording: $(evidence wav))"
  fi
  log "$what: silent $reply frames after the release"
}

# events EVENT...: one burst of them, "/" between events.
events() {
  local burst=$1
  shift
  for event; do burst+=" / $event"; done
  echo "$burst"
}

resident_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$app/status"; }

part_releases_and_flood() {
  local chord=() bends=() offs=() note i
  for ((note = 0x3C; note < 0x48; note++)); do
    chord+=("$(printf '90 %02X 64' "$note")")
    offs+=("$(printf '80 %02X 40' "$note")")
  done
  for ((i = 0; i < 700; i++)); do
    bends+=("$(printf 'E0 %02X %02X' $((i % 128)) $(((i * 7) % 128)))")
  done
  local chordBurst releaseBurst
  chordBurst=$(events "${chord[@]}")
  releaseBurst=$(events "${bends[@]}" "E0 00 40" "${offs[@]}")
  ask record-start
  sleep 0.3
  release_case "twelve notes released after 700 bends in one period" "$chordBurst" \
    "$releaseBurst"
  release_case "a release in running status" "90 3C 64" "3C 00"
  release_case "a note-off split over two events" "90 3E 64" "80" "3E 40"
  # A first, smaller flood brings the allocators' caches to where any flood leaves them.
  ask flood $((FloodEvents / 5)) "$FloodEventsPerPeriod"
  release_case "a note after a first flood" "90 48 64" "80 48 40"
  local before after
  before=$(resident_kb)
  ask flood "$FloodEvents" "$FloodEventsPerPeriod"
  release_case "a note right after a flood of $FloodEvents events" "90 48 64" "80 48 40"
  ask onset "$on_frame" "$LoudLevel"
  ((reply < FloodLatencyFrames)) || fail "a note right after the flood sounded $reply frames late"
  after=$(resident_kb)
  log "after the flood a note sounded $reply frames late; resident memory $before kB before, $after kB after"
  ((after - before < FloodMemoryKb)) || fail "the flood left $((after - before)) kB more in use"
  ask record-stop "$work/releases.wav"
}

# The index of the test client's MIDI input in OutDevList.txt.
client_port_index() {
  local list=$XDG_CONFIG_HOME/Melotastico/OutDevList.txt
  [[ -s $list ]] || fail "the program wrote no OutDevList.txt"
  grep -a -q $'^0:  .*\r$' "$list" || fail "OutDevList.txt is not '%d:  %s' lines with CR LF"
  local line
  line=$(grep -a ':  JACK: melo_test:midi_in' "$list") ||
    fail "OutDevList.txt does not list melo_test:midi_in: $(cat -A "$list")"
  index=${line%%:*}
}

note_bytes() { # the note-on and note-off messages of a byte list
  local bytes=($1) i out=()
  for ((i = 0; i + 2 < ${#bytes[@]}; i++)); do
    case ${bytes[i]} in
    8? | 9?) out+=("${bytes[i]} ${bytes[i + 1]} ${bytes[i + 2]}") && i=$((i + 2)) ;;
    B? | E? | A?) i=$((i + 2)) ;;
    C? | D?) i=$((i + 1)) ;;
    esac
  done
  echo "${out[*]:-}"
}

press() { # press KEYCODE: held briefly, as a player does
  xdotool keydown "$1" && sleep 0.2 && xdotool keyup "$1" || fail "xdotool failed"
  sleep 0.3
}

part_midi_out_and_recording() {
  client_port_index
  log "melo_test:midi_in is output port $index"
  start_melo "$index" --midi-in melo_test:midi_out
  focus_window
  sleep 0.5
  ask midi-clear
  press "$QKeycode"
  ask midi
  [[ $reply == "90 3C 46 80 3C 40" ]] || fail "Q sent '$reply', not exactly 90 3C 46 80 3C 40"
  ask midi-clear
  press "$KeypadOneKeycode"
  ask midi
  [[ $reply == "91 3C 64 81 3C 40" ]] || fail "Num-1 sent '$reply', not exactly 91 3C 64 81 3C 40"
  log "Q and Num-1 sent exactly their notes to the JACK MIDI port"

  ask midi-clear
  xdotool key ctrl+r || fail "xdotool failed"
  sleep 0.5
  ask send 90 40 50
  sleep 0.2
  ask send 90 43 60
  sleep 0.2
  ask send 80 40 00
  ask send 90 43 00
  sleep 0.3
  xdotool key ctrl+r || fail "xdotool failed"
  sleep 0.5
  ask midi
  local live
  live=$(note_bytes "$reply")
  [[ $live == "91 40 50 91 43 60 81 40 40 81 43 40" ]] ||
    fail "the MIDI input played '$live' (all: '$reply'), not 91 40 50 91 43 60 81 40 40 81 43 40"
  ask midi-clear
  xdotool key ctrl+p || fail "xdotool failed"
  sleep 2
  ask midi
  local played
  played=$(note_bytes "$reply")
  [[ $played == "$live" ]] || fail "playback sent '$played' (all: '$reply'), the MIDI input '$live'"
  log "playback sent the recorded MIDI-input notes again"
  has_focus || fail "the window lost the focus"
  xdotool key alt+F4 || fail "xdotool key alt+F4 failed"
  wait_until 15 dead "$app" || fail "the program did not end within 15 s of Alt+F4"
}

require_tools jackd jack_lsp jack_connect
[[ -x $checker ]] || fail "the tone checker $checker is not built"
[[ -x $client ]] || fail "the JACK test client $client is not built"
[[ -e $(dirname "$program")/msf4.s ]] || fail "no sound set msf4.s beside $program"
isolate
# The port list goes to the private settings folder, not beside the program.
mkdir -p "$XDG_CONFIG_HOME/Melotastico" && : >"$XDG_CONFIG_HOME/Melotastico/OutDevList.txt"
# Under AddressSanitizer freed memory waits in a quarantine of up to 256 MB, which would count
# as kept after the flood: a small one keeps resident memory meaningful.
export ASAN_OPTIONS=quarantine_size_mb=4${ASAN_OPTIONS:+:$ASAN_OPTIONS}
start_x
start_jack
start_client
part_midi_in_and_jack_audio
[[ $mode == bench ]] && exit 0
part_midi_out_and_recording
echo "PASS: MIDI input sounded through JACK, JACK MIDI output sent exactly the keys' notes, playback repeated the MIDI input"
