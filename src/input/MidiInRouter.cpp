#include "input/MidiInRouter.h"

namespace melo {
namespace {

constexpr std::uint8_t ReleaseVelocity = 64;

} // namespace

void TMidiInRouter::NoteOn(int played, int velocity, int shift) {
  // A note struck again before its release starts afresh.
  NoteOff(played, ReleaseVelocity);
  const int note = played + shift;
  if (note < 0 || note > 127) {
    return;
  }
  FSounding[static_cast<std::size_t>(played)] = static_cast<std::int16_t>(note);
  if (OnNoteOn) {
    OnNoteOn(note, velocity);
  }
}

void TMidiInRouter::NoteOff(int played, int velocity) {
  std::int16_t& sounding = FSounding[static_cast<std::size_t>(played)];
  if (sounding < 0) {
    return; // not sounding: nothing to stop
  }
  const int note = sounding;
  sounding = -1;
  if (OnNoteOff) {
    OnNoteOff(note, velocity);
  }
}

void TMidiInRouter::Sustain(bool down) {
  if (down == FSustain) {
    return; // a continuous pedal sends many values; only its steps count
  }
  FSustain = down;
  if (OnSustain) {
    OnSustain(down);
  }
}

void TMidiInRouter::Play(const std::uint8_t* bytes, int length, int shift) {
  if (length < 2 || bytes[0] < 0x80 || bytes[0] >= 0xF0) {
    return;
  }
  if (bytes[1] > 0x7F || (length > 2 && bytes[2] > 0x7F)) {
    return; // a data byte with bit 7 set is a status byte: the message is broken
  }
  const std::uint8_t kind = bytes[0] & 0xF0;
  const int data1 = bytes[1];
  const int data2 = length > 2 ? bytes[2] : 0;
  if (kind == NoteOnStatus && length > 2 && data2 > 0) {
    NoteOn(data1, data2, shift);
    return;
  }
  if (kind == NoteOffStatus || kind == NoteOnStatus) {
    NoteOff(data1, kind == NoteOffStatus ? data2 : ReleaseVelocity);
    return;
  }
  if (kind == ControlChangeStatus && data1 == SustainCC) {
    Sustain(data2 >= 64);
    return;
  }
  if (kind == ControlChangeStatus && (data1 == AllSoundOffCC || data1 == AllNotesOffCC)) {
    // Each note is ended as if released, so its key goes dark too.
    for (int played = 0; played < 128; ++played) {
      NoteOff(played, ReleaseVelocity);
    }
  }
  if (OnPass) {
    OnPass(static_cast<std::uint8_t>(kind | Channel), static_cast<std::uint8_t>(data1),
           static_cast<std::uint8_t>(data2));
  }
}

void TMidiInRouter::ReleaseAll() {
  for (int played = 0; played < 128; ++played) {
    NoteOff(played, ReleaseVelocity);
  }
  Sustain(false);
}

void TMidiInRouter::Forget() {
  FSounding.fill(-1);
}

int TMidiInRouter::SoundingNote(int played) const {
  return played >= 0 && played < 128 ? FSounding[static_cast<std::size_t>(played)] : -1;
}

std::vector<int> TMidiInRouter::SoundingNotes() const {
  std::vector<int> notes;
  for (const std::int16_t sounding : FSounding) {
    if (sounding >= 0) {
      notes.push_back(sounding);
    }
  }
  return notes;
}

} // namespace melo
