#include "sound/MyVolume.h"

#include <alsa/asoundlib.h>

#include <array>
#include <mutex>

#include "platform/GlobalState.h"
#include "sound/MasterVolume.h"

namespace melo {

std::string MixerDeviceName = "default";

namespace {

std::mutex HandlerLock;
TMixerMessageHandler MessageHandler;

// Put back after each test (platform/GlobalState.h).
[[maybe_unused]] const bool NameRegistered = RegisterGlobalVariable(MixerDeviceName);
[[maybe_unused]] const bool HandlerRegistered = RegisterGlobalState([] {
  TMixerMessageHandler saved;
  {
    std::lock_guard lock(HandlerLock);
    saved = MessageHandler;
  }
  return TGlobalRestore([saved] { SetMixerMessageHandler(saved); });
});

void ShowMessage(const char* text) {
  TMixerMessageHandler handler;
  {
    std::lock_guard lock(HandlerLock);
    handler = MessageHandler;
  }
  if (handler)
    handler(text);
}

// The element names that stand for each line, in order of preference.
constexpr std::array<std::array<const char*, 4>, 4> LineElements = {{
    {"Master", "Speaker", "Headphone", "PCM"},
    {"Synth", "PCM", nullptr, nullptr},
    {"PCM", nullptr, nullptr, nullptr},
    {"CD", nullptr, nullptr, nullptr},
}};

// The mixer stays open for one call.
class TMixer {
public:
  TMixer() {
    if (snd_mixer_open(&FHandle, 0) < 0) {
      FHandle = nullptr;
      return;
    }
    if (snd_mixer_attach(FHandle, MixerDeviceName.c_str()) < 0 ||
        snd_mixer_selem_register(FHandle, nullptr, nullptr) < 0 || snd_mixer_load(FHandle) < 0) {
      snd_mixer_close(FHandle);
      FHandle = nullptr;
    }
  }
  ~TMixer() {
    if (FHandle)
      snd_mixer_close(FHandle);
  }
  TMixer(const TMixer&) = delete;
  TMixer& operator=(const TMixer&) = delete;

  snd_mixer_elem_t* Find(std::uint8_t line) const {
    if (!FHandle || line >= LineElements.size())
      return nullptr;
    for (const char* name : LineElements[line]) {
      if (!name)
        break;
      snd_mixer_selem_id_t* id = nullptr;
      snd_mixer_selem_id_alloca(&id);
      snd_mixer_selem_id_set_index(id, 0);
      snd_mixer_selem_id_set_name(id, name);
      if (snd_mixer_elem_t* elem = snd_mixer_find_selem(FHandle, id))
        return elem;
    }
    return nullptr;
  }

private:
  snd_mixer_t* FHandle = nullptr;
};

} // namespace

void SetMixerMessageHandler(TMixerMessageHandler handler) {
  std::lock_guard lock(HandlerLock);
  MessageHandler = std::move(handler);
}

bool MixerLineHasVolume(std::uint8_t line) {
  TMixer mixer;
  snd_mixer_elem_t* elem = mixer.Find(line);
  return elem && snd_mixer_selem_has_playback_volume(elem);
}

std::uint16_t GetMixerVolume(std::uint8_t line) {
  TMixer mixer;
  snd_mixer_elem_t* elem = mixer.Find(line);
  if (!elem)
    return 0;
  long min = 0, max = 0;
  if (!snd_mixer_selem_has_playback_volume(elem) ||
      snd_mixer_selem_get_playback_volume_range(elem, &min, &max) < 0) {
    ShowMessage("etLineInfo Error");
    return 0;
  }
  // All channels read as one: the louder.
  long loudest = min;
  bool read = false;
  for (int c = 0; c <= SND_MIXER_SCHN_LAST; ++c) {
    const auto channel = static_cast<snd_mixer_selem_channel_id_t>(c);
    long value = 0;
    if (!snd_mixer_selem_has_playback_channel(elem, channel) ||
        snd_mixer_selem_get_playback_volume(elem, channel, &value) < 0)
      continue;
    loudest = read ? std::max(loudest, value) : value;
    read = true;
  }
  if (!read) {
    ShowMessage("GetControlDetails Error");
    return 0;
  }
  return MixerValueOfRange(loudest, min, max);
}

void SetMixerVolume(std::uint8_t line, std::uint16_t value) {
  TMixer mixer;
  snd_mixer_elem_t* elem = mixer.Find(line);
  if (!elem)
    return;
  long min = 0, max = 0;
  if (!snd_mixer_selem_has_playback_volume(elem) ||
      snd_mixer_selem_get_playback_volume_range(elem, &min, &max) < 0) {
    ShowMessage("GetLineInfo Error");
    return;
  }
  if (snd_mixer_selem_set_playback_volume_all(elem, RangeOfMixerValue(value, min, max)) < 0)
    ShowMessage("SetControlDetails Error");
}

} // namespace melo
