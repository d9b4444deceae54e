#pragma once
// How a MIDI keyboard plays the piano: its notes sound on the right hand
// with the player's own velocity, the sustain controller works the right
// sustain pedal, and every other channel message goes to the right hand's
// channel as it is. Each played note remembers the note it sounded, so
// its release stops exactly that one whatever changed meanwhile. Window-free;
// one thread (the window's) calls it.
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "music/MidiInterfaces.h"

namespace melo {

class TMidiInRouter {
public:
  static constexpr std::uint8_t Channel = HandChannel(RightHand);
  static constexpr std::uint8_t SustainCC = 64; // down from 64 up
  static constexpr std::uint8_t AllSoundOffCC = 120;
  static constexpr std::uint8_t AllNotesOffCC = 123;

  // What the messages turn into; the performance carries them out (sound,
  // the lit key, the recording). Notes are the notes as they sound.
  std::function<void(int note, int velocity)> OnNoteOn;
  std::function<void(int note, int velocity)> OnNoteOff;
  // The right sustain pedal went down or up (on changes only).
  std::function<void(bool down)> OnSustain;
  // Any other channel message, already moved to the right hand's channel.
  std::function<void(std::uint8_t status, std::uint8_t data1, std::uint8_t data2)> OnPass;

  // Plays one channel message (length 2 or 3, any channel); one with a data
  // byte above 127 is refused. The transposition, shift, is added to the note
  // of a note-on; a note that falls off 0..127 is not played.
  void Play(const std::uint8_t* bytes, int length, int shift);
  // Stops every note this router started and lifts its pedal (used when
  // messages were lost on the way, so no note-off can have gone missing).
  void ReleaseAll();
  // The notes were silenced elsewhere (panic, a dialog): forget them without
  // a note-off. The pedal keeps its state: its next step still goes out.
  void Forget();

  // The note sounding for a played note, or -1.
  int SoundingNote(int played) const;
  // Every sounding note, ascending by the played note.
  std::vector<int> SoundingNotes() const;
  bool SustainDown() const { return FSustain; }

private:
  void NoteOn(int played, int velocity, int shift);
  void NoteOff(int played, int velocity);
  void Sustain(bool down);

  std::array<std::int16_t, 128> FSounding = MakeSilent();
  bool FSustain = false;

  static constexpr std::array<std::int16_t, 128> MakeSilent() {
    std::array<std::int16_t, 128> silent{};
    silent.fill(-1);
    return silent;
  }
};

} // namespace melo
