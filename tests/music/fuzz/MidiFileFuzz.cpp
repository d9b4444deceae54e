// libFuzzer entry for Standard MIDI Files (run by scripts/fuzz midifile): any
// bytes are read or refused without a crash, a hang or undefined behaviour;
// what is read is written back by the program's MIDI file writer and reads
// back to the same messages (the writer adds an end to each drum strike, so
// note-offs on the drum channel may differ once; a second round changes
// nothing). Built with MELO_FUZZ_SEEDS it writes the seed corpus instead.
#include "music/KoMidiFile.h"
#include "music/MidiFileReader.h"

#include "../../platform/fuzz/FuzzFiles.h"

#include <string>

using namespace melo;

namespace {

std::vector<std::uint8_t> Written(const TMidiFileContent& content) {
  std::vector<std::uint8_t> file;
  const std::string title = content.TrackNames.empty() ? "" : content.TrackNames.front();
  if (!BuildMidiFile(content.Messages, {title, "", content.Copyright}, content.EndTime, file))
    fuzz::Fail("what was read cannot be written");
  return file;
}

TMidiFileContent ReadBack(const std::vector<std::uint8_t>& file) {
  TMidiFileContent content;
  std::string reason;
  if (!ParseMidiFile(file, content, reason))
    fuzz::Fail("a written file does not read");
  return content;
}

// The messages of one channel in order, without the drum channel's note-offs.
std::vector<TTimedMidiMessage> Channel(const TMidiFileContent& content, int channel) {
  std::vector<TTimedMidiMessage> messages;
  for (const TTimedMidiMessage& message : content.Messages) {
    const bool drumOff = channel == DrumChannel && (message.Status & 0xF0) == NoteOffStatus;
    if ((message.Status & 0x0F) == channel && !drumOff)
      messages.push_back(message);
  }
  return messages;
}

} // namespace

#ifndef MELO_FUZZ_SEEDS

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TMidiFileContent content;
  std::string reason;
  if (!ParseMidiFile({data, size}, content, reason)) {
    if (reason.empty() || !content.Messages.empty())
      fuzz::Fail("a refusal without its reason, or with messages kept");
    return 0;
  }
  for (const TTimedMidiMessage& message : content.Messages) {
    if (!IsChannelMessage(message.Status) || message.Data1 > 0x7F || message.Data2 > 0x7F ||
        message.Time > MaxMidiFileMs) {
      fuzz::Fail("a message no channel message can be");
    }
  }
  const TMidiFileContent once = ReadBack(Written(content));
  for (int channel = 0; channel < 16; ++channel) {
    if (Channel(once, channel) != Channel(content, channel))
      fuzz::Fail("written and read back, a channel's messages differ");
  }
  if (ReadBack(Written(once)).Messages != once.Messages)
    fuzz::Fail("a second round changes the messages");
  return 0;
}

#else

namespace {

std::vector<std::uint8_t> Chunk(const char* type, std::vector<std::uint8_t> data) {
  const auto n = static_cast<std::uint32_t>(data.size());
  std::vector<std::uint8_t> chunk(type, type + 4);
  chunk.insert(chunk.end(), {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
                             static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
  chunk.insert(chunk.end(), data.begin(), data.end());
  return chunk;
}

} // namespace

// The writer's own files, a format 0 file with running status, system
// exclusive, texts and a tempo change, and one with SMPTE frames.
int main(int argc, char** argv) {
  if (argc != 2)
    return 2;
  const std::filesystem::path folder = argv[1];
  const std::vector<TTimedMidiMessage> played{
      {0, 0xC0, 5, 0},      {0, 0x90, 60, 100},  {250, 0x80, 60, 0}, {250, 0x99, 36, 90},
      {300, 0xB1, 64, 127}, {310, 0x91, 67, 80}, {900, 0xE1, 0, 70}, {1200, 0x81, 67, 0}};
  std::vector<std::uint8_t> written;
  bool ok = BuildMidiFile(played, {"Seed", "Fuzz", "Remark"}, 1500, written) &&
            fuzz::WriteSeed(folder, "written.mid", written.data(), written.size());

  const std::vector<std::uint8_t> events{
      0,    0xFF, 0x03, 4,    'S',  'e',  'e',  'd',  0,  0xFF, 0x51, 3,    0x07, 0xA1, 0x20,
      0,    0xF0, 5,    0x7E, 0x7F, 0x09, 0x01, 0xF7, 0,  0x90, 60,   100,  48,   64,   90,
      0,    0xFF, 0x01, 3,    'a',  'b',  'c',  24,   60, 0,    0,    0xFF, 0x51, 3,    0x03,
      0xD0, 0x90, 24,   64,   0,    0x83, 0x60, 0xC1, 9,  0,    0xFF, 0x2F, 0};
  for (const auto& [name, division] : {std::pair{"format0.mid", std::uint16_t{96}},
                                       std::pair{"smpte.mid", std::uint16_t{0xE728}}}) {
    std::vector<std::uint8_t> file =
        Chunk("MThd", {0, 0, 0, 1, static_cast<std::uint8_t>(division >> 8),
                       static_cast<std::uint8_t>(division)});
    const std::vector<std::uint8_t> track = Chunk("MTrk", events);
    file.insert(file.end(), track.begin(), track.end());
    ok = fuzz::WriteSeed(folder, name, file.data(), file.size()) && ok;
  }
  return ok ? 0 : 1;
}

#endif
