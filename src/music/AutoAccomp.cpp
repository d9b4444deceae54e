#include "music/AutoAccomp.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace melo {

namespace {

const char* const ClientName = "Accomp";

// Chord programs (counted from 0) that hold a sustained root: String Ensemble 1, Choir Aahs.
constexpr std::uint8_t StringEnsemble1 = 48;
constexpr std::uint8_t ChoirAahs = 52;
constexpr std::uint8_t DefaultChordRoot = 48;
// Chord types 0..14 and the first fixed-key style can be selected; the last is the default.
constexpr int SelectableChordStyles = 16;
constexpr int DefaultChordStyle = SelectableChordStyles - 1;
// The metronome wakes on the millisecond a sixteenth begins; this covers the
// wake-up's lateness on a busy machine.
constexpr double AccompSlackMs = 4.0;

int StepsOf(int beats, std::uint8_t twoBars) {
  return beats * (twoBars ? 8 : 4);
}

// The melodic parts play over the chord root in this octave, whatever octave
// the left hand played it in.
constexpr int PartRootOctave = 48;
constexpr int LevelCount = 9;
constexpr std::uint8_t PartReleaseVelocity = 64;

enum TPartVoiceIndex : std::uint8_t { BassVoice, ArpeggioVoice1, ArpeggioVoice2, ChordVoice };

int PartVelocity(std::int8_t level, int volume) {
  return level * volume / LevelCount;
}

// A pattern holds 32 steps; a longer length must not read past it, and a
// part of no length plays nothing.
int PartLength(std::int8_t beats, std::uint8_t twoBars) {
  return beats > 0 ? std::min(StepsOf(beats, twoBars), StepsPerPattern) : 0;
}

} // namespace

TAutoAccomp::TAutoAccomp(TMetronome& clock)
    : FMetronome(clock), FTotalChordStyle(ChordStyles[DefaultChordStyle]) {
  for (int slot = 0; slot < AccompLibrarySize; ++slot) {
    FStyleLibrary[static_cast<std::size_t>(slot)] =
        slot < PresetStyleCount ? PresetStyles[static_cast<std::size_t>(slot)] : EmptyStyle;
  }
  for (int slot = 0; slot < AccompLibrarySize; ++slot) {
    FStyleGroups[static_cast<std::size_t>(slot / AccompGroupSize)]
                [static_cast<std::size_t>(slot % AccompGroupSize)] =
                    FStyleLibrary[static_cast<std::size_t>(slot)];
  }
  // The group is not selected yet: this loads an all-zero, silent style.
  SetAccompStyleIndex(0);
}

TAutoAccomp::~TAutoAccomp() {
  SetStart(false);
}

// ---- Output -------------------------------------------------------------------

void TAutoAccomp::EmitMidi(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
  if (TMidiMessageSink* engine = Engine.load())
    engine->SendMidiMessage(status, data1, data2);
  if (TRawMidiRecorder* recorder = Recorder.load())
    recorder->RecordRawMidi(status, data1, data2);
}

int TAutoAccomp::PartNoteOn(std::uint8_t channel, int note, int velocity) {
  if (velocity <= 0)
    return -1;
  if (channel != DrumChannel)
    note += FTranspose;
  if (note < 0 || note > 127)
    return -1; // no such note: a data byte above 127 would corrupt the stream
  EmitMidi(ChannelStatus(NoteOnStatus, channel), static_cast<std::uint8_t>(note),
           static_cast<std::uint8_t>(std::min(velocity, 127)));
  return note;
}

void TAutoAccomp::SendProgram(std::uint8_t channel, std::uint8_t program) {
  EmitMidi(ChannelStatus(ProgramChangeStatus, channel), program, 0);
}

// Sounding notes are left to ring (no part is silenced first): the drums
// send no note-offs. The pad is held until the next pad note, a style without
// a pad, or the stop: a string or choir note never dies away by itself.
void TAutoAccomp::SendPrograms() {
  const TAccompSection& live = FCurrentStyle.MainSection;
  SendProgram(ChordChannel, live.ChordPart.Program);
  SendProgram(ArpeggioChannel, live.ArpeggioPart.Program);
  SendProgram(BassChannel, live.BassPart.Program);
}

void TAutoAccomp::ChordPad(int root) {
  ReleasePad();
  const TAccompSection& live = FCurrentStyle.MainSection;
  if (live.ChordPart.Program != StringEnsemble1 && live.ChordPart.Program != ChoirAahs)
    return;
  if (FStart)
    FPadNote = PartNoteOn(ChordChannel, root, live.ChordLevel / 9);
}

