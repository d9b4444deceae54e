#pragma once
// The arithmetic behind the window's master volume: the 0..127 slider scale against the mixer's
// 0..65535 channel values, the balance kept across a trip through silence, and the mapping of
// mixer values onto the sound server's volume scale. Window-free and server-free.
#include <cstdint>

namespace melo {

inline constexpr int MaxMasterVolume = 127;
// A slider step is 512 mixer units: 127 gives 65024.
inline constexpr int MasterVolumeShift = 9;
// The balance remembered when the right channel was silent: the left one was as loud as it gets.
inline constexpr double SilentRightBalance = 6442450941.0;
// The sound server's 100 % (PA_VOLUME_NORM); the mixer's 65535 stands for it.
inline constexpr std::uint32_t ServerVolumeNorm = 0x10000;

struct TStereoVolume {
  std::uint16_t Left = 0;
  std::uint16_t Right = 0;
  bool operator==(const TStereoVolume&) const = default;
};

// Slider value 0..127 (clamped) as a mixer value 0..65024.
std::uint16_t MixerValueOfMasterVolume(int value);
// The louder channel on the 0..127 scale.
int MasterVolumeOfLine(TStereoVolume line);
// A single mixer value (the fallback's reading) on the 0..127 scale.
int MasterVolumeOfMixerValue(std::uint16_t value);

// Sets the master volume while keeping the balance between the channels: the louder channel gets
// the slider value and the other keeps its proportion. Setting 0 remembers the proportion, so
// raising again from silence restores it. One per window, for the whole run.
class TMasterBalance {
public:
  // The channel values to write for slider value `value` (clamped to 0..127) when the line
  // currently holds `current`.
  TStereoVolume Next(int value, TStereoVolume current);
  double Balance() const { return FBalance; }

private:
  double FBalance = 1.0;
};

// Mixer value 0..65535 onto the server's 0..ServerVolumeNorm, rounded to the nearest.
std::uint32_t ServerVolumeOfMixerValue(std::uint16_t value);
// Server volume back onto 0..65535; anything above 100 % reads as 65535.
std::uint16_t MixerValueOfServerVolume(std::uint32_t volume);

// Device volume in [min, max] (a mixer element's own range) onto 0..65535 and back.
std::uint16_t MixerValueOfRange(long raw, long min, long max);
long RangeOfMixerValue(std::uint16_t value, long min, long max);

} // namespace melo
