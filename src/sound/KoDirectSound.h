#pragma once
// The audio outputs the software synthesizer can play to: ALSA PCM devices,
// PulseAudio (or PipeWire's PulseAudio interface) and JACK when a server runs.
#include <array>
#include <cstdint>
#include <string>

namespace melo {

struct TKoDS_DevCapsType {
  std::string Name;            // what the user chooses by: "default", "jack", an ALSA device
  std::string Description;     // UTF-8, for lists shown to the user
  std::string Driver = "alsa"; // the synthesizer's audio driver: "alsa", "pulseaudio", "jack"
};

constexpr int MaxDirectSoundDevices = 16;

struct TKoDS_AllDevCapsType {
  std::int32_t Count = 0;
  std::array<TKoDS_DevCapsType, MaxDirectSoundDevices> Devices;
};

// Appends a device unless the list is full; false when it is.
bool AddDevice(TKoDS_AllDevCapsType& list, const TKoDS_DevCapsType& device);

class TKoDirectSound {
public:
  // Lists the output devices at once; the system's default output comes first.
  TKoDirectSound();

  const TKoDS_AllDevCapsType& Devices() const { return FDevices; }
  std::int32_t DeviceIndex() const { return FDeviceIndex; }

  // Chooses device index for the synthesizer's audio output; false for an
  // index outside the list.
  bool SelectDevice(int index);

  // The selected device's name, "default" while none is selected.
  std::string SelectedDeviceName() const;
  // The selected device's audio driver, "alsa" while none is selected.
  std::string SelectedDriver() const;

  // The index of the output named name ("default", "pulse", "jack", an ALSA
  // device). A name the list does not hold is taken as an ALSA device and
  // appended; -1 for an empty name, for "jack" without a JACK server, or
  // when the list is full.
  int FindOrAddDevice(const std::string& name);

private:
  void EnumerateDevices();

  TKoDS_AllDevCapsType FDevices;
  std::int32_t FDeviceIndex = -1;
};

} // namespace melo
