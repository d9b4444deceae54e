#pragma once
// Hands timed MIDI messages to the audio output at their sample. Producers on
// any thread push a message with the steady-clock time it should sound at; the
// audio thread, once per period, tells when the period began (its first frame
// and the clock's time) and takes the messages that fall into it, each with
// its frame.
//
// The clock and the frame count are tied by the earliest period start seen in
// the last few dozen periods (late wake-ups of the audio thread do not move
// it, a slow drift of the sound card's clock does). A message due at time T
// belongs to the frame of T plus one period: it may arrive up to one period
// before its period is rendered, so it is never too late when it arrives by T.
// A message that arrives later still plays at once, at the start of the next
// period. A period that starts later than the output's buffer allows means
// the output ran dry and resumed later: the tie starts again from there.
#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

namespace melo {

class TSampleScheduler {
public:
  struct TMessage {
    std::int64_t Frame; // the frame it belongs to; earlier than the period when late
    std::uint8_t Status, Data1, Data2;
  };

  // blockFrames: the synthesizer takes messages only between blocks of this
  // many frames; a message goes to the nearest block boundary.
  TSampleScheduler(int sampleRate, int blockFrames, std::size_t capacity = 4096);

  // Any thread. False (nothing queued) when the queue is full.
  bool Push(double dueMs, std::uint8_t status, std::uint8_t data1, std::uint8_t data2);
  // Drops the waiting note-ons of a channel (of one key of it, key >= 0): an
  // all-notes-off or a note-off sent now must not be outlived by notes that
  // still wait for their sample.
  void DropNoteOns(int channel, int key = -1);
  void Clear();
  // Forgets how the clock and the frames were tied: the next period starts a
  // new tie (a new output, or one reopened after a gap).
  void Restart();
  std::size_t Waiting() const;

  // Audio thread, once per period of frames frames starting at firstFrame,
  // nowMs being the clock at its start; bufferFrames is how much the output
  // holds (a period's worth or less for an output that calls once per period
  // of its own). The messages whose block boundary falls before the period's
  // end, in time order (ties in the order pushed). The span stays valid until
  // the next call.
  std::span<const TMessage> BeginPeriod(std::int64_t firstFrame, int frames, double nowMs,
                                        int bufferFrames = 0);
  // Every waiting message in time order (frames unset), for a caller that
  // plays them at once because no period will come (the output closes).
  std::span<const TMessage> TakeAll();
  // The frame a time belongs to under the last period's anchor (tests, tools).
  std::int64_t FrameOf(double ms, int periodFrames) const;

private:
  struct TQueued {
    double DueMs;
    std::uint8_t Status, Data1, Data2;
  };
  static constexpr std::size_t AnchorWindow = 48;
  std::int64_t FrameOfLocked(double ms, int periodFrames) const;

  const double FFramesPerMs;
  const int FBlock;
  const std::size_t FCapacity;
  mutable std::mutex FLock;
  std::vector<TQueued> FQueue; // ascending DueMs, ties in push order
  std::vector<TMessage> FTaken;
  std::array<double, AnchorWindow> FOffsets{}; // period start time minus frame time, ms
  std::size_t FOffsetCount = 0;
  std::size_t FOffsetNext = 0;
  double FAnchorMs = 0; // clock time of frame 0
};

} // namespace melo
