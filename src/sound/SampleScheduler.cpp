#include "sound/SampleScheduler.h"

#include "music/MidiInterfaces.h"

#include <algorithm>
#include <cmath>

namespace melo {

TSampleScheduler::TSampleScheduler(int SampleRate, int BlockFrames, std::size_t Capacity)
    : FFramesPerMs(SampleRate / 1000.0), FBlock(std::max(BlockFrames, 1)), FCapacity(Capacity) {
  FQueue.reserve(Capacity);
  FTaken.reserve(Capacity);
}

bool TSampleScheduler::Push(double DueMs, std::uint8_t Status, std::uint8_t Data1,
                            std::uint8_t Data2) {
  std::lock_guard lock(FLock);
  if (FQueue.size() >= FCapacity)
    return false;
  // Producers push in time order nearly always: the place is found from the back.
  auto place = FQueue.end();
  while (place != FQueue.begin() && std::prev(place)->DueMs > DueMs)
    --place;
  FQueue.insert(place, TQueued{DueMs, Status, Data1, Data2});
  return true;
}

void TSampleScheduler::DropNoteOns(int Channel) {
  std::lock_guard lock(FLock);
  std::erase_if(FQueue, [Channel](const TQueued& m) {
    return (m.Status & 0xF0) == NoteOnStatus && (m.Status & 0x0F) == Channel && m.Data2 != 0;
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

std::int64_t TSampleScheduler::FrameOf(double Ms, int PeriodFrames) const {
  std::lock_guard lock(FLock);
  return FrameOfLocked(Ms, PeriodFrames);
}

std::int64_t TSampleScheduler::FrameOfLocked(double Ms, int PeriodFrames) const {
  return std::llround((Ms - FAnchorMs) * FFramesPerMs) + PeriodFrames;
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
TSampleScheduler::BeginPeriod(std::int64_t FirstFrame, int Frames, double NowMs, int BufferFrames) {
  std::lock_guard lock(FLock);
  const double offset = NowMs - static_cast<double>(FirstFrame) / FFramesPerMs;
  // A writer is at most its buffer less one period ahead of what is heard; a
  // period later than that (and half a period for wake-up jitter) was not
  // written in time: what is heard now lags the old tie.
  const double stallMs = (std::max(BufferFrames - Frames, 0) + Frames / 2.0) / FFramesPerMs;
  if (FOffsetCount > 0 && offset > FAnchorMs + stallMs) {
    FOffsetCount = 0;
    FOffsetNext = 0;
  }
  FOffsets[FOffsetNext] = offset;
  FOffsetNext = (FOffsetNext + 1) % AnchorWindow;
  FOffsetCount = std::min(FOffsetCount + 1, AnchorWindow);
  FAnchorMs = *std::min_element(FOffsets.begin(), FOffsets.begin() + FOffsetCount);

  FTaken.clear();
  const std::int64_t end = FirstFrame + Frames;
  std::size_t taken = 0;
  for (; taken < FQueue.size(); ++taken) {
    const TQueued& m = FQueue[taken];
    const std::int64_t frame = FrameOfLocked(m.DueMs, Frames);
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
