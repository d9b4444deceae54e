#include "music/TimedMidi.h"

#include <algorithm>

namespace melo {

bool TTimedMidiCollector::SendMidiMessage(std::uint8_t status, std::uint8_t data1,
                                          std::uint8_t data2) {
  if (!IsChannelMessage(status))
    return false;
  Messages.push_back({Time, status, static_cast<std::uint8_t>(data1 & 0x7F),
                      static_cast<std::uint8_t>(data2 & 0x7F)});
  return true;
}

std::uint32_t LastMessageTime(const std::vector<TTimedMidiMessage>& messages) {
  std::uint32_t last = 0;
  for (const TTimedMidiMessage& message : messages)
    last = std::max(last, message.Time);
  return last;
}

} // namespace melo
