#!/usr/bin/env bash
# Plays middle C on the built program through a real X server (Xvfb) and a real audio server
# (PulseAudio with a null sink): Q is held for a second and let go while the sink's monitor is
# recorded. The recording must hold a tone near 261.6 Hz that stops after the release, and
# Alt+F4 must then end the program with exit code 0.
#
# Usage: play_q.sh PROGRAM WAV_TONE_CHECK
# Exit codes: 0 passed, 1 failed, 77 skipped (PROGRAM not built).
# Set MELO_E2E_KEEP=1 to keep the temporary folder (logs, recording) for a look afterwards.
set -uo pipefail

readonly QKeycode=24        # X keycode of Q (evdev 16 + 8), whatever the layout
readonly MiddleCHz=261.63
readonly PitchTolerance=0.03
readonly TailSeconds=0.5
readonly HoldSeconds=1
readonly AfterReleaseSeconds=1.5
readonly WindowName='^Melotastico'
readonly WindowSize='621x436'

program=${1:-}
checker=${2:-}
if [[ -z $program || -z $checker ]]; then
  echo "usage: play_q.sh PROGRAM WAV_TONE_CHECK" >&2
  exit 1
fi
if [[ ! -e $program ]]; then
  echo "SKIP: $program has not been built"
  exit 77
fi
program=$(realpath "$program")
checker=$(realpath "$checker")

work=$(mktemp -d "${TMPDIR:-/tmp}/melo-e2e.XXXXXX")
pids=()

log() { echo "play_q: $*"; }

show_log() {
  [[ -s $work/$1 ]] || return 0
  echo "---- last lines of $1 ----"
  tail -n 25 "$work/$1"
}

fail() {
  echo "FAIL: $*" >&2
  show_log program.log
  show_log pulseaudio.log
  exit 1
}

cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null
  done
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    wait "${pids[i]}" 2>/dev/null
  done
  if [[ ${MELO_E2E_KEEP:-0} == 1 ]]; then
    echo "play_q: kept $work"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT

# wait_until SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds.
wait_until() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    ((SECONDS < deadline)) || return 1
    sleep 0.1
  done
}

alive() { kill -0 "$1" 2>/dev/null; }

