#include "WavToneCheck.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace melo {

namespace {

constexpr unsigned FormatPcm = 1;
constexpr unsigned FormatFloat = 3;
constexpr unsigned FormatExtensible = 0xFFFE;
constexpr double SilenceDb = -200.0;
constexpr double LoudRangeDb = 20.0; // frames this close to the peak count as the note
constexpr double FrameSeconds = 0.02;
constexpr double PitchWindowSeconds = 0.1;
constexpr double PitchStepSeconds = 0.05;
constexpr double LowestPitchHz = 40.0;
constexpr double HighestPitchHz = 2000.0;
constexpr double ClearPeriod = 0.5; // weaker self-similarity means noise, not a tone
constexpr double FirstPeakShare = 0.9;

struct TWavFormat {
  unsigned Tag = 0;
  unsigned Channels = 0;
  unsigned Rate = 0;
  unsigned BlockAlign = 0;
  unsigned Bits = 0;
};

std::uint32_t Le16(const std::uint8_t* p) {
  return p[0] | (p[1] << 8);
}

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool ValidFormat(const TWavFormat& f) {
  const bool pcm =
      f.Tag == FormatPcm && (f.Bits == 8 || f.Bits == 16 || f.Bits == 24 || f.Bits == 32);
  const bool flt = f.Tag == FormatFloat && f.Bits == 32;
  return (pcm || flt) && f.Channels >= 1 && f.Channels <= 16 && f.Rate >= 1000 &&
         f.Rate <= 768000 && f.BlockAlign == f.Channels * f.Bits / 8;
}

bool ParseFormat(const std::uint8_t* p, std::size_t size, TWavFormat& f) {
  if (size < 16) {
    return false;
  }
  f.Tag = Le16(p);
  f.Channels = Le16(p + 2);
  f.Rate = Le32(p + 4);
  f.BlockAlign = Le16(p + 12);
  f.Bits = Le16(p + 14);
  if (f.Tag == FormatExtensible) {
    if (size < 26) {
      return false;
    }
    f.Tag = Le16(p + 24); // first bytes of the sub-format identifier
  }
  return ValidFormat(f);
}

float SampleAt(const std::uint8_t* p, const TWavFormat& f) {
  switch (f.Bits) {
  case 8:
    return (static_cast<int>(p[0]) - 128) / 128.0f;
  case 16:
    return static_cast<std::int16_t>(Le16(p)) / 32768.0f;
  case 24:
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(p[0]) << 8) |
                                     (static_cast<std::uint32_t>(p[1]) << 16) |
                                     (static_cast<std::uint32_t>(p[2]) << 24)) /
           2147483648.0f;
  default:
    break;
  }
  const std::uint32_t bits = Le32(p);
  if (f.Tag == FormatFloat) {
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return std::isfinite(value) ? std::clamp(value, -1.0f, 1.0f) : 0.0f;
  }
  return static_cast<std::int32_t>(bits) / 2147483648.0f;
}

void DecodeData(const std::uint8_t* p, std::size_t size, const TWavFormat& f, TWavAudio& audio) {
  const std::size_t width = f.Bits / 8;
  const std::size_t frames = size / f.BlockAlign;
  audio.SampleRate = static_cast<int>(f.Rate);
  audio.Samples.assign(frames, 0.0f);
  for (std::size_t i = 0; i < frames; ++i) {
    float sum = 0.0f;
    for (std::size_t c = 0; c < f.Channels; ++c) {
      sum += SampleAt(p + i * f.BlockAlign + c * width, f);
    }
    audio.Samples[i] = sum / static_cast<float>(f.Channels);
  }
}

double Rms(const float* samples, std::size_t count) {
  double sum = 0.0;
  for (std::size_t i = 0; i < count; ++i) {
    sum += static_cast<double>(samples[i]) * samples[i];
  }
  return count == 0 ? 0.0 : std::sqrt(sum / static_cast<double>(count));
}

double ToDb(double rms) {
  return rms > 0.0 ? std::max(20.0 * std::log10(rms), SilenceDb) : SilenceDb;
}

