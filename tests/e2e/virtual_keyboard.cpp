// virtual_keyboard
// A keyboard for the end-to-end tests under a Wayland compositor, through the virtual-keyboard
// protocol (zwp_virtual_keyboard_v1): it uploads the standard evdev keymap (default rules, layout
// "us") and sends evdev key codes, as a physical keyboard would. Commands on its standard input,
// one a line, each answered by one line "ok" or "error ..." once the compositor has taken it:
//   down CODE    presses the key of evdev code CODE (Q is 16)
//   up CODE      releases it
// The modifiers the keymap derives from the keys held go along with every key.
// Connects to WAYLAND_DISPLAY; exits at the end of its input.
#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

namespace {

template <typename T, void (*Free)(T*)> struct TFree {
  void operator()(T* p) const { Free(p); }
};
template <typename T, void (*Free)(T*)> using TOwned = std::unique_ptr<T, TFree<T, Free>>;

struct TGlobals {
  TOwned<wl_seat, wl_seat_destroy> Seat;
  TOwned<zwp_virtual_keyboard_manager_v1, zwp_virtual_keyboard_manager_v1_destroy> Manager;
};

void OnGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
  auto* globals = static_cast<TGlobals*>(data);
  if (std::strcmp(interface, wl_seat_interface.name) == 0 && !globals->Seat) {
    globals->Seat.reset(
        static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1)));
  } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
    globals->Manager.reset(static_cast<zwp_virtual_keyboard_manager_v1*>(
        wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1)));
  }
}

void OnGlobalRemove(void*, wl_registry*, uint32_t) {}

constexpr wl_registry_listener RegistryListener{OnGlobal, OnGlobalRemove};

uint32_t NowMs() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void FreeText(char* text) {
  std::free(text);
}

// Hands the keymap's text to the compositor in a memory file, with its closing NUL.
bool UploadKeymap(zwp_virtual_keyboard_v1* keyboard, xkb_keymap* keymap) {
  const TOwned<char, FreeText> text(xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1));
  if (!text)
    return false;
  const std::size_t size = std::strlen(text.get()) + 1;
  const int fd = memfd_create("keymap", MFD_CLOEXEC);
  if (fd < 0)
    return false;
  const bool written = write(fd, text.get(), size) == static_cast<ssize_t>(size);
  if (written) {
    zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                   static_cast<uint32_t>(size));
  }
  close(fd); // the request carries its own copy
  return written;
}

class TKeyboard {
public:
  TKeyboard(wl_display* display, zwp_virtual_keyboard_v1* keyboard, xkb_keymap* keymap)
      : FDisplay(display), FKeyboard(keyboard), FState(xkb_state_new(keymap)) {}

  bool Key(uint32_t code, bool down) {
    zwp_virtual_keyboard_v1_key(FKeyboard, NowMs(), code,
                                down ? WL_KEYBOARD_KEY_STATE_PRESSED
                                     : WL_KEYBOARD_KEY_STATE_RELEASED);
    // xkb numbers keys as X does: the evdev code plus 8.
    const auto changed =
        xkb_state_update_key(FState.get(), code + 8, down ? XKB_KEY_DOWN : XKB_KEY_UP);
    if ((changed & (XKB_STATE_MODS_EFFECTIVE | XKB_STATE_LAYOUT_EFFECTIVE)) != 0) {
      zwp_virtual_keyboard_v1_modifiers(
          FKeyboard, xkb_state_serialize_mods(FState.get(), XKB_STATE_MODS_DEPRESSED),
          xkb_state_serialize_mods(FState.get(), XKB_STATE_MODS_LATCHED),
          xkb_state_serialize_mods(FState.get(), XKB_STATE_MODS_LOCKED),
          xkb_state_serialize_layout(FState.get(), XKB_STATE_LAYOUT_EFFECTIVE));
    }
    return wl_display_roundtrip(FDisplay) >= 0;
  }

private:
  wl_display* FDisplay;
  zwp_virtual_keyboard_v1* FKeyboard;
  TOwned<xkb_state, xkb_state_unref> FState;
};

std::string Execute(TKeyboard& keyboard, const std::string& line) {
  std::istringstream words(line);
  std::string command;
  uint32_t code = 0;
  if (!(words >> command >> code) || (command != "down" && command != "up"))
    return "error: expected \"down CODE\" or \"up CODE\"";
  return keyboard.Key(code, command == "down") ? "ok" : "error: the compositor went away";
}

int Fail(const char* what) {
  std::cerr << "virtual_keyboard: " << what << '\n';
  return 1;
}

} // namespace

int main() {
  const TOwned<wl_display, wl_display_disconnect> display(wl_display_connect(nullptr));
  if (!display)
    return Fail("cannot connect to the Wayland display");
  const TOwned<wl_registry, wl_registry_destroy> registry(wl_display_get_registry(display.get()));
  TGlobals globals;
  wl_registry_add_listener(registry.get(), &RegistryListener, &globals);
  wl_display_roundtrip(display.get());
  if (!globals.Seat || !globals.Manager)
    return Fail("the compositor offers no seat or no zwp_virtual_keyboard_manager_v1");

  const TOwned<xkb_context, xkb_context_unref> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
  const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
  const TOwned<xkb_keymap, xkb_keymap_unref> keymap(
      context ? xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS)
              : nullptr);
  if (!keymap)
    return Fail("cannot compile the evdev keymap");
  const TOwned<zwp_virtual_keyboard_v1, zwp_virtual_keyboard_v1_destroy> device(
      zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(globals.Manager.get(),
                                                              globals.Seat.get()));
  if (!UploadKeymap(device.get(), keymap.get()))
    return Fail("cannot hand the keymap over");

  TKeyboard keyboard(display.get(), device.get(), keymap.get());
  std::string line;
  while (std::getline(std::cin, line))
    std::cout << Execute(keyboard, line) << std::endl;
  return 0;
}
