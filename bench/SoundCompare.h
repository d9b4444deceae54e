#pragma once
// Renders notes through FluidSynth from a SoundFont file (its own loader) or
// from DLS bytes (our DLS voices), and compares two renders: pitch, loudness
// envelope and spectrum. Shared by the sound-set benchmark and its test.
#include "sound/DlsSoundFont.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <span>
#include <string>
#include <vector>

namespace melo::bench {

constexpr int kRate = 44100;

// One synthesizer without audio output, reverb or chorus, rendered on request.
class TRenderSynth {
public:
  TRenderSynth() {
    FSettings = new_fluid_settings();
    fluid_settings_setnum(FSettings, "synth.sample-rate", kRate);
    fluid_settings_setint(FSettings, "synth.reverb.active", 0);
    fluid_settings_setint(FSettings, "synth.chorus.active", 0);
    fluid_settings_setint(FSettings, "synth.polyphony", 512);
    FSynth = new_fluid_synth(FSettings);
    AddDlsLoader(FSynth);
  }
  ~TRenderSynth() {
    delete_fluid_synth(FSynth);
    delete_fluid_settings(FSettings);
  }
  TRenderSynth(const TRenderSynth&) = delete;
  TRenderSynth& operator=(const TRenderSynth&) = delete;

  bool LoadSoundFontFile(const std::string& path) {
    return fluid_synth_sfload(FSynth, path.c_str(), 1) != FLUID_FAILED;
  }
  bool LoadDls(std::span<const std::uint8_t> bytes) {
    TLoadedSoundSet loaded;
    return LoadDlsBytes(FSynth, bytes, loaded);
  }
  // Bank select and program change as the engine sends a patch.
  void Select(int chan, std::uint32_t patch) {
    fluid_synth_cc(FSynth, chan, 0, int(patch >> 16) & 0x7F);
    fluid_synth_cc(FSynth, chan, 32, int(patch >> 8) & 0x7F);
    fluid_synth_program_change(FSynth, chan, int(patch & 0x7F));
  }
  // The mono mix of one note held for onSeconds, then released for offSeconds.
  std::vector<float> Note(int chan, int key, int velocity, double onSeconds, double offSeconds) {
    fluid_synth_noteon(FSynth, chan, key, velocity);
    std::vector<float> out = Render(onSeconds);
    fluid_synth_noteoff(FSynth, chan, key);
    const std::vector<float> tail = Render(offSeconds);
    out.insert(out.end(), tail.begin(), tail.end());
    fluid_synth_all_sounds_off(FSynth, chan);
    Render(0.05);
    return out;
  }
  std::vector<float> Render(double seconds) {
    const int frames = int(seconds * kRate);
    std::vector<float> left(frames), right(frames);
    fluid_synth_write_float(FSynth, frames, left.data(), 0, 1, right.data(), 0, 1);
    for (int i = 0; i < frames; ++i)
      left[i] = 0.5f * (left[i] + right[i]);
    return left;
  }
  fluid_synth_t* Synth() const { return FSynth; }

private:
  fluid_settings_t* FSettings;
  fluid_synth_t* FSynth;
};

inline void Fft(std::vector<std::complex<double>>& a) {
  const std::size_t n = a.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1)
      j ^= bit;
    j ^= bit;
    if (i < j)
      std::swap(a[i], a[j]);
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const std::complex<double> w = std::polar(1.0, -2 * std::numbers::pi / double(len));
    for (std::size_t i = 0; i < n; i += len) {
      std::complex<double> wn = 1;
      for (std::size_t k = 0; k < len / 2; ++k, wn *= w) {
        const auto u = a[i + k], v = a[i + k + len / 2] * wn;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
      }
    }
  }
}

// Magnitudes of the Hann-windowed frame of size n at from, zero-padded to pad.
inline std::vector<double> Spectrum(const std::vector<float>& x, std::size_t from, std::size_t n,
                                    std::size_t pad) {
  std::vector<std::complex<double>> a(pad);
  for (std::size_t i = 0; i < n && from + i < x.size(); ++i)
    a[i] = x[from + i] * (0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / double(n - 1)));
  Fft(a);
  std::vector<double> m(pad / 2);
  for (std::size_t i = 0; i < m.size(); ++i)
    m[i] = std::abs(a[i]);
  return m;
}

