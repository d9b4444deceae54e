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
    for (int i = 0; i < VoiceCount(); ++i)
      if (VoicePatch(i) == patch)
        return i;
    return -1;
  }
};

} // namespace melo
