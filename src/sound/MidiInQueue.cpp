#include "sound/MidiInQueue.h"

namespace melo {
namespace {

constexpr std::uint8_t KeyPressureStatus = 0xA0;
constexpr std::uint8_t ControlChangeStatus = 0xB0;
constexpr std::uint8_t ChannelPressureStatus = 0xD0;
constexpr std::uint8_t PitchBendStatus = 0xE0;

// A controller that sets a level (modulation, volume, expression, effect
// depths, ...), unlike bank selects and data entry (whose order with program
// changes and parameter selects matters), switches, the portamento note and
// the mode messages.
bool IsContinuousController(std::uint8_t controller) {
  const bool bankOrData =
      controller == 0 || controller == 32 || controller == 6 || controller == 38;
  const bool switchOrNote = (controller >= 64 && controller <= 69) || controller == 84;
  const bool parameterSelect = controller >= 96 && controller <= 101;
  const bool channelMode = controller >= 120;
  return !bankOrData && !switchOrNote && !parameterSelect && !channelMode;
}

} // namespace

std::size_t TMidiInQueue::LevelOf(const TMidiBytes& message) {
  const std::uint8_t kind = message.Bytes[0] & 0xF0;
  const std::size_t first = static_cast<std::size_t>(message.Bytes[0] & 0x0F) * (LevelCount / 16);
  const std::uint8_t number = message.Bytes[1] & 0x7F;
  switch (kind) {
  case PitchBendStatus:
    return first;
  case ChannelPressureStatus:
    return first + 1;
  case KeyPressureStatus:
    return first + 2 + number;
  case ControlChangeStatus:
    return IsContinuousController(number) ? first + 2 + 128 + number : NoLevel;
  default:
    return NoLevel;
  }
}

bool TMidiInQueue::Deliver(std::span<const TMidiBytes> messages) {
  std::lock_guard guard(FLock);
  ++FDelivery;
  for (const TMidiBytes& message : messages) {
    Push(message);
  }
  return NeedsWaking();
}

bool TMidiInQueue::MarkLost() {
  std::lock_guard guard(FLock);
  Clear();
  FLost = true;
  return NeedsWaking();
}

void TMidiInQueue::Take(TBatch& batch) {
  std::lock_guard guard(FLock);
  batch.Count = 0;
  // The two rings merged back into the order of arrival.
  while (FEvents.Size() + FValues.Size() > 0) {
    const bool event =
        FValues.Size() == 0 ||
        (FEvents.Size() > 0 && FEvents.At(FEvents.Head).Order < FValues.At(FValues.Head).Order);
    TRing& ring = event ? FEvents : FValues;
    batch.Messages[batch.Count++] = ring.At(ring.Head++).Message;
  }
  for (std::size_t i = 0; i < FGivenUpCount; ++i) {
    const std::uint16_t level = FGivenUpLevels[i];
    batch.Messages[batch.Count++] = FLast[level];
    FGivenUp[level] = false;
  }
  FGivenUpCount = 0;
  batch.Lost = FLost;
  FLost = false;
  FWoken = false;
}

void TMidiInQueue::Push(const TMidiBytes& message) {
  const std::size_t level = LevelOf(message);
  if (level != NoLevel) {
    FLast[level] = message;
    if (Coalesce(level, message)) {
      return;
    }
  }
  if (FEvents.Size() + FValues.Size() == Capacity) {
    if (FValues.Size() > 0) {
      DropOldestValue();
    } else {
      Clear();
      FLost = true;
    }
  }
  TRing& ring = level == NoLevel ? FEvents : FValues;
  if (level != NoLevel) {
    FSlots[level] = {FDelivery, ring.Tail};
  }
  ring.At(ring.Tail++) = {FOrder++, message, static_cast<std::uint16_t>(level)};
}

// A value of this delivery still waiting takes the newer one in its place.
bool TMidiInQueue::Coalesce(std::size_t level, const TMidiBytes& message) {
  const TValueSlot& slot = FSlots[level];
  if (slot.Delivery != FDelivery || slot.Position < FValues.Head) {
    return false;
  }
  FValues.At(slot.Position).Message = message;
  return true;
}

// The oldest value is the least missed: its level's last value still comes.
void TMidiInQueue::DropOldestValue() {
  GiveUp(FValues.At(FValues.Head).Level);
  ++FValues.Head;
}

void TMidiInQueue::Clear() {
  while (FValues.Size() > 0) {
    DropOldestValue();
  }
  FEvents.Head = FEvents.Tail;
}

void TMidiInQueue::GiveUp(std::size_t level) {
  if (!FGivenUp[level]) {
    FGivenUp[level] = true;
    FGivenUpLevels[FGivenUpCount++] = static_cast<std::uint16_t>(level);
  }
}

bool TMidiInQueue::NeedsWaking() {
  const bool waiting = FLost || FEvents.Size() + FValues.Size() > 0;
  if (!waiting || FWoken) {
    return false;
  }
  FWoken = true;
  return true;
}

} // namespace melo