// The strongest partial within 3 % of guessHz, refined by a parabola through
// the log magnitudes; 0 when there is no sound.
inline double PitchHz(const std::vector<float>& x, std::size_t from, std::size_t n,
                      double guessHz) {
  constexpr std::size_t pad = 1 << 17;
  const auto m = Spectrum(x, from, n, pad);
  const double binHz = double(kRate) / pad;
  const std::size_t lo = std::size_t(guessHz * 0.97 / binHz),
                    hi = std::size_t(guessHz * 1.03 / binHz);
  std::size_t best = lo;
  for (std::size_t i = lo; i <= hi && i + 1 < m.size(); ++i) {
    if (m[i] > m[best])
      best = i;
  }
  if (best == 0 || m[best] <= 0)
    return 0;
  const double a = std::log(m[best - 1] + 1e-30), b = std::log(m[best] + 1e-30),
               c = std::log(m[best + 1] + 1e-30);
  const double shift = 0.5 * (a - c) / (a - 2 * b + c);
  return (double(best) + shift) * binHz;
}

// Level over 10 ms windows.
inline std::vector<double> Envelope(const std::vector<float>& x) {
  constexpr std::size_t w = kRate / 100;
  std::vector<double> env;
  for (std::size_t i = 0; i + w <= x.size(); i += w) {
    double sum = 0;
    for (std::size_t k = i; k < i + w; ++k)
      sum += double(x[k]) * x[k];
    env.push_back(std::sqrt(sum / w));
  }
  return env;
}

inline double Correlation(const std::vector<double>& a, const std::vector<double>& b) {
  const std::size_t n = std::min(a.size(), b.size());
  double ma = 0, mb = 0;
  for (std::size_t i = 0; i < n; ++i)
    ma += a[i], mb += b[i];
  ma /= double(n), mb /= double(n);
  double sab = 0, saa = 0, sbb = 0;
  for (std::size_t i = 0; i < n; ++i) {
    sab += (a[i] - ma) * (b[i] - mb);
    saa += (a[i] - ma) * (a[i] - ma);
    sbb += (b[i] - mb) * (b[i] - mb);
  }
  return saa > 0 && sbb > 0 ? sab / std::sqrt(saa * sbb) : (saa == sbb ? 1.0 : 0.0);
}

// Root-mean-square difference in dB of the average spectra of x and y over
// [from, to) seconds, on bins between 50 Hz and 12 kHz within 60 dB of the
// louder spectrum's peak.
inline double SpectralDistanceDb(const std::vector<float>& x, const std::vector<float>& y,
                                 double from, double to) {
  constexpr std::size_t n = 4096;
  std::vector<double> sx(n / 2), sy(n / 2);
  for (std::size_t at = std::size_t(from * kRate); at + n <= std::size_t(to * kRate); at += n / 2) {
    const auto mx = Spectrum(x, at, n, n), my = Spectrum(y, at, n, n);
    for (std::size_t i = 0; i < n / 2; ++i)
      sx[i] += mx[i] * mx[i], sy[i] += my[i] * my[i];
  }
  const double peak =
      std::max(*std::max_element(sx.begin(), sx.end()), *std::max_element(sy.begin(), sy.end()));
  if (peak <= 0)
    return 0;
  double sum = 0;
  int count = 0;
  for (std::size_t i = 50 * n / kRate; i < 12000 * n / kRate; ++i) {
    const double dx = 10 * std::log10(sx[i] / peak + 1e-9),
                 dy = 10 * std::log10(sy[i] / peak + 1e-9);
    if (std::max(dx, dy) < -60)
      continue;
    sum +=
        (std::max(dx, -60.0) - std::max(dy, -60.0)) * (std::max(dx, -60.0) - std::max(dy, -60.0));
    ++count;
  }
  return count ? std::sqrt(sum / count) : 0.0;
}

inline double Cents(double a, double b) {
  return a > 0 && b > 0 ? 1200 * std::log2(a / b) : 0;
}

inline double KeyHz(int key) {
  return 440.0 * std::pow(2.0, (key - 69) / 12.0);
}

} // namespace melo::bench
