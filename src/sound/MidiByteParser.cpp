#include "sound/MidiByteParser.h"

namespace melo {
namespace {

constexpr std::uint8_t NoStatus = 0;
constexpr std::uint8_t FirstStatus = 0x80;
constexpr std::uint8_t FirstSystemStatus = 0xF0;
constexpr std::uint8_t SysExStatus = 0xF0;
constexpr std::uint8_t FirstRealTime = 0xF8;

// The data bytes each status takes; 0 for those that take none (and for
// SysEx, whose data is not counted but skipped).
int DataLength(std::uint8_t status) {
  if (status < FirstSystemStatus) {
    const std::uint8_t kind = status & 0xF0;
    return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
  }
  switch (status) {
  case 0xF1: // time code quarter frame
  case 0xF3: // song select
    return 1;
  case 0xF2: // song position
    return 2;
  default:
    return 0;
  }
}

} // namespace

bool TMidiByteParser::Feed(std::uint8_t byte) {
  if (byte >= FirstRealTime) {
    return false; // a clock or sensing byte may come anywhere and changes nothing
  }
  if (byte >= FirstStatus) {
    BeginStatus(byte);
    return false;
  }
  return TakeData(byte);
}

void TMidiByteParser::BeginStatus(std::uint8_t status) {
  // An unfinished message before it is dropped; so is running status, unless
  // this is a channel status that becomes the new one.
  FDataCount = 0;
  FStatus = status == SysExStatus || DataLength(status) > 0 ? status : NoStatus;
}

bool TMidiByteParser::TakeData(std::uint8_t byte) {
  if (FStatus == NoStatus || FStatus == SysExStatus) {
    return false;
  }
  FData[FDataCount++] = byte;
  const int length = DataLength(FStatus);
  if (FDataCount < length) {
    return false;
  }
  FDataCount = 0;
  if (FStatus >= FirstSystemStatus) {
    FStatus = NoStatus; // system common: not played, and it ends running status
    return false;
  }
  FMessage.Length = static_cast<std::uint8_t>(1 + length);
  FMessage.Bytes[0] = FStatus;
  FMessage.Bytes[1] = FData[0];
  FMessage.Bytes[2] = length > 1 ? FData[1] : 0;
  return true;
}

} // namespace melo
