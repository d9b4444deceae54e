#include "sound/SoundFontCheck.h"

#include "TinySoundFont.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <string>

namespace melo {
namespace {

using namespace melo::test;

bool Sound(const Bytes& bytes) {
  return CheckSoundFont(bytes) == TSoundFontCheck::Sound;
}

// A version 3 font whose one compressed sample is `stream` (its bytes are
// never decoded by the checks).
TFont Compressed(const std::string& stream, std::uint32_t end) {
  TFont font = CompressedFont(stream);
  font.Shdr.replace(24, 4, U32(end));
  return font;
}

TEST(SoundFontCheck, WellFormedFontsPass) {
  EXPECT_TRUE(Sound(TFont().Build()));
  TFont noSamples;
  noSamples.Samples.clear();
  noSamples.Shdr = noSamples.Shdr.substr(46); // only the terminal sample
  noSamples.Igen = U16(54) + U16(1) + U16(0) + U16(0);
  noSamples.Ibag = U16(0) + U16(0) + U16(1) + U16(0);
  EXPECT_TRUE(Sound(noSamples.Build()));
  // Bytes after the RIFF form and a 24-bit companion are allowed.
  Bytes longer = TFont().Build();
  longer.push_back(0);
  EXPECT_TRUE(Sound(longer));
  TFont sm24;
  sm24.Samples += Chunk("sm24", std::string(146, '\0'));
  EXPECT_TRUE(Sound(sm24.Build()));
  // Version 3: plain samples as in version 2, compressed ones by the byte
  // range of their stream, up to the data's last byte; its size may be odd.
  TFont plain3;
  plain3.Info = Chunk("ifil", U16(3) + U16(1));
  EXPECT_TRUE(Sound(plain3.Build()));
  EXPECT_TRUE(Sound(CompressedFont(OggTone()).Build()));
  EXPECT_TRUE(Sound(Compressed("OggS...", 7).Build()));
  EXPECT_TRUE(Sound(Compressed("OggS...", 1).Build()));
  // As version 3 writers leave them: no pad byte after the odd-sized samples
  // nor after their list.
  const TFont odd = Compressed("OggS...", 7);
  const std::string sdta = "sdta" + std::string("smpl") + U32(7) + "OggS...";
  EXPECT_TRUE(Sound(TFont::Riff(List("INFO", odd.Info) + "LIST" + U32(std::uint32_t(sdta.size())) +
                                sdta + List("pdta", odd.Pdta()))));
  // The General MIDI fonts the program is used with.
  for (const char* path :
       {"/usr/share/sounds/sf2/TimGM6mb.sf2", "/usr/share/sounds/sf3/FluidR3Mono_GM.sf3"}) {
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << path;
    EXPECT_TRUE(Sound(Bytes((std::istreambuf_iterator<char>(in)), {}))) << path;
  }
}

TEST(SoundFontCheck, EveryCutIsRefused) {
  const Bytes good = TFont().Build();
  for (std::size_t size = 0; size < good.size(); ++size)
    EXPECT_FALSE(Sound(Bytes(good.begin(), good.begin() + std::ptrdiff_t(size)))) << size;
}

TEST(SoundFontCheck, BrokenStructureIsRefusedWithTheCheckItFailed) {
  using enum TSoundFontCheck;
  struct TDamage {
    const char* What;
    std::function<void(TFont&)> Change;
    TSoundFontCheck Failed;
  };
  const std::vector<TDamage> damage = {
      {"no version", [](TFont& f) { f.Info = Chunk("INAM", "x"); }, Info},
      {"two versions", [](TFont& f) { f.Info += f.Info; }, Info},
      {"long version", [](TFont& f) { f.Info = Chunk("ifil", U16(2) + U16(1) + U16(0)); }, Info},
      {"long name", [](TFont& f) { f.Info += Chunk("INAM", std::string(258, 'a')); }, Info},
      {"version 1", [](TFont& f) { f.Info = Chunk("ifil", U16(1) + U16(0)); }, Version},
      {"version 4", [](TFont& f) { f.Info = Chunk("ifil", U16(4) + U16(0)); }, Version},
      {"odd sample bytes", [](TFont& f) { f.Samples = Chunk("smpl", std::string(293, '\1')); },
       SampleData},
      {"other sample chunk", [](TFont& f) { f.Samples = Chunk("smpX", std::string(292, '\1')); },
       SampleData},
      {"three sample chunks", [](TFont& f) { f.Samples += Chunk("sm24", "") + Chunk("sm24", ""); },
       SampleData},
      {"part of a preset", [](TFont& f) { f.Phdr.pop_back(); }, Records},
      {"only the terminal preset", [](TFont& f) { f.Phdr = f.Phdr.substr(38); }, Records},
      {"empty bags", [](TFont& f) { f.Pbag.clear(); }, Records},
      {"empty modulators", [](TFont& f) { f.Imod.clear(); }, Records},
      {"preset bags going back",
       [](TFont& f) { f.Phdr.replace(24, 2, U16(1)), f.Phdr.replace(38 + 24, 2, U16(0)); },
       Indices},
      {"preset bag beyond the bags", [](TFont& f) { f.Phdr.replace(38 + 24, 2, U16(2)); }, Indices},
      {"bag generator beyond", [](TFont& f) { f.Pbag.replace(4, 2, U16(2)); }, Indices},
      {"bag modulator beyond", [](TFont& f) { f.Ibag.replace(6, 2, U16(1)); }, Indices},
      {"bag generators going back",
       [](TFont& f) { f.Ibag.replace(0, 2, U16(2)), f.Ibag.replace(4, 2, U16(1)); }, Indices},
      {"instrument bag beyond", [](TFont& f) { f.Inst.replace(22 + 20, 2, U16(2)); }, Indices},
      {"instrument beyond", [](TFont& f) { f.Pgen.replace(2, 2, U16(1)); }, References},
      {"sample beyond", [](TFont& f) { f.Igen.replace(6, 2, U16(1)); }, References},
      {"sample end beyond the data", [](TFont& f) { f.Shdr.replace(24, 4, U32(147)); }, Samples},
      {"sample start after its end", [](TFont& f) { f.Shdr.replace(20, 4, U32(101)); }, Samples},
      {"loop beyond the data", [](TFont& f) { f.Shdr.replace(32, 4, U32(147)); }, Samples},
      {"compressed sample in version 2", [](TFont& f) { f.Shdr.replace(44, 2, U16(0x11)); },
       Samples},
      {"compressed stream beyond the data", [](TFont& f) { f = Compressed("OggS...", 8); },
       Samples},
      {"empty compressed stream", [](TFont& f) { f = Compressed("OggS...", 0); }, Samples},
      {"unknown sample type", [](TFont& f) { f.Shdr.replace(44, 2, U16(3)); }, Samples},
      {"linked sample beyond", [](TFont& f) { f.Shdr.replace(42, 4, U16(1) + U16(8)); }, Samples},
  };
  for (const auto& [what, change, failed] : damage) {
    TFont font;
    change(font);
    EXPECT_EQ(CheckSoundFont(font.Build()), failed) << what;
  }
  // Lists missing, doubled or out of order.
  const TFont f;
  const std::string info = List("INFO", f.Info), sdta = List("sdta", f.Samples),
                    pdta = List("pdta", f.Pdta());
  for (const std::string& body :
       {sdta + pdta, info + pdta, info + sdta, sdta + info + pdta, info + sdta + pdta + pdta,
        info + Chunk("junk", "") + sdta + pdta})
    EXPECT_EQ(CheckSoundFont(TFont::Riff(body)), Chunks);
  std::string pdtaSwapped = Chunk("pbag", f.Pbag) + Chunk("phdr", f.Phdr);
  const std::string rest = f.Pdta().substr(8 + f.Phdr.size() + 8 + f.Pbag.size());
  EXPECT_EQ(CheckSoundFont(TFont::Riff(info + sdta + List("pdta", pdtaSwapped + rest))), Records);
  // Another form, and a RIFF size beyond the bytes.
  Bytes dls = f.Build();
  std::memcpy(&dls[8], "DLS ", 4);
  EXPECT_EQ(CheckSoundFont(dls), NotSoundFont);
  Bytes big = f.Build();
  big[4] += 2;
  EXPECT_EQ(CheckSoundFont(big), Chunks);
}

TEST(SoundFontCheck, LinkedStereoPairsPass) {
  TFont font;
  // The one sample becomes the left half of a pair with a second, right sample.
  std::string right = font.Shdr.substr(0, 46);
  right.replace(42, 4, U16(0) + U16(2));
  font.Shdr.replace(42, 4, U16(1) + U16(4));
  font.Shdr.insert(46, right);
  EXPECT_TRUE(Sound(font.Build()));
}

} // namespace
} // namespace melo
