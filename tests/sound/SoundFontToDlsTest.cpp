#include "SoundFontToDls.h"
#include "sound/DlsWriter.h"

#include "SoundCompare.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace melo {
namespace {

using namespace melo::bench;

constexpr const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

const std::vector<std::uint8_t>& SoundFontBytes() {
  static const std::vector<std::uint8_t> bytes = [] {
    std::ifstream in(kSoundFont, std::ios::binary);
    return std::vector<std::uint8_t>{std::istreambuf_iterator<char>(in), {}};
  }();
  return bytes;
}

const std::vector<std::uint8_t>& ConvertedBytes() {
  static const std::vector<std::uint8_t> bytes = [] {
    TDlsCollection collection;
    std::string error;
    EXPECT_TRUE(ConvertSoundFontToDls(SoundFontBytes(), collection, error)) << error;
    return WriteDls(collection);
  }();
  return bytes;
}

TEST(SoundFontToDls, EveryPresetBecomesALevel2InstrumentInPatchOrder) {
  TDlsCollection c;
  ASSERT_TRUE(c.LoadFromMemory(ConvertedBytes().data(), ConvertedBytes().size()));
  TRenderSynth synth;
  ASSERT_TRUE(synth.LoadSoundFontFile(kSoundFont));
  std::size_t presets = 0;
  fluid_sfont_t* font = fluid_synth_get_sfont(synth.Synth(), 0);
  fluid_sfont_iteration_start(font);
  while (fluid_sfont_iteration_next(font))
    ++presets;
  ASSERT_EQ(c.Instruments.size(), presets);
  for (std::size_t i = 1; i < c.Instruments.size(); ++i)
    EXPECT_LT(c.Instruments[i - 1].Patch(), c.Instruments[i].Patch());
  EXPECT_TRUE(c.Instruments.back().Patch() & DlsDrumFlag);
  EXPECT_EQ(c.Instruments.front().Patch(), 0u);
  for (const auto& ins : c.Instruments)
    EXPECT_TRUE(ins.Level2) << ins.Name;
  std::string error;
  TDlsCollection refused;
  const std::vector<std::uint8_t> notSf2(ConvertedBytes().begin(), ConvertedBytes().begin() + 64);
  EXPECT_FALSE(ConvertSoundFontToDls(notSf2, refused, error));
}

TEST(SoundFontToDls, ConvertedSetSoundsLikeTheSoundFont) {
  TRenderSynth original, converted;
  ASSERT_TRUE(original.LoadSoundFontFile(kSoundFont));
  ASSERT_TRUE(converted.LoadDls(ConvertedBytes()));
  // Piano, organ (looped sustain), violin, trumpet, pad, and a snare on 9.
  for (auto [patch, key] : {std::pair{0u, 60}, std::pair{19u, 67}, std::pair{40u, 72},
                            std::pair{56u, 60}, std::pair{89u, 48}, std::pair{0x80000000u, 38}}) {
    const int chan = patch & 0x80000000u ? 9 : 0;
    original.Select(chan, patch);
    converted.Select(chan, patch);
    const auto a = original.Note(chan, key, 100, 1.0, 0.8);
    const auto b = converted.Note(chan, key, 100, 1.0, 0.8);
    EXPECT_GE(Correlation(Envelope(a), Envelope(b)), 0.95) << "patch " << patch;
    EXPECT_LT(SpectralDistanceDb(a, b, 0.05, 0.9), 3.0) << "patch " << patch;
    if (chan != 9) {
      const double pa = PitchHz(a, kRate / 10, kRate / 2, KeyHz(key));
      const double pb = PitchHz(b, kRate / 10, kRate / 2, KeyHz(key));
      EXPECT_NEAR(Cents(pb, pa), 0.0, 1.0) << "patch " << patch;
    }
  }
}

} // namespace
} // namespace melo
