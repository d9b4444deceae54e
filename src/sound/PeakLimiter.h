#pragma once
// The output's peak limiter: the gain follows the louder channel's peak with
// an instant attack and a smooth release, so that no sample ever leaves above
// the ceiling, and a signal that stays below the ceiling passes bit for bit.
// It adds no delay (no look-ahead): a key still sounds at once.
#include <span>

namespace melo {

class TPeakLimiter {
public:
  static constexpr float DefaultCeiling = 0.891f; // -1 dBFS: room for the s16 conversion's dither

  explicit TPeakLimiter(int sampleRate, float ceiling = DefaultCeiling, double releaseMs = 120.0);

  // In place; left and right of the same length.
  void Process(std::span<float> left, std::span<float> right);
  // The gain applied to the last sample (1 when not limiting).
  float Gain() const;
  void Reset() { FEnvelope = 0; }

private:
  float FCeiling;
  float FRelease; // per-sample decay factor of the peak envelope
  float FEnvelope = 0;
};

} // namespace melo
