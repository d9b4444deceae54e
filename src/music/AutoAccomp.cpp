#include "music/AutoAccomp.h"

#include <algorithm>

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

int StepsOf(int Beats, std::uint8_t TwoBars) {
  return Beats * (TwoBars ? 8 : 4);
}

} // namespace

TAutoAccomp::TAutoAccomp(TMetronome& Clock)
    : FMetronome(Clock), FTotalChordStyle(ChordStyles[DefaultChordStyle]) {
  for (int slot = 0; slot < AccompLibrarySize; ++slot)
    FStyleLibrary[static_cast<std::size_t>(slot)] =
        slot < PresetStyleCount ? PresetStyles[static_cast<std::size_t>(slot)] : EmptyStyle;
  for (int slot = 0; slot < AccompLibrarySize; ++slot)
    FStyleGroups[static_cast<std::size_t>(slot / AccompGroupSize)]
                [static_cast<std::size_t>(slot % AccompGroupSize)] =
                    FStyleLibrary[static_cast<std::size_t>(slot)];
  // The group is not selected yet: this loads an all-zero, silent style.
  SetAccompStyleIndex(0);
}

TAutoAccomp::~TAutoAccomp() {
  SetStart(false);
}

// ---- Output -------------------------------------------------------------------

void TAutoAccomp::EmitMidi(std::uint8_t Status, std::uint8_t Data1, std::uint8_t Data2) {
  if (TMidiMessageSink* engine = Engine.load())
    engine->SendMidiMessage(Status, Data1, Data2);
  if (TRawMidiRecorder* recorder = Recorder.load())
    recorder->RecordRawMidi(Status, Data1, Data2);
}

int TAutoAccomp::PartNoteOn(std::uint8_t Channel, int Note, int Velocity) {
  if (Velocity <= 0)
    return -1;
  if (Channel != PercussionChannel)
    Note += FTranspose;
  if (Note < 0 || Note > 127)
    return -1; // no such note: a data byte above 127 would corrupt the stream
  EmitMidi(ChannelStatus(NoteOnStatus, Channel), static_cast<std::uint8_t>(Note),
           static_cast<std::uint8_t>(std::min(Velocity, 127)));
  return Note;
}

