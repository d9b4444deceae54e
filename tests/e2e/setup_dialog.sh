#!/usr/bin/env bash
# The settings dialog in the running program, through a real X server (Xvfb): a click on the
# Setup button opens the window named "设置"; Escape closes it and the settings file stays
# byte for byte as it was; opened again and confirmed with Enter, the file holds the four
# lines of the settings on show (the latency of 5 in the file shown, and saved, as 10).
#
# Usage: setup_dialog.sh PROGRAM
# Exit codes: 0 passed, 1 failed, 77 skipped (PROGRAM not built).
set -uo pipefail

readonly SetupButtonX=342 SetupButtonY=23 # middle of the fifth button of the bar
readonly DialogName='^设置$'

# shellcheck source=session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
paths_from_arguments "PROGRAM" program -- "$@"

dialog() { xdotool search --all --onlyvisible --pid "$app" --name "$DialogName" 2>/dev/null | head -n 1; }
dialog_shown() { [[ -n $(dialog) ]]; }
dialog_gone() { [[ -z $(dialog) ]]; }

open_setup() {
  has_focus || focus_window
  xdotool mousemove --window "$win" "$SetupButtonX" "$SetupButtonY" click 1 ||
    fail "xdotool could not click the Setup button"
  wait_until 20 dialog_shown || fail "no window named 设置 within 20 s of the click; visible windows:
$(visible_windows)"
  local dlg
  dlg=$(dialog)
  timeout 10 xdotool windowfocus --sync "$dlg" || fail "could not give the settings dialog the focus"
  sleep 0.3
  log "settings dialog $dlg open"
}

close_with() {
  xdotool key "$1" || fail "xdotool key $1 failed"
  wait_until 10 dialog_gone || fail "$1 did not close the settings dialog"
  alive "$app" || fail "the program ended after $1 in the settings dialog"
}

require_tools cmp
isolate
# The user's copy of the settings: the program reads and writes it there, nowhere else.
settings=$XDG_CONFIG_HOME/Melotastico/Melotastico4.cfg
mkdir -p "$(dirname "$settings")"
printf '5\n2\n0\n\n' >"$settings"
cp "$settings" "$work/before.cfg"
start_x
start_pulse
start_program "$program"
find_window
focus_window

open_setup
close_with Escape
cmp -s "$settings" "$work/before.cfg" || fail "Escape changed the settings file: $(od -c "$settings" | head -n 3)"
log "Escape left the settings file as it was"

open_setup
printf '10\r\n2\r\n0\r\n\r\n' >"$work/expected.cfg"
written() { cmp -s "$settings" "$work/expected.cfg"; }
close_with Return
# The dialog is gone before the window has applied and stored what it returned.
wait_until 10 written ||
  fail "Enter wrote $(od -c "$settings" | head -n 3) instead of the four lines 10, 2, 0 and an empty name"
echo "PASS: Escape kept the settings file, Enter wrote the four lines of the settings on show"
