#pragma once
// The two outlets of everything that produces MIDI away from the window (the
// accompaniment, song playback): the sound engine and the recorder implement
// them, so the music units do not depend on either.
#include <chrono>
#include <cstdint>
#include <optional>

namespace melo {

// Milliseconds of the steady clock since its epoch: the metronome's clock.
inline double SteadyClockMs() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// The two hands, numbered as the key definition stores them. Each hand plays
// on the MIDI channel of its own number.
enum THand : int { LeftHand = 0, RightHand = 1 };
inline constexpr int HandCount = 2;
constexpr int HandChannel(int hand) {
  return hand;
}
// General MIDI's channel for drum kits: the keys' drum notes, the
// accompaniment's percussion and a sound set's kits all meet there.
inline constexpr int DrumChannel = 9;

// Kinds of channel message: the status byte's high nibble, the channel its low one.
inline constexpr std::uint8_t NoteOffStatus = 0x80;
inline constexpr std::uint8_t NoteOnStatus = 0x90;
inline constexpr std::uint8_t ControlChangeStatus = 0xB0;
inline constexpr std::uint8_t ProgramChangeStatus = 0xC0;
constexpr std::uint8_t ChannelStatus(std::uint8_t kind, int channel) {
  return static_cast<std::uint8_t>(kind + channel);
}

// When the messages sent meanwhile are meant to sound. A producer that knows
// the musical time of what it sends (the accompaniment's sixteenth, a song
// event) opens a scope around its sends on its own thread: Ms is that time on
// the steady clock, SlackMs how late at most the producer hands a message over
// after it. A sink that places messages in its audio output plays them at
// Ms + SlackMs + one output period, so that each sounds at its own sample
// however the output is cut into periods. Sends outside any scope (live keys)
// play at once.
struct TIntendedTime {
  double Ms = 0;
  double SlackMs = 0;
};

class TIntendedTimeScope {
public:
  TIntendedTimeScope(double ms, double slackMs) : FPrevious(Active) { Active = {ms, slackMs}; }
  ~TIntendedTimeScope() { Active = FPrevious; }
  TIntendedTimeScope(const TIntendedTimeScope&) = delete;
  TIntendedTimeScope& operator=(const TIntendedTimeScope&) = delete;
  // The innermost scope open on the calling thread, if any.
  static std::optional<TIntendedTime> Current() { return Active; }

private:
  static inline thread_local std::optional<TIntendedTime> Active;
  std::optional<TIntendedTime> FPrevious;
};

class TMidiMessageSink {
public:
  virtual ~TMidiMessageSink() = default;
  // Plays one short MIDI message now; false when it could not be sent.
  virtual bool SendMidiMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) = 0;
};

class TRawMidiRecorder {
public:
  virtual ~TRawMidiRecorder() = default;
  // Appends a raw MIDI event (status * 65536 + data1 * 256 + data2) while
  // recording; safe to call from the metronome's worker thread.
  virtual void RecordRawMidi(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) = 0;
};

// The voices of the loaded sound set, in the order a hand's voice index counts
// them. The engine's instrument list implements it.
class TVoiceList {
public:
  virtual ~TVoiceList() = default;
  virtual int VoiceCount() const = 0;
  // Patch of voice 0..VoiceCount()-1.
  virtual std::uint32_t VoicePatch(int index) const = 0;
  // Index of the first voice with this patch, -1 when there is none.
  virtual int FindVoice(std::uint32_t patch) const {
    for (int i = 0; i < VoiceCount(); ++i) {
      if (VoicePatch(i) == patch)
        return i;
    }
    return -1;
  }
};

} // namespace melo
