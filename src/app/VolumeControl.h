#pragma once
// The window's volume slider. It shows and sets the desktop's master volume
// on 0..127: the sound server's default sink (through TAudio's mixer, whose
// changes it follows) or, without a server, the ALSA mixer's master line. A
// double click turns it into the synthesizer's own gain in hundredths of a dB
// and back. UI thread only.
#include "sound/Audio.h"
#include "sound/MasterVolume.h"

#include <memory>

namespace melo {

class TKoDirectMusic;
class TKoSlider;

class TVolumeControl {
public:
  // The slider's range in synthesizer mode: hundredths of a decibel.
  static constexpr int MinSynthVolume = -2000;
  static constexpr int MaxSynthVolume = 2000;

  explicit TVolumeControl(TKoSlider& slider);
  TVolumeControl(const TVolumeControl&) = delete;
  TVolumeControl& operator=(const TVolumeControl&) = delete;

  // The synthesizer the gain goes to (null: the value waits for one).
  void SetEngine(TKoDirectMusic* engine) { FEngine = engine; }

  // Connects to the sound server's mixer anew (at start and when the server
  // is back) and shows its volume; Disconnect drops the connection.
  void Connect();
  void Disconnect() { FMixer.reset(); }
  // The sound server's mixer, null without a server.
  TAudio* Mixer() const { return FMixer.get(); }
  // Whether the server or the ALSA mixer can set the master volume.
  bool CanSetMasterVolume() const;

  int GetMasterVolume();
  void SetMasterVolume(int value);
  // Shows the master volume again, unless sender (the mixer) is the one
  // whose change this answers.
  void SyncSlider(const void* sender);
  // The mixer's controls changed.
  void MixerControlChange();

  // The slider moved or was double-clicked.
  void SliderChange();
  void SliderDblClick();

  bool SynthVolumeMode() const { return FSynthVolumeMode; }
  int SynthVolume() const { return FSynthVolume; }
  // The synthesizer's gain back to 0 dB (the start of every run).
  void ResetSynthVolume();

private:
  void ShowPosition(int position);

  TKoSlider& FSlider;
  TKoDirectMusic* FEngine = nullptr;
  std::unique_ptr<TAudio> FMixer;
  TMasterBalance FBalance;
  bool FSynthVolumeMode = false;
  bool FSliderDetached = false; // the slider's change handler is detached while a value is shown
  int FSynthVolume = 0;
};

} // namespace melo
