#include "sound/SampleScheduler.h"

#include "music/MidiInterfaces.h"

#include <algorithm>
#include <cmath>

namespace melo {

TSampleScheduler::TSampleScheduler(int sampleRate, int blockFrames, std::size_t capacity)
    : FFramesPerMs(sampleRate / 1000.0), FBlock(std::max(blockFrames, 1)), FCapacity(capacity) {
  FQueue.reserve(capacity);
  FTaken.reserve(capacity);
}

bool TSampleScheduler::Push(double dueMs, std::uint8_t status, std::uint8_t data1,
                            std::uint8_t data2) {
  std::lock_guard lock(FLock);
  if (FQueue.size() >= FCapacity)
    return false;
  // Producers push in time order nearly always: the place is found from the back.
  auto place = FQueue.end();
  while (place != FQueue.begin() && std::prev(place)->DueMs > dueMs)
    --place;
  FQueue.insert(place, TQueued{dueMs, status, data1, data2});
  return true;
}

void TSampleScheduler::DropNoteOns(int channel, int key) {
  std::lock_guard lock(FLock);
  std::erase_if(FQueue, [channel, key](const TQueued& m) {
    return (m.Status & 0xF0) == NoteOnStatus && (m.Status & 0x0F) == channel && m.Data2 != 0 &&
           (key < 0 || m.Data1 == key);
  });
}

void TSampleScheduler::Clear() {
  std::lock_guard lock(FLock);
  FQueue.clear();
}

void TSampleScheduler::Restart() {
  std::lock_guard lock(FLock);
  FOffsetCount = 0;
  FOffsetNext = 0;
}

std::size_t TSampleScheduler::Waiting() const {
  std::lock_guard lock(FLock);
  return FQueue.size();
}

std::int64_t TSampleScheduler::FrameOf(double ms, int periodFrames) const {
  std::lock_guard lock(FLock);
  return FrameOfLocked(ms, periodFrames);
}

std::int64_t TSampleScheduler::FrameOfLocked(double ms, int periodFrames) const {
  return std::llround((ms - FAnchorMs) * FFramesPerMs) + periodFrames;
}

std::span<const TSampleScheduler::TMessage> TSampleScheduler::TakeAll() {
  std::lock_guard lock(FLock);
  FTaken.clear();
  for (const TQueued& m : FQueue)
    FTaken.push_back(TMessage{0, m.Status, m.Data1, m.Data2});
  FQueue.clear();
  return FTaken;
}

std::span<const TSampleScheduler::TMessage>
TSampleScheduler::BeginPeriod(std::int64_t firstFrame, int frames, double nowMs, int bufferFrames) {
  std::lock_guard lock(FLock);
  const double offset = nowMs - static_cast<double>(firstFrame) / FFramesPerMs;
  // A writer is at most its buffer less one period ahead of what is heard; a
  // period later than that (and half a period for wake-up jitter) was not
  // written in time: what is heard now lags the old tie.
  const double stallMs = (std::max(bufferFrames - frames, 0) + frames / 2.0) / FFramesPerMs;
  if (FOffsetCount > 0 && offset > FAnchorMs + stallMs) {
    FOffsetCount = 0;
    FOffsetNext = 0;
  }
  FOffsets[FOffsetNext] = offset;
  FOffsetNext = (FOffsetNext + 1) % AnchorWindow;
  FOffsetCount = std::min(FOffsetCount + 1, AnchorWindow);
  FAnchorMs = *std::min_element(FOffsets.begin(), FOffsets.begin() + FOffsetCount);

  FTaken.clear();
  const std::int64_t end = firstFrame + frames;
  std::size_t taken = 0;
  for (; taken < FQueue.size(); ++taken) {
    const TQueued& m = FQueue[taken];
    const std::int64_t frame = FrameOfLocked(m.DueMs, frames);
    const auto block =
        static_cast<std::int64_t>(std::llround(static_cast<double>(frame) / FBlock) * FBlock);
    if (block >= end)
      break; // the queue is in time order: the rest is later still
    FTaken.push_back(TMessage{block, m.Status, m.Data1, m.Data2});
  }
  FQueue.erase(FQueue.begin(), FQueue.begin() + static_cast<std::ptrdiff_t>(taken));
  return FTaken;
}

} // namespace melo