void TAutoAccomp::ReleasePad() {
  if (FPadNote < 0)
    return;
  EmitMidi(ChannelStatus(NoteOffStatus, ChordChannel), static_cast<std::uint8_t>(FPadNote), 64);
  FPadNote = -1;
}

void TAutoAccomp::SoundPartNote(TPartVoice& voice, std::uint8_t channel, int note, int velocity) {
  const int sent = PartNoteOn(channel, note, velocity);
  if (sent >= 0 && voice.Count < ChordSlotCount)
    voice.Notes[static_cast<std::size_t>(voice.Count++)] = static_cast<std::uint8_t>(sent);
}

void TAutoAccomp::ReleaseVoice(TPartVoice& voice, std::uint8_t channel) {
  for (int i = 0; i < voice.Count; ++i) {
    EmitMidi(ChannelStatus(NoteOffStatus, channel), voice.Notes[static_cast<std::size_t>(i)],
             PartReleaseVelocity);
  }
  voice.Count = 0;
}

void TAutoAccomp::ReleaseParts() {
  ReleaseVoice(FPartVoices[BassVoice], BassChannel);
  ReleaseVoice(FPartVoices[ArpeggioVoice1], ArpeggioChannel);
  ReleaseVoice(FPartVoices[ArpeggioVoice2], ArpeggioChannel);
  ReleaseVoice(FPartVoices[ChordVoice], ChordChannel);
}

void TAutoAccomp::ResetSteps() {
  FStepCount = 0;
  FDrumStep = 0;
}

// ---- Events and the metronome ---------------------------------------------------

void TAutoAccomp::Fire(const TPendingEvents& events) {
  for (int i = 0; i < events.Count; ++i) {
    switch (events.Kinds[static_cast<std::size_t>(i)]) {
    case TPendingEvents::FillInEnd:
      if (OnFillInEndEvent)
        OnFillInEndEvent(*this);
      break;
    case TPendingEvents::SynchEnd:
      if (OnSynchEndEvent)
        OnSynchEndEvent(*this);
      break;
    case TPendingEvents::StyleChange:
      if (OnAccompStyleChange)
        OnAccompStyleChange(*this);
      break;
    case TPendingEvents::ChordChange:
      if (OnAutoChordChange)
        OnAutoChordChange(*this, events.ChordName);
      break;
    }
  }
}

// Once RemoveClient returns no tick of ours runs (the metronome holds its lock
// through a tick). These two never run under FLock: the tick takes the locks
// in the order metronome, then FLock.
void TAutoAccomp::Detach() {
  if (FStart)
    FMetronome.RemoveClient(ClientName);
}

void TAutoAccomp::Attach() {
  if (!FStart)
    return;
  FMetronome.AddClient(
      ClientName, mfNewSixteenth,
      [this](TMetronome& sender, std::uint16_t flags, double elapsedMs, double barPosition,
             int beatsPerBar, std::int32_t reserved1, std::int32_t reserved2, bool& stop) {
        AccompTick(sender, flags, elapsedMs, barPosition, beatsPerBar, reserved1, reserved2, stop);
      });
}

// ---- Styles -----------------------------------------------------------------------

bool TAutoAccomp::SetLibraryStyle(int slot, const TAccompStyle& style) {
  if (slot < 0 || slot >= AccompLibrarySize)
    return false;
  FStyleLibrary[static_cast<std::size_t>(slot)] = style;
  FStyleGroups[static_cast<std::size_t>(slot / AccompGroupSize)]
              [static_cast<std::size_t>(slot % AccompGroupSize)] = style;
  return true;
}

void TAutoAccomp::SetAccompStyleGroup(int group) {
  if (group < 0 || group >= AccompGroupCount)
    return; // there is no such group to copy
  FAccompStyleGroupNum = group;
  FGroupStyles = FStyleGroups[static_cast<std::size_t>(group)];
  SetAccompStyleIndex(FAccompStyleIndex);
}

void TAutoAccomp::SetAccompStyleIndex(int value) {
  if (value < 0 || value >= AccompGroupSize)
    return;
  FAccompStyleIndex = value;
  LoadStyle(FGroupStyles[static_cast<std::size_t>(value)]);
}

