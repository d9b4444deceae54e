#include "app/PracticeSession.h"

#include "app/KoPerformance.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <tuple>

namespace melo {
namespace {

struct TKeyReach {
  int Key = 0;
  int Hand = RightHand;
  std::vector<int> Notes;
};

std::vector<TKeyReach> SoundingKeys(const TPerformanceValues& values) {
  std::vector<TKeyReach> keys;
  for (int key = 0; key < KeyCount; ++key) {
    std::vector<int> notes = KeySoundingNotes(values, key);
    if (notes.empty())
      continue;
    const int hand = NoteIsLeft(values.KeyDefs.Keys[key].Notes[0]) ? LeftHand : RightHand;
    keys.push_back({key, hand, std::move(notes)});
  }
  return keys;
}

bool Contains(const std::vector<int>& sorted, int note) {
  return std::binary_search(sorted.begin(), sorted.end(), note);
}

// Whether a key sounds only notes of the chord.
bool SoundsWithin(const TKeyReach& key, std::span<const int> chord) {
  return std::includes(chord.begin(), chord.end(), key.Notes.begin(), key.Notes.end());
}

// The keys that sound notes under the values, and under each shift within
// the values' ranges once it is asked for: found once for a whole song.
class TKeyReaches {
public:
  explicit TKeyReaches(const TPerformanceValues& values)
      : FValues(values), FKeys(SoundingKeys(values)) {}
  const TPerformanceValues& Values() const { return FValues; }
  const std::vector<TKeyReach>& Keys() const { return FKeys; }
  const std::vector<TKeyReach>& Shifted(const TPracticeShift& shift) {
    const auto at = std::tuple(shift.Transpose, shift.LeftOctave, shift.RightOctave);
    auto found = FShifted.find(at);
    if (found == FShifted.end()) {
      TPerformanceValues shifted = FValues;
      shifted.Transpose += shift.Transpose;
      shifted.LeftOctave += shift.LeftOctave;
      shifted.RightOctave += shift.RightOctave;
      found = FShifted.emplace(at, SoundingKeys(shifted)).first;
    }
    return found->second;
  }

private:
  const TPerformanceValues& FValues;
  std::vector<TKeyReach> FKeys;
  std::map<std::tuple<int, int, int>, std::vector<TKeyReach>> FShifted;
};

// The smallest shift that lets a key sound note within the chord: octaves
// before the transposition, then the preferred hand's octave before the other's.
TOutOfReach FixFor(int note, std::span<const int> chord, TKeyReaches& reaches, int preferredHand) {
  const TPerformanceValues& values = reaches.Values();
  TOutOfReach reach{note, false, {}};
  auto best = std::tuple(std::numeric_limits<int>::max(), 0);
  for (int t = MinTranspose; t <= MaxTranspose; ++t) {
    for (int l = MinOctave; l <= MaxOctave; ++l) {
      for (int r = MinOctave; r <= MaxOctave; ++r) {
        const TPracticeShift shift{t - values.Transpose, l - values.LeftOctave,
                                   r - values.RightOctave};
        const int cost = std::abs(shift.LeftOctave) + std::abs(shift.RightOctave) +
                         (shift.Transpose != 0 ? 3 + std::abs(shift.Transpose) : 0);
        const int otherHand =
            (preferredHand == RightHand ? shift.LeftOctave : shift.RightOctave) != 0 ? 1 : 0;
        const auto rank = std::tuple(cost, otherHand);
        if (cost == 0 || rank >= best)
          continue;
        const bool reached = std::ranges::any_of(reaches.Shifted(shift), [&](const TKeyReach& key) {
          return Contains(key.Notes, note) && SoundsWithin(key, chord);
        });
        if (!reached)
          continue;
        best = rank;
        reach.Fixable = true;
        reach.Fix = shift;
      }
    }
  }
  return reach;
}

// Among keys of equal reach: the preferred hand's, then the lower index.
bool Prefer(const TKeyReach& a, const TKeyReach* b, int preferredHand) {
  if (b == nullptr)
    return true;
  if ((a.Hand == preferredHand) != (b->Hand == preferredHand))
    return a.Hand == preferredHand;
  return a.Key < b->Key;
}

const TKeyReach* WholeChordKey(const std::vector<TKeyReach>& keys, std::span<const int> chord,
                               int preferredHand) {
  const TKeyReach* best = nullptr;
  for (const TKeyReach& key : keys) {
    if (std::ranges::equal(key.Notes, chord) && Prefer(key, best, preferredHand))
      best = &key;
  }
  return best;
}

int LowestNote(const std::vector<TKeyReach>& keys, int keyIndex) {
  for (const TKeyReach& key : keys) {
    if (key.Key == keyIndex)
      return key.Notes.front();
  }
  return 0;
}

bool InHand(int note, const TPracticePart& part) {
  switch (part.Hands) {
  case TPracticeHands::Right:
    return note >= part.SplitNote;
  case TPracticeHands::Left:
    return note < part.SplitNote;
  case TPracticeHands::Both:
    break;
  }
  return true;
}

bool IsNoteOn(const TTimedMidiMessage& m) {
  return (m.Status & 0xF0) == NoteOnStatus && m.Data2 != 0;
}

bool IsNoteOff(const TTimedMidiMessage& m) {
  return (m.Status & 0xF0) == NoteOffStatus || ((m.Status & 0xF0) == NoteOnStatus && m.Data2 == 0);
}

int AbsPercentile(std::vector<int> errors, int percent) {
  if (errors.empty())
    return 0;
  for (int& e : errors)
    e = std::abs(e);
  std::ranges::sort(errors);
  const std::size_t n = errors.size();
  const std::size_t rank = (n * static_cast<std::size_t>(percent) + 99) / 100;
  return errors[std::max<std::size_t>(rank, 1) - 1];
}

} // namespace

namespace {

TChordKeys ChordKeys(std::span<const int> notes, TKeyReaches& reaches, int preferredHand) {
  TChordKeys result;
  const std::vector<TKeyReach>& keys = reaches.Keys();
  if (const TKeyReach* whole = WholeChordKey(keys, notes, preferredHand)) {
    result.Keys.push_back(whole->Key);
    result.NoteKeys.assign(notes.size(), whole->Key);
    return result;
  }
  std::vector<int> uncovered(notes.begin(), notes.end());
  for (;;) {
    const TKeyReach* best = nullptr;
    std::ptrdiff_t bestGain = 0;
    for (const TKeyReach& key : keys) {
      if (!SoundsWithin(key, notes))
        continue;
      const std::ptrdiff_t gain = std::ranges::count_if(
          key.Notes, [&](int n) { return std::ranges::find(uncovered, n) != uncovered.end(); });
      if (gain > bestGain || (gain == bestGain && gain > 0 && Prefer(key, best, preferredHand))) {
        best = &key;
        bestGain = gain;
      }
    }
    if (best == nullptr)
      break;
    result.Keys.push_back(best->Key);
    std::erase_if(uncovered, [&](int n) { return Contains(best->Notes, n); });
  }
  std::ranges::sort(result.Keys, [&](int a, int b) {
    return std::pair(LowestNote(keys, a), a) < std::pair(LowestNote(keys, b), b);
  });
  for (const int note : notes) {
    const auto player = std::ranges::find_if(result.Keys, [&](int key) {
      return std::ranges::any_of(
          keys, [&](const TKeyReach& k) { return k.Key == key && Contains(k.Notes, note); });
    });
    result.NoteKeys.push_back(player == result.Keys.end() ? -1 : *player);
  }
  for (const int note : uncovered)
    result.OutOfReach.push_back(FixFor(note, notes, reaches, preferredHand));
  return result;
}

} // namespace

TChordKeys KeysForChord(std::span<const int> notes, const TPerformanceValues& values,
                        int preferredHand) {
  TKeyReaches reaches(values);
  return ChordKeys(notes, reaches, preferredHand);
}

int TPracticeScore::Percent() const {
  const int judged = Right + Wrong + Missed;
  return judged == 0 ? 0 : Right * 100 / judged;
}

int TPracticeScore::MedianErrorMs() const {
  if (TimingErrors.empty())
    return 0;
  std::vector<int> sizes = TimingErrors;
  for (int& e : sizes)
    e = std::abs(e);
  std::ranges::sort(sizes);
  const std::size_t n = sizes.size();
  return n % 2 == 1 ? sizes[n / 2] : (sizes[n / 2 - 1] + sizes[n / 2]) / 2;
}

int TPracticeScore::Percentile90ErrorMs() const {
  return AbsPercentile(TimingErrors, 90);
}

TPracticeSession::TPracticeSession(std::vector<TTimedMidiMessage> messages, std::uint32_t endTime)
    : FMessages(std::move(messages)), FEndTime(endTime) {
  SetPart(TPracticePart{}, TPerformanceValues{});
}

void TPracticeSession::SetPart(const TPracticePart& part, const TPerformanceValues& values) {
  Stop();
  FNotes.clear();
  FOthers.clear();
  FChords.clear();
  std::array<std::array<int, 128>, 16> open{};
  for (auto& channel : open)
    channel.fill(-1);
  for (const TTimedMidiMessage& m : FMessages) {
    const int channel = m.Status & 0x0F;
    int& sounding = open[static_cast<std::size_t>(channel)][m.Data1 & 0x7F];
    bool practised = false;
    if (IsNoteOn(m)) {
      if (sounding >= 0) { // struck again while it sounds: the first one ends here
        TSongNote& previous = FNotes[static_cast<std::size_t>(sounding)];
        previous.Length = m.Time - previous.Time;
      }
      practised = (part.Channels >> channel & 1) != 0 && InHand(m.Data1, part);
      sounding = static_cast<int>(FNotes.size());
      FNotes.push_back({m.Time, 0, static_cast<std::uint8_t>(channel), m.Data1, practised});
    } else if (IsNoteOff(m) && sounding >= 0) {
      TSongNote& note = FNotes[static_cast<std::size_t>(sounding)];
      note.Length = m.Time - note.Time;
      practised = note.Practised;
      sounding = -1;
    }
    if (!practised)
      FOthers.push_back(m);
  }
  for (const TSongNote& note : FNotes)
    FEndTime = std::max(FEndTime, note.Time + note.Length);
  FHand = part.Hands == TPracticeHands::Left ? LeftHand : RightHand;
  for (const TSongNote& note : FNotes) {
    if (!note.Practised)
      continue;
    if (FChords.empty() || note.Time - FChords.back().Time > ChordSpreadMs)
      FChords.push_back({note.Time, {}, {}, TJudgement::Pending, {}});
    std::vector<int>& notes = FChords.back().Notes;
    if (!Contains(notes, note.Note))
      notes.insert(std::ranges::upper_bound(notes, int{note.Note}), note.Note);
  }
  FindKeys(values);
}

void TPracticeSession::FindKeys(const TPerformanceValues& values) {
  TKeyReaches reaches(values);
  for (TPracticeChord& chord : FChords)
    chord.Keys = ChordKeys(chord.Notes, reaches, FHand);
  FKeysFoundUnder = values;
}

bool TPracticeSession::FollowShifts(const TPerformanceValues& values) {
  const TPerformanceValues& found = FKeysFoundUnder;
  if (values.Transpose == found.Transpose && values.LeftOctave == found.LeftOctave &&
      values.RightOctave == found.RightOctave &&
      std::memcmp(&values.KeyDefs, &found.KeyDefs, sizeof values.KeyDefs) == 0)
    return false;
  FindKeys(values);
  return true;
}

void TPracticeSession::SetTempo(int percent, std::uint32_t now) {
  if (FRunning) {
    Advance(now);
    Anchor(now, FSongTime);
  }
  FTempo = std::clamp(percent, MinTempoPercent, MaxTempoPercent);
}

void TPracticeSession::SetLoop(std::uint32_t from, std::uint32_t to) {
  FLoopFrom = from < to ? from : 0;
  FLoopTo = from < to ? to : 0;
}

void TPracticeSession::Start(std::uint32_t now) {
  Stop();
  for (TPracticeChord& chord : FChords) {
    chord.Judgement = TJudgement::Pending;
    chord.Struck.clear();
  }
  FScore = TPracticeScore{};
  FRunning = true;
  FFinished = false;
  Anchor(now, FLoopFrom);
  FSongTime = FLoopFrom;
  SendOthersFrom(FLoopFrom);
}

void TPracticeSession::Stop() {
  FRunning = false;
  Silence();
}

int TPracticeSession::NextChord() const {
  for (std::size_t i = 0; i < FChords.size(); ++i) {
    if (FChords[i].Judgement == TJudgement::Pending && FChords[i].Time >= FLoopFrom)
      return static_cast<int>(i);
  }
  return -1;
}

std::uint32_t TPracticeSession::SongTimeAt(std::uint32_t now) const {
  const std::uint64_t elapsed = now - FAnchorNow;
  return FAnchorSong +
         static_cast<std::uint32_t>(elapsed * static_cast<std::uint64_t>(FTempo) / 100);
}

void TPracticeSession::Anchor(std::uint32_t now, std::uint32_t songTime) {
  FAnchorNow = now;
  FAnchorSong = songTime;
}

void TPracticeSession::Advance(std::uint32_t now) {
  if (!FRunning)
    return;
  std::uint32_t t = SongTimeAt(now);
  const int next = NextChord();
  if (FMode == TPracticeMode::Wait && next >= 0 &&
      FChords[static_cast<std::size_t>(next)].Time < t) {
    t = FChords[static_cast<std::size_t>(next)].Time;
    Anchor(now, t);
  }
  if (FLoopTo != 0 && t >= FLoopTo) {
    SendDue(FLoopTo);
    RearmLoop();
    Anchor(now, FLoopFrom);
    FSongTime = FLoopFrom;
    SendOthersFrom(FLoopFrom);
    return;
  }
  SendDue(t);
  FSongTime = t;
  if (FMode == TPracticeMode::PlayAlong)
    JudgeMissed(t);
  if (t >= FEndTime && NextChord() < 0)
    Finish();
}

void TPracticeSession::SendDue(std::uint32_t songTime) {
  while (FOtherCursor < FOthers.size() && FOthers[FOtherCursor].Time < songTime) {
    const TTimedMidiMessage& m = FOthers[FOtherCursor++];
    const std::pair<std::uint8_t, std::uint8_t> note{static_cast<std::uint8_t>(m.Status & 0x0F),
                                                     m.Data1};
    if (IsNoteOn(m)) {
      FSounding.push_back(note);
    } else if (IsNoteOff(m)) {
      std::erase(FSounding, note);
    }
    if (FSend)
      FSend(m);
  }
}

// Sends what sets the channels up before songTime (voices, controllers),
// no notes, and goes on from there.
void TPracticeSession::SendOthersFrom(std::uint32_t songTime) {
  FOtherCursor = 0;
  while (FOtherCursor < FOthers.size() && FOthers[FOtherCursor].Time < songTime) {
    const TTimedMidiMessage& m = FOthers[FOtherCursor++];
    if (!IsNoteOn(m) && !IsNoteOff(m) && FSend)
      FSend(m);
  }
}

void TPracticeSession::Silence() {
  for (const auto& [channel, note] : FSounding) {
    if (FSend)
      FSend({FSongTime, static_cast<std::uint8_t>(NoteOffStatus + channel), note, 0});
  }
  FSounding.clear();
}

void TPracticeSession::JudgeMissed(std::uint32_t songTime) {
  const auto window = static_cast<std::uint32_t>(JudgeWindowMs * FTempo / 100);
  for (TPracticeChord& chord : FChords) {
    if (chord.Judgement == TJudgement::Pending && chord.Time >= FLoopFrom &&
        chord.Time + window < songTime)
      MissChord(chord);
  }
}

void TPracticeSession::MissChord(TPracticeChord& chord) {
  FScore.Missed += static_cast<int>(chord.Notes.size() - chord.Struck.size());
  chord.Judgement = TJudgement::Missed;
}

// The chords of the loop are played again; those left unplayed count missed.
void TPracticeSession::RearmLoop() {
  Silence();
  for (TPracticeChord& chord : FChords) {
    if (chord.Time < FLoopFrom || chord.Time >= FLoopTo)
      continue;
    if (chord.Judgement == TJudgement::Pending)
      MissChord(chord);
    chord.Judgement = TJudgement::Pending;
    chord.Struck.clear();
  }
}

void TPracticeSession::NotePlayed(int note, std::uint32_t now) {
  if (!FRunning)
    return;
  Advance(now);
  if (FMode == TPracticeMode::Wait) {
    PlayedWaiting(note);
  } else {
    PlayedAlong(note, FSongTime);
  }
}

void TPracticeSession::PlayedWaiting(int note) {
  const int next = NextChord();
  if (next < 0) {
    ++FScore.Wrong;
    return;
  }
  TPracticeChord& chord = FChords[static_cast<std::size_t>(next)];
  if (!Contains(chord.Notes, note)) {
    ++FScore.Wrong;
    return;
  }
  if (std::ranges::find(chord.Struck, note) != chord.Struck.end())
    return;
  chord.Struck.push_back(note);
  ++FScore.Right;
  if (chord.Struck.size() == chord.Notes.size())
    chord.Judgement = TJudgement::Hit;
}

void TPracticeSession::PlayedAlong(int note, std::uint32_t songTime) {
  TPracticeChord* best = nullptr;
  int bestError = 0;
  for (TPracticeChord& chord : FChords) {
    if (chord.Judgement != TJudgement::Pending || chord.Time < FLoopFrom ||
        !Contains(chord.Notes, note) || std::ranges::find(chord.Struck, note) != chord.Struck.end())
      continue;
    const auto error =
        static_cast<int>((static_cast<std::int64_t>(songTime) - chord.Time) * 100 / FTempo);
    if (std::abs(error) <= JudgeWindowMs &&
        (best == nullptr || std::abs(error) < std::abs(bestError))) {
      best = &chord;
      bestError = error;
    }
  }
  if (best == nullptr) {
    ++FScore.Wrong;
    return;
  }
  best->Struck.push_back(note);
  ++FScore.Right;
  FScore.TimingErrors.push_back(bestError);
  if (best->Struck.size() < best->Notes.size())
    return;
  // The chord is as late or early as its last note.
  if (std::abs(bestError) <= HitToleranceMs) {
    best->Judgement = TJudgement::Hit;
  } else {
    best->Judgement = bestError < 0 ? TJudgement::Early : TJudgement::Late;
  }
}

void TPracticeSession::Finish() {
  Stop();
  FFinished = true;
}

} // namespace melo