require_tools() {
  local tool missing=()
  for tool in Xvfb xdotool xdpyinfo pulseaudio pactl parecord; do
    command -v "$tool" >/dev/null || missing+=("$tool")
  done
  ((${#missing[@]} == 0)) || fail "missing tools: ${missing[*]} (install the packages of scripts/packages.txt)"
  [[ -x $checker ]] || fail "the tone checker $checker is not built"
}

# A private environment: nothing here touches the user's desktop, audio or settings.
isolate() {
  export HOME=$work/home
  export XDG_RUNTIME_DIR=$work/run
  export XDG_CONFIG_HOME=$HOME/.config
  export PULSE_SERVER=unix:$XDG_RUNTIME_DIR/pulse/native
  export QT_QPA_PLATFORM=xcb
  unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER XAUTHORITY
  mkdir -p "$HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
}

start_x() {
  # Xvfb picks a free display itself and writes its number once it accepts clients.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  wait_until 15 test -s "$work/display" || fail "Xvfb did not start: $(tail -n 5 "$work/xvfb.log")"
  export DISPLAY=:$(head -n 1 "$work/display")
  wait_until 10 xdpyinfo || fail "X display $DISPLAY does not answer"
  log "X server on $DISPLAY"
}

start_pulse() {
  pulseaudio --daemonize=no --exit-idle-time=-1 -n --use-pid-file=no --system=false \
    --load="module-null-sink sink_name=nul" --load=module-native-protocol-unix \
    --log-target=stderr >"$work/pulseaudio.log" 2>&1 &
  local pulse=$!
  pids+=("$pulse")
  if ! wait_until 15 pactl info; then
    alive "$pulse" || fail "PulseAudio ended at once"
    fail "PulseAudio does not answer on $PULSE_SERVER"
  fi
  pactl set-default-sink nul || fail "cannot make the null sink the default output"
  log "PulseAudio with null sink 'nul' on $PULSE_SERVER"
}

start_program() {
  (cd "$(dirname "$program")" && exec "$program") >"$work/program.log" 2>&1 &
  app=$!
  pids+=("$app")
}

visible_windows() {
  local id
  for id in $(xdotool search --onlyvisible --name '.*' 2>/dev/null); do
    echo "  window $id \"$(xdotool getwindowname "$id" 2>/dev/null)\" $(xdotool getwindowgeometry "$id" 2>/dev/null |
      sed -n 's/.*Geometry: //p')"
  done
}

main_window() {
  local id
  for id in $(xdotool search --onlyvisible --pid "$app" --name "$WindowName" 2>/dev/null); do
    # The program's message boxes carry its name too; the main window has its fixed size.
    if [[ $(xdotool getwindowgeometry "$id" 2>/dev/null) == *"Geometry: $WindowSize"* ]]; then
      echo "$id"
      return 0
    fi
  done
  return 1
}

find_window() {
  local deadline=$((SECONDS + 30))
  until win=$(main_window); do
    alive "$app" || { wait "$app"; fail "the program ended (exit code $?) before showing its window"; }
    ((SECONDS < deadline)) || fail "no ${WindowSize} window named like $WindowName within 30 s; visible windows:
$(visible_windows)"
    sleep 0.2
  done
  log "window $win \"$(xdotool getwindowname "$win")\""
}

focus_window() {
  xdotool windowraise "$win" 2>/dev/null
  timeout 10 xdotool windowfocus --sync "$win" || fail "could not give the window the keyboard focus"
  sleep 0.5 # let the program see its activation before the first key
  [[ $(xdotool getwindowfocus) == "$win" ]] || fail "the window lost the focus at once; visible windows:
$(visible_windows)"
}

play_q() {
  parecord --device=nul.monitor --file-format=wav --format=s16le --rate=44100 --channels=1 \
    --latency-msec=20 "$work/q.wav" 2>"$work/parecord.log" &
  local recorder=$!
  pids+=("$recorder")
  sleep 0.7 # silence before the key, and time for the stream to start
  alive "$recorder" || fail "parecord could not record nul.monitor: $(cat "$work/parecord.log")"
  xdotool keydown "$QKeycode" || fail "xdotool keydown failed"
  sleep "$HoldSeconds"
  xdotool keyup "$QKeycode" || fail "xdotool keyup failed"
  sleep "$AfterReleaseSeconds"
  kill -INT "$recorder"
  wait "$recorder"
  [[ -s $work/q.wav ]] || fail "parecord wrote no recording: $(cat "$work/parecord.log")"
}

check_sound() {
  if ! "$checker" "$work/q.wav" "$MiddleCHz" "$PitchTolerance" "$TailSeconds"; then
    cp "$work/q.wav" "$PWD/play_q-failed.wav" 2>/dev/null && log "recording kept as $PWD/play_q-failed.wav"
    fail "pressing Q did not sound middle C that stopped on release"
  fi
}

close_window() {
  [[ $(xdotool getwindowfocus) == "$win" ]] || fail "the window lost the focus while playing; visible windows:
$(visible_windows)"
  xdotool key alt+F4 || fail "xdotool key alt+F4 failed"
  wait_until 15 bash -c "! kill -0 $app" || fail "the program did not end within 15 s of Alt+F4"
  wait "$app"
  local code=$?
  ((code == 0)) || fail "the program ended with exit code $code after Alt+F4"
  log "the program ended with exit code 0"
}

require_tools
isolate
start_x
start_pulse
start_program
find_window
focus_window
play_q
check_sound
close_window
echo "PASS: Q sounded middle C, stopped on release, and Alt+F4 closed the program"