// The style is swapped under the lock in one record copy, so the tick sees
// either the old style or the new one; no pause is needed.
void TAutoAccomp::LoadStyle(const TAccompStyle& source) {
  Detach();
  TPendingEvents events;
  {
    std::lock_guard lock(FLock);
    ReleaseParts();
    FFillInState = fsNoFillIn;
    ResetSteps();
    FCurrentStyle = source;
    SendPrograms();
    ChordPad(FCurrChordRoot);
    CopySectionBody(FSavedMainSection, FCurrentStyle.MainSection);
    events.Add(TPendingEvents::StyleChange);
  }
  Fire(events);
  Attach();
}

TAccompStyle TAutoAccomp::CurrentStyle() const {
  std::lock_guard lock(FLock);
  return FCurrentStyle;
}

// ---- Sections -----------------------------------------------------------------------

void TAutoAccomp::ApplyFillInState(TFillInStateType value, TPendingEvents& events) {
  if (value == FFillInState)
    return;
  if (value == fsFillIn1 && FCurrentStyle.FillIn1Section.DrumBeats == 0)
    return;
  if (value == fsFillIn2 && FCurrentStyle.FillIn2Section.DrumBeats == 0)
    return;
  TAccompSection& live = FCurrentStyle.MainSection;
  switch (value) {
  case fsNoFillIn:
    CopySectionBody(live, FSavedMainSection);
    break;
  case fsFillIn1:
    CopySectionBody(live, FCurrentStyle.FillIn1Section);
    break;
  case fsFillIn2:
    CopySectionBody(live, FCurrentStyle.FillIn2Section);
    break;
  default:
    return; // not a state
  }
  FFillInState = value;
  events.Add(TPendingEvents::FillInEnd);
  ReleaseParts();
  SendPrograms();
  ResetSteps();
  ChordPad(FCurrChordRoot);
}

void TAutoAccomp::SetFillInState(TFillInStateType value) {
  TPendingEvents events;
  {
    std::lock_guard lock(FLock);
    ApplyFillInState(value, events);
  }
  Fire(events);
}

TFillInStateType TAutoAccomp::FillInState() const {
  std::lock_guard lock(FLock);
  return FFillInState;
}

const TAccompSection& TAutoAccomp::PlayingSection() const {
  switch (FFillInState) {
  case fsFillIn1:
    return FCurrentStyle.FillIn1Section;
  case fsFillIn2:
    return FCurrentStyle.FillIn2Section;
  default:
    return FCurrentStyle.MainSection;
  }
}

// ---- The tick -------------------------------------------------------------------------

void TAutoAccomp::PlayDrumStep() {
  const TAccompSection& live = FCurrentStyle.MainSection;
  if (live.PercussionLevel <= 0 || live.DrumBeats == 0)
    return;
  // A pattern holds 32 steps; a longer or negative length must not read past it.
  const int drumLength = std::clamp(StepsOf(live.DrumBeats, live.DrumTwoBars), 1, StepsPerPattern);
  if (FDrumStep >= drumLength)
    FDrumStep = 0;
  const auto step = static_cast<std::size_t>(FDrumStep);
  for (const TDrumTrack& track : live.DrumTracks) {
    // Off flags lead to a note-off that is never sent.
    if (!track.Active || !track.OnSteps[step])
      continue;
    const std::int32_t velocity =
        std::int32_t{live.PercussionLevel} * FAPercussVolume * track.Level / 81;
    PartNoteOn(DrumChannel, track.Note, velocity);
  }
  FDrumStep = (FDrumStep + 1) % drumLength;
}

void TAutoAccomp::PlayPartStep(TPartVoice& voice, const TPartStep& part, bool chordChanged) {
  if (part.Length == 0) {
    ReleaseVoice(voice, part.Channel);
    return;
  }
  const std::int8_t code = (*part.Codes)[static_cast<std::size_t>(FStepCount % part.Length)];
  if (code == HoldStep && !chordChanged)
    return;
  ReleaseVoice(voice, part.Channel);
  if (code == NoNoteStep || code == HoldStep || part.Velocity <= 0)
    return;
  const int lowest = ChordDegreeToNote(PartRootOctave + FChord.Root, code, FChord.Type);
  if (lowest < 0)
    return;
  if (!part.WholeChord) {
    SoundPartNote(voice, part.Channel, lowest, part.Velocity);
    return;
  }
  for (const std::int32_t offset :
       ChordStyles[static_cast<std::size_t>(FChord.Type)].Intervals[0]) {
    if (offset == NoInterval)
      break;
    // The tone's pitch class at or above the lowest note.
    const int above = ((FChord.Root + offset - lowest) % 12 + 12) % 12;
    SoundPartNote(voice, part.Channel, lowest + above, part.Velocity);
  }
}

