#pragma once
// The auto accompaniment: a library of 72 styles in six groups of twelve, one
// current style whose drum part plays on channel 9 at every sixteenth note of
// the metronome, fill-ins that play once and hand back to the main section,
// the programs of the melodic parts and a chord pad on channel 6.
//
// Threads: the setters run on the UI thread, AccompTick on the metronome's
// worker. One lock guards the play state; the tick holds it for its few
// note-ons and a setter for a record copy at most, so neither waits long and
// the tick never sees a half-replaced style. Events fire with the lock
// released; OnFillInEndEvent may fire on the worker (a fill-in that ends by
// itself). Bind the events and set Engine and Recorder before starting.
#include "music/Chord.h"
#include "music/KoMetronome.h"
#include "music/MidiInterfaces.h"
#include "music/PresetAccompStyle.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace melo {

inline constexpr int AccompGroupCount = 6;
inline constexpr int AccompGroupSize = 12;
inline constexpr int AccompLibrarySize = AccompGroupCount * AccompGroupSize;

// MIDI channels of the accompaniment, counted from 0.
inline constexpr std::uint8_t BassChannel = 4;
inline constexpr std::uint8_t ArpeggioChannel = 5;
inline constexpr std::uint8_t ChordChannel = 6;
inline constexpr std::uint8_t PercussionChannel = 9;

class TAutoAccomp {
public:
  using TNotifyEvent = std::function<void(TAutoAccomp& Sender)>;
  using TAutoChordChangeEventType =
      std::function<void(TAutoAccomp& Sender, const std::string& ChordName)>;

  // Metronome: the clock to follow (the shared one in the program).
  explicit TAutoAccomp(TMetronome& Clock = Metronome);
  ~TAutoAccomp();
  TAutoAccomp(const TAutoAccomp&) = delete;
  TAutoAccomp& operator=(const TAutoAccomp&) = delete;

  // Semitones added to every note off the percussion channel.
  int Transpose() const;
  void SetTranspose(int Value);

  // 0..15, else ignored; also copies the chord style into TotalChordStyle.
  int AutoChordStyleIndex() const { return FAutoChordStyleIndex; }
  void SetAutoChordStyleIndex(int Value);
  const TChordStyleNoVolumeType& TotalChordStyle() const { return FTotalChordStyle; }

  int AccompStyleGroupNum() const { return FAccompStyleGroupNum; }
  // Selects group 0..5 (others are ignored) and reloads the current index.
  void SetAccompStyleGroup(int Group);

  // 0..11 of the current group, else ignored; loads that style.
  int AccompStyleIndex() const { return FAccompStyleIndex; }
  void SetAccompStyleIndex(int Value);

  int APercussVolume() const;
  void SetAPercussVolume(int Value);
  // Stored for the owner; they do not change the sound.
  int AChordVolume() const { return FAChordVolume; }
  void SetAChordVolume(int Value) { FAChordVolume = Value; }
  int AArpeggioVolume() const { return FAArpeggioVolume; }
  void SetAArpeggioVolume(int Value) { FAArpeggioVolume = Value; }
  int ABassVolume() const { return FABassVolume; }
  void SetABassVolume(int Value) { FABassVolume = Value; }

  // MIDI note of the chord root; sounds the pad and fires OnAutoChordChange.
  int CurrChordRoot() const;
  void SetCurrChordRoot(int Value);

  TFillInStateType FillInState() const;
  void SetFillInState(TFillInStateType Value);

  bool Start() const { return FStart; }
  void SetStart(bool Value);

  bool SynchOn() const { return FSynchOn; }
  void SetSynchOn(bool Value);

  // Puts a style into library slot 0..71 (false otherwise); a group that is
  // already selected sees it after the next SetAccompStyleGroup.
  bool SetLibraryStyle(int Slot, const TAccompStyle& Style);

  // Snapshots of the play state.
  TAccompStyle CurrentStyle() const;
  int StepCount() const;
  int DrumStep() const;

  // The metronome callback ("Accomp", new sixteenth).
  void AccompTick(TMetronome& Sender, std::uint16_t Flags, double ElapsedMs, double BarPosition,
                  int BeatsPerBar, std::int32_t Reserved1, std::int32_t Reserved2, bool& Stop);
  // Sends one message to Engine and appends it to Recorder, each if set.
  void EmitMidi(std::uint8_t Status, std::uint8_t Data1, std::uint8_t Data2);

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
    void Add(TKind Kind) {
      if (Count < static_cast<int>(Kinds.size()))
        Kinds[static_cast<std::size_t>(Count++)] = Kind;
    }
  };

  // The helpers below run with FLock held.
  // The note sent, or -1 when nothing was.
  int PartNoteOn(std::uint8_t Channel, int Note, int Velocity);
  void SendProgram(std::uint8_t Channel, std::uint8_t Program);
  void SendPrograms();
  void ChordPad(int Root);
  void ReleasePad();
  void ResetSteps();
  void ApplyFillInState(TFillInStateType Value, TPendingEvents& Events);
  void ApplyCurrChordRoot(int Value, TPendingEvents& Events);
  void PlayDrumStep();
  const TAccompSection& PlayingSection() const;

  void Fire(const TPendingEvents& Events);
  void LoadStyle(const TAccompStyle& Source);
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

  // UI thread only.
  int FAChordVolume = 90;
  int FAArpeggioVolume = 90;
  int FABassVolume = 90;
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
