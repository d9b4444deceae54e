#include "sound/PeakLimiter.h"

#include <algorithm>
#include <cmath>

namespace melo {

TPeakLimiter::TPeakLimiter(int sampleRate, float ceiling, double releaseMs)
    : FCeiling(ceiling),
      FRelease(static_cast<float>(std::exp(-1000.0 / (releaseMs * std::max(sampleRate, 1))))) {}

float TPeakLimiter::Gain() const {
  return FEnvelope > FCeiling ? FCeiling / FEnvelope : 1.0f;
}

void TPeakLimiter::Process(std::span<float> left, std::span<float> right) {
  const std::size_t frames = std::min(left.size(), right.size());
  for (std::size_t i = 0; i < frames; ++i) {
    // The envelope is never below the current peak, so the gain brings the
    // peak to the ceiling at most; it then decays back towards unity.
    const float peak = std::max(std::fabs(left[i]), std::fabs(right[i]));
    FEnvelope = std::max(peak, FEnvelope * FRelease);
    if (FEnvelope > FCeiling) {
      const float gain = FCeiling / FEnvelope;
      left[i] *= gain;
      right[i] *= gain;
    }
  }
}

} // namespace melo