void TAutoAccomp::PlayMelodicParts() {
  const bool chordChanged = std::exchange(FChordChanged, false);
  if (!FMelodicParts)
    return;
  const TAccompSection& live = FCurrentStyle.MainSection;
  const TBassPart& bass = live.BassPart;
  PlayPartStep(FPartVoices[BassVoice],
               {BassChannel, PartLength(bass.PartBeats, bass.PartTwoBars), &bass.Steps,
                PartVelocity(live.BassLevel, FABassVolume), false},
               chordChanged);
  const TArpeggioPart& arpeggio = live.ArpeggioPart;
  const int arpeggioLength = PartLength(arpeggio.PartBeats, arpeggio.PartTwoBars);
  const int arpeggioVelocity = PartVelocity(live.ArpeggioLevel, FAArpeggioVolume);
  for (const TPartVoiceIndex v : {ArpeggioVoice1, ArpeggioVoice2}) {
    PlayPartStep(FPartVoices[v],
                 {ArpeggioChannel, arpeggioLength, &arpeggio.Steps[v - ArpeggioVoice1],
                  arpeggioVelocity, false},
                 chordChanged);
  }
  const TChordPart& chord = live.ChordPart;
  PlayPartStep(FPartVoices[ChordVoice],
               {ChordChannel, PartLength(chord.PartBeats, chord.PartTwoBars), &chord.Steps,
                PartVelocity(live.ChordLevel, FAChordVolume), true},
               chordChanged);
}

void TAutoAccomp::ApplyPendingChord(TPendingEvents& events) {
  const int root = std::exchange(FPendingRoot, -1);
  if (root < 0 || (root == FCurrChordRoot && FPendingChord == FChord))
    return;
  SetChord(root, FPendingChord);
  events.ChordName = ChordName(root, FChord.Type, FPendingFixed);
  events.Add(TPendingEvents::ChordChange);
}

void TAutoAccomp::SetChord(int root, const TChord& chord) {
  FCurrChordRoot = root;
  FChord = chord;
  FChordChanged = true;
  ChordPad(root);
}

void TAutoAccomp::AccompTick(TMetronome& sender, std::uint16_t, double, double, int, std::int32_t,
                             std::int32_t, bool& stop) {
  stop = false;
  TPendingEvents events;
  {
    // What this tick plays belongs to the sixteenth's own time, not to the
    // moment the worker woke up.
    const TIntendedTimeScope when(sender.SixteenthStartMs(), AccompSlackMs);
    std::lock_guard lock(FLock);
    if (Engine.load() == nullptr || FCurrentStyle.BeatsPerBar == 0)
      return;
    ApplyPendingChord(events);
    PlayDrumStep();
    PlayMelodicParts();
    ++FStepCount;
    const TAccompSection& playing = PlayingSection();
    if (FStepCount >= StepsOf(FCurrentStyle.BeatsPerBar, playing.TwoBars)) {
      if (FFillInState != fsNoFillIn)
        ApplyFillInState(fsNoFillIn, events);
      ResetSteps();
    }
  }
  Fire(events);
}

int TAutoAccomp::StepCount() const {
  std::lock_guard lock(FLock);
  return FStepCount;
}

int TAutoAccomp::DrumStep() const {
  std::lock_guard lock(FLock);
  return FDrumStep;
}

// ---- Playing state ----------------------------------------------------------------------

void TAutoAccomp::SetStart(bool value) {
  if (value == FStart)
    return;
  // Detached first: no tick of ours then starts a part note after the release below.
  if (!value)
    FMetronome.RemoveClient(ClientName);
  TPendingEvents events;
  {
    std::lock_guard lock(FLock);
    FStart = value;
    ApplyFillInState(fsNoFillIn, events);
    FPendingRoot = -1;
    if (!value) {
      ReleasePad();
      ReleaseParts();
    }
  }
  Fire(events);
  if (!value) {
    FSynchOn = false;
    return;
  }
  FSynchOn = false;
  {
    std::lock_guard lock(FLock);
    ResetSteps();
  }
  if (!FixedChordMode)
    SetAutoChordStyleIndex(0);
  SetCurrChordRoot(DefaultChordRoot);
  {
    std::lock_guard lock(FLock);
    SendPrograms();
    ChordPad(FCurrChordRoot);
  }
  Attach();
}

