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

// Far more than any real chain of slaves; a definition that names itself ends here.
constexpr int MaxSlaveDepth = 8;

bool PcmFeedsJack(snd_config_t* root, snd_config_t* pcm, int depth);

bool NamedPcmFeedsJack(snd_config_t* root, const char* name, int depth) {
  snd_config_t* pcm = nullptr;
  if (depth > MaxSlaveDepth || snd_config_search_definition(root, "pcm", name, &pcm) < 0)
    return false;
  const bool jack = PcmFeedsJack(root, pcm, depth);
  snd_config_delete(pcm);
  return jack;
}

bool PcmFeedsJack(snd_config_t* root, snd_config_t* pcm, int depth) {
  snd_config_t* node = nullptr;
  const char* text = nullptr;
  if (snd_config_search(pcm, "type", &node) >= 0 && snd_config_get_string(node, &text) >= 0 &&
      std::string_view(text) == "jack")
    return true;
  for (const char* key : {"slave.pcm", "playback.pcm"}) {
    if (snd_config_search(pcm, key, &node) < 0)
      continue;
    if (snd_config_get_string(node, &text) >= 0)
      return NamedPcmFeedsJack(root, text, depth + 1);
    return snd_config_get_type(node) == SND_CONFIG_TYPE_COMPOUND && depth < MaxSlaveDepth &&
           PcmFeedsJack(root, node, depth + 1);
  }
  return false;
}

// The configuration read from text; null when it does not parse.
snd_config_t* ConfigOfText(const std::string& text) {
  snd_config_t* root = nullptr;
  snd_input_t* input = nullptr;
  if (snd_config_top(&root) < 0)
    return nullptr;
  if (snd_input_buffer_open(&input, text.data(), static_cast<ssize_t>(text.size())) < 0 ||
      snd_config_load(root, input) < 0) {
    if (input != nullptr)
      snd_input_close(input);
    snd_config_delete(root);
    return nullptr;
  }
  snd_input_close(input);
  return root;
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

bool AlsaDeviceFeedsJack(const std::string& name, const std::string* configText) {
  const char* device = name.empty() ? DefaultDevice.data() : name.c_str();
  if (configText != nullptr) {
    snd_config_t* root = ConfigOfText(*configText);
    const bool jack = root != nullptr && NamedPcmFeedsJack(root, device, 0);
    if (root != nullptr)
      snd_config_delete(root);
    return jack;
  }
  snd_config_t* root = nullptr;
  if (snd_config_update_ref(&root) < 0)
    return false;
  const bool jack = NamedPcmFeedsJack(root, device, 0);
  snd_config_unref(root);
  return jack;
}

} // namespace melo