double Median(std::vector<double> values) {
  if (values.empty()) {
    return 0.0;
  }
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

// Normalised square difference for every lag 0..MaxLag (1 at lag 0, near 1 at each period).
std::vector<double> SquareDifference(const float* x, std::size_t count, std::size_t maxLag) {
  std::vector<double> nsdf(maxLag + 1, 0.0);
  for (std::size_t lag = 0; lag <= maxLag; ++lag) {
    double product = 0.0;
    double energy = 0.0;
    for (std::size_t i = 0; i + lag < count; ++i) {
      product += static_cast<double>(x[i]) * x[i + lag];
      energy += static_cast<double>(x[i]) * x[i] + static_cast<double>(x[i + lag]) * x[i + lag];
    }
    nsdf[lag] = energy > 0.0 ? 2.0 * product / energy : 0.0;
  }
  return nsdf;
}

// The highest point of every positive lobe after the first dip below zero.
std::vector<std::size_t> LobePeaks(const std::vector<double>& nsdf, std::size_t minLag) {
  std::vector<std::size_t> peaks;
  std::size_t lag = 1;
  while (lag < nsdf.size() && nsdf[lag] > 0.0) {
    ++lag;
  }
  std::size_t best = 0;
  for (; lag < nsdf.size(); ++lag) {
    if (nsdf[lag] > 0.0 && (best == 0 || nsdf[lag] > nsdf[best])) {
      best = lag;
    }
    if (nsdf[lag] <= 0.0 && best != 0) {
      peaks.push_back(best);
      best = 0;
    }
  }
  if (best != 0 && best + 1 < nsdf.size()) {
    peaks.push_back(best);
  }
  std::erase_if(peaks, [minLag](std::size_t p) { return p < minLag; });
  return peaks;
}

double RefinedLag(const std::vector<double>& nsdf, std::size_t lag) {
  if (lag == 0 || lag + 1 >= nsdf.size()) {
    return static_cast<double>(lag);
  }
  const double a = nsdf[lag - 1];
  const double b = nsdf[lag];
  const double c = nsdf[lag + 1];
  const double curve = a - 2.0 * b + c;
  return curve < 0.0 ? static_cast<double>(lag) + 0.5 * (a - c) / curve : static_cast<double>(lag);
}

} // namespace

bool ParseWav(const std::vector<std::uint8_t>& bytes, TWavAudio& audio) {
  const std::size_t size = bytes.size();
  const std::uint8_t* p = bytes.data();
  if (size < 12 || std::memcmp(p, "RIFF", 4) != 0 || std::memcmp(p + 8, "WAVE", 4) != 0) {
    return false;
  }
  TWavFormat format;
  bool haveFormat = false;
  std::size_t dataAt = 0;
  std::size_t dataSize = 0;
  bool haveData = false;
  std::size_t at = 12;
  while (at + 8 <= size && !haveData) {
    const std::uint64_t length = Le32(p + at + 4);
    const std::size_t body = at + 8;
    const std::size_t present = size - body;
    if (std::memcmp(p + at, "fmt ", 4) == 0) {
      if (length > present || !ParseFormat(p + body, static_cast<std::size_t>(length), format)) {
        return false;
      }
      haveFormat = true;
    } else if (std::memcmp(p + at, "data", 4) == 0) {
      dataAt = body;
      dataSize = static_cast<std::size_t>(std::min<std::uint64_t>(length, present));
      haveData = true;
    }
    const std::uint64_t next = body + length + (length & 1);
    at = next > size ? size : static_cast<std::size_t>(next);
  }
  if (!haveFormat || !haveData) {
    return false;
  }
  DecodeData(p + dataAt, dataSize, format, audio);
  return true;
}

bool ReadWav(const std::string& fileName, TWavAudio& audio) {
  std::ifstream file(fileName, std::ios::binary);
  if (!file) {
    return false;
  }
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file),
                                        std::istreambuf_iterator<char>()};
  return ParseWav(bytes, audio);
}

double EstimatePitch(const float* samples, std::size_t count, int sampleRate) {
  if (sampleRate <= 0) {
    return 0.0;
  }
  const auto minLag = static_cast<std::size_t>(sampleRate / HighestPitchHz);
  const auto maxLag = static_cast<std::size_t>(sampleRate / LowestPitchHz);
  if (minLag < 2 || count < 2 * maxLag) {
    return 0.0;
  }
  const std::vector<double> nsdf = SquareDifference(samples, count, maxLag);
  const std::vector<std::size_t> peaks = LobePeaks(nsdf, minLag);
  double highest = 0.0;
  for (std::size_t lag : peaks) {
    highest = std::max(highest, nsdf[lag]);
  }
  if (highest < ClearPeriod) {
    return 0.0;
  }
  // The first lobe nearly as high as the best one is the period; later ones are its multiples.
  for (std::size_t lag : peaks) {
    if (nsdf[lag] >= FirstPeakShare * highest) {
      return sampleRate / RefinedLag(nsdf, lag);
    }
  }
  return 0.0;
}

