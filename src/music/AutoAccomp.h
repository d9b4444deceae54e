#pragma once
// The auto accompaniment: a library of 72 styles in six groups of twelve, one
// current style whose drum part plays on channel 9 at every sixteenth note of
// the metronome, fill-ins that play once and hand back to the main section,
// the melodic parts over the chord of the left hand and a chord pad on
// channel 6.
//
// The melodic parts: bass (channel 4), arpeggio (channel 5, two voices) and
// chord (channel 6) play the degree codes of the live section's steps, each
// part looping on its own length (PartBeats, PartTwoBars) and restarting with
// the section. A code becomes a note by ChordDegreeToNote over the chord's
// root in the octave from 48 up; a chord step sounds every tone of the chord
// type, close together upward from that note. NoNoteStep is a rest and
// HoldStep a hold (see PresetAccompStyle.h). A part's note ends at the next
// code of its voice, at the first step of a new chord when that step holds,
// and at once when the accompaniment stops, a style loads, a section (a
// fill-in) begins or ends, or the melodic parts are switched off. Velocity:
// the part's level times its volume (AChordVolume, AArpeggioVolume,
// ABassVolume) div 9.
//
// The chord: the owner hands over the left hand's notes (FollowLeftHand);
// in fixed-chord mode the newest key picks a fixed chord of C major, else the
// held notes name the chord (RecogniseChord). The chord takes over on the
// next sixteenth, never within a step.
//
// Threads: the setters run on the UI thread, AccompTick on the metronome's
// worker. One lock guards the play state; the tick holds it for at most
// eight drum note-ons and seven part notes with their note-offs, a setter
// for a record copy at most, so neither waits long and the tick never sees a
// half-replaced style. Events fire with the lock released; OnFillInEndEvent
// and OnAutoChordChange may fire on the worker (a fill-in that ends by
// itself, a chord that takes over). Bind the events and set Engine and
// Recorder before starting.
#include "music/Chord.h"
#include "music/KoMetronome.h"
#include "music/MidiInterfaces.h"
#include "music/PresetAccompStyle.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>

namespace melo {

inline constexpr int AccompGroupCount = 6;
inline constexpr int AccompGroupSize = 12;
inline constexpr int AccompLibrarySize = AccompGroupCount * AccompGroupSize;

// MIDI channels of the accompaniment, counted from 0; the percussion plays
// on DrumChannel.
inline constexpr std::uint8_t BassChannel = 4;
inline constexpr std::uint8_t ArpeggioChannel = 5;
inline constexpr std::uint8_t ChordChannel = 6;

class TAutoAccomp {
public:
  using TNotifyEvent = std::function<void(TAutoAccomp& sender)>;
  using TAutoChordChangeEventType =
      std::function<void(TAutoAccomp& sender, const std::string& chordName)>;

  // Metronome: the clock to follow (the shared one in the program).
  explicit TAutoAccomp(TMetronome& clock = Metronome);
  ~TAutoAccomp();
  TAutoAccomp(const TAutoAccomp&) = delete;
  TAutoAccomp& operator=(const TAutoAccomp&) = delete;

  // Semitones added to every note off the percussion channel.
  int Transpose() const;
  void SetTranspose(int value);

  // 0..15, else ignored; also copies the chord style into TotalChordStyle.
  int AutoChordStyleIndex() const { return FAutoChordStyleIndex; }
  void SetAutoChordStyleIndex(int value);
  const TChordStyleNoVolumeType& TotalChordStyle() const { return FTotalChordStyle; }

  int AccompStyleGroupNum() const { return FAccompStyleGroupNum; }
  // Selects group 0..5 (others are ignored) and reloads the current index.
  void SetAccompStyleGroup(int group);

  // 0..11 of the current group, else ignored; loads that style.
  int AccompStyleIndex() const { return FAccompStyleIndex; }
  void SetAccompStyleIndex(int value);

  int APercussVolume() const;
  void SetAPercussVolume(int value);
  // The melodic parts' volumes, 0..127 expected.
  int AChordVolume() const;
  void SetAChordVolume(int value);
  int AArpeggioVolume() const;
  void SetAArpeggioVolume(int value);
  int ABassVolume() const;
  void SetABassVolume(int value);

  // Off: the drums alone play, as a plain drum machine (on by default).
  bool MelodicParts() const;
  void SetMelodicParts(bool on);

  // A left-hand key went down: playedNote is its note, heldNotes every note
  // the left hand holds (playedNote among them). While started, the chord
  // they make takes over on the next sixteenth: in fixed-chord mode the fixed
  // chord of playedNote, else the chord heldNotes name (a set that names none
  // keeps the last chord). The first chord ends a synchro wait and starts the
  // style from its first step. Returns the name of the chord handed over, or
  // an empty name when the chord stays.
  std::string FollowLeftHand(int playedNote, std::span<const int> heldNotes);
  // The chord the melodic parts play over, and its name.
  TChord CurrentChord() const;
  std::string CurrentChordName() const;

  // MIDI note of the chord root; sounds the pad and fires OnAutoChordChange.
  int CurrChordRoot() const;
  void SetCurrChordRoot(int value);

  TFillInStateType FillInState() const;
  void SetFillInState(TFillInStateType value);

