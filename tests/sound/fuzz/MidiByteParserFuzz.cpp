// libFuzzer entry for the MIDI byte parser (run by scripts/fuzz midi): any
// stream gives only well-formed channel messages, and the same messages again
// when a real-time byte is slipped in after every byte. Built with
// MELO_FUZZ_SEEDS it writes the seed corpus.
#include "sound/MidiByteParser.h"

#include "../../platform/fuzz/FuzzFiles.h"

#include <vector>

using namespace melo;

#ifndef MELO_FUZZ_SEEDS

namespace {

bool WellFormed(const TMidiBytes& m) {
  const std::uint8_t kind = m.Bytes[0] & 0xF0;
  const int length = kind == 0xC0 || kind == 0xD0 ? 2 : 3;
  return m.Bytes[0] >= 0x80 && m.Bytes[0] < 0xF0 && m.Length == length && m.Bytes[1] < 0x80 &&
         m.Bytes[2] < 0x80 && (length == 3 || m.Bytes[2] == 0);
}

std::vector<std::uint8_t> Parse(const std::uint8_t* data, std::size_t size, bool withClock) {
  TMidiByteParser parser;
  std::vector<std::uint8_t> messages;
  for (std::size_t i = 0; i < size; ++i) {
    if (parser.Feed(data[i])) {
      const TMidiBytes& m = parser.Message();
      if (!WellFormed(m))
        fuzz::Fail("a message that is not a channel message");
      messages.insert(messages.end(), m.Bytes, m.Bytes + m.Length);
    }
    if (withClock && parser.Feed(0xF8))
      fuzz::Fail("a real-time byte completed a message");
  }
  return messages;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (Parse(data, size, false) != Parse(data, size, true))
    fuzz::Fail("a real-time byte changed the messages");
  return 0;
}

#else

int main(int argc, char** argv) {
  if (argc != 2)
    return 2;
  const std::filesystem::path folder = argv[1];
  const std::uint8_t notes[] = {0x90, 0x3C, 0x64, 0x3E, 0x50, 0x80, 0x3C, 0x40, 0xC0, 0x05};
  const std::uint8_t controls[] = {0xB0, 0x40, 0x7F, 0x01, 0x20, 0xE0, 0x00, 0x40, 0xD0, 0x30};
  const std::uint8_t system[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7, 0xF2, 0x01, 0x02,
                                 0xF8, 0x90, 0xFE, 0x3C, 0x64, 0xF6, 0x3C, 0xF1, 0x03};
  bool ok = fuzz::WriteSeed(folder, "notes.mid", notes, sizeof notes);
  ok = fuzz::WriteSeed(folder, "controls.mid", controls, sizeof controls) && ok;
  ok = fuzz::WriteSeed(folder, "system.mid", system, sizeof system) && ok;
  return ok ? 0 : 1;
}

#endif
