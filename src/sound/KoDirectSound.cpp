#include "sound/KoDirectSound.h"

#include <alsa/asoundlib.h>

#include <cstdlib>
#include <string_view>

namespace melo {
namespace {

constexpr std::string_view DefaultDevice = "default";

std::string TakeHint(void* hint, const char* id) {
  char* value = snd_device_name_get_hint(hint, id);
  if (value == nullptr) {
    return {};
  }
  std::string text(value);
  std::free(value);
  return text;
}

// The first line of a hint's description is the device's name proper.
std::string FirstLine(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

// The sound servers and each card's own default; the many plug-in and
// per-channel-layout entries ALSA also lists are no outputs to choose from.
bool IsOutputDevice(std::string_view name) {
  return name == "pulse" || name == "pipewire" || name == "jack" ||
         name.starts_with("sysdefault:") || name.starts_with("default:");
}

} // namespace

bool AddDevice(TKoDS_AllDevCapsType& list, const TKoDS_DevCapsType& device) {
  if (list.Count >= MaxDirectSoundDevices) {
    return false;
  }
  list.Devices[static_cast<std::size_t>(list.Count++)] = device;
  return true;
}

TKoDirectSound::TKoDirectSound() {
  EnumerateDevices();
}

void TKoDirectSound::EnumerateDevices() {
  AddDevice(FDevices, {std::string(DefaultDevice), "Default audio output"});
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) < 0) {
    return;
  }
  for (void** hint = hints; *hint != nullptr; ++hint) {
    const std::string name = TakeHint(*hint, "NAME");
    const std::string direction = TakeHint(*hint, "IOID");
    if (!IsOutputDevice(name) || direction == "Input") {
      continue;
    }
    if (!AddDevice(FDevices, {name, FirstLine(TakeHint(*hint, "DESC"))})) {
      break;
    }
  }
  snd_device_name_free_hint(hints);
}

bool TKoDirectSound::SelectDevice(int Index) {
  if (Index < 0 || Index >= FDevices.Count) {
    return false;
  }
  FDeviceIndex = Index;
  return true;
}

std::string TKoDirectSound::SelectedDeviceName() const {
  if (FDeviceIndex < 0) {
    return std::string(DefaultDevice);
  }
  return FDevices.Devices[static_cast<std::size_t>(FDeviceIndex)].Name;
}

} // namespace melo
