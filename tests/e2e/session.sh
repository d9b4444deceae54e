# shellcheck shell=bash
# A private desktop for driving the real program: an Xvfb display, a PulseAudio daemon with a
# null sink "nul" as the only output, and the program started from its own folder. Nothing here
# touches the user's desktop, audio or settings. Sourced by the end-to-end tests and
# scripts/screenshot; every process started is ended when the sourcing script exits.
#
# After session_open PROGRAM: DISPLAY, PULSE_SERVER, $work (temporary folder, removed at exit
# unless MELO_E2E_KEEP=1), $app (program pid) and $win (its main window) are set.

readonly WindowName='^Melotastico'
readonly WindowSize='621x436'

pids=()
work=
own_display=

log() { echo "${0##*/}: $*"; }

show_log() {
  [[ -n $work && -s $work/$1 ]] || return 0
  echo "---- last lines of $1 ----"
  tail -n 25 "$work/$1"
}

# Where a failure leaves its evidence (recording, screen): the folder the test runs in.
evidence() {
  local name=${0##*/}
  echo "$PWD/${name%.sh}-failed.$1"
}

save_screen() {
  [[ -n $own_display ]] && command -v import >/dev/null || return 0
  import -window root "png:$(evidence png)" 2>/dev/null && echo "screen at the failure: $(evidence png)"
}

fail() {
  echo "FAIL: $*" >&2
  save_screen
  show_log program.log
  show_log pulseaudio.log
  exit 1
}

session_cleanup() {
  local i
  # Newest first, each gone before the next is asked: a server (X, PulseAudio,
  # JACK) outlives its clients. A JACK server ended under its clients' feet may
  # die without giving back its slot in the system's registry.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null
    # A process that ignores the request gets five seconds, then is killed.
    wait_until 5 dead "${pids[i]}" || kill -KILL "${pids[i]}" 2>/dev/null
    wait "${pids[i]}" 2>/dev/null
  done
  if [[ -z $work ]]; then
    return
  elif [[ ${MELO_E2E_KEEP:-0} == 1 ]]; then
    log "kept $work"
  else
    rm -rf "$work"
  fi
}

# paths_from_arguments USAGE NAME... -- ARGUMENT...: stores the test's leading arguments in the
# variables NAME... as absolute paths, the program first, then the helper programs the test runs.
# A missing one prints USAGE and ends the test with 1; a program not built yet skips it (77).
paths_from_arguments() {
  local usage=$1 names=() name
  shift
  while [[ $1 != -- ]]; do
    names+=("$1")
    shift
  done
  shift
  for name in "${names[@]}"; do
    [[ -n ${1:-} ]] || { echo "usage: ${0##*/} $usage" >&2; exit 1; }
    printf -v "$name" '%s' "$1"
    shift
  done
  if [[ ! -e ${!names[0]} ]]; then
    echo "SKIP: ${!names[0]} has not been built"
    exit 77
  fi
  for name in "${names[@]}"; do
    printf -v "$name" '%s' "$(realpath "${!name}")"
  done
}

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
dead() { ! kill -0 "$1" 2>/dev/null; }

require_tools() {
  local tool missing=()
  for tool in Xvfb xdotool xdpyinfo pulseaudio pactl "$@"; do
    command -v "$tool" >/dev/null || missing+=("$tool")
  done
  ((${#missing[@]} == 0)) || fail "missing tools: ${missing[*]} (install the packages of scripts/packages.txt)"
}

isolate() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/melo-e2e.XXXXXX")
  trap session_cleanup EXIT
  export HOME=$work/home
  export XDG_RUNTIME_DIR=$work/run
  export XDG_CONFIG_HOME=$HOME/.config
  export PULSE_SERVER=unix:$XDG_RUNTIME_DIR/pulse/native
  export QT_QPA_PLATFORM=xcb
  # The checks read the program's texts as written, in Chinese, whatever the tester's locale.
  export LANG=C.UTF-8
  unset LC_ALL LC_MESSAGES LANGUAGE
  # A sanitizer build reports leaks at exit; those of system libraries are not ours.
  LSAN_OPTIONS=suppressions=$(dirname "${BASH_SOURCE[0]}")/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}
  export LSAN_OPTIONS
  unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER XAUTHORITY
  mkdir -p "$HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
  # The program writes songs, journals and kept recordings beside the file "NewFile" of the user's
  # data folder when there is one, and in its own folder (the build folder, shared by every test)
  # otherwise: each test gets a data folder of its own, and $song is where quick save writes.
  data=$XDG_CONFIG_HOME/Melotastico
  song=$data/NewFile
  mkdir -p "$data" && : >"$song"
}

start_x() {
  # Xvfb picks a free display itself and writes its number once it accepts clients.
  # -noreset: a test that starts the program twice must not meet the reset after the first.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  wait_until 15 test -s "$work/display" || fail "Xvfb did not start: $(tail -n 5 "$work/xvfb.log")"
  DISPLAY=:$(head -n 1 "$work/display")
  export DISPLAY
  own_display=1
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

# The same null sink "nul" on $PULSE_SERVER as start_pulse, served by PipeWire's pipewire-pulse.
# WirePlumber, which links the streams and keeps the default sink, ends at once without a
# session bus: the session gets one of its own. ALSA's "default" needs nothing more: the pulse
# plugin's hook (99-pulse.conf of the pulseaudio package) finds the server through PULSE_SERVER.
start_pipewire() {
  local bus
  mapfile -t bus < <(dbus-daemon --session --fork --print-address=1 --print-pid=1 \
    --address="unix:path=$XDG_RUNTIME_DIR/bus" 2>"$work/dbus.log")
  ((${#bus[@]} == 2)) || fail "no session bus: $(tail -n 5 "$work/dbus.log")"
  export DBUS_SESSION_BUS_ADDRESS=${bus[0]}
  pids+=("${bus[1]}")
  pipewire >"$work/pipewire.log" 2>&1 &
  pids+=($!)
  # WirePlumber and pipewire-pulse give up when PipeWire is not there yet.
  wait_until 15 test -S "$XDG_RUNTIME_DIR/pipewire-0" ||
    fail "PipeWire did not start: $(tail -n 5 "$work/pipewire.log")"
  wireplumber >"$work/wireplumber.log" 2>&1 &
  pids+=($!)
  # Mixed down to the recordings' one channel, a stereo stream comes out 3 dB louder than
  # through PulseAudio, which takes the mean of the channels; normalized, it does too.
  mkdir -p "$XDG_CONFIG_HOME/pipewire/pipewire-pulse.conf.d"
  echo 'stream.properties = { channelmix.normalize = true }' >"$XDG_CONFIG_HOME/pipewire/pipewire-pulse.conf.d/levels.conf"
  pipewire-pulse >"$work/pipewire-pulse.log" 2>&1 &
  pids+=($!)
  wait_until 15 pactl info || fail "pipewire-pulse does not answer on $PULSE_SERVER: $(tail -n 5 "$work/pipewire-pulse.log")"
  pactl load-module module-null-sink sink_name=nul >/dev/null || fail "pipewire-pulse cannot load a null sink"
  # The default sink is WirePlumber's to keep: refused until it is up.
  wait_until 15 pactl set-default-sink nul ||
    fail "cannot make the null sink the default output: $(tail -n 5 "$work/wireplumber.log")"
  log "PipeWire with null sink 'nul' on $PULSE_SERVER"
}

# start_program PROGRAM [ARGUMENT...]
start_program() {
  (cd "$(dirname "$1")" && exec "$@") >>"$work/program.log" 2>&1 &
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
  local deadline=$((SECONDS + 60))
  until win=$(main_window); do
    alive "$app" || { wait "$app"; fail "the program ended (exit code $?) before showing its window"; }
    ((SECONDS < deadline)) || fail "no ${WindowSize} window named like $WindowName within 60 s; visible windows:
$(visible_windows)"
    sleep 0.2
  done
  log "window $win \"$(xdotool getwindowname "$win")\""
}

focus_window() {
  xdotool windowraise "$win" 2>/dev/null
  timeout 10 xdotool windowfocus --sync "$win" || fail "could not give the window the keyboard focus"
  sleep 0.5 # let the program see its activation before the first key
  has_focus || fail "the window lost the focus at once; visible windows:
$(visible_windows)"
}

has_focus() { [[ $(xdotool getwindowfocus 2>/dev/null) == "$win" ]]; }

# The start sets the master volume to 50; the sink goes back to 100 % so that levels are clear.
sink_at_start_volume() { [[ $(pactl get-sink-volume nul) == *"front-left: 25600 /"* ]]; }
full_volume() {
  wait_until 10 sink_at_start_volume || log "the start volume was not seen; the sink is set anyway"
  pactl set-sink-volume nul 100% || fail "cannot set the sink to 100 %"
}

recorder=
# start_recording NAME [LATENCY_MS]: records the null sink's monitor into $work/NAME.wav, asking
# for LATENCY_MS (20 when not given; an empty one leaves the recorder's own default, which holds
# the sink at seconds of latency); returns once sound flows (a busy machine may take a second or
# more to start the stream) and some silence is kept. $recorder is the recording's pid.
start_recording() {
  local file=$work/$1.wav latency=()
  [[ -n ${2-20} ]] && latency=(--latency-msec="${2-20}")
  parecord --device=nul.monitor --file-format=wav --format=s16le --rate=44100 --channels=1 \
    ${latency[@]+"${latency[@]}"} "$file" 2>"$work/parecord-$1.log" &
  recorder=$!
  pids+=("$recorder")
  wait_until 20 recording_started "$file" ||
    fail "parecord does not record nul.monitor: $(cat "$work/parecord-$1.log")"
  sleep 0.3 # some silence before the key
}
recording_started() { (($(stat -c %s "$1" 2>/dev/null || echo 0) > 20000)); }
# stop_recording PID
stop_recording() {
  kill -INT "$1"
  wait "$1"
}

# session_open PROGRAM: the whole set-up, up to the program's focused main window.
session_open() {
  isolate
  start_x
  start_pulse
  start_program "$1"
  find_window
  focus_window
}
