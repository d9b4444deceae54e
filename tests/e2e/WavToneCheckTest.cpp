#include "WavToneCheck.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

namespace melo {
namespace {

constexpr int Rate = 44100;
constexpr double MiddleC = 261.63;

void Put16(std::vector<std::uint8_t>& b, unsigned v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

void PutTag(std::vector<std::uint8_t>& b, const char* tag) {
  for (int i = 0; i < 4; ++i) {
    b.push_back(static_cast<std::uint8_t>(tag[i]));
  }
}

// A 16-bit mono WAV file; DataSize overrides the data chunk's length field.
std::vector<std::uint8_t> Wav16(const std::vector<float>& samples, std::uint32_t dataSize = 0) {
  std::vector<std::uint8_t> b;
  const auto size = static_cast<std::uint32_t>(samples.size() * 2);
  PutTag(b, "RIFF");
  Put32(b, 36 + size);
  PutTag(b, "WAVE");
  PutTag(b, "fmt ");
  Put32(b, 16);
  Put16(b, 1);
  Put16(b, 1);
  Put32(b, Rate);
  Put32(b, Rate * 2);
  Put16(b, 2);
  Put16(b, 16);
  PutTag(b, "data");
  Put32(b, dataSize != 0 ? dataSize : size);
  for (float s : samples) {
    Put16(b, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(s * 32767.0f))));
  }
  return b;
}

// A piano-like note: a weaker fundamental under stronger second and third partials, decaying
// by DecayDbPerSecond while held, then fading out within 0.1 s when released (never, if
// ReleaseAt is negative), followed by silence up to Seconds.
std::vector<float> Note(double hz, double releaseAt, double seconds,
                        double decayDbPerSecond = 6.0) {
  std::vector<float> samples(static_cast<std::size_t>(seconds * Rate), 0.0f);
  const double lead = 0.3; // silence before the key goes down, as in a real recording
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const double t = static_cast<double>(i) / Rate - lead;
    if (t < 0.0) {
      continue;
    }
    double gain = 0.3 * std::pow(10.0, -decayDbPerSecond * t / 20.0);
    if (releaseAt >= 0.0 && t > releaseAt) {
      gain *= std::max(0.0, 1.0 - (t - releaseAt) / 0.1);
    }
    const double w = 2.0 * std::numbers::pi * hz * t;
    samples[i] = static_cast<float>(
        gain * (0.3 * std::sin(w) + 0.5 * std::sin(2 * w) + 0.2 * std::sin(3 * w)));
  }
  return samples;
}

TToneReport Analyse(const std::vector<float>& samples) {
  TWavAudio audio;
  EXPECT_TRUE(ParseWav(Wav16(samples), audio));
  return AnalyseTone(audio, 0.5);
}

TEST(WavToneCheck, PressedAndReleasedMiddleCPasses) {
  const TToneReport report = Analyse(Note(MiddleC, 1.0, 3.0));
  EXPECT_NEAR(report.FrequencyHz, MiddleC, MiddleC * 0.005);
  EXPECT_NEAR(report.PeakLevelDb, -16.0, 4.0);
  EXPECT_GT(report.LoudSeconds, 0.9);
  EXPECT_LT(report.TailLevelDb, -150.0);
  EXPECT_TRUE(ToneFaults(report, TToneExpectation{}).empty());
}

TEST(WavToneCheck, NoteThatNeverStopsFails) {
  const auto faults = ToneFaults(Analyse(Note(MiddleC, -1.0, 3.0)), TToneExpectation{});
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_NE(faults[0].find("did not stop"), std::string::npos);
}

TEST(WavToneCheck, WrongNotesFail) {
  for (double hz : {MiddleC / 2.0, MiddleC * std::pow(2.0, 1.0 / 12.0), 440.0}) {
    const TToneReport report = Analyse(Note(hz, 1.0, 3.0));
    EXPECT_NEAR(report.FrequencyHz, hz, hz * 0.005);
    const auto faults = ToneFaults(report, TToneExpectation{});
    ASSERT_EQ(faults.size(), 1u) << hz;
    EXPECT_NE(faults[0].find("wrong pitch"), std::string::npos);
  }
}

TEST(WavToneCheck, SilenceAndBlipsFail) {
  auto faults = ToneFaults(Analyse(std::vector<float>(3 * Rate, 0.0f)), TToneExpectation{});
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_NE(faults[0].find("no sound"), std::string::npos);

  faults = ToneFaults(Analyse(Note(MiddleC, 0.05, 3.0)), TToneExpectation{});
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_NE(faults[0].find("loud for only"), std::string::npos);

  faults = ToneFaults(Analyse(Note(MiddleC, 1.0, 0.6)), TToneExpectation{});
  EXPECT_NE(faults.at(0).find("only 0.60 s long"), std::string::npos);
}

TEST(WavToneCheck, NoiseHasNoPitch) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> noise(-0.3f, 0.3f);
  std::vector<float> samples(3 * Rate, 0.0f);
  for (std::size_t i = 0; i < static_cast<std::size_t>(Rate); ++i) {
    samples[i] = noise(random);
  }
  const TToneReport report = Analyse(samples);
  EXPECT_EQ(report.FrequencyHz, 0.0);
  EXPECT_NE(ToneFaults(report, TToneExpectation{}).at(0).find("no clear pitch"), std::string::npos);
}

