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

int StepsOf(int beats, std::uint8_t twoBars) {
  return beats * (twoBars ? 8 : 4);
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

void TAutoAccomp::SetStart(bool value) {
  if (value == FStart)
    return;
  TPendingEvents events;
  {
    std::lock_guard lock(FLock);
    FStart = value;
    ApplyFillInState(fsNoFillIn, events);
    if (!value)
      ReleasePad();
  }
  Fire(events);
  if (!value) {
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

void TAutoAccomp::ApplyCurrChordRoot(int value, TPendingEvents& events) {
  FCurrChordRoot = value;
  ChordPad(value);
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
