#pragma once
// MIDI as a stream of bytes (as JACK and hardware bridges deliver it, cut into
// events anywhere) made whole channel messages again: running status, a
// message split over several events, real-time bytes anywhere, SysEx of any
// length skipped as it passes, stray data bytes dropped, and a status byte
// ending whatever message it interrupts. Window-free, allocation-free: fit for
// a real-time thread.
#include <cstdint>

namespace melo {

// One short MIDI message as it travels between threads.
struct TMidiBytes {
  std::uint8_t Length = 0; // 1..3
  std::uint8_t Bytes[3] = {0, 0, 0};
};

class TMidiByteParser {
public:
  // Takes the next byte of the stream: true when it completed a channel
  // message, which Message() holds until the next call.
  bool Feed(std::uint8_t byte);
  const TMidiBytes& Message() const { return FMessage; }

private:
  void BeginStatus(std::uint8_t status);
  bool TakeData(std::uint8_t byte);

  // The status whose data bytes come next: a channel status (kept as running
  // status), a system common status, SysEx (its data is skipped), or none (a
  // data byte is stray).
  std::uint8_t FStatus = 0;
  std::uint8_t FData[2] = {0, 0};
  std::uint8_t FDataCount = 0;
  TMidiBytes FMessage;
};

} // namespace melo
