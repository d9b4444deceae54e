#!/usr/bin/env bash
# The installed program: `cmake --install` into a temporary prefix, then the program there must
# find its files under share/melotastico (nothing beside it in bin), play a song into a WAV file
# through the installed sound set, start its window offscreen in both languages, and the desktop
# entry, metainfo, file types and icon must pass their validators.
# Usage: installed.sh BUILD_DIR WAV_TONE_CHECK
set -uo pipefail
build=$1
checker=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/melo-installed.XXXXXX")
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
log() { echo "${0##*/}: $*"; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
  fail "cmake --install: $(tail -n 5 "$work/install.log")"
program=$prefix/bin/melotastico
share=$prefix/share/melotastico
app_id=io.github.melotastico.Melotastico
[[ $(ls "$prefix/bin") == melotastico ]] || fail "bin/ holds more than the program: $(ls "$prefix/bin")"

# A private home and settings; no display needed.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config QT_QPA_PLATFORM=offscreen
unset XDG_DATA_DIRS
mkdir -p "$HOME"
# A sanitizer build reports leaks at exit; those of system libraries are not ours.
LSAN_OPTIONS=suppressions=$(dirname "${BASH_SOURCE[0]}")/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}
export LSAN_OPTIONS

"$program" --version | grep -q '^melotastico [0-9]' || fail "--version: $("$program" --version 2>&1)"
paths=$("$program" --paths) || fail "the installed program misses some of its files:
$paths"
for file in msf4.s MelotasticoGlyphs.rcc MelotasticoGlyphs_en.rcc MelotasticoHelp.html \
  MelotasticoHelp_en.html melotastico_en.qm; do
  grep -q ": $share/$file\$" <<<"$paths" || fail "$file is not read from $share:
$paths"
done
log "every file found under $share"

# A version-1 song: velocities 100, Q (middle C) pressed at 0 ms and released at 400 ms.
song=$work/q.lyt
{
  printf 'MelotasticoSong\0\1\0\0\0'
  head -c $((341 - 20)) /dev/zero
  printf '\144\0\0\0\144\0\0\0'
  head -c $((372 - 349)) /dev/zero
  printf '\2\0\0\0'
  printf '\0\0\0\0\0\020\1\0'
  printf '\220\1\0\0\0\020\0\0'
} >"$song"
(($(stat -c %s "$song") == 392)) || fail "the test song came out $(stat -c %s "$song") bytes long"
"$program" --export "$song" "$work/q.wav" || fail "the installed program cannot export a song"
"$checker" "$work/q.wav" 261.63 0.03 0.5 || fail "the exported song does not sound middle C"
log "a song exported through the installed sound set"

# The window in each language, started offscreen and closed again. Its language decides which
# files it reads; a translation it cannot load is reported on standard error.
for lang in zh en; do
  "$program" --lang "$lang" >"$work/window-$lang.log" 2>&1 &
  pid=$!
  pids+=("$pid")
  sleep 3
  kill -0 "$pid" 2>/dev/null || fail "the window (--lang $lang) ended at once: $(cat "$work/window-$lang.log")"
  kill -TERM "$pid"
  wait "$pid" 2>/dev/null
  ! grep -q "cannot be loaded" "$work/window-$lang.log" ||
    fail "--lang $lang: $(cat "$work/window-$lang.log")"
done
log "the window started and closed in Chinese and English"

desktop-file-validate "$prefix/share/applications/$app_id.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$prefix/share/metainfo/$app_id.metainfo.xml" ||
  fail "appstreamcli validate"
# The file types: the database must compile them, and a song must be known by its contents too.
XDG_DATA_DIRS=$prefix/share update-mime-database "$prefix/share/mime" || fail "update-mime-database"
[[ -f $prefix/share/mime/application/x-melotastico-song.xml ]] || fail "no song file type"
grep -q 'application/x-melotastico-song' "$prefix/share/mime/magic" || fail "songs have no magic"
grep -q 'application/x-melotastico-keydef' "$prefix/share/mime/magic" || fail "key definitions have no magic"
grep -q '\*\.fvc' "$prefix/share/mime/globs2" || fail "no file type for *.fvc"
icon=$prefix/share/icons/hicolor/scalable/apps/$app_id.svg
convert "$icon" "$work/icon.png" 2>"$work/icon.log" || fail "the icon does not render: $(cat "$work/icon.log")"
log "desktop entry, metainfo, file types and icon are valid"