TToneReport AnalyseTone(const TWavAudio& audio, double tailSeconds) {
  TToneReport report;
  const std::size_t count = audio.Samples.size();
  if (audio.SampleRate <= 0 || count == 0) {
    return report;
  }
  const double rate = audio.SampleRate;
  report.TotalSeconds = static_cast<double>(count) / rate;
  const auto tail = std::min(count, static_cast<std::size_t>(std::max(tailSeconds, 0.0) * rate));
  report.TailLevelDb = ToDb(Rms(audio.Samples.data() + count - tail, tail));

  const auto frame = std::max<std::size_t>(1, static_cast<std::size_t>(FrameSeconds * rate));
  std::vector<double> levels;
  for (std::size_t at = 0; at + frame <= count; at += frame) {
    levels.push_back(ToDb(Rms(audio.Samples.data() + at, frame)));
  }
  if (levels.empty()) {
    return report;
  }
  report.PeakLevelDb = *std::max_element(levels.begin(), levels.end());
  if (report.PeakLevelDb <= SilenceDb) {
    return report;
  }
  const double loud = report.PeakLevelDb - LoudRangeDb;
  const auto first = static_cast<std::size_t>(
      std::find_if(levels.begin(), levels.end(), [loud](double l) { return l >= loud; }) -
      levels.begin());
  const auto last = static_cast<std::size_t>(
      levels.rend() -
      std::find_if(levels.rbegin(), levels.rend(), [loud](double l) { return l >= loud; }) - 1);
  report.LoudSeconds = static_cast<double>(last - first + 1) * static_cast<double>(frame) / rate;

  const auto window = static_cast<std::size_t>(PitchWindowSeconds * rate);
  const auto step = static_cast<std::size_t>(PitchStepSeconds * rate);
  std::vector<double> pitches;
  for (std::size_t at = first * frame; at + window <= count && at <= last * frame; at += step) {
    if (ToDb(Rms(audio.Samples.data() + at, window)) >= loud) {
      const double pitch = EstimatePitch(audio.Samples.data() + at, window, audio.SampleRate);
      if (pitch > 0.0) {
        pitches.push_back(pitch);
      }
    }
  }
  report.FrequencyHz = Median(pitches);
  return report;
}

std::vector<std::string> ToneFaults(const TToneReport& report, const TToneExpectation& expect) {
  std::vector<std::string> faults;
  char text[256];
  if (report.TotalSeconds < 2.0 * expect.TailSeconds) {
    std::snprintf(text, sizeof text, "the recording is only %.2f s long", report.TotalSeconds);
    faults.emplace_back(text);
  }
  if (report.PeakLevelDb < expect.MinPeakDb) {
    std::snprintf(text, sizeof text, "no sound: the loudest moment is at %.1f dB, below %.1f dB",
                  report.PeakLevelDb, expect.MinPeakDb);
    faults.emplace_back(text);
    return faults;
  }
  if (report.FrequencyHz <= 0.0) {
    faults.emplace_back("no clear pitch in the loud part of the recording");
  } else if (std::abs(report.FrequencyHz / expect.FrequencyHz - 1.0) > expect.Tolerance) {
    std::snprintf(text, sizeof text, "wrong pitch: %.1f Hz, expected %.1f Hz within %.0f %%",
                  report.FrequencyHz, expect.FrequencyHz, expect.Tolerance * 100.0);
    faults.emplace_back(text);
  }
  if (report.LoudSeconds < expect.MinLoudSeconds) {
    std::snprintf(text, sizeof text, "the note was loud for only %.2f s, expected at least %.2f s",
                  report.LoudSeconds, expect.MinLoudSeconds);
    faults.emplace_back(text);
  }
  if (report.PeakLevelDb - report.TailLevelDb < expect.MinTailDropDb) {
    std::snprintf(text, sizeof text,
                  "the note did not stop: the last %.1f s are at %.1f dB, only %.1f dB below the "
                  "peak (need %.0f)",
                  expect.TailSeconds, report.TailLevelDb, report.PeakLevelDb - report.TailLevelDb,
                  expect.MinTailDropDb);
    faults.emplace_back(text);
  }
  return faults;
}

