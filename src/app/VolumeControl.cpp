#include "app/VolumeControl.h"

#include "controls/KoSlider.h"
#include "sound/KoDirectMusic.h"
#include "sound/MyVolume.h"

#include <utility>

namespace melo {

TVolumeControl::TVolumeControl(TKoSlider& slider) : FSlider(slider) {
  FSlider.OnChange = [this](TKoSlider*) { SliderChange(); };
  FSlider.OnDblClick = [this](TKoSlider*) { SliderDblClick(); };
}

void TVolumeControl::Connect() {
  // Without a sound server the ALSA mixer serves the master volume.
  FMixer.reset();
  FMixer = TAudio::Create();
  if (!FMixer)
    return;
  FMixer->OnMixerChange = [this](TAudio* sender, std::uint16_t, std::uint16_t) {
    SyncSlider(sender);
  };
  FMixer->OnMixerMessage = [this] { MixerControlChange(); };
  SyncSlider(this);
}

bool TVolumeControl::CanSetMasterVolume() const {
  return FMixer || MixerLineHasVolume(MasterLine);
}

int TVolumeControl::GetMasterVolume() {
  if (!FMixer)
    return MasterVolumeOfMixerValue(GetMixerVolume(MasterLine));
  bool muted = false;
  std::uint16_t left = 0, right = 0;
  if (!FMixer->Mixer().GetLineVolume(0, 0, muted, right, left))
    return 0;
  return MasterVolumeOfLine({left, right});
}

void TVolumeControl::SetMasterVolume(int value) {
  const std::uint16_t mixerValue = MixerValueOfMasterVolume(value);
  if (!FMixer) {
    SetMixerVolume(MasterLine, mixerValue);
    ShowPosition(mixerValue >> MasterVolumeShift);
    return;
  }
  bool muted = false;
  std::uint16_t left = 0, right = 0;
  // A line that cannot be read is not written from made-up values.
  if (!FMixer->Mixer().GetLineVolume(0, 0, muted, right, left))
    return;
  const TStereoVolume next = FBalance.Next(value, {left, right});
  FMixer->Mixer().SetLineVolume(0, 0, muted, next.Right, next.Left);
}

// The slider shows master volumes only in master mode: in synthesizer mode its range is another.
// Showing a value never runs the slider's change handler.
void TVolumeControl::ShowPosition(int position) {
  if (FSynthVolumeMode)
    return;
  const bool detached = std::exchange(FSliderDetached, true);
  FSlider.SetPosition(position);
  FSliderDetached = detached;
}

void TVolumeControl::SyncSlider(const void* sender) {
  if (FMixer && sender == FMixer.get())
    return;
  ShowPosition(GetMasterVolume());
}

void TVolumeControl::MixerControlChange() {
  ShowPosition(GetMasterVolume());
}

void TVolumeControl::SliderChange() {
  if (FSliderDetached)
    return;
  if (!FSynthVolumeMode) {
    SetMasterVolume(FSlider.Position());
    return;
  }
  FSynthVolume = FSlider.Position();
  // False only without a synthesizer port; the value is kept for the next one.
  if (FEngine)
    static_cast<void>(FEngine->SetVolume(FSynthVolume));
}

void TVolumeControl::SliderDblClick() {
  FSynthVolumeMode = !FSynthVolumeMode;
  const bool detached = std::exchange(FSliderDetached, true);
  if (FSynthVolumeMode) {
    FSlider.SetRange(MinSynthVolume, MaxSynthVolume);
    FSlider.SetPosition(FSynthVolume);
  } else {
    FSlider.SetRange(0, MaxMasterVolume);
    FSlider.SetPosition(GetMasterVolume());
  }
  FSliderDetached = detached;
}

void TVolumeControl::ResetSynthVolume() {
  FSynthVolume = 0;
  // False only without a synthesizer port, where there is no gain to set.
  if (FEngine)
    static_cast<void>(FEngine->SetVolume(0));
}

} // namespace melo
