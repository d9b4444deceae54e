#include "sound/KoDirectSound.h"

#include "sound/JackPorts.h"

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

// PipeWire and each card's own default; the many plug-in and
// per-channel-layout entries ALSA also lists are no outputs to choose from.
// PulseAudio and JACK are played through the synthesizer's own drivers.
bool IsOutputDevice(std::string_view name) {
  return name == "pipewire" || name.starts_with("sysdefault:") || name.starts_with("default:");
}

const TKoDS_DevCapsType PulseDevice{"pulse", "PulseAudio", "pulseaudio"};
const TKoDS_DevCapsType JackDevice{"jack", "JACK", "jack"};

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
  AddDevice(FDevices, {std::string(DefaultDevice), "Default audio output", "alsa"});
  if (JackServerRunning()) {
    AddDevice(FDevices, JackDevice);
  }
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) < 0) {
    return;
  }
  for (void** hint = hints; *hint != nullptr; ++hint) {
    const std::string name = TakeHint(*hint, "NAME");
    const std::string direction = TakeHint(*hint, "IOID");
    if (direction == "Input") {
      continue;
    }
    if (name == PulseDevice.Name) {
      AddDevice(FDevices, PulseDevice);
      continue;
    }
    if (!IsOutputDevice(name)) {
      continue;
    }
    if (!AddDevice(FDevices, {name, FirstLine(TakeHint(*hint, "DESC")), "alsa"})) {
      break;
    }
  }
  snd_device_name_free_hint(hints);
}

bool TKoDirectSound::SelectDevice(int index) {
  if (index < 0 || index >= FDevices.Count) {
    return false;
  }
  FDeviceIndex = index;
  return true;
}

std::string TKoDirectSound::SelectedDeviceName() const {
  if (FDeviceIndex < 0) {
    return std::string(DefaultDevice);
  }
  return FDevices.Devices[static_cast<std::size_t>(FDeviceIndex)].Name;
}

std::string TKoDirectSound::SelectedDriver() const {
  if (FDeviceIndex < 0) {
    return "alsa";
  }
  return FDevices.Devices[static_cast<std::size_t>(FDeviceIndex)].Driver;
}

int TKoDirectSound::FindOrAddDevice(const std::string& name) {
  if (name.empty()) {
    return -1;
  }
  for (int i = 0; i < FDevices.Count; ++i) {
    if (FDevices.Devices[static_cast<std::size_t>(i)].Name == name) {
      return i;
    }
  }
  const TKoDS_DevCapsType device =
      name == PulseDevice.Name ? PulseDevice : TKoDS_DevCapsType{name, name, "alsa"};
  if (name == JackDevice.Name || !AddDevice(FDevices, device)) {
    return -1;
  }
  return FDevices.Count - 1;
}

} // namespace melo
