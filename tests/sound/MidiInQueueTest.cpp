// The queue between the MIDI reader and the thread that plays: note events
// keep their order, values coalesce within a delivery, a full queue gives up
// values before notes and says when notes were lost, and the taker is woken
// once per take.
#include "sound/MidiInQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

namespace melo {
namespace {

using Bytes = std::vector<std::uint8_t>;

TMidiBytes Message(std::uint8_t status, std::uint8_t data1, std::uint8_t data2 = 0) {
  const std::uint8_t kind = status & 0xF0;
  const std::uint8_t length = kind == 0xC0 || kind == 0xD0 ? 2 : 3;
  return {length, {status, data1, length == 3 ? data2 : std::uint8_t{0}}};
}

Bytes BytesOf(const TMidiBytes& m) {
  return {m.Bytes, m.Bytes + m.Length};
}

struct TTaken {
  std::vector<Bytes> Messages;
  bool Lost = false;
};

TTaken TakeAll(TMidiInQueue& queue) {
  auto batch = std::make_unique<TMidiInQueue::TBatch>();
  queue.Take(*batch);
  TTaken taken{{}, batch->Lost};
  for (std::size_t i = 0; i < batch->Count; ++i) {
    taken.Messages.push_back(BytesOf(batch->Messages[i]));
  }
  return taken;
}

// How many of two messages with these bytes one delivery keeps.
std::size_t KeptOfTwo(TMidiBytes first, TMidiBytes second) {
  TMidiInQueue queue;
  const TMidiBytes both[] = {first, second};
  queue.Deliver(both);
  return TakeAll(queue).Messages.size();
}

TEST(MidiInQueueTest, CoalescesOnlyWhatIsALevelOfOneChannelNoteAndController) {
  const std::vector<std::pair<TMidiBytes, std::size_t>> cases = {
      {Message(0xE0, 0, 64), 1},  {Message(0xEF, 0, 64), 1},  {Message(0xD3, 10), 1},
      {Message(0xA0, 60, 9), 1},  {Message(0xB0, 1, 9), 1},   {Message(0xB0, 5, 9), 1},
      {Message(0xB0, 7, 9), 1},   {Message(0xB0, 31, 9), 1},  {Message(0xB0, 33, 9), 1},
      {Message(0xB0, 63, 9), 1},  {Message(0xB0, 70, 9), 1},  {Message(0xB0, 83, 9), 1},
      {Message(0xB0, 85, 9), 1},  {Message(0xB0, 95, 9), 1},  {Message(0xB0, 102, 9), 1},
      {Message(0xB0, 119, 9), 1}, {Message(0xB0, 0, 9), 2},   {Message(0xB0, 32, 9), 2},
      {Message(0xB0, 6, 9), 2},   {Message(0xB0, 38, 9), 2},  {Message(0xB0, 64, 9), 2},
      {Message(0xB0, 69, 9), 2},  {Message(0xB0, 84, 9), 2},  {Message(0xB0, 96, 9), 2},
      {Message(0xB0, 101, 9), 2}, {Message(0xB0, 120, 0), 2}, {Message(0xB0, 127, 0), 2},
      {Message(0x90, 60, 9), 2},  {Message(0x80, 60, 9), 2},  {Message(0xC0, 5), 2},
  };
  for (const auto& [message, kept] : cases) {
    SCOPED_TRACE(testing::PrintToString(BytesOf(message)));
    TMidiBytes later = message;
    later.Bytes[message.Length - 1] ^= 1; // another value of the same thing
    EXPECT_EQ(KeptOfTwo(message, later), kept);
  }
  // Other channels, notes and controllers are other values.
  EXPECT_EQ(KeptOfTwo(Message(0xE0, 0, 64), Message(0xE1, 0, 64)), 2u);
  EXPECT_EQ(KeptOfTwo(Message(0xA0, 60, 9), Message(0xA0, 61, 9)), 2u);
  EXPECT_EQ(KeptOfTwo(Message(0xB0, 1, 9), Message(0xB0, 2, 9)), 2u);
  EXPECT_EQ(KeptOfTwo(Message(0xD0, 9), Message(0xE0, 9, 0)), 2u);
}

// The burst as the queue should hand it on: a value goes where its first
// value of the delivery came, with the last one.
std::vector<Bytes> Coalesced(const std::vector<TMidiBytes>& burst) {
  std::vector<Bytes> expected;
  std::map<int, std::size_t> placeOf; // by status, and controller number
  for (const TMidiBytes& m : burst) {
    const std::uint8_t kind = m.Bytes[0] & 0xF0;
    const bool level = kind == 0xE0 || kind == 0xD0 || (kind == 0xB0 && m.Bytes[1] != 64);
    const int key = m.Bytes[0] * 256 + (kind == 0xB0 ? m.Bytes[1] : 0);
    if (level && placeOf.contains(key)) {
      expected[placeOf[key]] = BytesOf(m);
      continue;
    }
    if (level) {
      placeOf[key] = expected.size();
    }
    expected.push_back(BytesOf(m));
  }
  return expected;
}

TEST(MidiInQueueTest, KeepsEveryNoteEventOfABurstInOrderWhileCoalescingValues) {
  // 10,000 messages: every fourth a note-on, note-off or sustain step on some
  // channel, between them bends, pressure, modulation, volume and expression.
  std::vector<TMidiBytes> burst;
  const std::uint8_t levels[][2] = {{0xE0, 0}, {0xD0, 0}, {0xB0, 1}, {0xB0, 7}, {0xB0, 11}};
  for (int i = 0; i < 10000; ++i) {
    const auto channel = static_cast<std::uint8_t>(i % 16);
    const auto value = static_cast<std::uint8_t>(i % 128);
    if (i % 4 == 0) {
      const std::uint8_t events[] = {0x90, 0x80, 0xB0};
      const std::uint8_t kind = events[(i / 4) % 3];
      burst.push_back(Message(kind | channel, kind == 0xB0 ? 64 : value, (i / 4) % 128));
      continue;
    }
    const auto* level = levels[i % 5];
    burst.push_back(Message(level[0] | channel, level[0] == 0xB0 ? level[1] : value, value));
  }
  TMidiInQueue queue;
  EXPECT_TRUE(queue.Deliver(burst));
  const TTaken taken = TakeAll(queue);
  EXPECT_FALSE(taken.Lost);
  EXPECT_EQ(taken.Messages, Coalesced(burst));
  // Channels and levels repeat every 80 messages, 60 of which are values.
  EXPECT_EQ(taken.Messages.size(), 2500u + 60u);
}

TEST(MidiInQueueTest, CoalescesWithinOneDeliveryOnly) {
  TMidiInQueue queue;
  const TMidiBytes first[] = {Message(0xE0, 0, 10), Message(0xE0, 0, 20)};
  const TMidiBytes second[] = {Message(0xE0, 0, 30)};
  queue.Deliver(first);
  queue.Deliver(second);
  EXPECT_EQ(TakeAll(queue).Messages, (std::vector<Bytes>{{0xE0, 0, 20}, {0xE0, 0, 30}}));
}

TEST(MidiInQueueTest, AFullQueueGivesUpTheOldestValueBeforeAnyNote) {
  TMidiInQueue queue;
  const TMidiBytes values[] = {Message(0xE0, 0, 10), Message(0xE1, 0, 11)};
  queue.Deliver(values);
  std::vector<TMidiBytes> notes;
  for (std::size_t i = 0; i + 2 < TMidiInQueue::Capacity; ++i) {
    notes.push_back(Message(0x90, static_cast<std::uint8_t>(i % 128), 100));
  }
  queue.Deliver(notes); // full now
  const TMidiBytes noteOff[] = {Message(0x80, 5, 64)};
  queue.Deliver(noteOff);
  const TTaken taken = TakeAll(queue);
  EXPECT_FALSE(taken.Lost);
  // The given-up bend's last value comes after the rest.
  ASSERT_EQ(taken.Messages.size(), TMidiInQueue::Capacity + 1);
  EXPECT_EQ(taken.Messages.front(), (Bytes{0xE1, 0, 11}));
  EXPECT_EQ(taken.Messages[1], (Bytes{0x90, 0, 100}));
  EXPECT_EQ(taken.Messages[TMidiInQueue::Capacity - 1], (Bytes{0x80, 5, 64}));
  EXPECT_EQ(taken.Messages.back(), (Bytes{0xE0, 0, 10}));
}

TEST(MidiInQueueTest, LevelsGivenUpForRoomOrLostStillEndAtTheirLastValue) {
  TMidiInQueue queue;
  const TMidiBytes first[] = {Message(0xE0, 0, 10), Message(0xB0, 7, 30)};
  const TMidiBytes second[] = {Message(0xE0, 0, 20)};
  queue.Deliver(first);
  queue.Deliver(second);
  const std::vector<TMidiBytes> notes(TMidiInQueue::Capacity - 1, Message(0x90, 60, 100));
  queue.Deliver(notes); // the two oldest values give way
  TTaken taken = TakeAll(queue);
  ASSERT_EQ(taken.Messages.size(), TMidiInQueue::Capacity + 2);
  EXPECT_EQ(taken.Messages.front(), (Bytes{0xE0, 0, 20}));
  EXPECT_EQ(taken.Messages[1], (Bytes{0x90, 60, 100}));
  // Each level given up once, with its last value, whichever value was dropped.
  EXPECT_EQ(taken.Messages[TMidiInQueue::Capacity], (Bytes{0xE0, 0, 20}));
  EXPECT_EQ(taken.Messages.back(), (Bytes{0xB0, 7, 30}));

  const TMidiBytes beforeLoss[] = {Message(0xB0, 11, 40), Message(0x90, 62, 100)};
  queue.Deliver(beforeLoss);
  queue.MarkLost();
  taken = TakeAll(queue);
  EXPECT_TRUE(taken.Lost);
  EXPECT_EQ(taken.Messages, (std::vector<Bytes>{{0xB0, 11, 40}}));
}

TEST(MidiInQueueTest, ANoteThatFindsNoRoomEndsEverythingWaitingAndSaysSo) {
  TMidiInQueue queue;
  std::vector<TMidiBytes> notes(TMidiInQueue::Capacity, Message(0x90, 60, 100));
  queue.Deliver(notes);
  const TMidiBytes noteOff[] = {Message(0x80, 60, 64), Message(0xE0, 0, 64)};
  queue.Deliver(noteOff);
  const TTaken taken = TakeAll(queue);
  EXPECT_TRUE(taken.Lost);
  EXPECT_EQ(taken.Messages, (std::vector<Bytes>{{0x80, 60, 64}, {0xE0, 0, 64}}));
  EXPECT_FALSE(TakeAll(queue).Lost); // said once
}

TEST(MidiInQueueTest, WakesTheTakerOncePerTake) {
  TMidiInQueue queue;
  const TMidiBytes note[] = {Message(0x90, 60, 100)};
  EXPECT_FALSE(queue.Deliver({}));
  EXPECT_TRUE(queue.Deliver(note));
  EXPECT_FALSE(queue.Deliver(note));
  EXPECT_FALSE(queue.MarkLost());
  const TTaken lost = TakeAll(queue);
  EXPECT_TRUE(lost.Lost);
  EXPECT_TRUE(lost.Messages.empty());
  EXPECT_TRUE(queue.MarkLost());
  TakeAll(queue);
  EXPECT_FALSE(queue.Deliver({}));
  EXPECT_TRUE(queue.Deliver(note));
}

TEST(MidiInQueueTest, TwoThreadsKeepTheOrderOfNotes) {
  // Notes 0..127 with velocities 1..127 count 16,256 note-ons: each one
  // taken must come after the one taken before it.
  TMidiInQueue queue;
  std::atomic<bool> done{false};
  std::thread reader([&] {
    for (int note = 0; note < 128; ++note) {
      std::vector<TMidiBytes> delivery;
      for (int velocity = 1; velocity < 128; ++velocity) {
        delivery.push_back(
            Message(0x90, static_cast<std::uint8_t>(note), static_cast<std::uint8_t>(velocity)));
      }
      queue.Deliver(delivery);
    }
    done = true;
  });
  auto batch = std::make_unique<TMidiInQueue::TBatch>();
  int last = -1;
  int taken = 0;
  bool lost = false;
  bool ordered = true;
  for (bool finished = false; !finished;) {
    finished = done;
    queue.Take(*batch);
    lost = lost || batch->Lost;
    for (std::size_t i = 0; i < batch->Count; ++i) {
      const int count = batch->Messages[i].Bytes[1] * 127 + batch->Messages[i].Bytes[2] - 1;
      ordered = ordered && count > last;
      last = count;
      ++taken;
    }
  }
  reader.join();
  EXPECT_TRUE(ordered);
  EXPECT_TRUE(lost || taken == 128 * 127);
  EXPECT_EQ(last, 128 * 127 - 1);
}

} // namespace
} // namespace melo