void TAutoAccomp::ApplyCurrChordRoot(int value, TPendingEvents& events) {
  const bool chordType = FAutoChordStyleIndex < ChordTypeCount;
  SetChord(value, FixedChordMode
                      ? FixedChordOfKey(value)
                      : TChord{value % 12, chordType ? FAutoChordStyleIndex : MajorChord});
  FPendingRoot = -1;
  events.ChordName = ChordName(value, FAutoChordStyleIndex, FixedChordMode);
  events.Add(TPendingEvents::ChordChange);
}

void TAutoAccomp::SetCurrChordRoot(int value) {
  TPendingEvents events;
  {
    std::lock_guard lock(FLock);
    ApplyCurrChordRoot(value, events);
  }
  Fire(events);
}

int TAutoAccomp::CurrChordRoot() const {
  std::lock_guard lock(FLock);
  return FCurrChordRoot;
}

std::string TAutoAccomp::FollowLeftHand(int playedNote, std::span<const int> heldNotes) {
  if (!FStart)
    return {};
  const std::optional<TChord> chord =
      FixedChordMode ? FixedChordOfKey(playedNote) : RecogniseChord(heldNotes);
  if (!chord)
    return {};
  if (!FixedChordMode)
    SetAutoChordStyleIndex(chord->Type);
  // The named root: the key itself in fixed-chord mode (its fixed chord's name).
  const int root = PartRootOctave + (FixedChordMode ? playedNote % 12 : chord->Root);
  if (FSynchOn) {
    SetSynchOn(false);
    std::lock_guard lock(FLock);
    ResetSteps();
  }
  std::lock_guard lock(FLock);
  FPendingRoot = root;
  FPendingChord = *chord;
  FPendingFixed = FixedChordMode;
  return ChordName(root, chord->Type, FixedChordMode);
}

TChord TAutoAccomp::CurrentChord() const {
  std::lock_guard lock(FLock);
  return FChord;
}

std::string TAutoAccomp::CurrentChordName() const {
  std::lock_guard lock(FLock);
  return ChordName(FCurrChordRoot, FChord.Type, FixedChordMode);
}

void TAutoAccomp::SetMelodicParts(bool on) {
  std::lock_guard lock(FLock);
  FMelodicParts = on;
  if (!on)
    ReleaseParts();
}

bool TAutoAccomp::MelodicParts() const {
  std::lock_guard lock(FLock);
  return FMelodicParts;
}

void TAutoAccomp::SetAChordVolume(int value) {
  std::lock_guard lock(FLock);
  FAChordVolume = value;
}

int TAutoAccomp::AChordVolume() const {
  std::lock_guard lock(FLock);
  return FAChordVolume;
}

void TAutoAccomp::SetAArpeggioVolume(int value) {
  std::lock_guard lock(FLock);
  FAArpeggioVolume = value;
}

int TAutoAccomp::AArpeggioVolume() const {
  std::lock_guard lock(FLock);
  return FAArpeggioVolume;
}

void TAutoAccomp::SetABassVolume(int value) {
  std::lock_guard lock(FLock);
  FABassVolume = value;
}

int TAutoAccomp::ABassVolume() const {
  std::lock_guard lock(FLock);
  return FABassVolume;
}

void TAutoAccomp::SetSynchOn(bool value) {
  if (value == FSynchOn || !FStart)
    return;
  TPendingEvents events;
  {
    std::lock_guard lock(FLock);
    if (value) {
      FAPercussVolume = 0;
      FAChordVolume = FAArpeggioVolume = FABassVolume = 0;
      FSynchOn = true;
    } else {
      FSynchOn = false;
      events.Add(TPendingEvents::SynchEnd);
    }
    ApplyFillInState(fsNoFillIn, events);
  }
  Fire(events);
}

void TAutoAccomp::SetTranspose(int value) {
  Detach();
  {
    std::lock_guard lock(FLock);
    FTranspose = value;
  }
  Attach();
}

int TAutoAccomp::Transpose() const {
  std::lock_guard lock(FLock);
  return FTranspose;
}

void TAutoAccomp::SetAutoChordStyleIndex(int value) {
  if (value < 0 || value >= SelectableChordStyles)
    return;
  FAutoChordStyleIndex = value;
  FTotalChordStyle = ChordStyles[static_cast<std::size_t>(value)];
}

void TAutoAccomp::SetAPercussVolume(int value) {
  std::lock_guard lock(FLock);
  FAPercussVolume = value;
}

int TAutoAccomp::APercussVolume() const {
  std::lock_guard lock(FLock);
  return FAPercussVolume;
}

} // namespace melo
