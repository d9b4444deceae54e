#pragma once
// The audio outputs the software synthesizer can play to (ALSA PCM devices).
#include <array>
#include <cstdint>
#include <string>

namespace melo {

struct TKoDS_DevCapsType {
  std::string Name;        // the ALSA device name handed to the audio driver
  std::string Description; // UTF-8, for lists shown to the user
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

  // Chooses device Index for the synthesizer's audio output; false for an
  // index outside the list.
  bool SelectDevice(int Index);

  // The selected device's name, "default" while none is selected.
  std::string SelectedDeviceName() const;

private:
  void EnumerateDevices();

  TKoDS_AllDevCapsType FDevices;
  std::int32_t FDeviceIndex = -1;
};

} // namespace melo
