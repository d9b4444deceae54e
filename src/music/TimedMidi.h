#pragma once
// Short MIDI messages with the millisecond they are sent at: what a song
// sends when it is played offline, handed on to the MIDI-file writer and the
// audio renderer.
#include "music/MidiInterfaces.h"

#include <cstdint>
#include <vector>

namespace melo {

struct TTimedMidiMessage {
  std::uint32_t Time = 0; // ms from the start of the song
  std::uint8_t Status = 0;
  std::uint8_t Data1 = 0;
  std::uint8_t Data2 = 0;

  bool operator==(const TTimedMidiMessage&) const = default;
};

// True for the channel messages a synthesizer plays (0x80..0xEF); anything
// else (system messages, stray data bytes from a damaged song) is dropped.
constexpr bool IsChannelMessage(std::uint8_t status) {
  return status >= 0x80 && status < 0xF0;
}

// A sink that keeps every channel message it is sent, stamped with Time,
// which the one who plays into it moves forward. One thread only.
class TTimedMidiCollector final : public TMidiMessageSink {
public:
  std::uint32_t Time = 0;
  std::vector<TTimedMidiMessage> Messages;

  bool SendMidiMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) override;
};

// The time of the last message, 0 when there is none.
std::uint32_t LastMessageTime(const std::vector<TTimedMidiMessage>& messages);

} // namespace melo
