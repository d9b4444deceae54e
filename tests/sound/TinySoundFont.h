#pragma once
// A small SoundFont 2 built from its parts, for the structure checks' tests
// and the fuzzer's seeds, and its version 3 form with a compressed sample.
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace melo::test {

using Bytes = std::vector<std::uint8_t>;

inline std::string U16(unsigned v) {
  return {char(v), char(v >> 8)};
}
inline std::string U32(std::uint32_t v) {
  return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}
inline std::string Chunk(const std::string& id, const std::string& body) {
  return id + U32(std::uint32_t(body.size())) + body + (body.size() % 2 ? std::string(1, 0) : "");
}
inline std::string List(const std::string& type, const std::string& body) {
  return Chunk("LIST", type + body);
}
inline std::string Name(const std::string& name) {
  std::string field = name;
  field.resize(20, '\0');
  return field;
}

// The parts of a small SoundFont: one preset on one instrument on one looped
// sample of 100 frames, each list closed by its terminal record. Tests change
// a part and assemble the file.
struct TFont {
  std::string Info = Chunk("ifil", U16(2) + U16(1)) + Chunk("INAM", std::string("Tiny\0", 5));
  std::string Samples = Chunk("smpl", std::string(2 * 100 + 2 * 46, '\1'));
  std::string Phdr = Name("Piano") + U16(0) + U16(0) + U16(0) + U32(0) + U32(0) + U32(0) +
                     Name("EOP") + U16(0) + U16(0) + U16(1) + U32(0) + U32(0) + U32(0);
  std::string Pbag = U16(0) + U16(0) + U16(1) + U16(0);
  std::string Pmod = std::string(10, '\0');
  std::string Pgen = U16(41) + U16(0) + U16(0) + U16(0);
  std::string Inst = Name("Piano") + U16(0) + Name("EOI") + U16(1);
  std::string Ibag = U16(0) + U16(0) + U16(2) + U16(0);
  std::string Imod = std::string(10, '\0');
  std::string Igen = U16(54) + U16(1) + U16(53) + U16(0) + U16(0) + U16(0);
  std::string Shdr = Name("Tone") + U32(0) + U32(100) + U32(10) + U32(90) + U32(44100) +
                     std::string{char(60), 0} + U16(0) + U16(1) + Name("EOS") + U32(0) + U32(0) +
                     U32(0) + U32(0) + U32(0) + std::string{0, 0} + U16(0) + U16(0);

  std::string Pdta() const {
    return Chunk("phdr", Phdr) + Chunk("pbag", Pbag) + Chunk("pmod", Pmod) + Chunk("pgen", Pgen) +
           Chunk("inst", Inst) + Chunk("ibag", Ibag) + Chunk("imod", Imod) + Chunk("igen", Igen) +
           Chunk("shdr", Shdr);
  }
  Bytes Build() const {
    return Riff(List("INFO", Info) + List("sdta", Samples) + List("pdta", Pdta()));
  }
  static Bytes Riff(const std::string& body) {
    const std::string file = Chunk("RIFF", "sfbk" + body);
    return Bytes(file.begin(), file.end());
  }
};

// A second of a sine at 441 Hz (100 frames a period at 44.1 kHz), encoded as
// one Ogg Vorbis stream in memory; empty when the encoder fails.
inline std::string OggTone() {
  struct TMemory {
    std::string Bytes;
    sf_count_t Position = 0;
  } memory;
  SF_VIRTUAL_IO io{};
  io.get_filelen = [](void* m) { return sf_count_t(static_cast<TMemory*>(m)->Bytes.size()); };
  io.seek = [](sf_count_t offset, int whence, void* m) {
    auto* mem = static_cast<TMemory*>(m);
    const sf_count_t base = whence == SEEK_SET   ? 0
                            : whence == SEEK_CUR ? mem->Position
                                                 : sf_count_t(mem->Bytes.size());
    return mem->Position = base + offset;
  };
  io.read = [](void* out, sf_count_t count, void* m) {
    auto* mem = static_cast<TMemory*>(m);
    const sf_count_t n =
        std::clamp<sf_count_t>(sf_count_t(mem->Bytes.size()) - mem->Position, 0, count);
    std::memcpy(out, mem->Bytes.data() + mem->Position, std::size_t(n));
    mem->Position += n;
    return n;
  };
  io.write = [](const void* in, sf_count_t count, void* m) {
    auto* mem = static_cast<TMemory*>(m);
    const auto end = std::size_t(mem->Position + count);
    mem->Bytes.resize(std::max(mem->Bytes.size(), end));
    std::memcpy(mem->Bytes.data() + mem->Position, in, std::size_t(count));
    mem->Position += count;
    return count;
  };
  io.tell = [](void* m) { return static_cast<TMemory*>(m)->Position; };
  SF_INFO info{};
  info.samplerate = 44100;
  info.channels = 1;
  info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
  SNDFILE* file = sf_open_virtual(&io, SFM_WRITE, &info, &memory);
  if (file == nullptr)
    return {};
  std::vector<short> tone(44100);
  for (std::size_t i = 0; i < tone.size(); ++i)
    tone[i] = short(12000 * std::sin(2 * M_PI * double(i % 100) / 100));
  const bool written =
      sf_write_short(file, tone.data(), sf_count_t(tone.size())) == sf_count_t(tone.size());
  sf_close(file);
  return written ? memory.Bytes : std::string();
}

// The tiny font as version 3: its one sample is the compressed stream, at
// root key 69 and looped over whole periods (frames 1000..44000 of the sound).
inline TFont CompressedFont(const std::string& ogg) {
  TFont font;
  font.Info = Chunk("ifil", U16(3) + U16(1)) + Chunk("INAM", std::string("Tiny3\0", 6));
  font.Samples = Chunk("smpl", ogg);
  font.Shdr.replace(20, 22,
                    U32(0) + U32(std::uint32_t(ogg.size())) + U32(1000) + U32(44000) + U32(44100) +
                        std::string{char(69), 0});
  font.Shdr.replace(44, 2, U16(0x11)); // mono, Ogg Vorbis
  return font;
}

} // namespace melo::test
