#pragma once
// Shared by the engine's tests: the General MIDI SoundFont, offline rendering
// and measurements of the rendered sound.
#include "sound/KoDirectMusic.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace melo::test {

inline constexpr const char* GmSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

inline std::vector<std::uint8_t> ReadBytes(const char* path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

inline const std::vector<std::uint8_t>& GmSoundFontBytes() {
  static const std::vector<std::uint8_t> bytes = ReadBytes(GmSoundFont);
  return bytes;
}

// An offline engine with the GM set loaded, port 0 chosen and reverb off, so
// that a measurement sees the dry instrument.
inline std::unique_ptr<TKoDirectMusic> MakeOfflineEngine() {
  auto engine = std::make_unique<TKoDirectMusic>(TEngineMode::Offline);
  engine->SelectPort(0);
  engine->LoadCollectionFromStream(GmSoundFontBytes());
  engine->SetReverbLevel(0);
  return engine;
}

// Renders seconds of sound and returns the left channel.
inline std::vector<float> RenderSeconds(TKoDirectMusic& engine, double seconds) {
  const auto frames = static_cast<std::size_t>(seconds * TKoDirectMusic::SampleRate);
  std::vector<float> left(frames);
  std::vector<float> right(frames);
  engine.Render(left, right);
  return left;
}

inline double Rms(const std::vector<float>& x, std::size_t from, std::size_t to) {
  double sum = 0.0;
  to = std::min(to, x.size());
  for (std::size_t i = from; i < to; ++i) {
    sum += static_cast<double>(x[i]) * x[i];
  }
  return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
}

inline std::size_t Seconds(double s) {
  return static_cast<std::size_t>(s * TKoDirectMusic::SampleRate);
}

// Magnitude of the Hann-windowed spectrum of x[from, from+n) at hz.
inline double SpectrumMagnitude(const std::vector<float>& x, std::size_t from, std::size_t n,
                                double hz) {
  const double w = 2.0 * M_PI * hz / TKoDirectMusic::SampleRate;
  double re = 0.0;
  double im = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double hann =
        0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(i) / static_cast<double>(n - 1));
    re += hann * x[from + i] * std::cos(w * static_cast<double>(i));
    im -= hann * x[from + i] * std::sin(w * static_cast<double>(i));
  }
  return std::sqrt(re * re + im * im);
}

// The fundamental in Hz: the spectral peak within 2 % of a guess, searched in
// 0.1 Hz steps and refined by a parabola through the log magnitudes around it.
inline double MeasurePitch(const std::vector<float>& x, std::size_t from, std::size_t n,
                           double guessHz) {
  constexpr double step = 0.1;
  double best = guessHz * 0.98;
  double bestValue = 0.0;
  for (double hz = guessHz * 0.98; hz <= guessHz * 1.02; hz += step) {
    const double value = SpectrumMagnitude(x, from, n, hz);
    if (value > bestValue) {
      bestValue = value;
      best = hz;
    }
  }
  const double before = std::log(SpectrumMagnitude(x, from, n, best - step));
  const double at = std::log(bestValue);
  const double after = std::log(SpectrumMagnitude(x, from, n, best + step));
  return best + step * 0.5 * (before - after) / (before - 2.0 * at + after);
}

// Amplitude of one frequency over x[from, to) (Goertzel).
inline double ToneAmplitude(const std::vector<float>& x, std::size_t from, std::size_t to,
                            double hz) {
  const double w = 2.0 * M_PI * hz / TKoDirectMusic::SampleRate;
  const double coefficient = 2.0 * std::cos(w);
  double s1 = 0.0;
  double s2 = 0.0;
  for (std::size_t i = from; i < to; ++i) {
    const double s0 = x[i] + coefficient * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
  return 2.0 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(to - from);
}

// Share of sign changes between neighbouring samples: high for noise.
inline double ZeroCrossingRate(const std::vector<float>& x, std::size_t from, std::size_t to) {
  std::size_t crossings = 0;
  for (std::size_t i = from + 1; i < to; ++i) {
    crossings += (x[i - 1] < 0.0f) != (x[i] < 0.0f) ? 1 : 0;
  }
  return static_cast<double>(crossings) / static_cast<double>(to - from);
}

} // namespace melo::test