namespace {

constexpr double SequenceRangeDb = 30.0;
constexpr double OnsetBlockSeconds = 0.001;
constexpr double OnsetShare = 0.25; // -12 dB

// The peak of each millisecond's samples.
std::vector<float> BlockPeaks(const TWavAudio& audio) {
  const auto block = std::max<std::size_t>(1, std::lround(OnsetBlockSeconds * audio.SampleRate));
  std::vector<float> peaks((audio.Samples.size() + block - 1) / block, 0.0f);
  for (std::size_t i = 0; i < audio.Samples.size(); ++i) {
    peaks[i / block] = std::max(peaks[i / block], std::fabs(audio.Samples[i]));
  }
  return peaks;
}

// The attack of a note whose pitch was first heard in the window starting at from: the
// loudest millisecond from one window before it to two after, then back while within 12 dB.
double OnsetSeconds(const std::vector<float>& peaks, double from, double window) {
  const auto first = static_cast<std::size_t>(std::max(0.0, from - window) / OnsetBlockSeconds);
  const std::size_t last =
      std::min(peaks.size(), static_cast<std::size_t>((from + 2 * window) / OnsetBlockSeconds));
  if (first >= last) {
    return from;
  }
  const auto loudest = std::max_element(peaks.begin() + static_cast<std::ptrdiff_t>(first),
                                        peaks.begin() + static_cast<std::ptrdiff_t>(last));
  auto onset = loudest;
  while (onset > peaks.begin() + static_cast<std::ptrdiff_t>(first) &&
         *(onset - 1) >= OnsetShare * *loudest) {
    --onset;
  }
  return static_cast<double>(onset - peaks.begin()) * OnsetBlockSeconds;
}

} // namespace

std::vector<THeardNote> HeardNotes(const TWavAudio& audio, double minSeconds) {
  std::vector<THeardNote> notes;
  const std::size_t count = audio.Samples.size();
  if (audio.SampleRate <= 0 || count == 0) {
    return notes;
  }
  const double rate = audio.SampleRate;
  const auto window = static_cast<std::size_t>(PitchWindowSeconds * rate);
  const auto step = static_cast<std::size_t>(FrameSeconds * rate);
  // One note number per step: -1 where quiet or without a clear pitch.
  std::vector<double> levels;
  std::vector<int> stepNotes;
  for (std::size_t at = 0; at + window <= count; at += step) {
    levels.push_back(ToDb(Rms(audio.Samples.data() + at, window)));
    const double pitch = EstimatePitch(audio.Samples.data() + at, window, audio.SampleRate);
    stepNotes.push_back(
        pitch > 0.0 ? static_cast<int>(std::lround(69.0 + 12.0 * std::log2(pitch / 440.0))) : -1);
  }
  if (levels.empty()) {
    return notes;
  }
  const double loud = *std::max_element(levels.begin(), levels.end()) - SequenceRangeDb;
  const auto minSteps = static_cast<std::size_t>(std::max(1.0, minSeconds / FrameSeconds));
  const std::vector<float> peaks = BlockPeaks(audio);
  const double stepSeconds = static_cast<double>(step) / rate;
  std::size_t run = 0;
  bool counting = false; // the last note's stretch goes on
  for (std::size_t i = 0; i < stepNotes.size(); ++i) {
    const int note = levels[i] >= loud ? stepNotes[i] : -1;
    run = (i > 0 && note == (levels[i - 1] >= loud ? stepNotes[i - 1] : -1)) ? run + 1 : 1;
    if (note >= 0 && run == minSteps && (notes.empty() || notes.back().Note != note)) {
      const double from = static_cast<double>(i + 1 - minSteps) * stepSeconds;
      notes.push_back({note, OnsetSeconds(peaks, from, PitchWindowSeconds), 0.0});
      counting = true;
    }
    counting = counting && note >= 0 && run >= minSteps;
    if (counting) {
      notes.back().Seconds =
          static_cast<double>(i) * stepSeconds + PitchWindowSeconds / 2 - notes.back().OnsetSeconds;
    }
  }
  return notes;
}

std::vector<int> NoteSequence(const TWavAudio& audio, double minSeconds) {
  std::vector<int> numbers;
  for (const THeardNote& heard : HeardNotes(audio, minSeconds)) {
    numbers.push_back(heard.Note);
  }
  return numbers;
}

} // namespace melo
