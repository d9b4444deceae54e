#include "sound/MasterVolume.h"

#include <algorithm>
#include <cmath>

namespace melo {

namespace {

constexpr std::uint32_t MixerMax = 65535;

// Ties go to the even neighbour, as the balance restore asks.
std::uint16_t RoundToMixer(double value) {
  const double rounded = std::nearbyint(value);
  return static_cast<std::uint16_t>(std::clamp(rounded, 0.0, static_cast<double>(MixerMax)));
}

} // namespace

std::uint16_t MixerValueOfMasterVolume(int value) {
  return static_cast<std::uint16_t>(std::clamp(value, 0, MaxMasterVolume) << MasterVolumeShift);
}

int MasterVolumeOfLine(TStereoVolume line) {
  return std::max(line.Left, line.Right) >> MasterVolumeShift;
}

int MasterVolumeOfMixerValue(std::uint16_t value) {
  return (value >> MasterVolumeShift) & 0x7F;
}

TStereoVolume TMasterBalance::Next(int value, TStereoVolume current) {
  const std::uint64_t v = MixerValueOfMasterVolume(value);
  const std::uint64_t l = current.Left;
  const std::uint64_t r = current.Right;
  if (v == 0 && (l != 0 || r != 0))
    FBalance = r != 0 ? static_cast<double>(l) / static_cast<double>(r) : SilentRightBalance;
  if (l != 0 || r != 0 || v == 0) {
    if (l == r)
      return {static_cast<std::uint16_t>(v), static_cast<std::uint16_t>(v)};
    if (r > l)
      return {static_cast<std::uint16_t>(l * v / r), static_cast<std::uint16_t>(v)};
    return {static_cast<std::uint16_t>(v), static_cast<std::uint16_t>(r * v / l)};
  }
  // Raising from silence: the remembered proportion comes back.
  const double dv = static_cast<double>(v);
  if (FBalance > 1.0)
    return {static_cast<std::uint16_t>(v), RoundToMixer(dv / FBalance)};
  return {RoundToMixer(dv * FBalance), static_cast<std::uint16_t>(v)};
}

std::uint32_t ServerVolumeOfMixerValue(std::uint16_t value) {
  return static_cast<std::uint32_t>((std::uint64_t{value} * ServerVolumeNorm + MixerMax / 2) /
                                    MixerMax);
}

std::uint16_t MixerValueOfServerVolume(std::uint32_t volume) {
  if (volume >= ServerVolumeNorm)
    return MixerMax;
  return static_cast<std::uint16_t>((std::uint64_t{volume} * MixerMax + ServerVolumeNorm / 2) /
                                    ServerVolumeNorm);
}

std::uint16_t MixerValueOfRange(long raw, long min, long max) {
  if (max <= min)
    return 0;
  const long clamped = std::clamp(raw, min, max);
  const auto span = static_cast<std::uint64_t>(max - min);
  const auto offset = static_cast<std::uint64_t>(clamped - min);
  return static_cast<std::uint16_t>((offset * MixerMax + span / 2) / span);
}

long RangeOfMixerValue(std::uint16_t value, long min, long max) {
  if (max <= min)
    return min;
  const auto span = static_cast<std::uint64_t>(max - min);
  return min + static_cast<long>((std::uint64_t{value} * span + MixerMax / 2) / MixerMax);
}

} // namespace melo
