#include "sound/PeakLimiter.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <vector>

namespace melo {
namespace {

constexpr int Rate = 44100;

std::vector<float> Sine(double amplitude, std::size_t frames) {
  std::vector<float> x(frames);
  for (std::size_t i = 0; i < frames; ++i)
    x[i] = static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * 440.0 * i / Rate));
  return x;
}

double PeakOf(const std::vector<float>& x) {
  double peak = 0;
  for (float v : x)
    peak = std::max(peak, static_cast<double>(std::fabs(v)));
  return peak;
}

TEST(PeakLimiterTest, LeavesAQuietSignalUntouchedAndKeepsALoudBurstBelowFullScale) {
  TPeakLimiter limiter(Rate);
  const double minus6 = std::pow(10.0, -6.0 / 20);
  const double plus6 = std::pow(10.0, 6.0 / 20);

  std::vector<float> left = Sine(minus6, Rate);
  std::vector<float> right = left;
  const std::vector<float> original = left;
  limiter.Process(left, right);
  EXPECT_EQ(left, original); // bit for bit
  EXPECT_EQ(right, original);

  // A +6 dBFS burst of 50 ms amid the quiet signal.
  std::vector<float> burstL = Sine(plus6, Rate / 20);
  std::vector<float> burstR = Sine(plus6 * 0.5, Rate / 20);
  limiter.Process(burstL, burstR);
  EXPECT_LT(PeakOf(burstL), 1.0);
  EXPECT_LE(PeakOf(burstL), TPeakLimiter::DefaultCeiling + 1e-6);
  EXPECT_GT(PeakOf(burstL), 0.8);            // limited, not silenced
  EXPECT_LT(PeakOf(burstR), PeakOf(burstL)); // one gain for both channels

  // Two seconds later the quiet signal passes untouched again.
  std::vector<float> afterL = Sine(minus6, 2 * Rate);
  std::vector<float> afterR = afterL;
  limiter.Process(afterL, afterR);
  EXPECT_EQ(limiter.Gain(), 1.0f);
  const std::vector<float> tail = Sine(minus6, 2 * Rate);
  EXPECT_EQ(std::vector<float>(afterL.end() - Rate / 10, afterL.end()),
            std::vector<float>(tail.end() - Rate / 10, tail.end()));
}

} // namespace
} // namespace melo
