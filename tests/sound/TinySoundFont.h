#pragma once
// A small SoundFont 2 built from its parts, for the structure checks' tests
// and the fuzzer's seeds.
#include <cstdint>
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

} // namespace melo::test