  bool Start() const { return FStart; }
  void SetStart(bool value);

  bool SynchOn() const { return FSynchOn; }
  void SetSynchOn(bool value);

  // Puts a style into library slot 0..71 (false otherwise); a group that is
  // already selected sees it after the next SetAccompStyleGroup.
  bool SetLibraryStyle(int slot, const TAccompStyle& style);

  // Snapshots of the play state.
  TAccompStyle CurrentStyle() const;
  int StepCount() const;
  int DrumStep() const;

  // The metronome callback ("Accomp", new sixteenth).
  void AccompTick(TMetronome& sender, std::uint16_t flags, double elapsedMs, double barPosition,
                  int beatsPerBar, std::int32_t reserved1, std::int32_t reserved2, bool& stop);
  // Sends one message to Engine and appends it to Recorder, each if set.
  void EmitMidi(std::uint8_t status, std::uint8_t data1, std::uint8_t data2);

  TNotifyEvent OnSynchEndEvent;
  TNotifyEvent OnFillInEndEvent;
  TNotifyEvent OnAccompStyleChange;
  TAutoChordChangeEventType OnAutoChordChange;

  std::atomic<TMidiMessageSink*> Engine{nullptr};
  std::atomic<TRawMidiRecorder*> Recorder{nullptr};
  bool FixedChordMode = true;

private:
  // Events noted under the lock and fired once it is released.
  struct TPendingEvents {
    enum TKind : std::uint8_t { FillInEnd, SynchEnd, StyleChange, ChordChange };
    std::array<TKind, 8> Kinds{};
    int Count = 0;
    std::string ChordName;
    void Add(TKind kind) {
      if (Count < static_cast<int>(Kinds.size()))
        Kinds[static_cast<std::size_t>(Count++)] = kind;
    }
  };

  // The helpers below run with FLock held.
  // The note sent, or -1 when nothing was.
  int PartNoteOn(std::uint8_t channel, int note, int velocity);
  void SendProgram(std::uint8_t channel, std::uint8_t program);
  void SendPrograms();
  void ChordPad(int root);
  void ReleasePad();
  // The notes one voice of a melodic part sounds.
  struct TPartVoice {
    std::array<std::uint8_t, ChordSlotCount> Notes{};
    int Count = 0;
  };
  // A voice of a melodic part as the live section has it.
  struct TPartStep {
    std::uint8_t Channel;
    int Length; // steps before the part loops, 0 when it has none
    const TStepCodes* Codes;
    int Velocity;
    bool WholeChord; // the chord part: every tone of the chord
  };
  void PlayMelodicParts();
  void PlayPartStep(TPartVoice& voice, const TPartStep& part, bool chordChanged);
  void SoundPartNote(TPartVoice& voice, std::uint8_t channel, int note, int velocity);
  void ReleaseVoice(TPartVoice& voice, std::uint8_t channel);
  void ReleaseParts();
  void ApplyPendingChord(TPendingEvents& events);
  void SetChord(int root, const TChord& chord);
  void ResetSteps();
  void ApplyFillInState(TFillInStateType value, TPendingEvents& events);
  void ApplyCurrChordRoot(int value, TPendingEvents& events);
  void PlayDrumStep();
  const TAccompSection& PlayingSection() const;

  void Fire(const TPendingEvents& events);
  void LoadStyle(const TAccompStyle& source);
  void Detach();
  void Attach();

  TMetronome& FMetronome;
  mutable std::mutex FLock;

  // Play state, shared with the tick (guarded by FLock).
  TAccompStyle FCurrentStyle{};       // MainSection is the live section
  TAccompSection FSavedMainSection{}; // the main section as loaded
  TFillInStateType FFillInState = fsNoFillIn;
  int FStepCount = 0;
  int FDrumStep = 0;
  int FAPercussVolume = 60;
  int FTranspose = 0;
  int FCurrChordRoot = 48;
  int FPadNote = -1;   // the chord pad's sounding note (transposed), -1 when none
  bool FStart = false; // written under FLock, on the UI thread only
  int FAChordVolume = 90;
  int FAArpeggioVolume = 90;
  int FABassVolume = 90;
  bool FMelodicParts = true;
  TChord FChord{0, MajorChord};
  bool FChordChanged = false; // since the last step
  // A chord handed over, waiting for the next sixteenth: its CurrChordRoot
  // (-1 when none), the chord and the naming rule.
  int FPendingRoot = -1;
  TChord FPendingChord{};
  bool FPendingFixed = true;
  // Bass, the two arpeggio voices, chord; notes as sent (transposed).
  std::array<TPartVoice, 4> FPartVoices{};

  // UI thread only.
  int FAutoChordStyleIndex = 15; // the first fixed-key chord style
  TChordStyleNoVolumeType FTotalChordStyle;
  int FAccompStyleGroupNum = 0;
  int FAccompStyleIndex = 0;
  bool FSynchOn = false;
  std::array<TAccompStyle, AccompLibrarySize> FStyleLibrary{};
  std::array<std::array<TAccompStyle, AccompGroupSize>, AccompGroupCount> FStyleGroups{};
  std::array<TAccompStyle, AccompGroupSize> FGroupStyles{};
};

} // namespace melo