void TAutoAccomp::SendProgram(std::uint8_t Channel, std::uint8_t Program) {
  EmitMidi(ChannelStatus(ProgramChangeStatus, Channel), Program, 0);
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

void TAutoAccomp::ChordPad(int Root) {
  ReleasePad();
  const TAccompSection& live = FCurrentStyle.MainSection;
  if (live.ChordPart.Program != StringEnsemble1 && live.ChordPart.Program != ChoirAahs)
    return;
  if (FStart)
    FPadNote = PartNoteOn(ChordChannel, Root, live.ChordLevel / 9);
}

void TAutoAccomp::ReleasePad() {
  if (FPadNote < 0)
    return;
  EmitMidi(ChannelStatus(NoteOffStatus, ChordChannel), static_cast<std::uint8_t>(FPadNote), 64);
  FPadNote = -1;
}

void TAutoAccomp::ResetSteps() {
  FStepCount = 0;
  FDrumStep = 0;
}

// ---- Events and the metronome ---------------------------------------------------

void TAutoAccomp::Fire(const TPendingEvents& Events) {
  for (int i = 0; i < Events.Count; ++i) {
    switch (Events.Kinds[static_cast<std::size_t>(i)]) {
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
        OnAutoChordChange(*this, Events.ChordName);
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

bool TAutoAccomp::SetLibraryStyle(int Slot, const TAccompStyle& Style) {
  if (Slot < 0 || Slot >= AccompLibrarySize)
    return false;
  FStyleLibrary[static_cast<std::size_t>(Slot)] = Style;
  FStyleGroups[static_cast<std::size_t>(Slot / AccompGroupSize)]
              [static_cast<std::size_t>(Slot % AccompGroupSize)] = Style;
  return true;
}

void TAutoAccomp::SetAccompStyleGroup(int Group) {
  if (Group < 0 || Group >= AccompGroupCount)
    return; // there is no such group to copy
  FAccompStyleGroupNum = Group;
  FGroupStyles = FStyleGroups[static_cast<std::size_t>(Group)];
  SetAccompStyleIndex(FAccompStyleIndex);
}

void TAutoAccomp::SetAccompStyleIndex(int Value) {
  if (Value < 0 || Value >= AccompGroupSize)
    return;
  FAccompStyleIndex = Value;
  LoadStyle(FGroupStyles[static_cast<std::size_t>(Value)]);
}

// The style is swapped under the lock in one record copy, so the tick sees
// either the old style or the new one; no pause is needed.
void TAutoAccomp::LoadStyle(const TAccompStyle& Source) {
  Detach();
  TPendingEvents events;
  {
    std::lock_guard lock(FLock);
    FFillInState = fsNoFillIn;
    ResetSteps();
    FCurrentStyle = Source;
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

void TAutoAccomp::ApplyFillInState(TFillInStateType Value, TPendingEvents& Events) {
  if (Value == FFillInState)
    return;
  if (Value == fsFillIn1 && FCurrentStyle.FillIn1Section.DrumBeats == 0)
    return;
  if (Value == fsFillIn2 && FCurrentStyle.FillIn2Section.DrumBeats == 0)
    return;
  TAccompSection& live = FCurrentStyle.MainSection;
  switch (Value) {
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
  FFillInState = Value;
  Events.Add(TPendingEvents::FillInEnd);
  SendPrograms();
  ResetSteps();
  ChordPad(FCurrChordRoot);
}

void TAutoAccomp::SetFillInState(TFillInStateType Value) {
  TPendingEvents events;
  {
    std::lock_guard lock(FLock);
    ApplyFillInState(Value, events);
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
    PartNoteOn(PercussionChannel, track.Note, velocity);
  }
  FDrumStep = (FDrumStep + 1) % drumLength;
}

void TAutoAccomp::AccompTick(TMetronome& Sender, std::uint16_t, double, double, int, std::int32_t,
                             std::int32_t, bool& Stop) {
  Stop = false;
  TPendingEvents events;
  {
    // What this tick plays belongs to the sixteenth's own time, not to the
    // moment the worker woke up.
    const TIntendedTimeScope when(Sender.SixteenthStartMs(), AccompSlackMs);
    std::lock_guard lock(FLock);
    if (Engine.load() == nullptr || FCurrentStyle.BeatsPerBar == 0)
      return;
    PlayDrumStep();
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

void TAutoAccomp::SetStart(bool Value) {
  if (Value == FStart)
    return;
  TPendingEvents events;
  {
    std::lock_guard lock(FLock);
    FStart = Value;
    ApplyFillInState(fsNoFillIn, events);
    if (!Value)
      ReleasePad();
  }
  Fire(events);
  if (!Value) {
    FMetronome.RemoveClient(ClientName);
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

void TAutoAccomp::ApplyCurrChordRoot(int Value, TPendingEvents& Events) {
  FCurrChordRoot = Value;
  ChordPad(Value);
  Events.ChordName = ChordName(Value, FAutoChordStyleIndex, FixedChordMode);
  Events.Add(TPendingEvents::ChordChange);
}

void TAutoAccomp::SetCurrChordRoot(int Value) {
  TPendingEvents events;
  {
    std::lock_guard lock(FLock);
    ApplyCurrChordRoot(Value, events);
  }
  Fire(events);
}

int TAutoAccomp::CurrChordRoot() const {
  std::lock_guard lock(FLock);
  return FCurrChordRoot;
}

void TAutoAccomp::SetSynchOn(bool Value) {
  if (Value == FSynchOn || !FStart)
    return;
  TPendingEvents events;
  {
    std::lock_guard lock(FLock);
    if (Value) {
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

void TAutoAccomp::SetTranspose(int Value) {
  Detach();
  {
    std::lock_guard lock(FLock);
    FTranspose = Value;
  }
  Attach();
}

int TAutoAccomp::Transpose() const {
  std::lock_guard lock(FLock);
  return FTranspose;
}

void TAutoAccomp::SetAutoChordStyleIndex(int Value) {
  if (Value < 0 || Value >= SelectableChordStyles)
    return;
  FAutoChordStyleIndex = Value;
  FTotalChordStyle = ChordStyles[static_cast<std::size_t>(Value)];
}

void TAutoAccomp::SetAPercussVolume(int Value) {
  std::lock_guard lock(FLock);
  FAPercussVolume = Value;
}

int TAutoAccomp::APercussVolume() const {
  std::lock_guard lock(FLock);
  return FAPercussVolume;
}

} // namespace melo