TEST(WavToneCheck, DataSizeOfAStoppedRecorderIsCutToTheBytesPresent) {
  const std::vector<float> samples = Note(MiddleC, 0.2, 0.5);
  TWavAudio audio;
  ASSERT_TRUE(ParseWav(Wav16(samples, 0xFFFFFFFFu), audio));
  EXPECT_EQ(audio.SampleRate, Rate);
  ASSERT_EQ(audio.Samples.size(), samples.size());
  EXPECT_NEAR(audio.Samples[Rate / 2 - 100], samples[Rate / 2 - 100], 1e-4);
}

TEST(WavToneCheck, StereoFloatAndTwentyFourBitFormatsAreMixedToOneChannel) {
  const auto header = [](unsigned tag, unsigned channels, unsigned bits, std::uint32_t dataSize) {
    std::vector<std::uint8_t> b;
    PutTag(b, "RIFF");
    Put32(b, 0);
    PutTag(b, "WAVE");
    PutTag(b, "LIST"); // unknown chunks are skipped
    Put32(b, 3);
    b.insert(b.end(), {1, 2, 3, 0});
    PutTag(b, "fmt ");
    Put32(b, 16);
    Put16(b, tag);
    Put16(b, channels);
    Put32(b, Rate);
    Put32(b, Rate * channels * bits / 8);
    Put16(b, channels * bits / 8);
    Put16(b, bits);
    PutTag(b, "data");
    Put32(b, dataSize);
    return b;
  };
  std::vector<std::uint8_t> flt = header(3, 2, 32, 16);
  for (float v : {0.5f, -0.25f, 1.0f, NAN}) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, 4);
    Put32(flt, bits);
  }
  TWavAudio audio;
  ASSERT_TRUE(ParseWav(flt, audio));
  ASSERT_EQ(audio.Samples.size(), 2u);
  EXPECT_FLOAT_EQ(audio.Samples[0], 0.125f);
  EXPECT_FLOAT_EQ(audio.Samples[1], 0.5f);

  std::vector<std::uint8_t> pcm24 = header(1, 1, 24, 6);
  pcm24.insert(pcm24.end(), {0x00, 0x00, 0x40, 0x00, 0x00, 0xC0});
  ASSERT_TRUE(ParseWav(pcm24, audio));
  ASSERT_EQ(audio.Samples.size(), 2u);
  EXPECT_FLOAT_EQ(audio.Samples[0], 0.5f);
  EXPECT_FLOAT_EQ(audio.Samples[1], -0.5f);

  EXPECT_FALSE(ParseWav(header(1, 2, 12, 0), audio)); // no such sample width
  EXPECT_FALSE(ParseWav(header(2, 1, 16, 0), audio)); // compressed
}

TEST(WavToneCheck, EveryCutOrDamagedFileIsRefusedSafely) {
  const std::vector<std::uint8_t> whole = Wav16(Note(MiddleC, 0.01, 0.02));
  TWavAudio audio;
  for (std::size_t size = 0; size < 44; ++size) {
    EXPECT_FALSE(ParseWav(
        std::vector<std::uint8_t>(whole.begin(), whole.begin() + static_cast<long>(size)), audio))
        << size;
  }
  std::mt19937 random(11);
  for (int round = 0; round < 2000; ++round) {
    std::vector<std::uint8_t> damaged = whole;
    damaged[random() % 48] = static_cast<std::uint8_t>(random());
    if (ParseWav(damaged, audio)) {
      AnalyseTone(audio, 0.5);
    }
  }
}

double MidiHz(int note) {
  return 440.0 * std::pow(2.0, (note - 69) / 12.0);
}

TEST(WavToneCheck, NoteSequenceHearsNotesInOrderDespiteOverlappingTails) {
  // C, D, E, each ringing on under the next for a little while, then a repeated E.
  std::vector<float> mix(static_cast<std::size_t>(3.5 * Rate), 0.0f);
  const double starts[] = {0.0, 0.7, 1.4, 2.1};
  const int notes[] = {60, 62, 64, 64};
  for (int i = 0; i < 4; ++i) {
    const std::vector<float> note = Note(MidiHz(notes[i]), 0.5, 1.0);
    const auto offset = static_cast<std::size_t>(starts[i] * Rate);
    for (std::size_t k = 0; k < note.size() && offset + k < mix.size(); ++k)
      mix[offset + k] += note[k];
  }
  TWavAudio audio;
  ASSERT_TRUE(ParseWav(Wav16(mix), audio));
  EXPECT_EQ(NoteSequence(audio), (std::vector<int>{60, 62, 64}));
  // Each attack within a few milliseconds (the notes start 0.3 s into their own samples), and how
  // long each was heard: released at 0.5 s and faded in 0.1 s.
  const std::vector<THeardNote> heard = HeardNotes(audio);
  ASSERT_EQ(heard.size(), 3u);
  for (std::size_t i = 0; i < heard.size(); ++i) {
    EXPECT_NEAR(heard[i].OnsetSeconds, starts[i] + 0.3, 0.004) << i;
    EXPECT_NEAR(heard[i].Seconds, 0.6, 0.05) << i;
  }
  // Silence has no notes.
  audio.Samples.assign(Rate, 0.0f);
  EXPECT_TRUE(NoteSequence(audio).empty());
}

} // namespace
} // namespace melo
