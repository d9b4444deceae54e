#include "sound/PeakLimiter.h"

#include <algorithm>
#include <cmath>

namespace melo {

TPeakLimiter::TPeakLimiter(int SampleRate, float Ceiling, double ReleaseMs)
    : FCeiling(Ceiling),
      FRelease(static_cast<float>(std::exp(-1000.0 / (ReleaseMs * std::max(SampleRate, 1))))) {}

float TPeakLimiter::Gain() const {
  return FEnvelope > FCeiling ? FCeiling / FEnvelope : 1.0f;
}

void TPeakLimiter::Process(std::span<float> Left, std::span<float> Right) {
  const std::size_t frames = std::min(Left.size(), Right.size());
  for (std::size_t i = 0; i < frames; ++i) {
    // The envelope is never below the current peak, so the gain brings the
    // peak to the ceiling at most; it then decays back towards unity.
    const float peak = std::max(std::fabs(Left[i]), std::fabs(Right[i]));
    FEnvelope = std::max(peak, FEnvelope * FRelease);
    if (FEnvelope > FCeiling) {
      const float gain = FCeiling / FEnvelope;
      Left[i] *= gain;
      Right[i] *= gain;
    }
  }
}

} // namespace melo
