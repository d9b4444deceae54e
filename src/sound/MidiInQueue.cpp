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

std::size_t TMidiInQueue::ValueKey(const TMidiBytes& message) {
  const std::uint8_t kind = message.Bytes[0] & 0xF0;
  const std::size_t first = static_cast<std::size_t>(message.Bytes[0] & 0x0F) * KeysPerChannel;
  const std::uint8_t number = message.Bytes[1] & 0x7F;
  switch (kind) {
  case PitchBendStatus:
    return first;
  case ChannelPressureStatus:
    return first + 1;
  case KeyPressureStatus:
    return first + 2 + number;
  case ControlChangeStatus:
    return IsContinuousController(number) ? first + 2 + 128 + number : NoKey;
  default:
    return NoKey;
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
  batch.Lost = FLost;
  FLost = false;
  FWoken = false;
}

void TMidiInQueue::Push(const TMidiBytes& message) {
  const std::size_t key = ValueKey(message);
  if (key != NoKey && Coalesce(key, message)) {
    return;
  }
  if (FEvents.Size() + FValues.Size() == Capacity) {
    if (FValues.Size() > 0) {
      ++FValues.Head; // the oldest value is the least missed
    } else {
      Clear();
      FLost = true;
    }
  }
  TRing& ring = key == NoKey ? FEvents : FValues;
  if (key != NoKey) {
    FSlots[key] = {FDelivery, ring.Tail};
  }
  ring.At(ring.Tail++) = {FOrder++, message};
}

// A value of this delivery still waiting takes the newer one in its place.
bool TMidiInQueue::Coalesce(std::size_t key, const TMidiBytes& message) {
  const TValueSlot& slot = FSlots[key];
  if (slot.Delivery != FDelivery || slot.Position < FValues.Head) {
    return false;
  }
  FValues.At(slot.Position).Message = message;
  return true;
}

void TMidiInQueue::Clear() {
  FEvents.Head = FEvents.Tail;
  FValues.Head = FValues.Tail;
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
