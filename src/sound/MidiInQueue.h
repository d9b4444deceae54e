#pragma once
// Hands MIDI input from the thread that reads it to the thread that plays it,
// in bounded room and without allocating. What only its last value matters
// for (pitch bend, channel pressure, key pressure, a continuous controller;
// per channel, note and controller) takes one place per delivery: a later
// value replaces the one waiting. Every other message (notes, sustain and the
// other switches, program and bank changes, parameter selects, mode messages)
// keeps its place. When the room runs out the oldest waiting values go first,
// and the last value of each level given up comes at the end of the next take;
// should a note event have to go, everything waiting goes and the taker is
// told to release every note (no note-off is ever lost unnoticed).
#include "sound/MidiByteParser.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>

namespace melo {

class TMidiInQueue {
public:
  static constexpr std::size_t Capacity = 4096;
  // The levels kept apart: per channel the bend, the channel pressure, each
  // key's pressure and each controller.
  static constexpr std::size_t LevelCount = 16 * (2 + 128 + 128);

  // What one take hands over: Count messages in the order they came (then
  // the last values of levels that were given up), after a loss when Lost is
  // set.
  struct TBatch {
    std::array<TMidiBytes, Capacity + LevelCount> Messages{};
    std::size_t Count = 0;
    bool Lost = false;
  };

  // The reading thread: one delivery, in order. True when the taker must be
  // woken: something waits and it was not woken since its last take.
  bool Deliver(std::span<const TMidiBytes> messages);
  // The reading thread: messages were lost before they reached the queue.
  bool MarkLost();

  // The taking thread: everything waiting, oldest first.
  void Take(TBatch& batch);

private:
  struct TEntry {
    std::uint64_t Order = 0; // arrival
    TMidiBytes Message;
    std::uint16_t Level = 0; // of a value
  };
  // One ring of entries, counted by absolute positions that only grow.
  struct TRing {
    std::array<TEntry, Capacity> Entries{};
    std::uint64_t Head = 0;
    std::uint64_t Tail = 0;
    std::size_t Size() const { return static_cast<std::size_t>(Tail - Head); }
    TEntry& At(std::uint64_t position) { return Entries[position % Capacity]; }
  };
  // Where a key's value of the current delivery waits.
  struct TValueSlot {
    std::uint32_t Delivery = 0;
    std::uint64_t Position = 0;
  };
  static constexpr std::size_t NoLevel = LevelCount;

  static std::size_t LevelOf(const TMidiBytes& message);
  void Push(const TMidiBytes& message);
  bool Coalesce(std::size_t level, const TMidiBytes& message);
  void DropOldestValue();
  void Clear();
  void GiveUp(std::size_t level);
  bool NeedsWaking();

  std::mutex FLock;
  TRing FEvents;
  TRing FValues;
  std::array<TValueSlot, LevelCount> FSlots{};
  std::array<TMidiBytes, LevelCount> FLast{}; // each level's last value
  std::array<bool, LevelCount> FGivenUp{};    // a value of it was dropped
  std::array<std::uint16_t, LevelCount> FGivenUpLevels{};
  std::size_t FGivenUpCount = 0;
  std::uint64_t FOrder = 0;
  std::uint32_t FDelivery = 0;
  bool FLost = false;
  bool FWoken = false;
};

} // namespace melo
