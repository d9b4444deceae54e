#pragma once
// The two outlets of everything that produces MIDI away from the window (the
// accompaniment, song playback): the sound engine and the recorder implement
// them, so the music units do not depend on either.
#include <cstdint>

namespace melo {

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

} // namespace melo
